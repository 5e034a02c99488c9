// Zvl10 against the emulated device on COM4 (run by zvl10_e2e.sh): the factory finds the device
// by its preset name, the device object lists, copies both ways, deletes and reads volume and
// device information; the script's unplug gives OnDeviceLost, its replug OnDeviceFound.
#include "ComObject.h"
#include "ComPtr.h"
#include "Transfers15Ids.h"
#include "UiHarness.h"
#include "ZvDevice.h"

#include <atomic>
#include <thread>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const CLSID kFactory = {0xA1743AE2, 0xDCB6, 0x4AF2, {0xBC, 0x36, 0x7D, 0xC0, 0xBC, 0x90, 0x9A, 0x8E}};
int failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
    failures += ok ? 0 : 1;
}

class Callback : public tv::com::ComObject<Callback, IZvFactoryCallback, IZvFileOperationCallback> {
public:
    STDMETHODIMP OnDeviceFound(GUID, IZvDevice* device) override {
        found = device;
        return S_OK;
    }
    STDMETHODIMP OnDeviceLost(GUID, LPSTR name) override {
        lost = name ? name : "";
        return S_OK;
    }
    STDMETHODIMP OnOperationComplete() override { return S_OK; }
    STDMETHODIMP OnItemComplete(LPSTR, LPSTR, long) override { return S_OK; }
    STDMETHODIMP OnItemInit(LPSTR, long) override { return S_OK; }
    STDMETHODIMP OnItemProgress(LPSTR, long) override { return S_OK; }
    STDMETHODIMP OnItemInfo(LPSTR) override { return S_OK; }

    tv::com::ComPtr<IZvDevice> found;
    std::string lost = "-";
};

bool PumpUntil(const bool& done, DWORD ms) {
    const DWORD start = GetTickCount();
    while (!done && GetTickCount() - start < ms) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        Sleep(50);
    }
    return done;
}

} // namespace

