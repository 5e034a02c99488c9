// The device contract through the ZvPS proxies: a device object in a single-threaded apartment,
// called from another thread of this process and from this process when it lives in
// tvcontract_server.exe, by a single-threaded and by a multithreaded caller.
#include "FakeDevice.h"
#include "ZvDevice10.h"
#include "ZvDevice15.h"
#include "Handles.h"
#include "MarshalledInterface.h"
#include "TestProcess.h"
#include <gtest/gtest.h>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

using namespace tv::com;
using namespace tv::tests;

namespace {

constexpr DWORD kThreadLimitMs = 60000;

// Keeps the test's main thread a single-threaded apartment for the whole run.
class MainApartment : public testing::Environment {
  public:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }
};
[[maybe_unused]] testing::Environment* const g_mainApartment =
    testing::AddGlobalTestEnvironment(new MainApartment);

// A thread that hosts a device object in its own single-threaded apartment and dispatches calls to
// it until the owner stops it.
class DeviceThread {
  public:
    // Makes the device object on the thread; the fake device unless told otherwise.
    using Maker = std::function<HRESULT(ComPtr<IUnknown>&)>;
    static HRESULT MakeFake(ComPtr<IUnknown>& made) {
        ComPtr<FakeDevice> device;
        HRESULT hr = MakeComObject(device);
        if (SUCCEEDED(hr))
            made = device->AsUnknown();
        return hr;
    }

