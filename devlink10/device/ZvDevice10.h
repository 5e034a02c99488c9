// ZvDevice10: the device object of the 1.0 generation, one per device the factory found on a
// COM port. Every operation opens the object's own port (a ZvPortCOM), switches the device into
// PC mode, sends its console requests, switches PC mode off and closes the port again.
//
//   ZvDevice10.cpp          creation, identity, connection cycle, command, delete, information
//   DeviceListing10.cpp     media and file listings, item lookups
//   DeviceTransfers10.cpp   export, import, copy on the device, progress, overwrite question
#pragma once
#include "ComObject.h"
#include "ComPtr.h"
#include "Device10Support.h"
#include "Handles.h"
#include "Listing10.h"
#include "MarshalledInterface.h"
#include "OverwriteQuestion.h"
#include "ZvAssocMgr.h"
#include "ZvDevice.h"
#include "FileItemEnumerator.h"
#include "ZvPort.h"

#include <atomic>
#include <string>

namespace devlink10 {

extern const CLSID kClsidMediaPropPage10;
extern const CLSID kClsidFilePropPage10;

class ZvDevice10;

// Receives the port's progress texts on the port's dispatcher thread; only posts to the device
// object's window. Lives inside the device object and does not count references.
class ZvPortProgressSink : public IZvPortUpdateEvent {
public:
    explicit ZvPortProgressSink(ZvDevice10& device) : device_(device) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP OnUpdate(BSTR strUpdate, BSTR* pstrReply) override;

private:
    ZvDevice10& device_;
};

class ZvDevice10 : public tv::com::ComObject<ZvDevice10, IZvDevice, IZvDeviceCancel> {
public:
    // A device object with its own port and association manager; E_FAIL when either is missing.
    static HRESULT Create(tv::com::ComPtr<ZvDevice10>& device);
    // A device object over the given port and association manager (null: none, so that files get
    // the generic description and icon). Create uses it; tests hand in their own.
    static HRESULT CreateWith(IZvPort* port, IZvAssocMgr* assoc, tv::com::ComPtr<ZvDevice10>& device);

    ZvDevice10();
    ~ZvDevice10() override;

    // Handed over by the factory.
    void Attach(const DeviceSlot& slot, DeviceLostSink* factory);

    // IZvDevice
    STDMETHODIMP GetName(long nMaxLen, unsigned char* strName) override;
    STDMETHODIMP GetStrID(long nMaxLen, unsigned char* strID) override;
    STDMETHODIMP GetDescription(long nMaxLen, unsigned char* strName) override;
    STDMETHODIMP GetAttributes(long* nAttributes) override;
    STDMETHODIMP GetVersion(long* nModelVersion, long* nSubmodelVersion) override;
    STDMETHODIMP EnumFileItems(LPSTR strPath, long type, IZvEnumFileItems** ppiEnum) override;
    STDMETHODIMP CopyFileItem(LPSTR strSrc, LPSTR strDest, IZvFileOperationCallback* piCallback, long nMaxLen,
                              unsigned char* strError) override;
    STDMETHODIMP ExportFileItem(LPSTR strSource, LPSTR strDestination, IZvFileOperationCallback* piCallback,
                                long nMaxLen, unsigned char* strError) override;
    STDMETHODIMP ImportFileItem(LPSTR strSource, LPSTR strDestination, IZvFileOperationCallback* piCallback,
                                long nMaxLen, unsigned char* strError) override;
    STDMETHODIMP DeleteFileItem(LPSTR strItem, long nMaxLen, unsigned char* strError) override;
    STDMETHODIMP RenameFileItem(LPSTR, LPSTR, long, unsigned char*) override { return E_NOTIMPL; }
    STDMETHODIMP CreateFolder(LPSTR) override { return S_FALSE; }
    STDMETHODIMP GetItemsInfo(long nStringCount, long nMaxLen, LPSTR* aStrItems,
                              IZvItemsInfoCallback* piCallback) override;
    STDMETHODIMP GetVolumeInfo(LPSTR strItem, VOLUMEINFO* pInfo) override;
    STDMETHODIMP GetPropPageID(long type, CAUUID* pPages) override;
    STDMETHODIMP Command(LPSTR strCommand, long* nMaxLen, LPSTR* strResponse) override;
    STDMETHODIMP GetAllItems(IZvEnumFileItems** ppiEnum) override;
    STDMETHODIMP SetDeviceName(LPSTR strName) override;
    STDMETHODIMP GetDeviceInfo(long* nMaxLen, LPSTR* strInfo) override;
    STDMETHODIMP GetDeviceAuxData(long* nAuxData) override;
    STDMETHODIMP SetDeviceAuxData(long nAuxData) override;
    STDMETHODIMP ResetDeviceState(long nCount) override;
    STDMETHODIMP FindItems(LPSTR strWildCard, IZvEnumFileItems** ppiEnum) override;
    STDMETHODIMP SetItemAttributes(ZVFILEITEM) override { return E_NOTIMPL; }
    STDMETHODIMP get_EnableUI(long* nVal) override;
    STDMETHODIMP put_EnableUI(long nVal) override;
    STDMETHODIMP get_AutoPC_ON_PC_OFF_Mode(long* nVal) override;
    STDMETHODIMP put_AutoPC_ON_PC_OFF_Mode(long nVal) override;

