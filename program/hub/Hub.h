// The hub object: the one object through which every component reaches a device. It keeps the
// device list that the device factories fill, runs file operations on worker threads, and
// serves the same operations to scripts through its dual faces.
#pragma once
#include "ComObject.h"
#include "Handles.h"
#include "ZelvanMgr.h"
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tv::hub {

// What the program around the hub provides; every member may be left empty.
struct HubServices {
    std::function<void(UINT state)> setTrayState;                         // tray icon/tip ids
    std::function<HRESULT(const char* function, const char* strId)> runDeviceEventScript;
    std::function<void(const std::string& strId, const std::string& name)> showDisconnectionAlert;
    std::function<void(const std::string& strId)> closeDisconnectionAlert;  // the device is back
    std::function<bool(const char* file)> openFile;                       // command-line file-open
};

// Installed by the program before the hub object is made.
void SetHubServices(HubServices services);

// Tray states the hub sets.
inline constexpr UINT kTrayNoDevice = 11804;
inline constexpr UINT kTrayConnected = 11805;
inline constexpr UINT kTrayBusy = 11806;

// The running operation of a device: its worker thread and its manual-reset cancel event, owned
// here and shared between the device record and the worker, so that the end of one operation
// never closes the handles of another.
struct DeviceOperation {
    com::UniqueHandle thread;
    com::UniqueHandle cancelEvent;
};

struct DeviceRecord {
    std::string name;
    std::string strID;
    std::string description;
    long modelVersion = 0;
    long submodelVersion = 0;
    long factoryIndex = -1;
    long attributes = 0;
    com::ComPtr<IZvDevice> device;

    // Guards the fields below, which the hub's thread and the workers both touch.
    std::mutex lock;
    std::shared_ptr<DeviceOperation> operation;
    // The cancel event of the current operation; its address is what the device objects watch.
    HANDLE cancelEvent = nullptr;
    std::string errorText;

    bool Hidden() const { return attributes & 1; }
    bool Busy();
    // Sets the current operation's cancel event; false when there is none.
    bool Cancel();
    // Forgets `operation` when it is still the record's current one.
    void EndOperation(const std::shared_ptr<DeviceOperation>& operation);
    // A duplicate of the current operation's thread handle that the caller may wait on.
    com::UniqueHandle DuplicateThread();
};

using RecordPtr = std::shared_ptr<DeviceRecord>;

struct FactoryEntry {
    CLSID clsid;
    com::ComPtr<IZvFactory> factory;
    LONG cookie = 0;
};

class Hub;

// The open property sheets, keyed by item path without a leading backslash. A key is reserved
// before its sheet window exists, so that one item never gets two sheets.
class SheetRegistry {
public:
    // False when the key is held already; that sheet is brought forward.
    bool Reserve(const std::string& key);
    void SetWindow(const std::string& key, HWND window);
    void Forget(const std::string& key);
    // True when a sheet holds the key; it is brought forward.
    bool BringForward(const std::string& key);
    // Asks every open sheet to close.
    void CloseAll();

private:
    struct OpenSheet {
        HWND window;
        std::string key;
    };
    std::mutex lock_;
    std::vector<OpenSheet> sheets_;
};

// The device-list face, a tear-off that shares the hub's identity and reference count.
class ZvWigFace : public IZelvanMgrZvWig {
public:
    explicit ZvWigFace(Hub& hub) : hub_(hub) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override;
    STDMETHODIMP GetZelvanCount(LONG* pnCount) override;
    STDMETHODIMP GetZelvanID(LONG nIndex, BSTR* pbsID) override;
    STDMETHODIMP GetZelvanName(LONG nIndex, BSTR* pbsName) override;
    STDMETHODIMP RemoveZelvan(BSTR bsID) override;
    STDMETHODIMP ConnectZelvan(BSTR bsID) override;

private:
    Hub& hub_;
};

class Hub : public com::ComObject<Hub, IZelvanMgr, IZvFactoryCallback, IZelvanMgrDisp2, ISupportErrorInfo> {
public:
    Hub();
    ~Hub() override;
    HRESULT FinalConstruct();
    // Lets the devices and the device factories go. A factory keeps the hub as its advised sink,
    // so its owner calls this before its last release; calling it again does nothing.
    void Close();
    void* QueryOtherInterface(REFIID riid);

    // IZvFactoryCallback
    STDMETHODIMP OnDeviceFound(GUID aFactory, IZvDevice* device) override;
    STDMETHODIMP OnDeviceLost(GUID aFactory, LPSTR strName) override;

    // IZelvanMgr
    STDMETHODIMP CancelFileOperation(LPSTR strDeviceName) override;
    STDMETHODIMP EnumFileItems(LPSTR strPath, LONG type, IZvEnumFileItems** ppEnum) override;
    STDMETHODIMP RenameFileItem(LPSTR strItem, LPSTR strNewName, LONG nMaxLen, unsigned char* strError) override;
    STDMETHODIMP CreateFolder(LPSTR strFolderPathName) override;
    STDMETHODIMP Command(LPSTR strNameOrID, LPSTR strCommand, LONG* nMaxLen, LPSTR* strResponse) override;
    STDMETHODIMP CopyFileItems(LONG nStringCount, LONG nMaxLen, LPSTR* aStrSrc, LPSTR* aStrDest,
                               IZvFileOperationCallback* callback) override;
    STDMETHODIMP DeleteFileItems(LONG nStringCount, LONG nMaxLen, LPSTR* aStrItems,
                                 IZvFileOperationCallback* callback) override;
    STDMETHODIMP InitDeviceFactories() override;
    STDMETHODIMP GetDeviceIDByName(LPSTR strName, LONG nMaxLen, unsigned char* strID) override;
    STDMETHODIMP GetDeviceNameByID(LPSTR strID, LONG nMaxLen, unsigned char* strName) override;
    STDMETHODIMP GetDeviceDescription(LPSTR strNameOrID, LONG nMaxLen, unsigned char* strName) override;
    STDMETHODIMP GetDeviceVersion(LPSTR strNameOrID, LONG* nModelVersion, LONG* nSubmodelVersion) override;
    STDMETHODIMP BrowseForFolder(LPSTR strTitle, LPSTR strText, LONG nMaxLen, unsigned char* strPath) override;
    STDMETHODIMP DisplayProperties(LPSTR strItem, ZVFILEITEM* Item) override;
    STDMETHODIMP GetItemsInfo(LONG nStringCount, LONG nMaxLen, LPSTR* aStrItems,
                              IZvItemsInfoCallback* callback) override;
    STDMETHODIMP GetVolumeInfo(LPSTR strItem, VOLUMEINFO* pInfo) override;
    STDMETHODIMP GetAllItems(LPSTR strDevice, IZvEnumFileItems** ppEnum) override;
    STDMETHODIMP Refresh() override;
    STDMETHODIMP FindItems(LPSTR strWildCard, IZvEnumFileItems** ppiEnum) override;
    STDMETHODIMP SetItemAttributes(ZVFILEITEM Item) override;
    STDMETHODIMP GetDeviceInfo(LPSTR strNameOrID, IZvFileOperationCallback* callback) override;
    STDMETHODIMP put_BusyUI(LONG nVal) override;
    STDMETHODIMP get_BusyUI(LONG* nVal) override;
    STDMETHODIMP put_EnableUI(LONG nVal) override;
    STDMETHODIMP get_EnableUI(LONG* nVal) override;
    STDMETHODIMP put_AutoPC_ON_PC_OFF_Mode(LPSTR strNameOrID, LONG nVal) override;
    STDMETHODIMP get_AutoPC_ON_PC_OFF_Mode(LPSTR strNameOrID, LONG* nVal) override;
    STDMETHODIMP ProcessFileOpen(LPSTR szFile) override;

    // IDispatch (served by IZelvanMgrDisp2)
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override;

    // IZelvanMgrDisp
    STDMETHODIMP get_Timeout(LONG* nVal) override;
    STDMETHODIMP put_Timeout(LONG nVal) override;
    STDMETHODIMP Items(BSTR strPath, IUnknown** ppItems) override;
    STDMETHODIMP DeleteItem(BSTR strItem) override;
    STDMETHODIMP RenameItem(BSTR strOldName, BSTR strNewName) override;
    STDMETHODIMP CreateFolder(BSTR strFolderPathName) override;
    STDMETHODIMP Command(BSTR strNameOrID, BSTR strCommand, BSTR* strResponse) override;
    STDMETHODIMP CopyFileItem(BSTR aStrSrc, BSTR aStrDest) override;
    STDMETHODIMP GetDeviceIDByName(BSTR strName, BSTR* strID) override;
    STDMETHODIMP GetDeviceNameByID(BSTR strID, BSTR* strName) override;
    STDMETHODIMP GetDeviceDescription(BSTR strNameOrID, BSTR* strName) override;
    STDMETHODIMP GetDeviceModelVersion(BSTR strNameOrID, LONG* nModelVersion) override;
    STDMETHODIMP GetDeviceSubmodelVersion(BSTR strNameOrID, LONG* nSubmodelVersion) override;
    STDMETHODIMP NotifySystemDisp() override;
    STDMETHODIMP GetVolumeFreeSpace(BSTR strItem, LONG* nFreeSpace) override;
    STDMETHODIMP get_EnableUI(VARIANT_BOOL* nVal) override;
    STDMETHODIMP put_EnableUI(VARIANT_BOOL nVal) override;
    STDMETHODIMP get_AutoPCMode(BSTR strNameOrID, VARIANT_BOOL* nVal) override;
    STDMETHODIMP put_AutoPCMode(BSTR strNameOrID, VARIANT_BOOL nVal) override;
    STDMETHODIMP put_BusyUI(VARIANT_BOOL nVal) override;
    STDMETHODIMP get_BusyUI(VARIANT_BOOL* nVal) override;
    STDMETHODIMP BrowseForFolder(BSTR bsTitle, BSTR bsText, BSTR* bsPath) override;
    STDMETHODIMP ProcessFileOpen(BSTR bsFile) override;

    // IZelvanMgrDisp2
    STDMETHODIMP put_ScriptsProhibited(VARIANT_BOOL nVal) override;
    STDMETHODIMP get_ScriptsProhibited(VARIANT_BOOL* nVal) override;
    STDMETHODIMP BrowseForFolder2(BSTR bsTitle, BSTR bsText, BSTR bsStatus, BSTR* bsPath) override;
    STDMETHODIMP PutBusyUI(LONG hwnd, VARIANT_BOOL bVal) override;
    STDMETHODIMP GetBusyUI(LONG* hwnd) override;
    STDMETHODIMP RemoveDevice(BSTR stDevice) override;
    STDMETHODIMP RefreshView() override;

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

    // Device list (used by the device-list face and the device enumerator).
    size_t SlotCount() const { return devices_.size(); }
    RecordPtr Slot(size_t index) const { return index < devices_.size() ? devices_[index] : nullptr; }
    RecordPtr FindDeviceRecord(const char* text) const;
    bool HasVisibleDevice() const;
    // Whether some connected device is shown, readable from any thread (the tray's UI thread asks
    // without a hub call, which would itself count as a device operation).
    bool ShowsDevice() const { return showsDevice_.load(); }
    HRESULT RemoveZelvan(const char* strId);
    HMODULE LanguageLibrary() const { return language_.Get(); }

    // Asks the user for a device while none is shown; false when the user gives up.
    bool WaitForConnectedDevice();
    // Tells the open namespace views that an item changed.
    void PostViewUpdate() const { PostToViews(updateMessage_, true); }
    UINT UpdateMessage() const { return updateMessage_; }
    // Posts `message` to the namespace views in Explorer windows (and in cabinet windows).
    static void PostToViews(UINT message, bool cabinetWindowsToo);
    const std::shared_ptr<SheetRegistry>& Sheets() const { return sheets_; }
    const std::string& LanguageLibraryPath() const { return languagePath_; }

private:
    friend class FileOperation;

    RecordPtr FindDeviceForOperation(const std::string& text);
    // Waits while the record's operation runs: rounds of at most 3000 ms that wake for messages.
    bool WaitDeviceIdle(const RecordPtr& record);
    bool WaitForRecordThread(const RecordPtr& record, DWORD timeoutMs);
    RecordPtr LookupForOperation(const char* path, std::string* rest);
    void RemoveSlot(const RecordPtr& record);
    void DropDevice(const RecordPtr& record);
    void SetTrayAfterLoss() const;
    HRESULT StartWorker(const RecordPtr& record, std::unique_ptr<class OperationBlock> block);
    HRESULT ReportError(UINT stringId, HRESULT hr, REFIID iid = __uuidof(IZelvanMgrDisp));
    HRESULT ReportText(const std::string& text, HRESULT hr);
    HRESULT WaitForListener(class FileOperationListener& listener, const std::vector<std::string>& devices,
                            std::string* errorText);
    ITypeInfo* DispatchTypeInfo(REFIID iid);
    // Runs the folder browser over "My Zelvan": S_OK with the chosen folder's device path,
    // S_FALSE when cancelled, E_FAIL when the folder is not there.
    HRESULT RunFolderBrowser(const std::string& title, const std::string& text, const std::string& status,
                             std::string* path);
    HRESULT BeginBrowse();
    void ShowRefusal(const std::string& strId);
    void CloseRefusals();

    std::vector<std::unique_ptr<FactoryEntry>> factories_;
    std::vector<RecordPtr> devices_;
    std::atomic<bool> showsDevice_{false}; // HasVisibleDevice, kept after every change of devices_
    void NoteDevicesChanged() { showsDevice_ = HasVisibleDevice(); }
    UINT refreshMessage_ = 0;
    UINT updateMessage_ = 0;
    LONG timeout_ = 10000;
    LONG enableUI_ = 1;
    LONG busyUI_ = 0;
    HWND busyWindow_ = nullptr;
    // Shared with the sheet threads, which may end after the hub.
    std::shared_ptr<SheetRegistry> sheets_ = std::make_shared<SheetRegistry>();
    // Threads showing the message about a refused device; closed and joined at the end.
    std::vector<com::UniqueHandle> refusalThreads_;
    VARIANT_BOOL scriptsProhibited_ = VARIANT_FALSE;
    com::UniqueModule language_;
    std::string languagePath_;
    com::ComPtr<ITypeInfo> disp2Info_;
    com::ComPtr<ITypeInfo> zvWigInfo_;
    ZvWigFace zvWig_;
    friend class ZvWigFace;
};

// The hub object of this process, for code that reaches the device list without an interface;
// null when there is none.
Hub* CurrentHub();

// Counts hub operations that talk to a device; the tray shows "busy" while any runs.
class OperationBracket {
public:
    OperationBracket();
    OperationBracket(const OperationBracket&) = delete;
    OperationBracket& operator=(const OperationBracket&) = delete;
    ~OperationBracket();
};

// A text of the language library (empty when it is missing).
std::string LoadLanguageText(HMODULE library, UINT id);

} // namespace tv::hub
