// A test device whose storage is a folder on the PC: paths on the device are paths below that
// folder. It answers the device contract the way the real device objects do (callbacks during
// transfers, error texts in the caller's buffer, the cancel event handed over by the hub) and a
// few console commands, among them the PC-mode switch. Item attributes are the device's bits
// (1 hidden, 4 read-only, 8 system), kept as the PC file's attributes.
#pragma once
#include "ComObject.h"
#include "ZvDevice.h"
#include <atomic>
#include <string>
#include <vector>

namespace tv::tests {

// One entry of a listing, with its own copies of the texts.
struct FolderEntry {
    long type;
    long attr;
    long size;
    std::string name;
    FILETIME time;
};

class FolderDevice : public com::ComObject<FolderDevice, IZvDevice, IZvDeviceCancel> {
public:
    // `folder` is the device's storage (no trailing backslash), `name` its initial name.
    FolderDevice(std::string folder, std::string name);

    // IZvDevice
    STDMETHODIMP GetName(LONG nMaxLen, unsigned char* strName) override;
    STDMETHODIMP GetStrID(LONG nMaxLen, unsigned char* strID) override;
    STDMETHODIMP GetDescription(LONG nMaxLen, unsigned char* strName) override;
    STDMETHODIMP GetAttributes(LONG* nAttributes) override;
    STDMETHODIMP GetVersion(LONG* nModelVersion, LONG* nSubmodelVersion) override;
    STDMETHODIMP EnumFileItems(LPSTR strPath, LONG type, IZvEnumFileItems** ppiEnum) override;
    STDMETHODIMP CopyFileItem(LPSTR strSrc, LPSTR strDest, IZvFileOperationCallback* piCallback, LONG nMaxLen,
                              unsigned char* strError) override;
    STDMETHODIMP ExportFileItem(LPSTR strSource, LPSTR strDestination, IZvFileOperationCallback* piCallback,
                                LONG nMaxLen, unsigned char* strError) override;
    STDMETHODIMP ImportFileItem(LPSTR strSource, LPSTR strDestination, IZvFileOperationCallback* piCallback,
                                LONG nMaxLen, unsigned char* strError) override;
    STDMETHODIMP DeleteFileItem(LPSTR strItem, LONG nMaxLen, unsigned char* strError) override;
    STDMETHODIMP RenameFileItem(LPSTR strItem, LPSTR strNewName, LONG nMaxLen, unsigned char* strError) override;
    STDMETHODIMP CreateFolder(LPSTR strFolderName) override;
    STDMETHODIMP GetItemsInfo(LONG nStringCount, LONG nMaxLen, LPSTR* aStrItems,
                              IZvItemsInfoCallback* piCallback) override;
    STDMETHODIMP GetVolumeInfo(LPSTR strItem, VOLUMEINFO* pInfo) override;
    STDMETHODIMP GetPropPageID(LONG type, CAUUID* pPages) override;
    STDMETHODIMP Command(LPSTR strCommand, LONG* nMaxLen, LPSTR* strResponse) override;
    STDMETHODIMP GetAllItems(IZvEnumFileItems** ppiEnum) override;
    STDMETHODIMP SetDeviceName(LPSTR strName) override;
    STDMETHODIMP GetDeviceInfo(LONG* nMaxLen, LPSTR* strInfo) override;
    STDMETHODIMP GetDeviceAuxData(LONG* nAuxData) override;
    STDMETHODIMP SetDeviceAuxData(LONG nAuxData) override;
    STDMETHODIMP ResetDeviceState(LONG nCount) override;
    STDMETHODIMP FindItems(LPSTR strWildCard, IZvEnumFileItems** ppiEnum) override;
    STDMETHODIMP SetItemAttributes(ZVFILEITEM item) override;
    STDMETHODIMP get_EnableUI(LONG* nVal) override;
    STDMETHODIMP put_EnableUI(LONG nVal) override;
    STDMETHODIMP get_AutoPC_ON_PC_OFF_Mode(LONG* nVal) override;
    STDMETHODIMP put_AutoPC_ON_PC_OFF_Mode(LONG nVal) override;

    // IZvDeviceCancel
    STDMETHODIMP SetCancelEvent(HANDLE* phCancelEvent) override;

private:
    std::string PcPath(const char* devicePath) const;
    // Waits the configured transfer delay, reporting progress of `item` meanwhile when the device
    // is set to; false when the hub's cancel event was set meanwhile.
    bool DelayTransfer(IZvFileOperationCallback* callback, const std::string& item);
    bool Cancelled() const;
    // Copies one file or a folder tree; reports each file through the callback.
    HRESULT Transfer(const std::string& from, const std::string& to, const char* reportedItem,
                     IZvFileOperationCallback* callback, LONG nMaxLen, unsigned char* strError);
    HRESULT TransferFile(const std::string& from, const std::string& to, const char* reportedItem,
                         IZvFileOperationCallback* callback, LONG nMaxLen, unsigned char* strError);
    HRESULT ListFolder(const std::string& pcFolder, const char* pattern, long typeMask,
                       IZvEnumFileItems** ppiEnum) const;

    std::string folder_;
    std::string name_;
    std::string strId_;
    std::atomic<LONG> auxData_{0};
    std::atomic<LONG> enableUI_{1};
    std::atomic<LONG> autoPcMode_{0};
    std::atomic<LONG> transferDelayMs_{0};
    std::atomic<LONG> imports_{0}; // copies from the PC so far
    std::atomic<bool> pcMode_{false};
    std::atomic<HANDLE*> cancelEvent_{nullptr};
};

} // namespace tv::tests
