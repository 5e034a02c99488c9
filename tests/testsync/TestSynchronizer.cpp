// tvtestsync.dll: synchronizers for tests. Three classes register in the category of
// synchronizers; each reads what to do from its settings key (TestSyncIds.h) at every call, so a
// test changes its behaviour between sessions without restarting the program. Every call is
// appended to the log file as "<n> <method> <phase> <device> <thread>".
#include "ClassFactory.h"
#include "DllModule.h"
#include "Handles.h"
#include "MessagePump.h"
#include "TestSyncIds.h"
#include "ZelvanMgr.h"
#include "ZvSyncMgr.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

using namespace tv::com;
using namespace tv::tests;

namespace {

constexpr CATID kCategorySynchronizers = {
    0xE735514E, 0xA1EE, 0x4FB8, {0x90, 0x25, 0xEC, 0x96, 0xC7, 0x89, 0x50, 0x13}};
constexpr DWORD kWaitForCancelMs = 10000;

std::string ClsidText(REFCLSID clsid) {
    wchar_t wide[40] = {};
    StringFromGUID2(clsid, wide, ARRAYSIZE(wide));
    char text[40] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof(text), nullptr, nullptr);
    return text;
}

std::string ReadText(const std::string& key, const char* name, const std::string& fallback) {
    char buffer[1024] = {};
    DWORD size = sizeof(buffer) - 1;
    if (RegGetValueA(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
        ERROR_SUCCESS)
        return fallback;
    return buffer;
}

bool ReadNumber(const std::string& key, const char* name, DWORD& value) {
    DWORD size = sizeof(value);
    return RegGetValueA(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) ==
           ERROR_SUCCESS;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

class TestSynchronizer
    : public ComObject<TestSynchronizer, IZvSynchronizer, IZvSyncNotify, IZvSynchronizerGUI> {
  public:
    TestSynchronizer(const CLSID& clsid, int number)
        : number_(number), key_(std::string(kTestSyncKey) + "\\" + ClsidText(clsid)) {
        cancel_.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    }

    void* QueryOtherInterface(REFIID riid) {
        // Without IZvSyncNotify the session leaves the synchronizer out.
        if (IsEqualIID(riid, __uuidof(IZvSyncNotify)) && !Setting("NoNotify"))
            return static_cast<IZvSyncNotify*>(this);
        return nullptr;
    }

    // IZvSynchronizer
    STDMETHODIMP GetUserFriendlyName(LONG nMaxLen, unsigned char* name) override {
        Log("GetUserFriendlyName", 0);
        const std::string text = ReadText(key_, "Name", "Test synchronizer " + std::to_string(number_));
        if (!name || nMaxLen <= 0 || text.size() >= static_cast<size_t>(nMaxLen))
            return E_INVALIDARG;
        std::memcpy(name, text.c_str(), text.size() + 1);
        return S_OK;
    }
    STDMETHODIMP GetItemTypes(LONG nMaxElems, LONG* pnElems, ZVSYNCITEMTYPE* pTypes) override {
        Log("GetItemTypes", 0);
        if (!pnElems || !pTypes)
            return E_POINTER;
        LONG count = 0;
        for (const std::string& text : Split(ReadText(key_, "ItemTypes", ""), ';')) {
            if (count >= nMaxElems)
                break;
            std::wstring wide(text.begin(), text.end());
            if (FAILED(CLSIDFromString(wide.c_str(), &pTypes[count].guid)))
                continue;
            pTypes[count].flags = 0;
            pTypes[count].name = static_cast<LPSTR>(CoTaskMemAlloc(text.size() + 1));
            if (pTypes[count].name)
                std::memcpy(pTypes[count].name, text.c_str(), text.size() + 1);
            ++count;
        }
        *pnElems = count;
        return S_OK;
    }
    STDMETHODIMP IsCompatible(LPSTR szDeviceID) override {
        Log("IsCompatible", 0, szDeviceID);
        DWORD forced = 0;
        if (ReadNumber(key_, "CompatibleResult", forced))
            return static_cast<HRESULT>(forced);
        const std::string versions = ReadText(key_, "Versions", "");
        if (versions.empty())
            return S_OK;
        ComPtr<IZelvanMgr> hub;
        LONG model = 0, submodel = 0;
        if (!szDeviceID ||
            FAILED(CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_ALL, __uuidof(IZelvanMgr),
                                    reinterpret_cast<void**>(&hub))) ||
            FAILED(hub->GetDeviceVersion(szDeviceID, &model, &submodel)))
            return S_FALSE;
        for (const std::string& version : Split(versions, ';'))
            if (std::atol(version.c_str()) == model)
                return S_OK;
        return S_FALSE;
    }
    STDMETHODIMP SetDevice(LPSTR szDeviceID) override {
        Log("SetDevice", 0, szDeviceID);
        device_ = szDeviceID ? szDeviceID : "";
        return S_OK;
    }
    STDMETHODIMP SetConflictResolution(ZVSYNCRESOLUTION newVal) override {
        Log("SetConflictResolution", newVal);
        return S_OK;
    }
    STDMETHODIMP SetParentWindow(ULONG_PTR) override { return S_OK; }
    STDMETHODIMP Synchronize(ZVSYNCPHASE phase) override {
        Log("Synchronize", phase);
        ResetEvent(cancel_.Get());
        if (phase == SPH_INITIALIZE)
            unresolved_ = 0; // the counts are those of the session that starts
        const std::string actions = ReadText(key_, ("Phase" + std::to_string(phase)).c_str(), "complete");
        Tell([&](IZvSyncCallback* sink) { sink->OnUpdate(this, phase, SST_START, 0, 0); });
        for (const std::string& action : Split(actions, ','))
            Perform(action, phase);
        Log("Synchronized", phase);
        return S_OK;
    }
    STDMETHODIMP Cancel() override {
        Log("Cancel", 0);
        SetEvent(cancel_.Get());
        return S_OK;
    }
    STDMETHODIMP GetTotalItems(LONG* nItems) override { return Count(nItems, 7); }
    STDMETHODIMP GetSynchronizedItems(LONG* nItems) override { return Count(nItems, 5); }
    STDMETHODIMP GetUnresolvedItems(LONG* nItems) override {
        Log("GetUnresolvedItems", 0);
        if (Setting("UnresolvedFails"))
            return E_FAIL;
        return Count(nItems, unresolved_);
    }
    STDMETHODIMP IsTunable() override { return Setting("Tunable") ? S_OK : S_FALSE; }
    STDMETHODIMP Tune(LPSTR szDeviceID) override {
        Log("Tune", 0, szDeviceID);
        return S_OK;
    }

    // IZvSyncNotify: cookies count up from 1.
    STDMETHODIMP Advise(IZvSyncCallback* piCallback, LONG* pnCookie) override {
        if (!piCallback || !pnCookie)
            return E_POINTER;
        Log("Advise", 0);
        sinks_.emplace_back(++lastCookie_, piCallback);
        *pnCookie = lastCookie_;
        return S_OK;
    }
    STDMETHODIMP Unadvise(LONG nCookie) override {
        Log("Unadvise", 0);
        for (auto it = sinks_.begin(); it != sinks_.end(); ++it)
            if (it->first == nCookie) {
                sinks_.erase(it);
                return S_OK;
            }
        return E_INVALIDARG;
    }

    // IZvSynchronizerGUI
    STDMETHODIMP GetIcon(int* nResourceID) override {
        if (!nResourceID)
            return E_POINTER;
        *nResourceID = 0;
        return S_OK;
    }

  private:
    DWORD Setting(const char* name) const {
        DWORD value = 0;
        return ReadNumber(key_, name, value) ? value : 0;
    }

    HRESULT Count(LONG* out, LONG value) const {
        if (!out)
            return E_POINTER;
        *out = value;
        return S_OK;
    }

    void Log(const char* method, int phase, const char* device = nullptr) const {
        const std::string path = ReadText(kTestSyncKey, kTestSyncLogValue, "");
        if (path.empty())
            return;
        if (FILE* file = std::fopen(path.c_str(), "a")) {
            std::fprintf(file, "%d %s %d %s %lu\n", number_, method, phase,
                         device ? device : (device_.empty() ? "-" : device_.c_str()), GetCurrentThreadId());
            std::fclose(file);
        }
    }

    // Every advised sink hears the report; a copy, since a sink may unadvise meanwhile.
    template <class Report> void Tell(Report report) {
        std::vector<std::pair<LONG, ComPtr<IZvSyncCallback>>> sinks = sinks_;
        for (auto& sink : sinks)
            report(sink.second.Get());
    }

    void Complete(ZVSYNCPHASE phase) {
        Tell([&](IZvSyncCallback* sink) { sink->OnUpdate(this, phase, SST_COMPLETE, 1, 1); });
    }

    void Perform(const std::string& action, ZVSYNCPHASE phase) {
        if (action == "complete") {
            Complete(phase);
        } else if (action == "duplicate") {
            Complete(phase);
            Complete(phase);
        } else if (action == "late") {
            if (phase > SPH_INITIALIZE)
                Complete(static_cast<ZVSYNCPHASE>(phase - 1));
        } else if (action.rfind("error", 0) == 0) {
            std::string text = action.size() > 6 ? action.substr(6) : std::string();
            Tell([&](IZvSyncCallback* sink) {
                sink->OnError(this, phase, text.empty() ? nullptr : text.data());
            });
        } else if (action == "bytes") {
            Tell([&](IZvSyncCallback* sink) {
                sink->OnUpdate(this, phase, SST_UPDATE, 4000000000u, 4294967295u);
                sink->OnUpdate(this, phase, SST_UPDATE, 10, 0);
            });
        } else if (action.rfind("unresolved:", 0) == 0) {
            unresolved_ = std::atol(action.c_str() + 11);
        } else if (action == "customcomplete") {
            char done[] = "done";
            Tell([&](IZvSyncCallback* sink) { sink->OnCustomUpdate(this, phase, SST_COMPLETE, done, 1, 1); });
        } else if (action == "wait") {
            tv::WaitWithMessagePump(cancel_.Get(), kWaitForCancelMs);
        } else if (action.rfind("linger:", 0) == 0) {
            // The phase goes on after its report, whatever a cancel says.
            UniqueHandle never(CreateEventA(nullptr, TRUE, FALSE, nullptr));
            tv::WaitWithMessagePump(never.Get(), static_cast<DWORD>(std::atol(action.c_str() + 7)));
        } // "nothing" reports nothing
    }

    int number_;
    std::string key_;
    std::string device_;
    LONG unresolved_ = 0;
    LONG lastCookie_ = 0;
    std::vector<std::pair<LONG, ComPtr<IZvSyncCallback>>> sinks_;
    UniqueHandle cancel_;
};

const CLSID* const kClasses[] = {&CLSID_TestSync1, &CLSID_TestSync2, &CLSID_TestSync3};

template <int Number>
class SynchronizerFactory : public ComObjectImpl<SynchronizerFactory<Number>, IClassFactory>,
                            private ModuleLockHolder<true> {
  public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        TV_RETURN_IF_FAILED(CheckCreateRequest(outer, ppv));
        return CreateComObject<TestSynchronizer>(riid, ppv, *kClasses[Number - 1], Number);
    }
    STDMETHODIMP LockServer(BOOL lock) override { return LockModule(lock); }
};

template <int Number> HRESULT CreateClassObject(REFIID riid, void** ppv) {
    return CreateComObject<SynchronizerFactory<Number>>(riid, ppv);
}

ClassInfo InfoOf(int number, HRESULT (*create)(REFIID, void**)) {
    ClassInfo info;
    info.clsid = kClasses[number - 1];
    info.description = L"Tavrilon test synchronizer";
    info.categories = {{kCategorySynchronizers, L"ZvSynchronizers"}};
    info.createClassObject = create;
    return info;
}

const DllServer& Server() {
    static const DllServer server(
        {InfoOf(1, CreateClassObject<1>), InfoOf(2, CreateClassObject<2>), InfoOf(3, CreateClassObject<3>)},
        false);
    return server;
}

} // namespace

TV_DLL_SERVER(NotUsed, Server)
