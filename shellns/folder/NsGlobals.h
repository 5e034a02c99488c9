// State the folder, view and operation objects of one process share: the hub connection kept in
// the global interface table, the two image lists with their icon cache, the view settings and
// the device paths last put on the clipboard. It lives while any object of the extension holds
// it and is released with the last of them (never in DllMain).
#pragma once
#include "ComPtr.h"
#include "Handles.h"
#include "ZelvanMgr.h"
#include <windows.h>
#include <commctrl.h>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tv::shellns {

struct ViewSettings {
    int columnWidths[4] = {-1, -1, -1, -1};  // -1: the default width
    int sort = 3;                              // signed, 1-based column; positive ascending
    int viewMode = 11841;
};

inline constexpr char kNamespaceKey[] = "Software\\Zelvan\\Tavrilon\\Namespace";
inline constexpr char kCommonKey[] = "Software\\Zelvan\\Tavrilon\\Common";
inline constexpr char kProgramMutexName[] = "{25A50E30-3183-4b63-B179-043BEACB5806}";
inline constexpr DWORD kHubContexts = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                      CLSCTX_REMOTE_SERVER;

class NsGlobals {
public:
    NsGlobals();
    ~NsGlobals();
    NsGlobals(const NsGlobals&) = delete;
    NsGlobals& operator=(const NsGlobals&) = delete;

    // A hub proxy for the calling thread: fetched from the table and probed; a stale or missing
    // connection is made again once.
    HRESULT GetHub(com::ComPtr<IZelvanMgr>& hub);
    // The hub as the table holds it, without probe or reconnection (device-name tests).
    HRESULT PeekHub(com::ComPtr<IZelvanMgr>& hub);
    // Whether `name` is a connected device's name.
    bool IsConnectedDevice(const std::string& name);

    HIMAGELIST LargeImages() const { return large_; }
    HIMAGELIST SmallImages() const { return small_; }
    // The image-list index of an icon, extracted and cached on first use (0 when it cannot be).
    int GetIconIndex(const std::string& iconFile, int iconIndex);

    ViewSettings Settings();
    void StoreSettings(const ViewSettings& settings);  // kept and written

    std::vector<std::string> ClipboardPaths();
    void SetClipboardPaths(std::vector<std::string> paths);

  private:
    HRESULT ConnectHub(bool markIgnoreAutoProcess);
    // Makes a hub and registers it in the table; its cookie.
    HRESULT RegisterNewHub(bool markIgnoreAutoProcess, DWORD& cookie);
    void RevokeHub();
    // The cookie of the hub in the table (0 when there is none or the state is not usable).
    DWORD HubCookie();
    void LoadViewSettings();
    void SaveViewSettings();
    int AppendIcons(HICON large, HICON small);

    com::CriticalSection lock_;
    com::ComPtr<IGlobalInterfaceTable> table_;
    DWORD cookie_ = 0;
    HIMAGELIST large_ = nullptr;
    HIMAGELIST small_ = nullptr;
    std::map<std::pair<std::string, int>, int> icons_;
    ViewSettings settings_;
    com::UniqueHKey key_;
    std::vector<std::string> clipboardPaths_;
};

// The shared state of this process, made on first use and kept while a holder lives.
std::shared_ptr<NsGlobals> AcquireGlobals();

// Writes "IgnoreDeviceAutoProcess" = 1 when the desktop program is not running (its
// single-instance mutex is missing): the program started for us leaves the device alone.
void MarkIgnoreAutoProcess();

} // namespace tv::shellns
