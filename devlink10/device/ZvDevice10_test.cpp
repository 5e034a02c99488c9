// The 1.0 device object against the emulated device on a COM port of this prefix (run by the
// serial test script): path texts that would break a console command are refused before anything
// is sent, a device that never confirms PC mode is worked with after four tries, the overwrite
// questions of an import (the system one, the close box) and the size an import reports for a
// file beyond 2 GiB.
#include "Serial10Bench.h" // winsock2.h before windows.h

#include "ComObject.h"
#include "Devlink10Ids.h"
#include "LangIds.h"
#include "UiHarness.h"
#include "ZvDevice10.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace devlink10 {
namespace {

using tv::com::ComPtr;

constexpr int kCom = 5;
constexpr const char* kDeviceId = "@ZVDEV10";

test::Serial10Bench& SharedBench() {
    static test::Serial10Bench bench(kCom, kDeviceId, {TV_ZVPORT_DLL});
    return bench;
}

// Records what a transfer reports; sets the given event when the item's size is reported, so
// that a test can cancel the transfer that follows.
class RecordingCallback
    : public tv::com::ComObject<RecordingCallback, IZvFileOperationCallback, IZvItemsInfoCallback> {
  public:
    STDMETHODIMP OnOperationComplete() override { return S_OK; }
    STDMETHODIMP OnItemComplete(LPSTR, LPSTR, long) override { return S_OK; }
    STDMETHODIMP OnItemInit(LPSTR, long size) override {
        initSizes.push_back(size);
        if (cancelOnInit)
            SetEvent(cancelOnInit);
        return S_OK;
    }
    STDMETHODIMP OnItemProgress(LPSTR, long) override { return S_OK; }
    STDMETHODIMP OnItemInfo(LPSTR) override { return S_OK; }
    // IZvItemsInfoCallback
    STDMETHODIMP OnOperationStart() override {
        ++infoStarts;
        return S_OK;
    }
    STDMETHODIMP OnOperationProgress(ITEMSINFO) override { return S_OK; }
    STDMETHODIMP OnOperationComplete(LPSTR) override { return S_OK; }

    std::vector<long> initSizes;
    int infoStarts = 0;
    HANDLE cancelOnInit = nullptr;
};

class Device10Test : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SERIAL10_BENCH(SharedBench());
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        comInitialised_ = true;
        ComPtr<IZvPort> port;
        CLSID clsid{};
        ASSERT_EQ(S_OK, CLSIDFromProgID(L"ZvPort.ZvPortCOM.1", &clsid));
        ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IZvPort,
                                         reinterpret_cast<void**>(&port)));
        ASSERT_EQ(S_OK, ZvDevice10::CreateWith(port.Get(), nullptr, device_));
        DeviceSlot slot;
        slot.id = kDeviceId;
        slot.name = slot.defaultName = "Test handheld";
        slot.port = kCom;
        device_->Attach(slot, nullptr);
        device_->put_EnableUI(0);
        device_->SetCancelEvent(&cancel_);
        ASSERT_EQ(S_OK, tv::com::MakeComObject(callback_));
        medium_ = LangString(IDS_DEVICE10_DEFAULT_MEDIUM);
        ASSERT_FALSE(medium_.empty()) << "the language library is missing";
        SharedBench().TakeLog();
    }
    void TearDown() override {
        SharedBench().Request("clear");
        device_ = nullptr;
        callback_ = nullptr;
        if (comInitialised_)
            CoUninitialize();
    }

    static void PutOnDevice(const std::string& name, size_t size, unsigned seed) {
        ASSERT_TRUE(tv::test::WriteWholeFile(SharedBench().DeviceFile(name), tv::test::Pattern(size, seed)));
    }
    static size_t SizeOnDevice(const std::string& name) {
        std::vector<uint8_t> bytes;
        return tv::test::ReadWholeFile(SharedBench().DeviceFile(name), bytes) ? bytes.size() : 0;
    }
    std::string Item(const std::string& name) const { return medium_ + "\\" + name; }
    HRESULT Import(const std::string& pcName, const std::string& deviceName) {
        std::string source = SharedBench().PcFolderText() + pcName;
        std::string destination = Item(deviceName);
        unsigned char error[260] = {};
        return device_->ImportFileItem(source.data(), destination.data(), callback_.Get(), sizeof error,
                                       error);
    }

    bool comInitialised_ = false;
    ComPtr<ZvDevice10> device_;
    ComPtr<RecordingCallback> callback_;
    tv::com::UniqueHandle cancelEvent_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HANDLE cancel_ = cancelEvent_.Get();
    std::string medium_;
};