    explicit DeviceThread(Maker maker = &DeviceThread::MakeFake)
        : maker_(std::move(maker)), ready_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        thread_.Reset(CreateThread(nullptr, 0, &DeviceThread::Main, this, 0, nullptr));
        if (thread_)
            WaitOrAbort(ready_.Get(), kThreadLimitMs, "device thread start");
    }
    DeviceThread(const DeviceThread&) = delete;
    DeviceThread& operator=(const DeviceThread&) = delete;
    ~DeviceThread() {
        if (!thread_)
            return;
        SetEvent(stop_.Get());
        WaitOrAbort(thread_.Get(), kThreadLimitMs, "device thread");
    }

    HRESULT StartResult() const { return thread_ ? startResult_ : E_FAIL; }
    HRESULT Unmarshal(IZvDevice** device) const { return marshalled_.Unmarshal(device); }

  private:
    static DWORD WINAPI Main(void* self) {
        static_cast<DeviceThread*>(self)->Run();
        return 0;
    }
    void Run() {
        ComApartment apartment(COINIT_APARTMENTTHREADED);
        {
            ComPtr<IUnknown> device;
            startResult_ = apartment.Result();
            if (SUCCEEDED(startResult_))
                startResult_ = maker_(device);
            if (SUCCEEDED(startResult_))
                startResult_ = marshalled_.Marshal(IID_IZvDevice, device.Get());
            SetEvent(ready_.Get());
            if (FAILED(startResult_))
                return;
            DispatchUntilStopped();
            marshalled_.Release();
        }
    }
    void DispatchUntilStopped() {
        HANDLE stop = stop_.Get();
        while (MsgWaitForMultipleObjects(1, &stop, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
    }

    Maker maker_;
    UniqueHandle ready_;
    UniqueHandle stop_;
    UniqueHandle thread_;
    tv::MarshalledInterface marshalled_;
    HRESULT startResult_ = E_FAIL;
};

// Runs a function on a new thread of the multithreaded apartment and waits for its end.
void RunInMultithreadedApartment(const std::function<void()>& body) {
    struct Job {
        const std::function<void()>& body;
        static DWORD WINAPI Main(void* self) {
            ComApartment apartment(COINIT_MULTITHREADED);
            EXPECT_EQ(S_OK, apartment.Result());
            static_cast<Job*>(self)->body();
            return 0;
        }
    } job{body};
    UniqueHandle thread(CreateThread(nullptr, 0, &Job::Main, &job, 0, nullptr));
    ASSERT_TRUE(thread);
    WaitOrAbort(thread.Get(), kThreadLimitMs, "caller thread");
}

struct CallbackEvent {
    std::string what;
    std::string text;
    long number;
    DWORD thread;
};

std::string Text(const char* text) {
    return text ? text : "<null>";
}

class RecordingFileCallback : public ComObject<RecordingFileCallback, IZvFileOperationCallback> {
  public:
    STDMETHODIMP OnOperationComplete() override { return Record("complete", nullptr, 0); }
    STDMETHODIMP OnItemComplete(LPSTR item, LPSTR error, LONG code) override {
        return Record("item complete", (Text(item) + "|" + Text(error)).c_str(), code);
    }
    STDMETHODIMP OnItemInit(LPSTR item, LONG size) override { return Record("init", item, size); }
    STDMETHODIMP OnItemProgress(LPSTR item, LONG progress) override {
        return Record("progress", item, progress);
    }
    STDMETHODIMP OnItemInfo(LPSTR info) override { return Record("info", info, 0); }

    std::vector<CallbackEvent> Events() {
        std::lock_guard<std::mutex> guard(mutex_);
        return events_;
    }

  private:
    HRESULT Record(const char* what, const char* text, long number) {
        std::lock_guard<std::mutex> guard(mutex_);
        events_.push_back({what, Text(text), number, GetCurrentThreadId()});
        return S_OK;
    }

    std::mutex mutex_;
    std::vector<CallbackEvent> events_;
};

class RecordingItemsInfoCallback : public ComObject<RecordingItemsInfoCallback, IZvItemsInfoCallback> {
  public:
    STDMETHODIMP OnOperationStart() override {
        std::lock_guard<std::mutex> guard(mutex_);
        log += "start;";
        return S_OK;
    }
    STDMETHODIMP OnOperationProgress(ITEMSINFO info) override {
        std::lock_guard<std::mutex> guard(mutex_);
        log += "progress " + std::to_string(info.folders) + "/" + std::to_string(info.files) + "/" +
               std::to_string(info.nTotalSize) + ";";
        return S_OK;
    }
    STDMETHODIMP OnOperationComplete(LPSTR error) override {
        std::lock_guard<std::mutex> guard(mutex_);
        log += "complete " + Text(error) + ";";
        return S_OK;
    }

    std::string Log() {
        std::lock_guard<std::mutex> guard(mutex_);
        return log;
    }

  private:
    std::mutex mutex_;
    std::string log;
};

std::string CommandReply(IZvDevice* device, const char* command) {
    LONG length = -1;
    LPSTR reply = nullptr;
    HRESULT hr = device->Command(const_cast<LPSTR>(command), &length, &reply);
    UniqueTaskMem<char> owned(reply);
    if (FAILED(hr) || !reply)
        return "<failed " + std::to_string(hr) + ">";
    EXPECT_EQ(static_cast<LONG>(std::strlen(reply)), length);
    return reply;
}

void ExpectItemEquals(const FakeItem& expected, const ZVFILEITEM& actual) {
    EXPECT_EQ(expected.type, actual.type);
    EXPECT_EQ(expected.attr, actual.attr);
    EXPECT_EQ(expected.size, actual.nSize);
    EXPECT_EQ(Text(expected.name), Text(actual.strName));
    EXPECT_EQ(Text(expected.desc), Text(actual.strDesc));
    EXPECT_EQ(Text(expected.iconFile), Text(actual.strIconFile));
    EXPECT_EQ(expected.iconIndex, actual.nIconIndex);
    EXPECT_EQ(expected.timeLow, actual.nTimeLow);
    EXPECT_EQ(expected.timeHigh, actual.nTimeHigh);
}

// Frees the strings of records handed out by an enumerator, as their receiver must.
void FreeItems(ZVFILEITEM* items, LONG count) {
    for (LONG i = 0; i < count; ++i) {
        CoTaskMemFree(items[i].strName);
        CoTaskMemFree(items[i].strDesc);
        CoTaskMemFree(items[i].strIconFile);
    }
}

enum class Route { OtherThreadStaCaller, OtherThreadMtaCaller, OtherProcessStaCaller, OtherProcessMtaCaller };

std::string RouteName(const testing::TestParamInfo<Route>& info) {
    switch (info.param) {
    case Route::OtherThreadStaCaller:
        return "OtherThreadStaCaller";
    case Route::OtherThreadMtaCaller:
        return "OtherThreadMtaCaller";
    case Route::OtherProcessStaCaller:
        return "OtherProcessStaCaller";
    case Route::OtherProcessMtaCaller:
        return "OtherProcessMtaCaller";
    }
    return "Unknown";
}

class DeviceContract : public testing::TestWithParam<Route> {
  protected:
    // Registers the local server and holds one of its objects for the whole suite, so that the
    // server does not end (and race a new creation) between the tests.
    static void SetUpTestSuite() {
        const std::wstring server = PathBesideExecutable(L"tvcontract_server.exe");
        serverSetup_ = static_cast<HRESULT>(RunProcess(L"\"" + server + L"\" /RegServer", 30000));
        if (serverSetup_ == S_OK)
            serverSetup_ = CoCreateInstance(CLSID_ContractTestDevice, nullptr, CLSCTX_LOCAL_SERVER,
                                            IID_PPV_ARGS(&serverKeepAlive_));
    }
    static void TearDownTestSuite() { serverKeepAlive_.Reset(); }

    void SetUp() override {
        if (GetParam() == Route::OtherThreadStaCaller || GetParam() == Route::OtherThreadMtaCaller) {
            deviceThread_.emplace();
            ASSERT_EQ(S_OK, deviceThread_->StartResult());
        } else {
            ASSERT_EQ(S_OK, serverSetup_) << "tvcontract_server.exe could not be registered or started";
        }
    }
    void TearDown() override { deviceThread_.reset(); }

    bool CallerIsSingleThreaded() const {
        return GetParam() == Route::OtherThreadStaCaller || GetParam() == Route::OtherProcessStaCaller;
    }

    // Runs body on the route's calling thread with a proxy of the route's device.
    void OnCaller(const std::function<void(IZvDevice*)>& body) {
        auto call = [&] {
            ComPtr<IZvDevice> device;
            if (deviceThread_)
                ASSERT_EQ(S_OK, deviceThread_->Unmarshal(&device));
            else
                ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ContractTestDevice, nullptr, CLSCTX_LOCAL_SERVER,
                                                 IID_PPV_ARGS(&device)));
            ComPtr<IMultiQI> proxyManager;
            ASSERT_EQ(S_OK, device.As(&proxyManager)) << "the device was not reached through a proxy";
            body(device.Get());
        };
        if (CallerIsSingleThreaded())
            call();
        else
            RunInMultithreadedApartment(call);
    }

    static inline HRESULT serverSetup_ = E_FAIL;
    static inline ComPtr<IZvDevice> serverKeepAlive_;
    std::optional<DeviceThread> deviceThread_;
};

