#include "LocalServer.h"
#include "ModuleLock.h"
#include "ZelvanMgr.h"
#include <atomic>

namespace tv::app {
namespace {

std::atomic<HANDLE> g_activity{nullptr};

} // namespace

HRESULT ClassObjectRegistration::Register() {
    HRESULT hr = CoRegisterClassObject(CLSID_ZelvanMgr, factory_, CLSCTX_LOCAL_SERVER,
                                       REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED, &cookie_);
    if (FAILED(hr))
        return hr;
    return CoResumeClassObjects();
}

void ClassObjectRegistration::Revoke() {
    if (cookie_)
        CoRevokeClassObject(cookie_);
    cookie_ = 0;
}

bool ShutdownMonitor::Start() {
    activity_.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    stop_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!activity_ || !stop_)
        return false;
    g_activity = activity_.Get();
    com::ModuleLock::SetLastReleaseCallback(OnLastRelease);
    thread_ = std::thread([this] { Run(); });
    return true;
}

void ShutdownMonitor::Stop() {
    com::ModuleLock::SetLastReleaseCallback(nullptr);
    g_activity = nullptr;
    if (stop_)
        SetEvent(stop_.Get());
    if (thread_.joinable())
        thread_.join();
}

void ShutdownMonitor::OnLastRelease() {
    if (HANDLE activity = g_activity.load())
        SetEvent(activity);
}

void ShutdownMonitor::Run() {
    HANDLE waits[2] = {stop_.Get(), activity_.Get()};
    for (;;) {
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
            return;
        // Idle: no further activity for the idle time.
        DWORD result;
        while ((result = WaitForMultipleObjects(2, waits, FALSE, idleMs_)) == WAIT_OBJECT_0 + 1) {
        }
        if (result != WAIT_TIMEOUT)
            return;
        if (com::ModuleLock::Count() != 0)
            continue;
        CoSuspendClassObjects();
        if (com::ModuleLock::Count() == 0) {
            PostThreadMessageW(mainThreadId_, WM_QUIT, 0, 0);
            return;
        }
        CoResumeClassObjects();
    }
}

} // namespace tv::app
