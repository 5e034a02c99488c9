// The mail bridge for scripts: per-device filter settings with their dialog, the record of which
// desktop message matches which device message, fresh identifiers, body cuts and name resolution.
#pragma once
#include "Automation.h"
#include "BridgeFormats.h"
#include "PimBridge.h"
#include "SimpleMapi.h"
#include <string>
#include <utility>
#include <vector>

namespace tv::pimbridge {

// The registry key of one device's bridge values (below HKCU), with an optional subkey.
std::string BridgeKeyPath(const std::string& deviceId, const char* subkey);

class ZvPimBridge final : public AutomationObject<ZvPimBridge, IZvPimBridge, &CLSID_ZvPimBridge> {
  public:
    ZvPimBridge() = default;
    ~ZvPimBridge() override;
    HRESULT FinalConstruct();

    STDMETHODIMP Tune(BSTR deviceId) override;
    STDMETHODIMP FilterOutlookMailMessage(VARIANT date, long size, long* isFiltered) override;
    STDMETHODIMP IsTheSameItem(BSTR outlookId, BSTR deviceItemId, long* same) override;
    STDMETHODIMP SetDevice(BSTR deviceId) override;
    STDMETHODIMP FilterAttachment(long size, long* isFiltered) override;
    STDMETHODIMP SetUIDPair(BSTR outlookId, BSTR deviceItemId) override;
    STDMETHODIMP CommitUIDS() override;
    STDMETHODIMP GenerateAttachmentName(BSTR* name) override;
    STDMETHODIMP GenerateZvUID(BSTR* id) override;
    STDMETHODIMP CutMessageBody(BSTR body, BSTR* cut) override;
    STDMETHODIMP ResolveName(BSTR name, BSTR* address) override;

  private:
    HRESULT LoadSettings();
    HRESULT SaveSettings() const;
    HRESULT Commit();
    HRESULT Filter(const VARIANT& date, long size, long* isFiltered) const;

    std::string device_;
    bool loaded_ = false;
    FilterSettings settings_;
    std::vector<std::pair<std::string, std::string>> pending_;
    SimpleMapi mapi_;
};

// Shows the filter dialog owned by `owner`; true when the user confirmed it, with `settings`
// taken from it.
bool RunFilterDialog(HWND owner, FilterSettings& settings);

} // namespace tv::pimbridge