TEST_P(DeviceContract, TextCrossesInBothDirections) {
    OnCaller([](IZvDevice* device) {
        char name[] = "Zelvan \xC4\xD6\xDC caf\xE9 \xA9";
        ASSERT_EQ(S_OK, device->SetDeviceName(name));
        unsigned char buffer[260] = {};
        ASSERT_EQ(S_OK, device->GetName(sizeof(buffer), buffer));
        EXPECT_STREQ(name, reinterpret_cast<char*>(buffer));

        EXPECT_EQ("echo:dir /\xE9t\xE9", CommandReply(device, "dir /\xE9t\xE9"));

        LONG length = 0;
        LPSTR info = nullptr;
        ASSERT_EQ(S_OK, device->GetDeviceInfo(&length, &info));
        UniqueTaskMem<char> ownedInfo(info);
        ASSERT_NE(nullptr, info);
        EXPECT_STREQ(kFakeDeviceInfo, info);
        EXPECT_EQ(static_cast<LONG>(std::strlen(kFakeDeviceInfo)), length);

        // An array of strings, one of them null, in; the totals come back through the callback.
        char first[] = "\\Internal\\Caf\xE9 notes\\";
        char second[] = "\\Internal\\\xC4rger.txt";
        LPSTR items[] = {first, nullptr, second};
        ComPtr<RecordingItemsInfoCallback> infoCallback;
        ASSERT_EQ(S_OK, MakeComObject(infoCallback));
        ASSERT_EQ(S_OK, device->GetItemsInfo(3, 260, items, infoCallback.Get()));
        EXPECT_EQ(std::string(first) + "|<null>|" + second, CommandReply(device, kInputsCommand));
        EXPECT_EQ("start;progress 1/1/" + std::to_string(std::strlen(first) + std::strlen(second)) +
                      ";complete <null>;",
                  infoCallback->Log());

        // A record passed by value carries its strings in.
        char itemName[] = "B\xE4r.txt";
        char iconFile[] = "zvshell.dll";
        ZVFILEITEM item{8, 4, 0, 1234, itemName, nullptr, iconFile, 3, 0, 0};
        ASSERT_EQ(S_OK, device->SetItemAttributes(item));
        EXPECT_EQ(std::string(itemName) + "|<null>|zvshell.dll|1234", CommandReply(device, kInputsCommand));

        CAUUID pages{};
        ASSERT_EQ(S_OK, device->GetPropPageID(4, &pages));
        UniqueTaskMem<GUID> ownedPages(pages.pElems);
        ASSERT_EQ(1u, pages.cElems);
        EXPECT_TRUE(IsEqualCLSID(CLSID_FakeFolderPage, pages.pElems[0]));
    });
}

