#include "E2eSupport.h"
#include "ComPtr.h"
#include "LangIds.h"
#include "LanguageLibrary.h"
#include "ZvRegistrar.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

namespace tv::e2e {
namespace {

// A Linux path of the build as Wine sees it (drive Z: maps the root).
std::wstring WinePath(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* c = unixPath; *c; ++c)
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

void SetUserValue(const char* key, const char* name, DWORD type, const void* data, DWORD size) {
    RegSetKeyValueA(HKEY_CURRENT_USER, key, name, type, data, size);
}

void DeleteTree(const std::string& path) {
    std::string from = path + '\0';
    SHFILEOPSTRUCTA operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_NO_UI;
    SHFileOperationA(&operation);
}

} // namespace

std::wstring ProgramPath() { return WinePath(TV_PROGRAM_DIR) + L"\\Tavrilon.exe"; }
std::wstring ScriptFolder() { return WinePath(TV_SCRIPT_DIR); }
std::wstring OutputFolder() {
    const std::wstring folder = WinePath(TV_OUTPUT_DIR);
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TestTree MakeTestTree() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    TestTree tree;
    tree.root = std::string(temp) + "tve2e";
    DeleteTree(tree.root);
    tree.devices = tree.root + "\\devices";
    tree.pc = tree.root + "\\pc";
    for (const std::string& folder : {tree.root, tree.devices, tree.devices + "\\DevA", tree.devices + "\\DevA\\Docs",
                                      tree.devices + "\\DevB", tree.pc})
        CreateDirectoryA(folder.c_str(), nullptr);
    WriteFile(tree.devices + "\\DevA\\Docs\\a.txt", "device text");
    WriteFile(tree.pc + "\\one.txt", "first");
    WriteFile(tree.pc + "\\js.txt", "from a script");
    SetUserValue("Software\\Zelvan\\Tavrilon\\TestDevice", "Root", REG_SZ, tree.devices.c_str(),
                 static_cast<DWORD>(tree.devices.size() + 1));
    const DWORD options = 3;  // no start-up dialog, no balloon
    SetUserValue("Software\\Zelvan\\Tavrilon", "TvOptions", REG_DWORD, &options, sizeof(options));
    return tree;
}

long RunProgram(const std::wstring& arguments, DWORD timeoutMs) {
    test::StartedProcess process;
    if (!process.Start(L"\"" + ProgramPath() + L"\" " + arguments))
        return -3;
    const long code = process.WaitForExit(timeoutMs);
    return code == -1 && WaitForSingleObject(process.Handle(), 0) == WAIT_TIMEOUT ? -2 : code;
}

HWND FindMainDialog(DWORD processId, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    do {
        for (HWND window = FindWindowExW(nullptr, nullptr, L"#32770", L"Tavrilon"); window;
             window = FindWindowExW(nullptr, window, L"#32770", L"Tavrilon")) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if ((processId == 0 || owner == processId) && !IsWindowVisible(window))
                return window;
        }
        Sleep(100);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

HWND OpenTrayMenu(HWND mainDialog) {
    // The message the program's tray icon sends its main dialog.
    constexpr UINT kTrayCallbackMessage = 2724;
    SetCursorPos(1000, 740);
    PostMessageW(mainDialog, kTrayCallbackMessage, 0, WM_RBUTTONUP);
    return test::WaitForWindow(L"#32768", nullptr, 10000);
}

void CloseTrayMenu(HWND mainDialog, HWND menu) {
    PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(mainDialog, WM_CANCELMODE, 0, 0);
    WaitUntil([] { return !FindWindowW(L"#32768", nullptr); }, 5000);
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    return test::PollUntil(condition, timeoutMs);
}

bool StoreScript(const wchar_t* item, const wchar_t* script) {
    com::ComPtr<IZvRegistrarDisp> store;
    if (FAILED(CoCreateInstance(CLSID_ZvRegistrar, nullptr, CLSCTX_INPROC_SERVER, IID_IZvRegistrarDisp,
                                reinterpret_cast<void**>(&store))))
        return false;
    com::UniqueBstr name(SysAllocString(item));
    if (script) {
        com::UniqueBstr text(SysAllocString(script));
        if (FAILED(store->PutItemScript(name.Get(), text.Get(), 1)))
            return false;
    } else {
        store->RemoveItem(RIT_SCRIPT, name.Get());
    }
    return SUCCEEDED(store->Flush());
}

bool ComStartedProgram::Attach(DWORD timeoutMs) {
    mainDialog_ = FindMainDialog(0, timeoutMs);
    DWORD processId = 0;
    if (mainDialog_)
        GetWindowThreadProcessId(mainDialog_, &processId);
    if (processId)
        process_.Reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId));
    return static_cast<bool>(process_);
}