int main(int argc, char** argv) {
    const std::string work = argc > 1 ? argv[1] : "C:\\zvl10";
    std::setvbuf(stdout, nullptr, _IONBF, 0); // the script may have to kill a hung run
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        tv::com::ComPtr<IZvFactory> factory;
        const HRESULT created = CoCreateInstance(kFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IZvFactory,
                                                 reinterpret_cast<void**>(&factory));
        Check(SUCCEEDED(created), "factory created");
        if (!factory) {
            std::printf("      CoCreateInstance: 0x%08lX\n", static_cast<unsigned long>(created));
            return 1;
        }
        tv::com::ComPtr<Callback> callback;
        tv::com::MakeComObject(callback);
        long cookie = -1;
        factory->Advise(callback.Get(), &cookie);
        bool found = false;
        for (DWORD start = GetTickCount(); !found && GetTickCount() - start < 90000;) {
            PumpUntil(found, 200);
            found = static_cast<bool>(callback->found);
        }
        Check(found, "device found on COM4");
        if (!found)
            return 1;
        IZvDevice* device = callback->found.Get();
        unsigned char name[260] = {};
        device->GetName(sizeof name, name);
        Check(std::strcmp(reinterpret_cast<char*>(name), "Preset10") == 0, "preset name");

        tv::com::ComPtr<IZvEnumFileItems> items;
        HRESULT hr = device->EnumFileItems(const_cast<LPSTR>(""), 2, &items);
        ZVFILEITEM item[8] = {};
        long fetched = 0;
        if (items)
            items->Next(8, item, &fetched);
        Check(hr == S_OK && fetched >= 1, "media listed");
        std::string medium = fetched ? item[0].strName : "";
        for (long i = 0; i < fetched; ++i) {
            CoTaskMemFree(item[i].strName);
            CoTaskMemFree(item[i].strDesc);
            CoTaskMemFree(item[i].strIconFile);
        }
        VOLUMEINFO volume = {};
        Check(device->GetVolumeInfo(medium.data(), &volume) == S_OK && volume.nTotalBlocks == 2043, "volume info");
        long length = 0;
        LPSTR info = nullptr;
        Check(device->GetDeviceInfo(&length, &info) == S_OK && info && std::strstr(info, "COM4"), "device info");
        if (info)
            std::printf("      %s\n", info);
        CoTaskMemFree(info);

        unsigned char error[260] = {};
        std::string source = work + "\\up.bin", deviceItem = medium + "\\up.bin";
        hr = device->ImportFileItem(source.data(), deviceItem.data(), callback.Get(), sizeof error, error);
        Check(hr == S_OK, "import");

        // Importing onto items the device has asks the overwrite question both generations share,
        // with the detail text; replacing "for all" asks once for the whole operation.
        std::string twice = medium + "\\twice.bin";
        Check(device->ImportFileItem(source.data(), twice.data(), callback.Get(), sizeof error, error) == S_OK,
              "import of a second file");
        device->put_EnableUI(1);
        device->ResetDeviceState(2);
        std::atomic<bool> importsDone{false};
        std::atomic<int> asked{0};
        std::atomic<bool> forAllOffered{false};
        std::string firstDetails;
        std::thread answerer([&] {
            while (!importsDone) {
                HWND question = tv::test::WaitForWindow(nullptr, L"Confirm File Replace", 300);
                if (!question)
                    continue;
                char details[1024] = {};
                GetDlgItemTextA(question, IDC_CONFIRM_DETAILS_TEXT, details, sizeof details);
                if (asked == 0)
                    firstDetails = details;
                forAllOffered = IsWindowEnabled(GetDlgItem(question, IDC_CONFIRM_FOR_ALL)) != FALSE;
                SendMessageW(GetDlgItem(question, IDC_CONFIRM_FOR_ALL), BM_SETCHECK, BST_CHECKED, 0);
                tv::test::ClickButton(question, 1);
                ++asked;
                tv::test::WaitForWindowGone(question, 10000);
            }
        });
        const bool bothReplaced =
            device->ImportFileItem(source.data(), deviceItem.data(), callback.Get(), sizeof error, error) == S_OK &&
            device->ImportFileItem(source.data(), twice.data(), callback.Get(), sizeof error, error) == S_OK;
        importsDone = true;
        answerer.join();
        device->put_EnableUI(0);
        Check(bothReplaced, "imports onto existing items");
        Check(asked == 1, "asked once, answered for all");
        Check(forAllOffered, "the for-all box offered for two items");
        Check(firstDetails.find("up.bin") != std::string::npos, "detail text names the existing item");
        std::printf("      details: %s\n", firstDetails.c_str());
        Check(device->DeleteFileItem(twice.data(), sizeof error, error) == S_OK, "delete of the second file");
        std::string copyItem = medium + "\\copy.bin";
        hr = device->CopyFileItem(deviceItem.data(), copyItem.data(), callback.Get(), sizeof error, error);
        Check(hr == S_OK, "copy on the device");
        std::string back = work + "\\down.bin";
        hr = device->ExportFileItem(copyItem.data(), back.data(), callback.Get(), sizeof error, error);
        Check(hr == S_OK, "export");
        items = nullptr;
        hr = device->EnumFileItems(medium.data(), 8, &items);
        fetched = 0;
        if (items)
            items->Next(8, item, &fetched);
        Check(hr == S_OK && fetched == 2, "files listed");
        for (long i = 0; i < fetched; ++i) {
            CoTaskMemFree(item[i].strName);
            CoTaskMemFree(item[i].strDesc);
            CoTaskMemFree(item[i].strIconFile);
        }
        Check(device->DeleteFileItem(copyItem.data(), sizeof error, error) == S_OK, "delete");

        // The script unplugs the device when this file appears.
        CloseHandle(CreateFileA((work + "\\unplug").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        for (int i = 0; i < 50 && GetFileAttributesA((work + "\\unplugged").c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
            Sleep(100);
        items = nullptr;
        Check(device->EnumFileItems(const_cast<LPSTR>(""), 2, &items) == 9, "listing without the device answers 9");
        bool lost = false;
        for (DWORD start = GetTickCount(); !lost && GetTickCount() - start < 10000;) {
            PumpUntil(lost, 200);
            lost = callback->lost == "Preset10";
        }
        Check(lost, "OnDeviceLost");
        device = nullptr;
        callback->found = nullptr;

        // The script starts the emulator again when this file appears.
        CloseHandle(CreateFileA((work + "\\replug").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        bool again = false;
        for (DWORD start = GetTickCount(); !again && GetTickCount() - start < 60000;) {
            PumpUntil(again, 200);
            again = static_cast<bool>(callback->found);
        }
        Check(again, "OnDeviceFound after the device came back");
        if (again) {
            unsigned char nameAgain[260] = {};
            callback->found->GetName(sizeof nameAgain, nameAgain);
            Check(std::strcmp(reinterpret_cast<char*>(nameAgain), "Preset10") == 0, "same name after coming back");
        }
        callback->found = nullptr;
        factory->UnAdvise(cookie);
    }
    CoUninitialize();
    std::printf("%d failure(s)\n", failures);
    return failures ? 1 : 0;
}
