// The image loader against the test USB driver and the emulator's loader mode: a whole load with
// the booted device coming back, each emulator fault with its status, cancel in the middle, no
// device, the refused large image, and the calls around a load. A script drives the same load
// through the automation interfaces (update_client.js).
#include "UpdateTestSupport.h"

#include "ComPtr.h"
#include "Handles.h"
#include "ImportPatch.h"
#include "LanguageLibrary.h"
#include "OsImageLoader.h"
#include "UiHarness.h"
#include "UpdateIds.h"
#include "UsbDevices.h"
#include "ZvUpdate15.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <cstdio>

namespace tv::update::test {
namespace {

class LoaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_UPDATE_EMULATOR();
        ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr));
        coInitialized_ = true;
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ZvUpdate15, nullptr, CLSCTX_INPROC_SERVER, IID_IZvUpdate152,
                                                  reinterpret_cast<void**>(loader_.ReleaseAndGetAddressOf())));
    }
    void TearDown() override {
        loader_.Reset();
        if (SharedEmulator().Problem().empty())
            SharedEmulator().UnplugAll();
        if (coInitialized_)
            CoUninitialize();
    }

    long Load(const std::wstring& file, long async, long timeoutMs) {
        com::UniqueBstr name(SysAllocString(file.c_str()));
        long exitCode = -1;
        EXPECT_HRESULT_SUCCEEDED(loader_->LoadZvOS(name.Get(), async, timeoutMs, &exitCode));
        return exitCode;
    }
    long WaitForLoad(long timeoutMs) {
        long exitCode = -1;
        EXPECT_HRESULT_SUCCEEDED(loader_->WaitForLoadZvOS(timeoutMs, &exitCode));
        return exitCode;
    }
    long Status() {
        long status = -1;
        EXPECT_HRESULT_SUCCEEDED(loader_->GetStatusCode(&status));
        return status;
    }
    // A loader-mode device that takes three seconds to answer the image request.
    bool HoldTheNextSend() {
        return SharedEmulator().PlugLoader("6.1.0", "delay=3000") && WaitForInterface(true, 0, true, 10000);
    }
    // Once the running load has opened the device (the image request follows at once), the thread
    // of its loader window: the load's worker.
    com::UniqueHandle WorkerHeldInTheSend() {
        long opened = -1;
        EXPECT_HRESULT_SUCCEEDED(loader_->WaitForReboot(10000, &opened));
        if (opened != 0)
            return {};
        com::UniqueModule language(LoadLanguageLibrary(GetModuleHandleW(L"ZvUpdate15.dll")));
        wchar_t title[256] = L" ";
        LoadStringW(language.Get(), IDS_UPDATE_TITLE, title + 1, ARRAYSIZE(title) - 1);
        for (HWND window = FindWindowExW(nullptr, nullptr, L"#32770", title); window;
             window = FindWindowExW(nullptr, window, L"#32770", title)) {
            DWORD process = 0;
            const DWORD thread = GetWindowThreadProcessId(window, &process);
            if (process == GetCurrentProcessId())
                return com::UniqueHandle(OpenThread(SYNCHRONIZE, FALSE, thread));
        }
        return {};
    }

    com::ComPtr<IZvUpdate152> loader_;
    bool coInitialized_ = false;
};