long ComStartedProgram::Exit() {
    if (!mainDialog_ || !process_)
        return -1;
    PostMessageW(mainDialog_, WM_COMMAND, 57665, 0);
    mainDialog_ = nullptr;
    DWORD code = 0;
    const bool ended = WaitForSingleObject(process_.Get(), 30000) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process_.Get(), &code);
    process_.Reset();
    return ended ? static_cast<long>(code) : -1;
}

com::ComPtr<IZelvanMgr> ConnectHub() {
    com::ComPtr<IZelvanMgr> hub;
    if (FAILED(CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_LOCAL_SERVER, IID_IZelvanMgr,
                                reinterpret_cast<void**>(&hub))))
        return nullptr;
    return hub;
}

LONG HubDeviceCount() {
    com::ComPtr<IZelvanMgrZvWig> hub;
    LONG count = -1;
    if (SUCCEEDED(CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(IZelvanMgrZvWig),
                                   reinterpret_cast<void**>(&hub))))
        hub->GetZelvanCount(&count);
    return count;
}

std::vector<std::string> ListedDevices(IZelvanMgr* hub) {
    std::vector<std::string> names;
    com::ComPtr<IZvEnumFileItems> items;
    char root[] = "";
    if (!hub || FAILED(hub->EnumFileItems(root, 1, &items)) || !items)
        return names;
    ZVFILEITEM item = {};
    LONG fetched = 0;
    while (SUCCEEDED(items->Next(1, &item, &fetched)) && fetched == 1) {
        names.push_back(item.strName ? item.strName : "");
        CoTaskMemFree(item.strName);
        CoTaskMemFree(item.strDesc);
        CoTaskMemFree(item.strIconFile);
        item = {};
    }
    return names;
}

HWND ShowSheetPageWith(HWND sheet, HWND tabs, int id) {
    const auto shownPage = [&] {
        for (HWND page = FindWindowExW(sheet, nullptr, L"#32770", nullptr); page;
             page = FindWindowExW(sheet, page, L"#32770", nullptr))
            if (GetDlgItem(page, id) && IsWindowVisible(page))
                return page;
        return HWND{};
    };
    HWND found = shownPage();
    const int count = static_cast<int>(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0));
    for (int tab = 0; tab < count && !found; ++tab) {
        TabCtrl_SetCurFocus(tabs, tab);
        WaitUntil([&] { return (found = shownPage()) != nullptr; }, 2000);
    }
    return found;
}

long TrayPosition(IZelvanMgr* hub, const std::string& name, size_t count) {
    std::vector<std::string> devices;
    if (!WaitUntil([&] {
            devices = ListedDevices(hub);
            return devices.size() == count;
        }))
        return -1;
    const auto at = std::find(devices.begin(), devices.end(), name);
    return at == devices.end() ? -1 : static_cast<long>(at - devices.begin());
}

std::wstring DeviceEventsScript(const std::string& tag) {
    const std::wstring mark(tag.begin(), tag.end());
    return L"function log(t) { new ActiveXObject(\"Tavrilon.Logger\").Write(t); }\n"
           L"function OnDeviceFound(id) { log(\"" + mark + L" found \" + id); return true; }\n"
           L"function OnDeviceLost(id) { log(\"" + mark + L" lost \" + id); }\n";
}

STDMETHODIMP RecordingCallback::OnOperationComplete() {
    done = true;
    return S_OK;
}

