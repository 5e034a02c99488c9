#include "NsGlobals.h"
#include "HResult.h"
#include <shellapi.h>
#include <shlobj.h>
#include <cstring>
#include <mutex>
#include <utility>

namespace tv::shellns {
namespace {

constexpr UINT kImageListFlags = 255;
constexpr const char* kSettingNames[] = {"Column0", "Column1", "Column2", "Column3", "Sort", "ViewMode"};
constexpr DWORD kDefaultColumnWidth = 100;

std::mutex g_globalsLock;
std::weak_ptr<NsGlobals> g_globals;

} // namespace

std::shared_ptr<NsGlobals> AcquireGlobals() {
    std::lock_guard<std::mutex> guard(g_globalsLock);
    std::shared_ptr<NsGlobals> globals = g_globals.lock();
    if (!globals) {
        globals = std::make_shared<NsGlobals>();
        g_globals = globals;
    }
    return globals;
}

void MarkIgnoreAutoProcess() {
    // Only a look: opening leaves no mutex behind that would make the program think it runs.
    com::UniqueHandle running(OpenMutexA(SYNCHRONIZE, FALSE, kProgramMutexName));
    if (running)
        return;
    com::UniqueHKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kCommonKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.Put(), nullptr) !=
        ERROR_SUCCESS)
        return;
    DWORD one = 1;
    RegSetValueExA(key.Get(), "IgnoreDeviceAutoProcess", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                   sizeof(one));
}

NsGlobals::NsGlobals() {
    CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&table_));
    ConnectHub(false);
    large_ = ImageList_Create(32, 32, kImageListFlags, 2, 1);
    small_ = ImageList_Create(16, 16, kImageListFlags, 2, 1);
    HICON large = nullptr, small = nullptr;
    if (ExtractIconExA("shell32.dll", 1, &large, &small, 1) == 2)
        AppendIcons(large, small);
    else {
        if (large)
            DestroyIcon(large);
        if (small)
            DestroyIcon(small);
    }
    LoadViewSettings();
}

NsGlobals::~NsGlobals() {
    RevokeHub();
    if (large_)
        ImageList_Destroy(large_);
    if (small_)
        ImageList_Destroy(small_);
}

HRESULT NsGlobals::ConnectHub(bool markIgnoreAutoProcess) {
    DWORD cookie = 0;
    TV_RETURN_IF_FAILED(RegisterNewHub(markIgnoreAutoProcess, cookie));
    com::CriticalSectionLock guard(lock_);
    cookie_ = cookie;
    return S_OK;
}

HRESULT NsGlobals::RegisterNewHub(bool markIgnoreAutoProcess, DWORD& cookie) {
    cookie = 0;
    if (!table_)
        return E_FAIL;
    if (markIgnoreAutoProcess)
        MarkIgnoreAutoProcess();
    com::ComPtr<IZelvanMgr> hub;
    TV_RETURN_IF_FAILED(CoCreateInstance(CLSID_ZelvanMgr, nullptr, kHubContexts, IID_PPV_ARGS(&hub)));
    return table_->RegisterInterfaceInGlobal(hub.Get(), IID_IZelvanMgr, &cookie);
}

void NsGlobals::RevokeHub() {
    DWORD cookie = 0;
    {
        com::CriticalSectionLock guard(lock_);
        cookie = std::exchange(cookie_, 0);
    }
    if (table_ && cookie)
        table_->RevokeInterfaceFromGlobal(cookie);
}

DWORD NsGlobals::HubCookie() {
    com::CriticalSectionLock guard(lock_);
    return table_ && large_ && small_ ? cookie_ : 0;
}

// The lock guards only the cookie: the calls into the hub run without it, because they may
// take long (another process) and let other calls into this thread meanwhile, which may ask
// for the hub again.
HRESULT NsGlobals::GetHub(com::ComPtr<IZelvanMgr>& hub) {
    hub.Reset();
    {
        com::CriticalSectionLock guard(lock_);
        if (!table_ || !large_ || !small_)
            return E_FAIL;
    }
    const DWORD seen = HubCookie();
    if (seen && SUCCEEDED(table_->GetInterfaceFromGlobal(seen, IID_PPV_ARGS(&hub)))) {
        LONG enabled = 0;
        if (SUCCEEDED(hub->get_EnableUI(&enabled)))
            return S_OK;
        hub.Reset();
    }
    // The program ended or was never reached: one new connection. It replaces the one seen
    // unless another call replaced that meanwhile; then that one serves and ours goes.
    DWORD fresh = 0;
    if (FAILED(RegisterNewHub(true, fresh)))
        return E_FAIL;
    DWORD unused = 0, current = 0;
    {
        com::CriticalSectionLock guard(lock_);
        if (cookie_ == seen) {
            unused = seen;
            cookie_ = fresh;
        } else {
            unused = fresh;
        }
        current = cookie_;
    }
    if (unused)
        table_->RevokeInterfaceFromGlobal(unused);
    return current ? table_->GetInterfaceFromGlobal(current, IID_PPV_ARGS(&hub)) : E_FAIL;
}

