// ZvDevice15: the device object of the 1.5 generation. One object per connected device, made by
// the device factory. Every file operation becomes console commands sent through the object's
// own port (ZvPort15); descriptions and icons of items come from the association manager.
//
// The object is split over several files by concern:
//   ZvDevice15.cpp        creation, identity, the command pass-through, switches and reset
//   DeviceListing.cpp     folder and volume listings, StatItem, CountTree, item presentation
//   DeviceInfo.cpp        items totals, volume and device information, GetAllItems, FindItems
//   DeviceItems.cpp       delete, rename, create folder, attributes
//   ItemHelpers.cpp       attribute and name helpers shared by the file operations
//   DeviceImport.cpp, DeviceExport.cpp, DeviceCopy.cpp, Confirmations.cpp   the transfers
#pragma once
#include "OverwriteQuestion.h"

#include "ComObject.h"
#include "ComPtr.h"
#include "DevicePaths.h"
#include "Listing.h"
#include "ZvAssocMgr.h"
#include "ZvDevice.h"
#include "FileItemEnumerator.h"
#include "IZvPort15.h"

#include <string>

namespace devlink15 {

// The enumerator's record of a listing entry (its name as listed).
tv::FileItemRecord RecordOf(const ListingEntry& entry);

class ZvFactory15;

class ZvDevice15 : public tv::com::ComObject<ZvDevice15, IZvDevice, IZvDeviceCancel> {
  public:
    // Creates the object with its own port and association manager (both by CoCreateInstance).
    // The object comes back holding one reference. E_FAIL when either cannot be created.
    static HRESULT Create(tv::com::ComPtr<ZvDevice15>& device);
    // The same with a port and an association manager made by the caller (tests use it).
    static HRESULT CreateWith(IZvPort15* port, IZvAssocMgr* assoc, tv::com::ComPtr<ZvDevice15>& device);

    ZvDevice15();
    ~ZvDevice15() override;

    // Set by the factory: the factory pointer (not counted), the string id (which also names
    // the settings key "Software\Zelvan\Tavrilon\DeviceList\<id>") and the name.
    void SetFactory(ZvFactory15* factory) { factory_ = factory; }
    ZvFactory15* Factory() const { return factory_; }
    void SetStrId(const std::string& id) { strId_ = id; }
    const std::string& StrId() const { return strId_; }
    void SetNameInMemory(const std::string& name) { name_ = name; }
    const std::string& Name() const { return name_; }
    // Connects the port to the device with that number; the number is kept whatever the result.
    HRESULT ConnectPort(long number);
    long DeviceNumber() const { return deviceNumber_; }
    IZvPort15* Port() const { return port_.Get(); }

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
    STDMETHODIMP RenameFileItem(LPSTR strItem, LPSTR strNewName, long nMaxLen, unsigned char* strError) override;
    STDMETHODIMP CreateFolder(LPSTR strFolderName) override;
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
    STDMETHODIMP SetItemAttributes(ZVFILEITEM item) override;
    STDMETHODIMP get_EnableUI(long* nVal) override;
    STDMETHODIMP put_EnableUI(long nVal) override;
    STDMETHODIMP get_AutoPC_ON_PC_OFF_Mode(long* nVal) override;
    STDMETHODIMP put_AutoPC_ON_PC_OFF_Mode(long nVal) override;

    // IZvDeviceCancel
    STDMETHODIMP SetCancelEvent(HANDLE* phCancelEvent) override;

    // --- Shared by the file operations -----------------------------------------------------

    // Runs one console command on the port (the command already holds "$pipe=15"). The port's
    // result; `reply` gets the reply in the ANSI code page (empty when the port gave none).
    HRESULT SendCommand(const std::string& command, std::string& reply);
    // The same through the pass-through rules of Command (the reply pipe goes after the first word).
    HRESULT RunCommand(const std::string& command, std::string& reply);

    // Device path of a PC-side path; S_OK, or E_FAIL with `devicePath` built from the unmapped
    // volume component.
    HRESULT MapToDevicePath(const std::string& path, std::string& devicePath) const;
    // The listing entry of one item (a PC-side path, or a device path without its leading "/").
    // E_INVALIDARG for a null entry, the plain number 21 for an unknown volume, E_FAIL when the
    // command or the parse fails or the reply does not hold exactly one entry. `deviceAnswered`
    // tells a device that answered the lookup (with whatever reply) from a link that failed.
    HRESULT StatItem(const std::string& path, ListingEntry* entry, bool* deviceAnswered = nullptr);
    // Folders, files and bytes below a folder (PC-side path); results as for StatItem.
    HRESULT CountTree(const std::string& path, ITEMSINFO* info);
    // Description and icon of a file record from the association manager; the manager's result
    // when it knows no association (the record is then unchanged).
    HRESULT LookupItemAssociation(tv::FileItemRecord& item);

