#include "SyncTestSupport.h"
#include "ServedHub.h"
#include "UiHarness.h"
#include <gtest/gtest.h>

namespace tv::mail::testing {

STDMETHODIMP RecordingSink::OnUpdate(IZvSynchronizer*, ZVSYNCPHASE phase, ZVSYNCSTATUS status, ULONG, ULONG) {
    Add("update " + std::to_string(phase) + " " + std::to_string(status));
    return S_OK;
}

STDMETHODIMP RecordingSink::OnCustomUpdate(IZvSynchronizer*, ZVSYNCPHASE phase, ZVSYNCSTATUS status,
                                           LPSTR text, ULONG, ULONG) {
    Add("custom " + std::to_string(phase) + " " + std::to_string(status) + " " + (text ? text : ""));
    return S_OK;
}

STDMETHODIMP RecordingSink::OnError(IZvSynchronizer*, ZVSYNCPHASE phase, LPSTR text) {
    Add("error " + std::to_string(phase) + " " + (text ? text : ""));
    return S_OK;
}

std::vector<std::string> RecordingSink::Events() {
    std::lock_guard<std::mutex> guard(lock_);
    return events_;
}

std::vector<std::string> RecordingSink::Errors() {
    std::vector<std::string> errors;
    for (const std::string& event : Events())
        if (event.rfind("error", 0) == 0)
            errors.push_back(event);
    return errors;
}

void RecordingSink::Add(std::string event) {
    std::lock_guard<std::mutex> guard(lock_);
    events_.push_back(std::move(event));
}

com::UniqueModule LoadSynchronizerDll(const char* name) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    folder = folder.substr(0, folder.find_last_of('\\'));
    return com::UniqueModule(LoadLibraryA((folder + "\\..\\..\\bin\\" + name).c_str()));
}

com::ComPtr<IZvSynchronizer> CreateSynchronizerFromDll(HMODULE library, REFCLSID clsid) {
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
    com::ComPtr<IClassFactory> factory;
    com::ComPtr<IZvSynchronizer> sync;
    if (!get || FAILED(get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
        FAILED(factory->CreateInstance(nullptr, __uuidof(IZvSynchronizer), reinterpret_cast<void**>(&sync))))
        return {};
    return sync;
}

namespace {

// How the manager ends a phase: by the first report of that phase that ends it, an error or a
// completion; a phase that reports neither would leave the session waiting.
enum class PhaseEnd { Completed, Failed, Unreported };

PhaseEnd EndOfPhase(const std::vector<std::string>& events, size_t from, ZVSYNCPHASE phase) {
    const std::string number = " " + std::to_string(phase) + " ";
    for (size_t i = from; i < events.size(); ++i) {
        const std::string& event = events[i];
        if (event.rfind("error" + number, 0) == 0)
            return PhaseEnd::Failed;
        for (const char* kind : {"update", "custom"})
            if (event.rfind(kind + number + std::to_string(SST_COMPLETE), 0) == 0)
                return PhaseEnd::Completed;
    }
    return PhaseEnd::Unreported;
}

} // namespace

std::vector<HRESULT> RunSynchronizerSession(HMODULE library, REFCLSID clsid, const std::string& deviceId,
                                            RecordingSink* sink, std::function<void()> between) {
    std::vector<HRESULT> results;
    std::function<void()> job = [&] {
        com::ComApartment apartment;
        com::ComPtr<IZvSynchronizer> sync = CreateSynchronizerFromDll(library, clsid);
        if (!sync)
            return;
        com::ComPtr<IZvSyncNotify> notify;
        sync->QueryInterface(__uuidof(IZvSyncNotify), reinterpret_cast<void**>(&notify));
        LONG cookie = 0;
        notify->Advise(sink, &cookie);
        std::string id = deviceId;
        results.push_back(sync->IsCompatible(id.data()));
        results.push_back(sync->SetDevice(id.data()));
        for (ZVSYNCPHASE phase : {SPH_INITIALIZE, SPH_SYNCHRONIZE_ESTIMATE, SPH_SYNCHRONIZE_TRANSFER,
                                  SPH_SYNCHRONIZE_RESOLVE, SPH_FINALIZE}) {
            if (phase == SPH_SYNCHRONIZE_ESTIMATE && between)
                between();
            LONG unresolved = 0;
            if (phase == SPH_SYNCHRONIZE_RESOLVE && SUCCEEDED(sync->GetUnresolvedItems(&unresolved)) &&
                unresolved == 0)
                continue; // the manager passes over a resolve with nothing to resolve
            const size_t reported = sink->Events().size();
            results.push_back(sync->Synchronize(phase));
            // The manager ignores the returned value: a phase ends with its first error or
            // completion report, and after an error the synchronizer is abandoned (no Finalize).
            const PhaseEnd end = EndOfPhase(sink->Events(), reported, phase);
            if (end == PhaseEnd::Unreported)
                ADD_FAILURE() << "phase " << phase << " reported neither completion nor error";
            if (end != PhaseEnd::Completed)
                break;
        }
        notify->Unadvise(cookie);
    };
    if (!RunOnWorkerThread(job, 120000))
        results.clear();
    return results;
}

com::ComPtr<RecordingSink> RunRecordedSession(HMODULE library, REFCLSID clsid, const std::string& deviceId,
                                              std::function<void()> between, std::vector<HRESULT>* results) {
    com::ComPtr<RecordingSink> sink;
    com::MakeComObject(sink);
    std::vector<HRESULT> made =
        RunSynchronizerSession(library, clsid, deviceId, sink.Get(), std::move(between));
    if (results)
        *results = std::move(made);
    return sink;
}

bool RunOnWorkerThread(std::function<void()> job, DWORD limitMs) {
    com::UniqueHandle worker(CreateThread(
        nullptr, 0,
        [](void* f) -> DWORD {
            (*static_cast<std::function<void()>*>(f))();
            return 0;
        },
        &job, 0, nullptr));
    return worker && test::PumpUntilThreadEnds(worker.Get(), limitMs);
}

} // namespace tv::mail::testing
