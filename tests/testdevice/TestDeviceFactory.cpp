// tvtestdevice.dll: a device factory for tests. Each sub-folder of the root folder (environment
// variable TV_TESTDEVICE_ROOT, else the registry value Root under HKCU
// Software\Zelvan\Tavrilon\TestDevice) is one connected device, reported to the advised
// callback from within Advise.
#include "ClassFactory.h"
#include "FolderDevice.h"
#include "ServerRegistration.h"
#include "TestDeviceIds.h"
#include "TestPropertyPage.h"
#include <cstring>
#include <olectl.h>
#include <vector>

using namespace tv::com;
using namespace tv::tests;

namespace {

HMODULE g_module = nullptr;

std::string TestDeviceRoot() {
    char buffer[MAX_PATH] = {};
    DWORD length = GetEnvironmentVariableA(kTestDeviceRootVariable, buffer, sizeof(buffer));
    if (length > 0 && length < sizeof(buffer))
        return buffer;
    DWORD size = sizeof(buffer);
    if (RegGetValueA(HKEY_CURRENT_USER, kTestDeviceKey, kTestDeviceRootValue, RRF_RT_REG_SZ, nullptr, buffer,
                     &size) == ERROR_SUCCESS)
        return buffer;
    return {};
}

std::vector<std::string> DeviceFolders(const std::string& root) {
    std::vector<std::string> names;
    if (root.empty())
        return names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((root + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && data.cFileName[0] != '.')
            names.emplace_back(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
}

class TestDeviceFactory : public ComObject<TestDeviceFactory, IZvFactory> {
public:
    STDMETHODIMP SetLangId(LONG nLangId) override {
        langId_ = nLangId;
        return S_OK;
    }

    STDMETHODIMP Advise(IZvFactoryCallback* piCallback, LONG* nCookie) override {
        if (!piCallback || !nCookie)
            return E_POINTER;
        if (callback_)
            return CONNECT_E_ADVISELIMIT;
        callback_ = piCallback;
        *nCookie = kCookie;
        std::string root = TestDeviceRoot();
        for (const std::string& name : DeviceFolders(root)) {
            ComPtr<FolderDevice> device;
            if (FAILED(MakeComObject(device, root + "\\" + name, name)))
                continue;
            devices_.emplace_back(device);
            callback_->OnDeviceFound(CLSID_TestDeviceFactory, device.Get());
        }
        return S_OK;
    }

    STDMETHODIMP UnAdvise(LONG nCookie) override {
        if (nCookie != kCookie || !callback_)
            return CONNECT_E_NOCONNECTION;
        callback_ = nullptr;
        devices_.clear();
        return S_OK;
    }

    // The folder devices serve one operation at a time: no second device object is made.
    STDMETHODIMP GetVirtualDevice(LPSTR, IZvDevice** ppiDevice) override {
        if (!ppiDevice)
            return E_POINTER;
        *ppiDevice = nullptr;
        return S_OK;
    }

    STDMETHODIMP DeleteVirtualDevice(LPSTR, IZvDevice*) override { return S_OK; }

private:
    static constexpr LONG kCookie = 1;
    LONG langId_ = 0;
    // Kept without a reference, as the device factories keep the hub: the hub holds the
    // factory and ends the advise before it goes.
    IZvFactoryCallback* callback_ = nullptr;
    std::vector<ComPtr<FolderDevice>> devices_;
};

HRESULT CreateFactoryClassObject(REFIID riid, void** ppv) {
    return CreateComObject<ClassFactory<TestDeviceFactory>>(riid, ppv);
}

HRESULT CreatePageClassObject(REFIID riid, void** ppv) {
    return CreateComObject<ClassFactory<TestPropertyPage>>(riid, ppv);
}

const DllServer& Server() {
    static const DllServer server = [] {
        ClassInfo info;
        info.clsid = &CLSID_TestDeviceFactory;
        info.description = L"Tavrilon test device factory";
        info.categories = {{CATID_ZelvanDevices, L"Zelvan Devices"}};
        info.createClassObject = CreateFactoryClassObject;
        ClassInfo page;
        page.clsid = &CLSID_TestPropertyPage;
        page.description = L"Tavrilon test property page";
        page.createClassObject = CreatePageClassObject;
        return DllServer({info, page}, false);
    }();
    return server;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    return Server().GetClassObject(clsid, riid, ppv);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return Server().CanUnloadNow(); }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return Server().Register(g_module); }

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return Server().Unregister(g_module); }
