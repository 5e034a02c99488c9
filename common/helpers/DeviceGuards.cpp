#include "DeviceGuards.h"
#include "Handles.h"
#include <cstring>

namespace tv {

HRESULT SendPcModeCommand(const char* deviceNameOrId, IZelvanMgr* hub, bool on) {
    if (!hub || !deviceNameOrId)
        return E_POINTER;
    char command[] = "pc on";
    char commandOff[] = "pc off";
    long length = 0;
    com::UniqueTaskMem<char> response;
    HRESULT hr = hub->Command(const_cast<LPSTR>(deviceNameOrId), on ? command : commandOff, &length, response.Put());
    if (FAILED(hr))
        return hr;
    const char* expected = on ? "pc mode on" : "pc mode off";
    if (!response || !std::strstr(response.Get(), expected))
        return E_FAIL;
    return S_OK;
}

PcModeGuard::PcModeGuard(IZelvanMgr* hub, const char* deviceNameOrId)
    : hub_(hub), device_(deviceNameOrId ? deviceNameOrId : "") {
    result_ = SendPcModeCommand(device_.c_str(), hub_.Get(), true);
}

PcModeGuard::~PcModeGuard() {
    if (SUCCEEDED(result_))
        SendPcModeCommand(device_.c_str(), hub_.Get(), false);
}

BusyGuard::BusyGuard(IUnknown* hub) {
    if (!hub || FAILED(hub->QueryInterface(IID_PPV_ARGS(&hub_))))
        return;
    long busy = 0;
    HRESULT hr = hub_->get_BusyUI(&busy);
    if (FAILED(hr))
        result_ = hr;
    else if (busy)
        result_ = E_FAIL;
    else
        result_ = hub_->put_BusyUI(1);
}

HRESULT BusyGuard::End() {
    if (!hub_)
        return E_FAIL;
    HRESULT hr = SUCCEEDED(result_) ? hub_->put_BusyUI(0) : E_FAIL;
    hub_.Reset();
    result_ = E_FAIL;
    return hr;
}

} // namespace tv
