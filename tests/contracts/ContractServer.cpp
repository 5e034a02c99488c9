// tvcontract_server.exe: a local server of the contract test device. "/RegServer" and
// "/UnregServer" write and remove its LocalServer32 class key; started by COM it serves one new
// device object per creation request from its single-threaded main apartment and ends when the
// last object is released (or, should a client vanish, after a fixed lifetime).
#include "ClassFactory.h"
#include "FakeDevice.h"
#include "Handles.h"
#include "RegistryScript.h"
#include <shlwapi.h>

using namespace tv::com;
using tv::tests::CLSID_ContractTestDevice;
using tv::tests::FakeDevice;

namespace {

constexpr DWORD kLifetimeLimitMs = 5 * 60 * 1000;

DWORD g_mainThreadId = 0;

RegistryScript ServerScript() {
    RegKey classKey{GuidToString(CLSID_ContractTestDevice),
                    KeyMode::ForceRemove,
                    {{L"", std::wstring(L"Tavrilon contract test device")}},
                    {{L"LocalServer32", KeyMode::Normal, {{L"", std::wstring(L"\"%MODULE%\"")}}, {}}}};
    return RegistryScript(HKEY_CLASSES_ROOT, {{L"CLSID", KeyMode::NoRemove, {}, {std::move(classKey)}}},
                          {{L"%MODULE%", ModulePath(nullptr)}});
}

void QuitOnLastRelease() {
    PostThreadMessageW(g_mainThreadId, WM_QUIT, 0, 0);
}

// Dispatches messages until WM_QUIT or the lifetime limit.
void RunMessageLoop() {
    const ULONGLONG deadline = GetTickCount64() + kLifetimeLimitMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return;
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                return;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

int Serve() {
    ComApartment apartment(COINIT_APARTMENTTHREADED);
    if (FAILED(apartment.Result()))
        return 2;
    g_mainThreadId = GetCurrentThreadId();
    ModuleLock::SetLastReleaseCallback(QuitOnLastRelease);

    ComPtr<ClassFactory<FakeDevice, NoModuleLock>> factory;
    if (FAILED(MakeComObject(factory)))
        return 3;
    DWORD cookie = 0;
    if (FAILED(CoRegisterClassObject(CLSID_ContractTestDevice, factory->AsUnknown(), CLSCTX_LOCAL_SERVER,
                                     REGCLS_MULTIPLEUSE, &cookie)))
        return 4;
    RunMessageLoop();
    CoRevokeClassObject(cookie);
    return 0;
}

bool HasSwitch(const char* commandLine, const char* name) {
    for (const char* p = commandLine; (p = StrStrIA(p, name)) != nullptr; p += lstrlenA(name)) {
        if (p > commandLine && (p[-1] == '/' || p[-1] == '-'))
            return true;
    }
    return false;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    if (HasSwitch(commandLine, "UnregServer"))
        return FAILED(ServerScript().Unregister()) ? 1 : 0;
    if (HasSwitch(commandLine, "RegServer"))
        return FAILED(ServerScript().Register()) ? 1 : 0;
    return Serve();
}
