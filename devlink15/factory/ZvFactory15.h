// ZvFactory15: tells the hub about devices of this generation as they are plugged in and out.
// It watches device notifications for the device's interface class on a hidden window, names a
// device seen for the first time through the device list dialog, makes and connects one device
// object per device, checks with the identification command that it answers, and reports it to
// every advised hub callback. Inert on Windows Me, where ZvFactory15Me does the work.
#pragma once

#include "ComObject.h"
#include "FactoryDevice.h"
#include "FactorySupport.h"
#include "Handles.h"
#include "NotificationWindow.h"

#include <string>
#include <vector>

namespace devlink15 {

class ZvFactory15 : public tv::com::ComObject<ZvFactory15, IZvFactory> {
  public:
    ZvFactory15();
    explicit ZvFactory15(DeviceMaker maker);
    ~ZvFactory15() override;
    HRESULT FinalConstruct();

    STDMETHODIMP SetLangId(long nLangId) override;
    STDMETHODIMP Advise(IZvFactoryCallback* piCallback, long* nCookie) override;
    STDMETHODIMP UnAdvise(long nCookie) override;
    STDMETHODIMP GetVirtualDevice(LPSTR strNameOrId, IZvDevice** ppiDevice) override;
    STDMETHODIMP DeleteVirtualDevice(LPSTR strNameOrId, IZvDevice* piDevice) override;

    // The two roads a device notification takes; the window runs them.
    HRESULT OnArrival(const std::string& interfacePath);
    void OnRemoval(const std::string& interfacePath);

    bool IsInactive() const { return inactive_; }
    size_t DeviceCount() const { return devices_.size(); }

  private:
    // A device accepted or being accepted.
    struct Entry {
        std::string id;
        std::string path;
        long presence = 1;
    };
    struct Announced {
        tv::com::ComPtr<IZvDevice> device;
        int deviceNumber = -1;
    };

    void RunStartUpRoad();
    HRESULT AttachAtStartUp(int deviceNumber);
    bool HasUnknownPresentDevice() const;
    int FindNewDeviceNumber() const;
    // The common end of both roads: identification, then the announcement.
    HRESULT Identify(FactoryDevice& device, int deviceNumber, const std::string& shortId, bool atStartUp);
    bool WaitForPrompt(HANDLE promptEvent);
    void ReportNotAnswering(FactoryDevice& device);
    void RemoveEntry(const std::string& id);
    Entry* FindEntryById(const std::string& id);
    bool KnowsId(const std::string& id) const;
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    DeviceMaker maker_;
    bool inactive_ = false;
    bool legacyRemoval_ = false;
    FactorySinks sinks_;
    std::vector<Announced> devices_;
    std::vector<Entry> entries_;
    DWORD lastRemovalTime_ = 0;
    std::string lastRemovedPath_;
    tv::com::UniqueHandle reArrival_;
    NotificationWindow window_;
};

} // namespace devlink15