// The text getters of the device contract: a text and its terminator land in the caller's buffer
// only when they fit in nMaxLen, and nothing lands past it.
using TextGetter = HRESULT (STDMETHODCALLTYPE IZvDevice::*)(LONG, unsigned char*);
struct Getter {
    const char* name;
    TextGetter get;
    std::string value;
};

void ExpectHonoursMaxLen(IZvDevice* device, const Getter& getter) {
    SCOPED_TRACE(getter.name);
    const LONG length = static_cast<LONG>(getter.value.size());
    ASSERT_GT(length, 0);
    ASSERT_LT(length, 512);
    // The buffer is longer than the size passed: nothing may land past nMaxLen.
    std::string buffer(600, '#');
    for (LONG tooShort : {LONG{1}, length}) {
        EXPECT_EQ(E_INVALIDARG, (device->*getter.get)(tooShort, reinterpret_cast<unsigned char*>(buffer.data())));
        EXPECT_EQ(std::string(600, '#'), buffer) << "written with nMaxLen " << tooShort;
    }
    ASSERT_EQ(S_OK, (device->*getter.get)(length + 1, reinterpret_cast<unsigned char*>(buffer.data())));
    EXPECT_EQ(getter.value + '\0' + std::string(600 - length - 1, '#'), buffer);
}

// What a getter answers with room enough, to check the short cases against.
std::string FullText(IZvDevice* device, TextGetter get) {
    std::string buffer(1024, '\0');
    if ((device->*get)(static_cast<LONG>(buffer.size()), reinterpret_cast<unsigned char*>(buffer.data())) != S_OK)
        return "<failed>";
    return buffer.c_str();
}

TEST_P(DeviceContract, OutputBuffersHonourMaxLen) {
    OnCaller([](IZvDevice* device) {
        const Getter getters[] = {{"GetName", &IZvDevice::GetName, kFakeInitialName},
                                  {"GetStrID", &IZvDevice::GetStrID, kFakeStrId},
                                  {"GetDescription", &IZvDevice::GetDescription, kFakeDescription}};
        for (const Getter& getter : getters)
            ExpectHonoursMaxLen(device, getter);

        // The error text of a file operation is cut to nMaxLen, terminator included.
        std::string error(16, '#');
        char source[] = "C:\\a.txt";
        char destination[] = "\\Internal\\a.txt";
        EXPECT_EQ(S_OK, device->ImportFileItem(source, destination, nullptr, 5,
                                               reinterpret_cast<unsigned char*>(error.data())));
        EXPECT_EQ(std::string(kFakeOperationDone, 4) + '\0' + std::string(11, '#'), error);
    });
}

TEST_P(DeviceContract, EnumeratorHandsOutOwnedRecords) {
    OnCaller([](IZvDevice* device) {
        const std::vector<FakeItem>& listing = FakeListing();
        ASSERT_EQ(3u, listing.size());
        char path[] = "\\Internal\\Caf\xE9 notes";
        ComPtr<IZvEnumFileItems> items;
        ASSERT_EQ(S_OK, device->EnumFileItems(path, 12, &items));
        ASSERT_TRUE(items);
        EXPECT_EQ(path, CommandReply(device, kInputsCommand));

        ZVFILEITEM records[5] = {};
        LONG fetched = -1;
        ASSERT_EQ(S_OK, items->Next(2, records, &fetched));
        ASSERT_EQ(2, fetched);
        ExpectItemEquals(listing[0], records[0]);
        ExpectItemEquals(listing[1], records[1]);
        FreeItems(records, fetched);

        // Fewer left than asked for: what is left, with S_OK.
        fetched = -1;
        ASSERT_EQ(S_OK, items->Next(5, records, &fetched));
        ASSERT_EQ(1, fetched);
        ExpectItemEquals(listing[2], records[0]);
        FreeItems(records, fetched);

        // Exhausted: S_FALSE and nothing fetched.
        for (ULONG asked : {1ul, 5ul}) {
            fetched = -1;
            EXPECT_EQ(S_FALSE, items->Next(asked, records, &fetched));
            EXPECT_EQ(0, fetched);
        }

        ASSERT_EQ(S_OK, items->Reset());
        ASSERT_EQ(S_OK, items->Skip(1));
        ComPtr<IZvEnumFileItems> clone;
        ASSERT_EQ(S_OK, items->Clone(&clone));
        ASSERT_TRUE(clone);
        for (IZvEnumFileItems* enumerator : {items.Get(), clone.Get()}) {
            fetched = -1;
            ASSERT_EQ(S_OK, enumerator->Next(1, records, &fetched));
            ASSERT_EQ(1, fetched);
            ExpectItemEquals(listing[1], records[0]);
            FreeItems(records, fetched);
        }
    });
}

