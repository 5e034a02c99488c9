// tvtestdevice.dll: a device factory for tests. Each sub-folder of the root folder (environment
// variable TV_TESTDEVICE_ROOT, else the registry value Root under HKCU
// Software\Zelvan\Tavrilon\TestDevice) is one connected device, reported to the advised
// callback from within Advise. While advised, a watcher thread lists the root folder four times a
// second; when the listing changed it posts to a window of the advising thread, which reports a
// new sub-folder as a device found and a removed one as a device lost - on that thread, as the
// real factories call back. An unchanged listing posts nothing, so the hub's thread is not woken.
#include "ClassFactory.h"
#include "FolderDevice.h"
#include "DllModule.h"
#include "Handles.h"
#include "TestDeviceIds.h"
#include "TestPropertyPage.h"
#include <algorithm>
#include <cstring>
#include <olectl.h>
#include <vector>

using namespace tv::com;
using namespace tv::tests;

namespace {

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

// The device's settings key "DeviceList\<string id>" with its name, as the real factories make it
// when a device first connects (the managers open it and never create it).
void RegisterDeviceKey(const std::string& name) {
    const std::string path = std::string("Software\\Zelvan\\Tavrilon\\DeviceList\\") + kTestDeviceIdPrefix + name;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                   static_cast<DWORD>(name.size() + 1));
    RegCloseKey(key);
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
        Rescan();
        StartWatching();
        return S_OK;
    }

    STDMETHODIMP UnAdvise(LONG nCookie) override {
        if (nCookie != kCookie || !callback_)
            return CONNECT_E_NOCONNECTION;
        StopWatching();
        callback_ = nullptr;
        devices_.clear();
        return S_OK;
    }

    ~TestDeviceFactory() { StopWatching(); }

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
    static constexpr UINT kRescanMs = 250;

    struct Connected {
        std::string folder;
        ComPtr<FolderDevice> device;
    };

    static constexpr UINT kListingChanged = WM_APP + 1;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == kListingChanged) {
            if (auto* self = reinterpret_cast<TestDeviceFactory*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
                self->Rescan();
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    static DWORD WINAPI WatchThread(void* context) {
        auto* self = static_cast<TestDeviceFactory*>(context);
        std::vector<std::string> last = SortedFolders();
        while (WaitForSingleObject(self->stopWatching_.Get(), kRescanMs) == WAIT_TIMEOUT) {
            std::vector<std::string> now = SortedFolders();
            if (now != last)
                PostMessageW(self->window_, kListingChanged, 0, 0);
            last = std::move(now);
        }
        return 0;
    }

    static std::vector<std::string> SortedFolders() {
        std::vector<std::string> names = DeviceFolders(TestDeviceRoot());
        std::sort(names.begin(), names.end());
        return names;
    }

    void StartWatching() {
        HMODULE module = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCWSTR>(&WindowProc), &module);
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = module;
        windowClass.lpszClassName = L"TvTestDeviceWatch";
        RegisterClassW(&windowClass);  // already registered by an earlier factory: fine
        window_ = CreateWindowW(windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
        if (!window_)
            return;
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        stopWatching_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (stopWatching_)
            watcher_.Reset(CreateThread(nullptr, 0, WatchThread, this, 0, nullptr));
    }

    // Called on the advising thread (the window's).
    void StopWatching() {
        if (watcher_) {
            SetEvent(stopWatching_.Get());
            WaitForSingleObject(watcher_.Get(), 5000);
            watcher_.Reset();
        }
        stopWatching_.Reset();
        if (window_) {
            SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
            DestroyWindow(window_);
            window_ = nullptr;
        }
    }

    // Reports the folders that appeared as found and the ones that went as lost. The hub
    // dispatches messages inside its callbacks, so a tick may come meanwhile: it is skipped.
    void Rescan() {
        if (scanning_ || !callback_)
            return;
        scanning_ = true;
        const std::string root = TestDeviceRoot();
        const std::vector<std::string> present = DeviceFolders(root);
        for (size_t i = 0; i < devices_.size();) {
            if (std::find(present.begin(), present.end(), devices_[i].folder) != present.end()) {
                ++i;
                continue;
            }
            ComPtr<FolderDevice> gone = devices_[i].device;
            devices_.erase(devices_.begin() + static_cast<std::ptrdiff_t>(i));
            unsigned char strId[260] = {};
            if (callback_ && SUCCEEDED(gone->GetStrID(sizeof(strId), strId)))
                callback_->OnDeviceLost(CLSID_TestDeviceFactory, reinterpret_cast<LPSTR>(strId));
        }
        for (const std::string& name : present) {
            if (!callback_)
                break;
            if (std::any_of(devices_.begin(), devices_.end(), [&](const Connected& c) { return c.folder == name; }))
                continue;
            ComPtr<FolderDevice> device;
            if (FAILED(MakeComObject(device, root + "\\" + name, name)))
                continue;
            devices_.push_back({name, device});
            RegisterDeviceKey(name);
            callback_->OnDeviceFound(CLSID_TestDeviceFactory, device.Get());
        }
        scanning_ = false;
    }

    LONG langId_ = 0;
    // Kept without a reference, as the device factories keep the hub: the hub holds the
    // factory and ends the advise before it goes.
    IZvFactoryCallback* callback_ = nullptr;
    std::vector<Connected> devices_;
    HWND window_ = nullptr;
    UniqueHandle stopWatching_;
    UniqueHandle watcher_;
    bool scanning_ = false;
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

TV_DLL_SERVER(NotUsed, Server)