STDMETHODIMP RecordingCallback::OnItemComplete(LPSTR item, LPSTR text, LONG code) {
    completed.push_back(std::string(item ? item : "") + "|" + (text ? text : "") + "|" + std::to_string(code));
    return S_OK;
}

bool RecordingCallback::Wait(const std::function<bool()>& until) {
    const DWORD start = GetTickCount();
    while (!until() && GetTickCount() - start < 30000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    return until();
}

bool RecordingCallback::Wait() {
    return Wait([this] { return done; });
}

void SetUserString(const std::string& key, const char* name, const std::string& value) {
    SetUserValue(key.c_str(), name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

void SetUserNumber(const std::string& key, const char* name, DWORD value) {
    SetUserValue(key.c_str(), name, REG_DWORD, &value, sizeof(value));
}

bool RunningProgram::Start() {
    if (!process_.Start(L"\"" + ProgramPath() + L"\" /NoSplash"))
        return false;
    mainDialog_ = FindMainDialog(process_.Id(), 30000);
    return mainDialog_ != nullptr;
}

long RunningProgram::Exit() {
    if (mainDialog_)
        PostMessageW(mainDialog_, WM_COMMAND, 57665, 0);
    mainDialog_ = nullptr;
    return process_.WaitForExit(30000);
}

long RunningProgram::WaitForExit(DWORD timeoutMs) {
    mainDialog_ = nullptr;
    return process_.WaitForExit(timeoutMs);
}

std::string SharedLogText() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    return ReadFile(std::string(temp) + "Zelvan\\Tavrilon.log");
}

bool KeyExists(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::string ReadString(HKEY root, const std::string& path, const char* value) {
    char buffer[1024] = {};
    DWORD size = sizeof(buffer) - 1;
    if (RegGetValueA(root, path.c_str(), value, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return {};
    return buffer;
}

namespace {
constexpr char kTestDevicesKey[] = "Software\\Zelvan\\Tavrilon\\TestDevice";
}

std::string UseOnlyEmulatedDevice(const std::string& tag, const std::string& registration, const std::string& name) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string noTestDevices = std::string(temp) + tag + "-none";
    CreateDirectoryA(noTestDevices.c_str(), nullptr);
    const std::string previousRoot = ReadString(HKEY_CURRENT_USER, kTestDevicesKey, "Root");
    SetUserString(kTestDevicesKey, "Root", noTestDevices);
    SetUserNumber("Software\\Zelvan\\Tavrilon", "TvOptions", 3); // no start-up dialog, no balloon
    RegDeleteTreeA(HKEY_CURRENT_USER, registration.c_str());
    SetUserString(registration, "Name", name);
    SetUserNumber(registration, "IsGuest", 0);
    return previousRoot;
}

void ForgetEmulatedDevice(const std::string& registration, const std::string& previousRoot) {
    RegDeleteTreeA(HKEY_CURRENT_USER, registration.c_str());
    if (previousRoot.empty())
        RegDeleteKeyValueA(HKEY_CURRENT_USER, kTestDevicesKey, "Root");
    else
        SetUserString(kTestDevicesKey, "Root", previousRoot);
}

std::string UseNewSetFolder(const std::string& tag) {
    char documents[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PERSONAL | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                                documents)))
        return {};
    for (int attempt = 0; attempt < 20; ++attempt) {
        GUID random{};
        if (FAILED(CoCreateGuid(&random)))
            return {};
        char name[64] = {};
        std::snprintf(name, sizeof(name), "%s-%08lx", tag.c_str(), static_cast<unsigned long>(random.Data1));
        const std::string path = std::string(documents) + "\\" + name;
        if (CreateDirectoryA(path.c_str(), nullptr)) {
            SetUserString("Software\\Zelvan\\Tavrilon\\Common", "BackupFolder", name);
            return path;
        }
    }
    return {};
}

void RemoveSetFolder(const std::string& path) {
    RegDeleteKeyValueA(HKEY_CURRENT_USER, "Software\\Zelvan\\Tavrilon\\Common", "BackupFolder");
    if (!path.empty())
        DeleteTree(path);
}

std::string UseOnlyDevice10(const std::string& tag, const std::string& registration,
                            const std::string& name) {
    const char* prefix = std::getenv("WINEPREFIX");
    if (!prefix)
        return {};
    std::string root = std::string("Z:") + prefix + "\\device-root";
    std::replace(root.begin(), root.end(), '/', '\\');
    UseOnlyEmulatedDevice(tag, registration, name);
    SetUserNumber(registration, "DisconnectionAlert", 0);
    StoreScript(L"DeviceEvents", nullptr);
    return root;
}

bool AttachWithOneDevice(ComStartedProgram& program) {
    // The connection starts the program and keeps it running until it is attached.
    const com::ComPtr<IZelvanMgr> hub = ConnectHub();
    return hub && program.Attach(30000) && WaitUntil([] { return HubDeviceCount() == 1; }, 40000);
}

namespace {
constexpr char kScheduleKey[] = "Software\\Zelvan\\Tavrilon\\ZvSyncMgr";
constexpr UINT kSynchronizeCommand = 0x4400;

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}
std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}
} // namespace