TEST_P(DeviceContract, NullArgumentsGiveTheContractsErrors) {
    OnCaller([](IZvDevice* device) {
        char command[] = "ver";
        LONG length = 0;
        LPSTR reply = nullptr;
        EXPECT_EQ(E_POINTER, device->Command(nullptr, &length, &reply));
        EXPECT_EQ(E_POINTER, device->Command(command, nullptr, &reply));
        EXPECT_EQ(E_POINTER, device->Command(command, &length, nullptr));
        EXPECT_EQ(nullptr, reply);

        LPSTR info = nullptr;
        EXPECT_EQ(E_INVALIDARG, device->GetDeviceInfo(nullptr, &info));
        EXPECT_EQ(E_INVALIDARG, device->GetDeviceInfo(&length, nullptr));
        EXPECT_EQ(nullptr, info);

        ComPtr<IZvEnumFileItems> items;
        EXPECT_EQ(E_POINTER, device->EnumFileItems(nullptr, 12, &items));
        EXPECT_FALSE(items);

        CAUUID pages{};
        EXPECT_EQ(E_UNEXPECTED, device->GetPropPageID(1, &pages));
    });
}

// Output pointers that the contract lets a caller leave null, or answers with its own error: a
// proxy must answer them itself, as it cannot marshal them.
TEST_P(DeviceContract, NullOutputPointersAreAnsweredByTheContract) {
    OnCaller([](IZvDevice* device) {
        EXPECT_EQ(E_POINTER, device->GetPropPageID(8, nullptr));

        ComPtr<IZvEnumFileItems> items;
        ASSERT_EQ(S_OK, device->GetAllItems(&items));
        ASSERT_TRUE(items);
        LONG fetched = -1;
        EXPECT_EQ(E_INVALIDARG, items->Next(1, nullptr, &fetched));
        ZVFILEITEM records[2] = {};
        EXPECT_EQ(E_POINTER, items->Next(2, records, nullptr));
        // One record needs no count.
        ASSERT_EQ(S_OK, items->Next(1, records, nullptr));
        ExpectItemEquals(FakeListing()[0], records[0]);
        FreeItems(records, 1);
    });
}

TEST_P(DeviceContract, FileOperationsCallBackOnTheCallersThread) {
    const bool singleThreadedCaller = CallerIsSingleThreaded();
    OnCaller([singleThreadedCaller](IZvDevice* device) {
        using Operation = HRESULT (STDMETHODCALLTYPE IZvDevice::*)(LPSTR, LPSTR, IZvFileOperationCallback*,
                                                                   LONG, unsigned char*);
        const std::pair<const char*, Operation> operations[] = {{"import", &IZvDevice::ImportFileItem},
                                                                {"export", &IZvDevice::ExportFileItem},
                                                                {"copy", &IZvDevice::CopyFileItem}};
        for (const auto& [kind, operation] : operations) {
            SCOPED_TRACE(kind);
            ComPtr<RecordingFileCallback> callback;
            ASSERT_EQ(S_OK, MakeComObject(callback));
            char source[] = "C:\\Dokumente\\Gr\xFC\xDF"
                            "e.txt";
            char destination[] = "\\Internal\\Gr\xFC\xDF"
                                 "e.txt";
            unsigned char error[260] = {};
            ASSERT_EQ(S_OK, (device->*operation)(source, destination, callback.Get(), sizeof(error), error));
            EXPECT_STREQ(kFakeOperationDone, reinterpret_cast<char*>(error));
            EXPECT_EQ(std::string(source) + "|" + destination, CommandReply(device, kInputsCommand));

            const std::vector<CallbackEvent> events = callback->Events();
            ASSERT_EQ(5u, events.size());
            EXPECT_EQ("info", events[0].what);
            EXPECT_EQ(std::string(kind) + " " + source, events[0].text);
            EXPECT_EQ("init", events[1].what);
            EXPECT_EQ(source, events[1].text);
            EXPECT_EQ(kFakeItemSize, events[1].number);
            for (size_t i = 2; i < 5; ++i) {
                EXPECT_EQ("progress", events[i].what);
                EXPECT_EQ(source, events[i].text);
                EXPECT_EQ(kFakeItemSize / 3 * static_cast<long>(i - 1), events[i].number);
            }
            // A single-threaded caller is blocked in the call: its message queue delivers the callbacks.
            if (singleThreadedCaller) {
                for (const CallbackEvent& event : events)
                    EXPECT_EQ(GetCurrentThreadId(), event.thread) << event.what;
            }
        }
    });
}

