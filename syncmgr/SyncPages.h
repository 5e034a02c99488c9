// The property pages the synchronization manager gives the device property sheet: which
// synchronizers run for the device (ZvSyncOptions), how conflicts are resolved (ZvSyncRules),
// the device's own options (DeviceOptns) and a web page (TvlPlus). Each is a dialog of the
// language library over the shared page mechanics; each becomes dirty on a user change and
// writes its settings on Apply.
#pragma once
#include "ItemPageCore.h"
#include "ZelvanMgr.h"
#include "ZvDevice.h"
#include "ZvSyncMgr.h"
#include <exdisp.h>
#include <string>
#include <vector>

namespace tv::sync {

// Reads the hub's list of devices to its end: the hub takes each device's current name then.
void RefreshDeviceNames(IZelvanMgr* hub);

// The device and the manager every synchronization page needs (the sheet's first two objects).
class SyncPageCore : public pages::ItemPageCore {
  public:
    using ItemPageCore::ItemPageCore;
    HRESULT SetObjects(ULONG count, IUnknown** objects);

  protected:
    std::string deviceId_;
    long modelVersion_ = 0;
    com::ComPtr<IZvSyncMgr> manager_;
};

class SyncOptionsCore : public SyncPageCore {
  public:
    SyncOptionsCore() : SyncPageCore({IDD_SYNC_OPTIONS, IDS_SYNC_OPTIONS_TITLE}) {}

  protected:
    HRESULT FillControls() override;
    HRESULT ApplyChanges() override;
    void OnCommand(WORD id, WORD code) override;
    bool OnNotify(NMHDR* header) override;

  private:
    struct Row {
        com::ComPtr<IZvSynchronizer> synchronizer;
        CLSID clsid;
        bool shownChecked; // the check box as the page last filled or applied it
    };
    HRESULT Tune(size_t row);
    int SelectedRow() const;

    std::vector<Row> rows_;
    bool autoSyncShown_ = false;
    bool filling_ = false;
};

class SyncRulesCore : public SyncPageCore {
  public:
    SyncRulesCore() : SyncPageCore({IDD_SYNC_RULES, IDS_SYNC_RULES_TITLE}) {}

  protected:
    HRESULT FillControls() override;
    HRESULT ApplyChanges() override;
    void OnCommand(WORD id, WORD code) override;
};

class DeviceOptionsCore : public pages::ItemPageCore {
  public:
    DeviceOptionsCore() : ItemPageCore({IDD_DEVICE_OPTIONS, IDS_DEVICE_OPTIONS_TITLE}) {}
    HRESULT SetObjects(ULONG count, IUnknown** objects);

  protected:
    HRESULT FillControls() override;
    HRESULT ApplyChanges() override;
    void OnCommand(WORD id, WORD code) override;

  private:
    com::ComPtr<IZvDevice> device_;
    com::ComPtr<IZelvanMgr> hub_;
    std::string deviceId_;
    std::string name_;      // the last valid name typed
    std::string shownName_; // the device's name when the page was filled
    long auxData_ = 0;
    DWORD isGuest_ = 0;
    std::string information_;
    bool filling_ = false;
};

// The web page: a host window over the page's browser area, in which the web-browser control is
// activated in place through a minimal OLE site. Without a browser engine the host says so.
class TvlPlusCore : public pages::ItemPageCore {
  public:
    TvlPlusCore() : ItemPageCore({IDD_TVL_PLUS, IDS_TVL_PLUS_TITLE}) {}
    ~TvlPlusCore() override;
    HRESULT SetObjects(ULONG, IUnknown**) { return S_OK; }
    HRESULT Deactivate();

  protected:
    HRESULT FillControls() override;

  private:
    void CloseBrowser();
    HWND host_ = nullptr;
    com::ComPtr<IOleObject> browser_;
    com::ComPtr<IOleClientSite> site_;
};

class SyncOptionsPage : public pages::PropertyPageObject<SyncOptionsPage, SyncOptionsCore> {};
class SyncRulesPage : public pages::PropertyPageObject<SyncRulesPage, SyncRulesCore> {};
class DeviceOptionsPage : public pages::PropertyPageObject<DeviceOptionsPage, DeviceOptionsCore> {};
class TvlPlusPage : public pages::PropertyPageObject<TvlPlusPage, TvlPlusCore> {};

} // namespace tv::sync
