#include "HResult.h"
#include "SyncSession.h"
#include "DeviceGuards.h"
#include "Handles.h"
#include "SyncProgressDialog.h"
#include <memory>
#include <utility>

namespace tv::sync {

void DiscardMarshalStream(IStream*& stream) {
    if (!stream)
        return;
    const LARGE_INTEGER start = {};
    if (SUCCEEDED(stream->Seek(start, STREAM_SEEK_SET, nullptr)))
        CoReleaseMarshalData(stream);
    stream->Release();
    stream = nullptr;
}

SessionStart::~SessionStart() {
    DiscardMarshalStream(hub);
    DiscardMarshalStream(manager);
}

StepStart::~StepStart() {
    DiscardMarshalStream(synchronizer);
}

namespace {

// Unmarshals a one-time stream; the stream and its data are gone afterwards either way.
template <class T> HRESULT TakeFromStream(IStream*& stream, com::ComPtr<T>& out) {
    IStream* taken = std::exchange(stream, nullptr);
    if (!taken)
        return E_POINTER;
    return CoGetInterfaceAndReleaseStream(taken, __uuidof(T), reinterpret_cast<void**>(&out));
}

} // namespace

PcModeSession::PcModeSession(IZelvanMgr* hub, std::string deviceId)
    : hub_(hub), deviceId_(std::move(deviceId)) {}

HRESULT PcModeSession::Prepare() {
    LPSTR id = deviceId_.data();
    long value = 0;
    TV_RETURN_IF_FAILED(hub_->get_BusyUI(&value));
    if (value)
        return E_FAIL;
    TV_RETURN_IF_FAILED(hub_->put_BusyUI(1));
    savedBusy_ = 1;
    TV_RETURN_IF_FAILED(hub_->get_EnableUI(&value));
    TV_RETURN_IF_FAILED(hub_->put_EnableUI(0));
    savedUi_ = value ? 1 : -1;
    TV_RETURN_IF_FAILED(hub_->get_AutoPC_ON_PC_OFF_Mode(id, &value));
    TV_RETURN_IF_FAILED(hub_->put_AutoPC_ON_PC_OFF_Mode(id, 0));
    savedPcMode_ = value ? 1 : -1;
    pcOnSent_ = true;
    return SendPcModeCommand(id, hub_.Get(), true);
}

void PcModeSession::Restore() {
    LPSTR id = deviceId_.data();
    if (pcOnSent_)
        SendPcModeCommand(id, hub_.Get(), false); // the outcome changes nothing
    pcOnSent_ = false;
    if (savedUi_)
        hub_->put_EnableUI(savedUi_ > 0 ? 1 : 0);
    if (savedPcMode_)
        hub_->put_AutoPC_ON_PC_OFF_Mode(id, savedPcMode_ > 0 ? 1 : 0);
    if (savedBusy_)
        hub_->put_BusyUI(0);
    savedUi_ = savedPcMode_ = savedBusy_ = 0;
}

DWORD WINAPI SyncThreadProc(void* parameter) {
    std::unique_ptr<SessionStart> start(static_cast<SessionStart*>(parameter));
    com::ComApartment apartment;
    if (FAILED(apartment.Result()))
        return 1;
    com::ComPtr<IZelvanMgr> hub;
    com::ComPtr<IZvSyncMgr> manager;
    if (FAILED(TakeFromStream(start->hub, hub)) || FAILED(TakeFromStream(start->manager, manager)))
        return 1;
    PcModeSession pcMode(hub.Get(), start->deviceId);
    if (FAILED(pcMode.Prepare())) {
        pcMode.Restore();
        return 1;
    }
    const HRESULT hr = RunSessionDialog(manager.Get(), start->deviceId, start->deviceName, start->autoStart);
    pcMode.Restore();
    return SUCCEEDED(hr) ? 0 : 1;
}

DWORD WINAPI SyncStepThreadProc(void* parameter) {
    std::unique_ptr<StepStart> start(static_cast<StepStart*>(parameter));
    com::ComApartment apartment;
    if (FAILED(apartment.Result()))
        return 1;
    com::ComPtr<IZvSynchronizer> synchronizer;
    if (FAILED(TakeFromStream(start->synchronizer, synchronizer)))
        return 1;
    synchronizer->Synchronize(start->phase); // the phase reports its end through the sinks
    return 0;
}

} // namespace tv::sync
