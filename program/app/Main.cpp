// Tavrilon.exe: the desktop program and the local server of the hub.
#include "AppState.h"
#include "AnsiText.h"
#include "CommandLine.h"
#include "DisconnectionAlert.h"
#include "Hub.h"
#include "LanguageLibrary.h"
#include "LocalServer.h"
#include "Registration.h"
#include "RunScript.h"
#include "RunServer.h"
#include "Splash.h"
#include "UiThread.h"
#include "ZelvanMgr.h"
#include <commctrl.h>

namespace {

using namespace tv;
using namespace tv::app;

constexpr wchar_t kSingleInstanceMutex[] = L"{25A50E30-3183-4b63-B179-043BEACB5806}";
constexpr DWORD kIdleMs = 5000;
constexpr DWORD kPauseMs = 1000;

HRESULT RunDeviceEventScript(const char* function, const char* strId) {
    const std::wstring wideFunction(function, function + strlen(function));
    VARIANT argument, result;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    com::AnsiToBstr(strId ? strId : "", &argument.bstrVal);
    const HRESULT hr = RunEventScript(L"DeviceEvents", wideFunction.c_str(), &argument, &result);
    VariantClear(&argument);
    VariantClear(&result);
    return hr;
}

// A second instance: hands a file-open command line to the running one.
void ForwardToRunningInstance(const std::string& arguments) {
    com::ComPtr<IZelvanMgr> hub;
    if (SUCCEEDED(CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_LOCAL_SERVER, IID_IZelvanMgr,
                                   reinterpret_cast<void**>(&hub))))
        ForwardFileOpen(arguments, hub.Get());
}

int Run(HINSTANCE instance, const wchar_t* arguments) {
    App().instance = instance;
    App().mainThreadId = GetCurrentThreadId();

    com::UniqueHKey deviceList;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Zelvan\\Tavrilon\\DeviceList", 0, KEY_ALL_ACCESS,
                      deviceList.Put()) != ERROR_SUCCESS)
        ApplySettingsDefaults();

    const std::wstring commandLine = GetCommandLineW();
    const StartSwitches switches = ParseSwitches(commandLine);
    if (switches.action == StartAction::UnregServer) {
        const HRESULT hr = UnregisterServer(instance);
        RemoveSettings();
        return static_cast<int>(hr);
    }
    if (switches.action == StartAction::RegServer)
        return static_cast<int>(RegisterServer(instance));

    const bool fileOpen = HasFileOpenMark(commandLine);
    const std::string fileOpenArguments = com::TerminatedToAnsi(arguments);

    com::UniqueHandle mutex(CreateMutexW(nullptr, FALSE, kSingleInstanceMutex));
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        if (fileOpen)
            ForwardToRunningInstance(fileOpenArguments);
        return 0;
    }

    com::UniqueModule language(LoadLanguageLibrary(instance));
    if (!language)
        return -1;
    App().language = language.Get();

    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LINK_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    if (switches.splash)
        ShowSplash();

    DisconnectionAlerts alerts;
    hub::SetHubServices({.setTrayState = RequestTrayState,
                         .runDeviceEventScript = RunDeviceEventScript,
                         .showDisconnectionAlert =
                             [&alerts](const std::string& strId, const std::string& name) { alerts.Show(strId, name); },
                         .closeDisconnectionAlert = [&alerts](const std::string& strId) { alerts.CloseFor(strId); },
                         .openFile = [](const char* file) { return OpenFileWithAssociation(file); }});

    com::ComPtr<HubClassFactory> hubFactory;
    int exitCode = 0;
    {
        ShutdownMonitor monitor(App().mainThreadId, kIdleMs);
        monitor.Start();
        if (FAILED(com::MakeComObject(hubFactory)))
            return kNoHub;
        ClassObjectRegistration registration(hubFactory.Get());
        registration.Register();

        exitCode = RunServer(hubFactory.Get(), fileOpen ? std::optional<std::string>(fileOpenArguments)
                                                         : std::nullopt);

        registration.Revoke();
        hubFactory->ReleaseInstance();
        monitor.Stop();
    }
    hub::SetHubServices({});
    alerts.CloseAll();
    CloseSplash();
    Sleep(kPauseMs);
    App().language = nullptr;
    return exitCode;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR arguments, int) {
    com::ComApartment apartment;
    return Run(instance, arguments);
}