std::string Hex(uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

TEST_F(LoaderTest, LoadsTheImageAndTheBootedDeviceComesBackWithItsNewVersion) {
    uint32_t crc = 0;
    const std::wstring image = SharedEmulator().MakeImage("os-3m.img", 3 * 1024 * 1024 + 17, crc);
    ASSERT_TRUE(SharedEmulator().PlugLoader("5.2.1"));
    ASSERT_TRUE(WaitForInterface(true, 0, true, 10000));
    ASSERT_HRESULT_SUCCEEDED(loader_->put_Timeout(30000));

    EXPECT_EQ(Load(image, 0, 10000), 0); // returns once the load is under way
    long rebooted = -1;
    EXPECT_HRESULT_SUCCEEDED(loader_->WaitForReboot(10000, &rebooted));
    EXPECT_EQ(rebooted, 0); // the loader-mode device was opened
    EXPECT_EQ(WaitForLoad(20000), 0);
    EXPECT_EQ(Status(), 0);

    const auto images = SharedEmulator().Images();
    ASSERT_FALSE(images.empty());
    EXPECT_EQ(images.back(), "slot=4 length=3145745 crc=" + Hex(crc) + " accepted=3145745 booted=1,5.2.1");
    EXPECT_TRUE(WaitForInterface(false, 0, true, 5000)); // the booted device is there
    EXPECT_TRUE(WaitForInterface(true, 0, false, 5000)); // and the loader gone
}

TEST_F(LoaderTest, EachEmulatorFaultGivesItsStatus) {
    uint32_t crc = 0;
    const std::wstring image = SharedEmulator().MakeImage("os-small.img", 64 * 1024, crc);
    struct Case {
        const char* faults;
        long timeout;
        long status;
    };
    // A refused image and a short acceptance are a failed send (29); a late answer still loads;
    // without a reboot the finish timer ends a sent load with success.
    for (const Case& c : {Case{"refuse=1", 0, 29}, Case{"shortby=1", 0, 29}, Case{"delay=1500", 0, 0},
                          Case{"noreboot=1", 2500, 0}}) {
        SCOPED_TRACE(c.faults);
        ASSERT_TRUE(SharedEmulator().PlugLoader("6.0.0", c.faults));
        ASSERT_TRUE(WaitForInterface(true, 0, true, 10000));
        ASSERT_HRESULT_SUCCEEDED(loader_->put_Timeout(c.timeout));
        const DWORD started = GetTickCount();
        EXPECT_EQ(Load(image, 1, 0), 0);
        EXPECT_EQ(WaitForLoad(20000), c.status);
        EXPECT_EQ(Status(), c.status);
        if (std::string(c.faults) == "delay=1500") {
            EXPECT_GE(GetTickCount() - started, 1500u);
        }
        const auto images = SharedEmulator().Images();
        ASSERT_FALSE(images.empty());
        EXPECT_NE(images.back().find("length=65536 crc=" + Hex(crc)), std::string::npos) << images.back();
        SharedEmulator().UnplugAll();
    }
}

TEST_F(LoaderTest, AWaitThatRunsOutCancelsAndCancelInTheMiddleEndsWith1223) {
    uint32_t crc = 0;
    const std::wstring image = SharedEmulator().MakeImage("os-cancel.img", 4096, crc);
    // Nothing plugged and no finish timer: the load waits until it is cancelled.
    EXPECT_EQ(Load(image, 0, 5000), 0);
    long code = -1;
    EXPECT_HRESULT_SUCCEEDED(loader_->CheckForLoadZvOS(200, &code));
    EXPECT_EQ(code, 1460); // still running, left running
    EXPECT_HRESULT_SUCCEEDED(loader_->CheckForReboot(100, &code));
    EXPECT_EQ(code, 1460);

    // A second load while one runs is refused; the running load goes on.
    com::UniqueBstr name(SysAllocString(image.c_str()));
    EXPECT_EQ(loader_->LoadZvOS(name.Get(), 1, 0, &code), E_ABORT);
    EXPECT_EQ(code, 1247);

    EXPECT_HRESULT_SUCCEEDED(loader_->Cancel(1, 0)); // returns at once
    EXPECT_EQ(WaitForLoad(5000), 1223);
    EXPECT_EQ(Status(), 1223);

    // WaitForLoadZvOS that runs out gives 1460 and cancels.
    EXPECT_EQ(Load(image, 1, 0), 0);
    EXPECT_EQ(WaitForLoad(300), 1460);
    EXPECT_EQ(Status(), 1223);
}

TEST_F(LoaderTest, NoDeviceEndsWithTheFinishTimer) {
    uint32_t crc = 0;
    const std::wstring image = SharedEmulator().MakeImage("os-nodevice.img", 4096, crc);
    ASSERT_HRESULT_SUCCEEDED(loader_->put_Timeout(1500));
    EXPECT_EQ(Load(image, 0, 5000), 0);
    EXPECT_EQ(WaitForLoad(10000), 258);
    EXPECT_EQ(Status(), 258);
}

TEST_F(LoaderTest, ImagesThatCannotBeReadAreRefused) {
    // A missing file: the worker ends with the file's error code; a synchronous call returns 0.
    EXPECT_EQ(Load(L"Z:\\nonexistent\\missing.img", 0, 5000), 0);
    EXPECT_EQ(WaitForLoad(5000), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Status(), ERROR_PATH_NOT_FOUND);

    // An image of 4 GiB or more is refused, never cut to its low 32 bits and sent.
    const std::wstring huge = tv::test::WindowsPath(SharedEmulator().Root() + "/huge.img");
    {
        com::UniqueFileHandle file(
            CreateFileW(huge.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(static_cast<bool>(file));
        LARGE_INTEGER size{};
        size.QuadPart = (int64_t{1} << 32) + 10; // would be a 10-byte image when truncated
        ASSERT_TRUE(SetFilePointerEx(file.Get(), size, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(file.Get()));
    }
    ASSERT_TRUE(SharedEmulator().PlugLoader("7.0.0"));
    ASSERT_TRUE(WaitForInterface(true, 0, true, 10000));
    const size_t imagesBefore = SharedEmulator().Images().size();
    EXPECT_EQ(Load(huge, 0, 5000), 0);
    EXPECT_EQ(WaitForLoad(5000), ERROR_FILE_TOO_LARGE);
    com::UniqueBstr name(SysAllocString(huge.c_str()));
    EXPECT_EQ(loader_->SendFile(name.Get()), E_INVALIDARG);
    EXPECT_EQ(SharedEmulator().Images().size(), imagesBefore); // nothing reached the device
    DeleteFileW(huge.c_str());

    // An empty image is no image: refused before the load with its own status, and nothing is
    // handed to the device, by a load or by SendFile.
    const std::wstring empty = tv::test::WindowsPath(SharedEmulator().Root() + "/empty.img");
    ASSERT_TRUE(tv::test::WriteWholeFile(empty, {}));
    EXPECT_EQ(Load(empty, 0, 5000), 0);
    EXPECT_EQ(WaitForLoad(5000), kStatusEmptyImage);
    EXPECT_EQ(Status(), kStatusEmptyImage);
    com::UniqueBstr emptyName(SysAllocString(empty.c_str()));
    EXPECT_EQ(loader_->SendFile(emptyName.Get()), E_INVALIDARG);
    EXPECT_EQ(SharedEmulator().Images().size(), imagesBefore);
}

TEST_F(LoaderTest, SendFileHandsTheImageOverWithoutAWindow) {
    uint32_t crc = 0;
    const std::wstring image = SharedEmulator().MakeImage("os-send.img", 100000, crc);
    com::UniqueBstr name(SysAllocString(image.c_str()));
    EXPECT_EQ(loader_->SendFile(name.Get()), E_FAIL); // no loader-mode device
    ASSERT_TRUE(SharedEmulator().PlugLoader("8.0.0"));
    ASSERT_TRUE(WaitForInterface(true, 0, true, 10000));
    EXPECT_EQ(loader_->SendFile(name.Get()), S_OK);
    const auto images = SharedEmulator().Images();
    ASSERT_FALSE(images.empty());
    EXPECT_NE(images.back().find("length=100000 crc=" + Hex(crc)), std::string::npos);
}

TEST_F(LoaderTest, ReleasingTheObjectDuringALoadWaitsForItsWorker) {
    uint32_t crc = 0;
    const std::wstring image = SharedEmulator().MakeImage("os-release.img", 4096, crc);
    EXPECT_EQ(Load(image, 1, 0), 0);
    // Released at once, while the worker may still be reading the image: the release cancels and
    // waits; the thread count of the process comes back down.
    const DWORD started = GetTickCount();
    loader_.Reset();
    EXPECT_LT(GetTickCount() - started, 5000u);
}

// The worker is held in the image request (the device answers late) when the object is let go:
// the release cancels the load and returns only once the worker has ended.
TEST_F(LoaderTest, ReleasingTheObjectWhileTheImageIsSentWaitsForTheWorker) {
    uint32_t crc = 0;
    const std::wstring image = SharedEmulator().MakeImage("os-release-sending.img", 4096, crc);
    ASSERT_TRUE(HoldTheNextSend());
    EXPECT_EQ(Load(image, 1, 0), 0);
    com::UniqueHandle worker = WorkerHeldInTheSend();
    ASSERT_TRUE(worker);
    loader_.Reset();
    EXPECT_EQ(WaitForSingleObject(worker.Get(), 0), WAIT_OBJECT_0);
}

// Cancel while the worker is held in the image request: without waiting, the worker is still
// known (a new load is refused, the waits find it); waiting, it returns once the worker has ended.
// The image the device then took whole is a finished load: the device is already starting its new
// system, and the late cancel changes no status.
TEST_F(LoaderTest, CancelDuringTheSendKeepsTheWorkerUntilItEndsAndLeavesASentImageLoaded) {
    uint32_t crc = 0;
    const std::wstring image = SharedEmulator().MakeImage("os-cancel-sending.img", 4096, crc);
    com::UniqueBstr name(SysAllocString(image.c_str()));
    ASSERT_TRUE(HoldTheNextSend());
    EXPECT_EQ(Load(image, 1, 0), 0);
    com::UniqueHandle worker = WorkerHeldInTheSend();
    ASSERT_TRUE(worker);
    EXPECT_HRESULT_SUCCEEDED(loader_->Cancel(0, 0));
    long code = -1;
    EXPECT_EQ(loader_->LoadZvOS(name.Get(), 1, 0, &code), E_ABORT);
    EXPECT_EQ(code, 1247);
    EXPECT_EQ(WaitForLoad(20000), 0);
    EXPECT_EQ(WaitForSingleObject(worker.Get(), 0), WAIT_OBJECT_0);
    auto images = SharedEmulator().Images();
    ASSERT_FALSE(images.empty());
    EXPECT_NE(images.back().find("length=4096 crc=" + Hex(crc) + " accepted=4096"), std::string::npos)
        << images.back();

    SharedEmulator().UnplugAll();
    ASSERT_TRUE(HoldTheNextSend());
    EXPECT_EQ(Load(image, 1, 0), 0);
    worker = WorkerHeldInTheSend();
    ASSERT_TRUE(worker);
    EXPECT_HRESULT_SUCCEEDED(loader_->Cancel(0, -1));
    EXPECT_EQ(WaitForSingleObject(worker.Get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(Status(), 0);

    // A cancel that comes before the image was handed over still cancels.
    SharedEmulator().UnplugAll();
    ASSERT_HRESULT_SUCCEEDED(loader_->put_Timeout(0));
    EXPECT_EQ(Load(image, 0, 5000), 0); // no device: the load waits
    EXPECT_HRESULT_SUCCEEDED(loader_->Cancel(0, -1));
    EXPECT_EQ(Status(), 1223);
}

UINT_PTR WINAPI SetTimerFailingSilently(HWND, UINT_PTR, UINT, TIMERPROC) {
    SetLastError(ERROR_SUCCESS);
    return 0;
}

TEST_F(LoaderTest, ATimerThatCannotStartEndsTheLoadWithAFailure) {
    uint32_t crc = 0;
    const std::wstring image = SharedEmulator().MakeImage("os-no-timer.img", 4096, crc);
    {
        // The loader window's timers fail without an error code.
        tv::test::ImportPatch noTimers(GetModuleHandleW(L"ZvUpdate15.dll"), "user32.dll", "SetTimer",
                                       reinterpret_cast<void*>(&SetTimerFailingSilently));
        ASSERT_TRUE(noTimers.Applied());
        EXPECT_EQ(Load(image, 1, 0), 0);
        const long status = WaitForLoad(10000);
        EXPECT_NE(status, 0);
        EXPECT_NE(status, 1460);
        EXPECT_EQ(Status(), status);
    }
}

TEST_F(LoaderTest, CallbacksPropertiesAndErrorInfo) {
    com::ComPtr<IZvUpdate15Callback> callback;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ZvUpdate15Callback, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_IZvUpdate15Callback, reinterpret_cast<void**>(callback.ReleaseAndGetAddressOf())));
    EXPECT_EQ(callback->OnUpdate(ZUS_COMPLETED, 1, nullptr), S_OK);
    long first = -1, second = -1;
    EXPECT_EQ(loader_->Advise(callback.Get(), &first), S_OK);
    EXPECT_EQ(loader_->Advise(callback.Get(), &second), S_OK);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(loader_->Advise(nullptr, &first), E_POINTER);
    EXPECT_EQ(loader_->Unadvise(7), E_INVALIDARG);
    EXPECT_EQ(loader_->Unadvise(0), S_OK);
    EXPECT_EQ(loader_->Unadvise(0), E_INVALIDARG);

    EXPECT_EQ(Status(), 50); // no load yet
    EXPECT_EQ(loader_->put_ZvID(nullptr), E_INVALIDARG);
    com::UniqueBstr id(SysAllocString(L"@ABC1234"));
    EXPECT_EQ(loader_->put_ZvID(id.Get()), S_OK);
    BSTR read = nullptr;
    EXPECT_EQ(loader_->get_ZvID(&read), S_OK);
    EXPECT_STREQ(read, L"@ABC1234");
    SysFreeString(read);
    EXPECT_EQ(loader_->get_USBDeviceID(nullptr), E_POINTER);

    com::ComPtr<ISupportErrorInfo> errors;
    ASSERT_HRESULT_SUCCEEDED(loader_->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(errors.ReleaseAndGetAddressOf())));
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IZvUpdate15), S_OK);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IZvUpdate15UI), S_FALSE);
}