// The medium part of a hub path goes into the device's console commands between double quotes
// and inside a tagged request: a quote would add arguments (rm -f "/x" "/default/victim.txt") and
// a bar would end the request's field. Such paths are refused before the port is even opened.
TEST_F(Device10Test, PathsThatWouldBreakAConsoleCommandAreRefusedAndNothingIsSent) {
    PutOnDevice("victim.txt", 10, 1);
    unsigned char error[260] = {};
    for (const char* item : {"x\" \"/default\\victim.txt", "x|y\\victim.txt", "x\n\\victim.txt"}) {
        error[0] = 0;
        EXPECT_EQ(device_->DeleteFileItem(const_cast<LPSTR>(item), sizeof error, error), E_INVALIDARG)
            << item;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(error)), LangString(IDS_DEVICE10_BAD_NAME)) << item;
    }
    VOLUMEINFO volume{};
    EXPECT_EQ(device_->GetVolumeInfo(const_cast<LPSTR>("x\" \"/default"), &volume), E_INVALIDARG);
    ComPtr<IZvEnumFileItems> items;
    EXPECT_EQ(device_->EnumFileItems(const_cast<LPSTR>("x\" \"/default\\"), 8, &items), E_INVALIDARG);
    EXPECT_EQ(device_->EnumFileItems(const_cast<LPSTR>("x|y"), 8, &items), E_INVALIDARG);
    EXPECT_EQ(device_->FindItems(const_cast<LPSTR>("\"/default/*\" \"/x"), &items), E_INVALIDARG);
    LPSTR infoItems[] = {const_cast<LPSTR>("x\" \"/default\\victim.txt")};
    EXPECT_EQ(device_->GetItemsInfo(1, 260, infoItems, callback_.Get()), E_INVALIDARG);
    EXPECT_EQ(callback_->infoStarts, 0);
    EXPECT_EQ(SharedBench().TakeLog(), std::vector<std::string>{}) << "a command reached the device";
    EXPECT_EQ(SizeOnDevice("victim.txt"), 10u);

    // The same item on its real medium is deleted, with the command the device expects.
    const std::string victim = Item("victim.txt");
    EXPECT_EQ(device_->DeleteFileItem(const_cast<LPSTR>(victim.c_str()), sizeof error, error), S_OK);
    const auto log = SharedBench().TakeLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "rm -f \"/default/victim.txt\""), log.end());
    EXPECT_EQ(SizeOnDevice("victim.txt"), 0u);
}

TEST_F(Device10Test, ADeviceThatNeverConfirmsPcModeIsWorkedWithAfterFourTries) {
    ASSERT_EQ(0u, SharedBench().Request("fault pc_unconfirmed=on").rfind("ok", 0));
    VOLUMEINFO volume{};
    EXPECT_EQ(device_->GetVolumeInfo(const_cast<LPSTR>(medium_.c_str()), &volume), S_OK);
    EXPECT_EQ(volume.nTotalBlocks, 2043);
    const auto log = SharedBench().TakeLog();
    const auto sysinfo = std::find(log.begin(), log.end(), "sysinfo \"/default\"");
    ASSERT_NE(sysinfo, log.end());
    EXPECT_EQ(std::count(log.begin(), sysinfo, "pc on"), 4);
}

// Answers the next overwrite question with that title: presses the button, or the window's close
// box for button 0. Whether a question came.
std::future<bool> AnswerQuestion(const wchar_t* title, int button) {
    return std::async(std::launch::async, [=] {
        HWND question = tv::test::WaitForWindow(nullptr, title, 60000);
        if (!question)
            return false;
        if (button == 0)
            PostMessageW(question, WM_SYSCOMMAND, SC_CLOSE, 0);
        else
            tv::test::ClickButton(question, button);
        return tv::test::WaitForWindowGone(question, 10000);
    });
}

