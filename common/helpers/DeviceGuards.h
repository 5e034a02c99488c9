// Scopes around a device operation: PC mode switched on for its length, and the hub marked
// busy while a component's modal window is open.
#pragma once
#include "ComPtr.h"
#include "ZelvanMgr.h"
#include <string>

namespace tv {

// Sends "pc on" or "pc off" to the device through the hub; the reply must hold "pc mode on"
// (or "pc mode off") somewhere, else E_FAIL.
HRESULT SendPcModeCommand(const char* deviceNameOrId, IZelvanMgr* hub, bool on);

// Switches PC mode on at construction and off at the end of scope, but only when switching
// on was confirmed.
class PcModeGuard {
public:
    PcModeGuard(IZelvanMgr* hub, const char* deviceNameOrId);
    PcModeGuard(const PcModeGuard&) = delete;
    PcModeGuard& operator=(const PcModeGuard&) = delete;
    ~PcModeGuard();
    HRESULT Result() const { return result_; }

private:
    com::ComPtr<IZelvanMgr> hub_;
    std::string device_;
    HRESULT result_;
};

// Marks the hub busy for the life of the guard, unless it was busy already (then the guard's
// result is E_FAIL and it changes nothing).
class BusyGuard {
public:
    explicit BusyGuard(IUnknown* hub);
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;
    ~BusyGuard() { End(); }
    HRESULT Result() const { return result_; }
    // Clears the busy flag when this guard set it and lets the hub go; later calls give E_FAIL.
    HRESULT End();

private:
    com::ComPtr<IZelvanMgr> hub_;
    HRESULT result_ = E_FAIL;
};

} // namespace tv
