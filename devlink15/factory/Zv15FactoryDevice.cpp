// The factories' view of a ZvDevice15. The device gets its port from here, made in this module,
// so that the factory reaches the port's prompt event directly.
#include "FactoryDevice.h"

#include "ZvFactory15.h"
#include "ZvFactory15Me.h"

#include "ZvDevice15.h"
#include "ZvPort15.h"

namespace devlink15 {
namespace {

// {68DDAF01-6FAE-4BD9-BA1C-1DC7C61943E2}: the association manager.
constexpr CLSID kClsidZvAssocMgr = {0x68ddaf01, 0x6fae, 0x4bd9, {0xba, 0x1c, 0x1d, 0xc7, 0xc6, 0x19, 0x43, 0xe2}};

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::string Narrow(BSTR text) {
    std::string narrow;
    for (UINT i = 0; text && i < SysStringLen(text); ++i)
        narrow.push_back(static_cast<char>(text[i]));
    return narrow;
}

class Zv15FactoryDevice : public FactoryDevice {
  public:
    Zv15FactoryDevice(tv::com::ComPtr<ZvDevice15> device, tv::com::ComPtr<ZvPort15> port)
        : device_(std::move(device)), port_(std::move(port)) {}

    void SetStrId(const std::string& id) override { device_->SetStrId(id); }
    void SetName(const std::string& name) override { device_->SetNameInMemory(name); }
    HRESULT ConnectPort(int deviceNumber) override { return device_->ConnectPort(deviceNumber); }
    HRESULT PortCommand(const std::string& command, std::string& reply) override {
        tv::com::UniqueBstr text(SysAllocString(Widen(command).c_str()));
        BSTR answer = nullptr;
        const HRESULT hr = port_->Command(text.Get(), &answer);
        tv::com::UniqueBstr owned(answer);
        reply = Narrow(answer);
        return hr;
    }
    void DisconnectPort() override {
        BSTR ignored = nullptr;
        port_->Disconnect(reinterpret_cast<BSTR*>(&ignored));
    }
    HANDLE PromptEvent() override { return port_->PromptEvent(); }
    HRESULT QueryDevice(IZvDevice** device) override {
        return device_->QueryInterface(__uuidof(IZvDevice), reinterpret_cast<void**>(device));
    }

  private:
    tv::com::ComPtr<ZvDevice15> device_;
    tv::com::ComPtr<ZvPort15> port_;
};

} // namespace

HRESULT MakeZvDevice15(std::unique_ptr<FactoryDevice>& device) {
    tv::com::ComPtr<ZvPort15> port;
    if (FAILED(tv::com::MakeComObject(port)))
        return E_FAIL;
    tv::com::ComPtr<IZvAssocMgr> assoc;
    if (FAILED(CoCreateInstance(kClsidZvAssocMgr, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvAssocMgr),
                                reinterpret_cast<void**>(&assoc))))
        return E_FAIL;
    tv::com::ComPtr<ZvDevice15> object;
    const HRESULT hr = ZvDevice15::CreateWith(port.Get(), assoc.Get(), object);
    if (FAILED(hr))
        return hr;
    device = std::make_unique<Zv15FactoryDevice>(std::move(object), std::move(port));
    return S_OK;
}

// The factories served by the DLL make real device objects.
ZvFactory15::ZvFactory15() : ZvFactory15(&MakeZvDevice15) {}
ZvFactory15Me::ZvFactory15Me() : ZvFactory15Me(&MakeZvDevice15) {}

} // namespace devlink15