// The script drives a whole load through the automation interfaces and prints what it saw.
TEST_F(LoaderTest, AScriptUpdatesTheEmulatedDevice) {
    uint32_t crc = 0;
    const std::wstring image = SharedEmulator().MakeImage("os-script.img", 2 * 1024 * 1024, crc);
    ASSERT_TRUE(SharedEmulator().PlugLoader("9.1.0"));
    ASSERT_TRUE(WaitForInterface(true, 0, true, 10000));
    tv::test::StartedProcess script;
    const std::wstring output = tv::test::WindowsPath(SharedEmulator().Root() + "/script.out");
    ASSERT_TRUE(script.Start(L"cmd.exe /c cscript.exe //nologo \"" + tv::test::ExeFolder() +
                             L"\\update_client.js\" \"" + image + L"\" > \"" + output + L"\" 2>&1"));
    EXPECT_EQ(script.WaitForExit(60000), 0);
    std::vector<uint8_t> text;
    tv::test::ReadWholeFile(output, text);
    const std::string printed(text.begin(), text.end());
    EXPECT_NE(printed.find("load 0"), std::string::npos) << printed;
    EXPECT_NE(printed.find("status 0"), std::string::npos) << printed;
    EXPECT_NE(printed.find("version 1.23"), std::string::npos) << printed;
    const auto images = SharedEmulator().Images();
    ASSERT_FALSE(images.empty());
    EXPECT_EQ(images.back(), "slot=4 length=2097152 crc=" + Hex(crc) + " accepted=2097152 booted=1,9.1.0");
}

} // namespace
} // namespace tv::update::test
