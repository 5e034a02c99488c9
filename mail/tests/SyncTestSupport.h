// Test-only: drives a mail synchronizer's phases directly, the way the synchronization manager
// does, from a DLL loaded by the test (its class object taken from the DLL, not the registry).
#pragma once
#include "ComObject.h"
#include "Handles.h"
#include "ZvSyncMgr.h"
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tv::mail::testing {

// Every report as a line: "update <phase> <status>", "custom <phase> <status> <text>",
// "error <phase> <text>".
class RecordingSink : public com::ComObject<RecordingSink, IZvSyncCallback> {
  public:
    STDMETHODIMP OnUpdate(IZvSynchronizer*, ZVSYNCPHASE phase, ZVSYNCSTATUS status, ULONG, ULONG) override;
    STDMETHODIMP OnCustomUpdate(IZvSynchronizer*, ZVSYNCPHASE phase, ZVSYNCSTATUS status, LPSTR text, ULONG,
                                ULONG) override;
    STDMETHODIMP OnError(IZvSynchronizer*, ZVSYNCPHASE phase, LPSTR text) override;
    std::vector<std::string> Events();
    std::vector<std::string> Errors();

  private:
    void Add(std::string event);
    std::mutex lock_;
    std::vector<std::string> events_;
};

// Loads a synchronizer DLL from the deliverables' folder (beside the language library).
com::UniqueModule LoadSynchronizerDll(const char* name);

// Runs `job` on a thread of its own while this thread dispatches messages (it serves the hub);
// false when the job did not end within `limitMs`.
bool RunOnWorkerThread(std::function<void()> job, DWORD limitMs);

// The synchronizer `clsid` made on the calling thread from the class object of the loaded DLL
// `library` (not through the registry); null when it cannot be made.
com::ComPtr<IZvSynchronizer> CreateSynchronizerFromDll(HMODULE library, REFCLSID clsid);

// Makes the synchronizer of `clsid` from `library` on a thread of its own (its own apartment)
// while this thread dispatches messages (it serves the hub), and runs IsCompatible, SetDevice
// and the phases as the synchronization manager does: a resolve with nothing unresolved is passed
// over, and a phase that reports an error ends the session (no Finalize after it). `between` runs
// on that thread after Initialize. The result of each call made; empty when the synchronizer
// could not be made or the session did not end within two minutes.
std::vector<HRESULT> RunSynchronizerSession(HMODULE library, REFCLSID clsid, const std::string& deviceId,
                                            RecordingSink* sink, std::function<void()> between = nullptr);

// RunSynchronizerSession with a new recording sink: the sink, and the results in `results` when
// given.
com::ComPtr<RecordingSink> RunRecordedSession(HMODULE library, REFCLSID clsid, const std::string& deviceId,
                                              std::function<void()> between = nullptr,
                                              std::vector<HRESULT>* results = nullptr);

} // namespace tv::mail::testing