    // IZvDeviceCancel
    STDMETHODIMP SetCancelEvent(HANDLE* phCancelEvent) override;

    void* QueryOtherInterface(REFIID) { return nullptr; }

    // Used by the progress sink (on the port's thread).
    HANDLE CancelEvent() const { return cancelRef_ ? *cancelRef_ : nullptr; }
    void CancelRunningRequest();
    void PostProgress(long done);

private:
    friend class ZvPortProgressSink;

    HRESULT Initialise(IZvPort* port, IZvAssocMgr* assoc);

    // The connection cycle.
    HRESULT Connect();
    // PC mode on (when the flag asks for it): up to four "pc on", going on without the device's
    // confirmation; false only when the device answered none of them.
    bool PcModeOn();
    // PC mode off with "pc off" or, after a delete or an import, "pc root".
    void PcModeOff(bool root = false);
    void Disconnect();
    // One console command; the port's answer, the reply in `reply`. While the hub's cancel is
    // set (PC mode off aside) nothing is sent and the answer is the port's cancelled result; a
    // cancel set while the request runs aborts it.
    HRESULT Request(const std::string& command, std::string& reply);
    // Whether the hub's cancel is set and counts (it does not while PC mode is switched off).
    bool CancelSet() const;
    // The thread pool's call when the hub's cancel is set during a request: aborts it.
    static VOID CALLBACK OnCancelSet(void* self, BOOLEAN timedOut);
    // One console command naming a device path between double quotes (`verb "path"`). A path
    // that would break the command (IsSafeDeviceName) is refused with E_INVALIDARG and nothing
    // is sent. Operations check their paths before they connect, so that nothing reaches the
    // device at all; this check also covers the media names the device itself lists.
    HRESULT PathRequest(const std::string& verb, const std::string& path, std::string& reply);
    // Tells the factory that the device has gone; the factory does the rest on its own thread.
    void ReportLost();

    // Listings (DeviceListing10.cpp).
    HRESULT ListRoot(tv::FileItemEnumerator& items, HRESULT& answer);
    // The files of the medium with that folder name.
    HRESULT ListMedium(const std::string& folder, tv::FileItemEnumerator& items);
    void RebuildMedia(const std::string& reply);
    std::string FolderOfMedium(const std::string& mediumText) const;
    bool ToDevicePath(const std::string& itemPath, std::string& devicePath) const;
    void PresentFile(tv::FileItemRecord& record, const std::string& nameForAssociation);
    HRESULT QueryVolume(const std::string& folder, VOLUMEINFO& info);
    // The one listing record of a device item: S_OK, S_FALSE (no answer, or not one item) or
    // 0x8000000A (an unreadable reply).
    HRESULT LookupItem(const std::string& devicePath, ListingItem& item);
public:
    // One item's size or time from a one-item listing: 0, 1 or 0x8000000A.
    HRESULT LookupItemSize(const std::string& devicePath, long& size);
    HRESULT LookupItemTime(const std::string& devicePath, uint64_t& fileTime);

private:
    // Transfers (DeviceTransfers10.cpp).
    HRESULT ConfirmOverwrite(const std::string& devicePath, const std::string& pcFile);
    HRESULT RunTransfer(int kind, const char* source, const char* destination, IZvFileOperationCallback* callback,
                        long nMaxLen, unsigned char* strError);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnProgressMessage(long done);

    DeviceLostSink* factory_ = nullptr;
    tv::com::ComPtr<IZvPort> port_;
    tv::com::ComPtr<IZvAssocMgr> assoc_;
    HANDLE* cancelRef_ = nullptr;
    // Set while PC mode is switched off, which the hub's cancel does not stop.
    std::atomic<bool> closing_{false};
    tv::com::UniqueWindow window_;
    ZvPortProgressSink sink_{*this};
    tv::MarshalledInterface callbackStream_;
    tv::com::ComPtr<IZvFileOperationCallback> windowCallback_;
    std::string currentItem_;

    DeviceSlot slot_;
    std::string displayName_;
    std::string description_;
    long enableUI_ = 1;
    long autoPcMode_ = 1;
    long auxData_ = 0;
    long itemCount_ = 0;
    tv::ForAllAnswers answers_; // of the overwrite question, until the next ResetDeviceState
    MediaList media_;
    long timeoutMs_ = 3000;
    long baudRate_ = 57600;
};

} // namespace devlink10