void ClearSchedules() {
    RegDeleteTreeA(HKEY_CURRENT_USER, kScheduleKey);
}

void ScheduleOnly(std::initializer_list<CLSID> classes, const std::string& strId) {
    ClearSchedules();
    for (const CLSID& clsid : classes) {
        wchar_t text[40] = {};
        StringFromGUID2(clsid, text, ARRAYSIZE(text));
        SetUserString(kScheduleKey, Narrow(text).c_str(), strId + ";");
    }
}

std::string LanguageText(UINT id) {
    static HMODULE language = LoadLanguageLibrary(nullptr);
    return LoadLanguageString(language, id);
}

std::string SessionRows(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_SYNC_LIST);
    std::string rows;
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i)
        rows += Narrow(test::ListViewItemText(list, i, 0)) + ": " + Narrow(test::ListViewItemText(list, i, 1)) + "\n";
    return rows;
}

bool TraySession::Start(HWND mainDialog, const std::string& name, const std::string& strId) {
    dialog_ = nullptr;
    com::ComPtr<IZelvanMgr> hub = ConnectHub();
    const long at = hub ? TrayPosition(hub.Get(), name, ListedDevices(hub.Get()).size()) : -1;
    if (at < 0)
        return false;
    PostMessageW(mainDialog, WM_COMMAND, kSynchronizeCommand + static_cast<UINT>(at), 0);
    const std::wstring title = L"Synchronizing " + Wide(name) + L" <" + Wide(strId) + L">";
    dialog_ = test::WaitForWindow(nullptr, title.c_str(), 120000);
    if (!dialog_)
        return false;
    test::ClickButton(dialog_, IDC_SYNC_START);
    HWND start = GetDlgItem(dialog_, IDC_SYNC_START);
    return WaitUntil([&] { return !IsWindowEnabled(start); }, 120000);
}

std::string TraySession::WaitForEnd(const std::string& row, DWORD timeoutMs, const std::string& finalText) {
    std::string rows;
    const std::string label = row + ": ";
    const bool ended = WaitUntil(
        [&] {
            rows = SessionRows(dialog_);
            const size_t at = rows.find(label);
            if (at == std::string::npos)
                return false;
            const std::string state = rows.substr(at + label.size());
            return state.rfind("Synchronized", 0) == 0 || state.rfind("Error", 0) == 0 ||
                   state.rfind("Stopped", 0) == 0 || (!finalText.empty() && state.rfind(finalText, 0) == 0);
        },
        timeoutMs);
    HWND start = GetDlgItem(dialog_, IDC_SYNC_START);
    if (!ended || !WaitUntil([&] { return IsWindowEnabled(start) != FALSE; }, timeoutMs))
        return "<no end> " + rows;
    return SessionRows(dialog_);
}

bool TraySession::Close(DWORD timeoutMs) {
    test::ClickButton(dialog_, IDC_SYNC_CLOSE);
    const bool gone = test::WaitForWindowGone(dialog_, timeoutMs);
    dialog_ = nullptr;
    return gone;
}

} // namespace tv::e2e