HRESULT NsGlobals::PeekHub(com::ComPtr<IZelvanMgr>& hub) {
    hub.Reset();
    const DWORD cookie = HubCookie();
    if (!cookie)
        return E_FAIL;
    return table_->GetInterfaceFromGlobal(cookie, IID_PPV_ARGS(&hub));
}

bool NsGlobals::IsConnectedDevice(const std::string& name) {
    com::ComPtr<IZelvanMgr> hub;
    if (name.empty() || FAILED(PeekHub(hub)))
        return false;
    unsigned char id[MAX_PATH] = {};
    return SUCCEEDED(hub->GetDeviceIDByName(const_cast<LPSTR>(name.c_str()), sizeof(id), id));
}

int NsGlobals::AppendIcons(HICON large, HICON small) {
    int index = ImageList_AddIcon(large_, large);
    ImageList_AddIcon(small_, small);
    DestroyIcon(large);
    DestroyIcon(small);
    return index < 0 ? 0 : index;
}

int NsGlobals::GetIconIndex(const std::string& iconFile, int iconIndex) {
    com::CriticalSectionLock guard(lock_);
    auto key = std::make_pair(iconFile, iconIndex);
    if (auto found = icons_.find(key); found != icons_.end())
        return found->second;
    int index = 0;
    size_t marker = iconFile.find("SystemIconList");
    size_t dot = marker == std::string::npos ? std::string::npos : iconFile.find('.', marker);
    if (dot != std::string::npos) {
        // The shell's own icon of a file type, named by the extension after the marker.
        const std::string extension = iconFile.substr(dot);
        SHFILEINFOA small{}, large{};
        if (SHGetFileInfoA(extension.c_str(), FILE_ATTRIBUTE_NORMAL, &small, sizeof(small),
                           SHGFI_USEFILEATTRIBUTES | SHGFI_ICON | SHGFI_SMALLICON) &&
            SHGetFileInfoA(extension.c_str(), FILE_ATTRIBUTE_NORMAL, &large, sizeof(large),
                           SHGFI_USEFILEATTRIBUTES | SHGFI_ICON))
            index = AppendIcons(large.hIcon, small.hIcon);
        else {
            if (small.hIcon)
                DestroyIcon(small.hIcon);
            if (large.hIcon)
                DestroyIcon(large.hIcon);
        }
    } else if (!iconFile.empty()) {
        HICON large = nullptr, small = nullptr;
        if (ExtractIconExA(iconFile.c_str(), iconIndex, &large, &small, 1) == 2)
            index = AppendIcons(large, small);
        else {
            if (large)
                DestroyIcon(large);
            if (small)
                DestroyIcon(small);
        }
    }
    icons_.emplace(std::move(key), index);
    return index;
}

void NsGlobals::LoadViewSettings() {
    key_.Reset();
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kNamespaceKey, 0, nullptr, 0, KEY_READ, nullptr, key_.Put(), nullptr) !=
        ERROR_SUCCESS)
        return;
    int* targets[] = {&settings_.columnWidths[0], &settings_.columnWidths[1], &settings_.columnWidths[2],
                      &settings_.columnWidths[3], &settings_.sort,            &settings_.viewMode};
    const DWORD defaults[] = {kDefaultColumnWidth, kDefaultColumnWidth, kDefaultColumnWidth, kDefaultColumnWidth, 3,
                              11841};
    for (size_t i = 0; i < 6; ++i) {
        DWORD value = 0, size = sizeof(value), type = 0;
        if (RegQueryValueExA(key_.Get(), kSettingNames[i], nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
                ERROR_SUCCESS ||
            type != REG_DWORD)
            value = defaults[i];
        *targets[i] = static_cast<int>(value);
    }
}

void NsGlobals::SaveViewSettings() {
    com::UniqueHKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kNamespaceKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.Put(), nullptr) !=
        ERROR_SUCCESS)
        return;
    const int values[] = {settings_.columnWidths[0], settings_.columnWidths[1], settings_.columnWidths[2],
                          settings_.columnWidths[3], settings_.sort,            settings_.viewMode};
    for (size_t i = 0; i < 6; ++i) {
        DWORD value = static_cast<DWORD>(values[i]);
        RegSetValueExA(key.Get(), kSettingNames[i], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                       sizeof(value));
    }
}

ViewSettings NsGlobals::Settings() {
    com::CriticalSectionLock guard(lock_);
    return settings_;
}

void NsGlobals::StoreSettings(const ViewSettings& settings) {
    com::CriticalSectionLock guard(lock_);
    settings_ = settings;
    SaveViewSettings();
}

std::vector<std::string> NsGlobals::ClipboardPaths() {
    com::CriticalSectionLock guard(lock_);
    return clipboardPaths_;
}

void NsGlobals::SetClipboardPaths(std::vector<std::string> paths) {
    com::CriticalSectionLock guard(lock_);
    clipboardPaths_ = std::move(paths);
}

} // namespace tv::shellns
