// The threads of a synchronization session: the session thread, which prepares the device's PC
// mode through the hub, runs the session dialog and restores everything afterwards, and the step
// thread, which makes one synchronizer's call for one phase.
#pragma once
#include "ComPtr.h"
#include "ZelvanMgr.h"
#include "ZvSyncMgr.h"
#include <objidl.h>
#include <string>

namespace tv::sync {

// What the session thread is given; the thread owns it and releases the streams' data.
struct SessionStart {
    IStream* hub = nullptr;     // IZelvanMgr, marshalled for one unmarshal
    IStream* manager = nullptr; // IZvSyncMgr, likewise
    std::string deviceId;
    std::string deviceName;
    bool autoStart = false;
    ~SessionStart();
};

// What the step thread is given; the thread owns it.
struct StepStart {
    IStream* synchronizer = nullptr; // IZvSynchronizer, marshalled for one unmarshal
    ZVSYNCPHASE phase = SPH_INITIALIZE;
    ~StepStart();
};

DWORD WINAPI SyncThreadProc(void* start);
DWORD WINAPI SyncStepThreadProc(void* start);

// Releases the marshalled data of a one-time stream that will never be unmarshalled, and the
// stream; null is fine.
void DiscardMarshalStream(IStream*& stream);

// The hub's settings a session changes and puts back: the busy flag, the hub's own progress
// windows and the device's automatic PC mode; then "pc on" and, at the end, "pc off" - the
// latter only when this session sent "pc on", so that a device another operation holds is
// never switched off.
class PcModeSession {
  public:
    PcModeSession(IZelvanMgr* hub, std::string deviceId);
    PcModeSession(const PcModeSession&) = delete;
    PcModeSession& operator=(const PcModeSession&) = delete;

    // Marks the hub busy, turns its UI and the device's automatic PC mode off, switches PC mode
    // on. Stops at the first failure (the hub already busy is E_FAIL).
    HRESULT Prepare();
    // Switches PC mode off (when it was sent on) and puts back what Prepare changed.
    void Restore();

  private:
    com::ComPtr<IZelvanMgr> hub_;
    std::string deviceId_;
    int savedBusy_ = 0;
    int savedUi_ = 0;
    int savedPcMode_ = 0;
    bool pcOnSent_ = false;
};

} // namespace tv::sync