    // Attribute and name helpers.
    bool HasAllowedChars(const std::string& name) const;
    // Clears the attribute letters of the item, then sets those of `bits`; E_INVALIDARG, nothing
    // sent, for an empty or unsafe path.
    HRESULT ApplyItemAttributes(const std::string& devicePath, long bits);
    HRESULT ReadItemAttributes(const std::string& devicePath, long* bits);
    static DWORD ReadPcAttributes(const std::string& pcPath, long* bits);
    static DWORD WritePcAttributes(const std::string& pcPath, long bits);
    static bool OmitsReadOnly();
    static bool FileTimeToLocalSystemTime(const FILETIME& fileTime, SYSTEMTIME& local);
    static long CountChar(const char* text, char c);

    // A language-library text, or an empty text when the library or the string is missing.
    static std::string LangString(UINT id);
    // Full path of the language library ("<folder>\Zv%04x.dll").
    static std::string LanguageLibraryPath();
    // Copies `text` into the caller's buffer, cut to nMaxLen - 1 characters.
    static void CopyErrorText(const std::string& text, long nMaxLen, unsigned char* buffer);

    const VolumeList& Volumes() const { return volumes_; }
    long EnableUI() const { return enableUI_; }
    long ItemCount() const { return itemCount_; }
    void SetItemCount(long count) { itemCount_ = count; }
    HANDLE* CancelReference() const { return cancelRef_; }

    // --- transfers (implemented in DeviceImport.cpp, DeviceExport.cpp, DeviceCopy.cpp,
    //     Confirmations.cpp) ------------------------------------------------------------------
    HRESULT ImportOneFile(const char* source, const char* destination, IZvFileOperationCallback* callback,
                          long nMaxLen, unsigned char* strError);
    HRESULT ImportFolder(const char* source, const char* destination, IZvFileOperationCallback* callback,
                         long nMaxLen, unsigned char* strError);
    HRESULT ExportOneFile(const char* source, const char* destination, IZvFileOperationCallback* callback,
                          long nMaxLen, unsigned char* strError);
    HRESULT ExportFolder(const char* source, const char* destination, IZvFileOperationCallback* callback,
                         long nMaxLen, unsigned char* strError);
    // After a file has arrived on the PC: the device item's attributes and modification time,
    // from one single-item listing, given to the PC file.
    void CarryFileStateToPc(const std::string& devicePath, const std::string& pcPath);
    HRESULT CopyOneFile(const char* source, const char* destination, IZvFileOperationCallback* callback,
                        long nMaxLen, unsigned char* strError);
    HRESULT CopyFolder(const char* source, const char* destination, IZvFileOperationCallback* callback,
                       long nMaxLen, unsigned char* strError);
    // 1 replace, 0 keep, E_FAIL when the PC file (or device source) cannot be read.
    HRESULT ConfirmOverwrite(const std::string& dest, const std::string& source);
    HRESULT ConfirmOverwriteOnDevice(const std::string& dest, const std::string& source);
    // True: go on (a read-only item to delete has had its attributes cleared).
    bool ConfirmDeleteReadOnly(ListingEntry entry);
    bool ConfirmRenameReadOnly(ListingEntry entry);
    // The to-all answers of the confirmations, cleared by ResetDeviceState.
    using OverwriteAnswers = tv::ForAllAnswers;
    OverwriteAnswers& Answers() { return answers_; }
    // --- end of transfers ---------------------------------------------------------------------

  private:
    HRESULT Attach(IZvPort15* port, IZvAssocMgr* assoc);
    // Texts of the listing entries and the labels the parsers need, from the language library.
    static ListingTexts Texts();
    // Description and icon of a listed folder or file. A folder listing also marks system files
    // with their own description and icon; the whole-device listings do not.
    void PresentItem(tv::FileItemRecord& record, const ListingEntry& entry, bool folderListing);
    HRESULT ListRoot(tv::FileItemEnumerator& items);
    HRESULT ListFolder(const std::string& path, long type, tv::FileItemEnumerator& items);
    // Sends "ls $pipe=15 /*" and refills the volume list.
    HRESULT ListVolumes();
    bool IsNameUsedByOtherDevice(const std::string& name) const;
    HRESULT CollectItemsInfo(long count, LPSTR* items, IZvItemsInfoCallback* callback);

    ZvFactory15* factory_ = nullptr;
    HANDLE* cancelRef_ = nullptr;
    tv::com::ComPtr<IZvPort15> port_;
    VolumeList volumes_;
    std::string name_;
    std::string strId_;
    long enableUI_ = 1;
    OverwriteAnswers answers_;
    long auxData_ = 0;
    long itemCount_ = 0;
    tv::com::ComPtr<IZvAssocMgr> assoc_;
    long deviceNumber_ = -1;
};

} // namespace devlink15