// The product's device objects of both generations (made as their factories make them, without
// a device behind them) answer the buffer cases the same way through the proxy.
TEST(RealDeviceObjects, OutputBuffersHonourMaxLen) {
    const std::pair<const char*, DeviceThread::Maker> makers[] = {
        {"ZvDevice10",
         [](ComPtr<IUnknown>& made) {
             ComPtr<devlink10::ZvDevice10> device;
             HRESULT hr = devlink10::ZvDevice10::Create(device);
             if (FAILED(hr))
                 return hr;
             devlink10::DeviceSlot slot;
             slot.id = "@ZVBUF01";
             slot.name = "Buffer test";
             slot.defaultName = slot.name;
             slot.port = 9;
             device->Attach(slot, nullptr);
             made = device->AsUnknown();
             return S_OK;
         }},
        {"ZvDevice15", [](ComPtr<IUnknown>& made) {
             ComPtr<devlink15::ZvDevice15> device;
             HRESULT hr = devlink15::ZvDevice15::Create(device);
             if (FAILED(hr))
                 return hr;
             device->SetNameInMemory("Buffer test");
             made = device->AsUnknown();
             return S_OK;
         }}};
    for (const auto& [name, maker] : makers) {
        SCOPED_TRACE(name);
        DeviceThread thread(maker);
        ASSERT_EQ(S_OK, thread.StartResult()) << "is the install registered in this prefix?";
        RunInMultithreadedApartment([&] {
            ComPtr<IZvDevice> device;
            ASSERT_EQ(S_OK, thread.Unmarshal(&device));
            ComPtr<IMultiQI> proxyManager;
            ASSERT_EQ(S_OK, device.As(&proxyManager)) << "the device was not reached through a proxy";
            for (TextGetter get : {&IZvDevice::GetName, &IZvDevice::GetDescription}) {
                const std::string value = FullText(device.Get(), get);
                ExpectHonoursMaxLen(device.Get(), {get == &IZvDevice::GetName ? "GetName" : "GetDescription", get,
                                                   value});
            }
        });
    }
}

// The type library the 1.5 classes name is registered from Zelvan15.dll, which carries it.
TEST(RealDeviceObjects, Zelvan15RegistersTheTypeLibraryItsClassesName) {
    const GUID libid = {0x85805006, 0x7EB1, 0x4152, {0xA3, 0x0E, 0xF0, 0x5C, 0x52, 0x3A, 0xBE, 0xF0}};
    ComPtr<ITypeLib> library;
    ASSERT_EQ(S_OK, LoadRegTypeLib(libid, 1, 0, 0, &library));
    ComPtr<ITypeInfo> device;
    EXPECT_EQ(S_OK, library->GetTypeInfoOfGuid(IID_IZvDevice, &device));
    BSTR path = nullptr;
    ASSERT_EQ(S_OK, QueryPathOfRegTypeLib(libid, 1, 0, 0, &path));
    UniqueBstr owned(path);
    const std::wstring registered(path, SysStringLen(path));
    EXPECT_NE(registered.find(L"Zelvan15.dll"), std::wstring::npos) << std::string(registered.begin(), registered.end());
}

INSTANTIATE_TEST_SUITE_P(Routes, DeviceContract,
                         testing::Values(Route::OtherThreadStaCaller, Route::OtherThreadMtaCaller,
                                         Route::OtherProcessStaCaller, Route::OtherProcessMtaCaller),
                         RouteName);

} // namespace
