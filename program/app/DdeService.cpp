#include "DdeService.h"
#include "AppState.h"
#include "CommandLine.h"
#include "LangIds.h"
#include "RunServer.h"
#include <atomic>

namespace tv::app {
namespace {

// DDEML calls back without a context: the one service of the process.
std::atomic<DdeService*> g_service{nullptr};

// A file-open request waits for the main window at most this long.
constexpr DWORD kUiReadyWaitMs = 60000;

std::string AnsiText(UINT id) {
    char buffer[256] = {};
    if (!App().language || LoadStringA(App().language, id, buffer, sizeof(buffer)) <= 0)
        return {};
    return buffer;
}

// Waits, dispatching messages, until the UI is ready or the UI thread has ended.
bool WaitForUi() {
    HANDLE handles[2] = {App().uiReady.Get(), App().uiEnded.Get()};
    if (!handles[0] || !handles[1])
        return false;
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= kUiReadyWaitMs)
            return false;
        const DWORD result =
            MsgWaitForMultipleObjectsEx(2, handles, kUiReadyWaitMs - elapsed, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (result == WAIT_OBJECT_0)
            return true;
        if (result == WAIT_OBJECT_0 + 1 || result == WAIT_TIMEOUT || result == WAIT_FAILED)
            return WaitForSingleObject(handles[0], 0) == WAIT_OBJECT_0;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

} // namespace

bool DdeService::Start() {
    service_ = AnsiText(IDS_DDE_SERVICE);
    topic_ = AnsiText(IDS_DDE_TOPIC);
    if (service_.empty() || topic_.empty())
        return false;
    g_service = this;
    if (DdeInitializeA(&instance_, Callback, APPCLASS_STANDARD | CBF_SKIP_ALLNOTIFICATIONS, 0) != DMLERR_NO_ERROR) {
        instance_ = 0;
        g_service = nullptr;
        return false;
    }
    serviceName_ = DdeCreateStringHandleA(instance_, service_.c_str(), CP_WINANSI);
    if (!serviceName_ || !DdeNameService(instance_, serviceName_, nullptr, DNS_REGISTER)) {
        Stop();
        return false;
    }
    return true;
}

void DdeService::Stop() {
    if (!instance_)
        return;
    if (serviceName_) {
        DdeNameService(instance_, serviceName_, nullptr, DNS_UNREGISTER);
        DdeFreeStringHandle(instance_, serviceName_);
        serviceName_ = nullptr;
    }
    DdeUninitialize(instance_);
    instance_ = 0;
    g_service = nullptr;
}

std::string DdeService::Text(HSZ handle) const {
    if (!handle)
        return {};
    char buffer[512] = {};
    DdeQueryStringA(instance_, handle, buffer, sizeof(buffer), CP_WINANSI);
    return buffer;
}

HDDEDATA CALLBACK DdeService::Callback(UINT type, UINT, HCONV, HSZ topic, HSZ service, HDDEDATA data, ULONG_PTR,
                                       ULONG_PTR) {
    DdeService* self = g_service.load();
    if (!self)
        return nullptr;
    switch (type) {
    case XTYP_CONNECT:
        return reinterpret_cast<HDDEDATA>(TRUE);
    case XTYP_EXECUTE:
        return self->Execute(topic, service, data);
    default:
        return nullptr;
    }
}

HDDEDATA DdeService::Execute(HSZ topic, HSZ service, HDDEDATA data) {
    const auto notProcessed = reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED);
    if (!WaitForUi())
        return notProcessed;
    if (lstrcmpiA(Text(topic).c_str(), topic_.c_str()) != 0)
        return notProcessed;
    if (service && lstrcmpiA(Text(service).c_str(), service_.c_str()) != 0)
        return notProcessed;
    const DWORD size = DdeGetData(data, nullptr, 0, 0);
    std::string command(size, '\0');
    if (size)
        DdeGetData(data, reinterpret_cast<BYTE*>(command.data()), size, 0);
    command.resize(strnlen(command.c_str(), command.size()));
    std::string name, path;
    if (!ParseDdeCommand(command, name, path) || lstrcmpiA(name.c_str(), "FileOpen") != 0)
        return notProcessed;
    return OpenFileWithAssociation(path) ? reinterpret_cast<HDDEDATA>(DDE_FACK) : notProcessed;
}

} // namespace tv::app