TEST_F(Device10Test, ImportsOntoExistingItemsAskTheQuestionOfTheirKind) {
    ASSERT_TRUE(tv::test::WriteWholeFile(SharedBench().PcFile("new.bin"), tv::test::Pattern(300, 2)));
    PutOnDevice("zvos.cfg", 20, 3);
    PutOnDevice("plain.txt", 20, 4);
    device_->put_EnableUI(1);
    device_->ResetDeviceState(1);

    // A system file: the system question; keeping it sends no transfer.
    auto keep = AnswerQuestion(L"Confirm System File Replace", 2);
    EXPECT_EQ(Import("new.bin", "zvos.cfg"), S_OK);
    EXPECT_TRUE(keep.get());
    EXPECT_EQ(SizeOnDevice("zvos.cfg"), 20u);
    for (const std::string& command : SharedBench().TakeLog())
        EXPECT_EQ(command.rfind("rcv", 0), std::string::npos) << command;
    auto replace = AnswerQuestion(L"Confirm System File Replace", 1);
    EXPECT_EQ(Import("new.bin", "zvos.cfg"), S_OK);
    EXPECT_TRUE(replace.get());
    EXPECT_EQ(SizeOnDevice("zvos.cfg"), 300u);

    // An ordinary item: the close box of its question keeps the item.
    auto closed = AnswerQuestion(L"Confirm File Replace", 0);
    EXPECT_EQ(Import("new.bin", "plain.txt"), S_OK);
    EXPECT_TRUE(closed.get());
    EXPECT_EQ(SizeOnDevice("plain.txt"), 20u);
}

// OnItemInit takes a 32-bit size: a PC file beyond 2 GiB is reported as the largest size, never as
// a negative one. The transfer itself is cancelled as soon as it starts.
// The hub deletes several items one call each and looks at its cancel before each (its delete
// worker). A cancel that comes while the device does not answer ends the running request at once
// (it is not sent again), stays set for the hub to see, and the device is still taken out of PC
// mode: no item is deleted after it.
TEST_F(Device10Test, ACancelDuringADeleteAbortsTheRequestAndStaysSetForTheItemsAfterIt) {
    PutOnDevice("first.txt", 10, 1);
    PutOnDevice("second.txt", 10, 2);
    // The device answers the next console frame ("pc on") not at all: the request would wait for
    // its time-out and send it again.
    ASSERT_EQ(0u, SharedBench().Request("fault noconfirm=1").rfind("ok", 0));
    std::thread canceller([this] {
        Sleep(300);
        SetEvent(cancel_);
    });
    for (const char* name : {"first.txt", "second.txt"}) {
        if (WaitForSingleObject(cancel_, 0) == WAIT_OBJECT_0)
            break;
        const std::string item = Item(name);
        unsigned char error[260] = {};
        device_->DeleteFileItem(const_cast<LPSTR>(item.c_str()), sizeof error, error);
    }
    canceller.join();
    EXPECT_EQ(WaitForSingleObject(cancel_, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "the cancel was reset";
    EXPECT_EQ(SizeOnDevice("first.txt"), 10u);
    EXPECT_EQ(SizeOnDevice("second.txt"), 10u);
    const auto log = SharedBench().TakeLog();
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& line) { return line.rfind("rm", 0) == 0; }),
              0);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "pc root");
}

TEST_F(Device10Test, AnImportReportsTheSizeOfAFileBeyondTwoGigabytesClamped) {
    {
        tv::com::UniqueFileHandle file(CreateFileW(SharedBench().PcFile("huge.bin").c_str(), GENERIC_WRITE, 0,
                                                   nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        LARGE_INTEGER size{};
        size.QuadPart = 3LL << 30;
        ASSERT_TRUE(SetFilePointerEx(file.Get(), size, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(file.Get()));
    }
    callback_->cancelOnInit = cancel_;
    EXPECT_NE(Import("huge.bin", "huge.bin"), S_OK);
    ASSERT_EQ(callback_->initSizes.size(), 1u);
    EXPECT_EQ(callback_->initSizes[0], LONG_MAX);
    DeleteFileW(SharedBench().PcFile("huge.bin").c_str());
}

} // namespace
} // namespace devlink10
