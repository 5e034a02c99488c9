// The 1.0 factory against the emulated device on a COM port of this prefix (run by the serial
// test script): a device never seen is named by the factory's namer and reported, a port missing
// from the system's list is never opened, and a factory that ends while its naming dialog is up
// closes the dialog and ends at once. Then the naming itself: the dialog of the language library,
// the warning when another device has the name, a name outside the allowed characters refused
// with its message and the name box set back, the empty name taken as valid.
#include "Serial10Bench.h" // winsock2.h before windows.h

#include "ComObject.h"
#include "Device10Support.h"
#include "LangIds.h"
#include "UiHarness.h"
#include "ZvFactory10.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace devlink10 {
namespace {

using tv::com::ComPtr;

constexpr int kCom = 6;
constexpr const char* kDeviceId = "@ZVFAC10";
constexpr char kDeviceList[] = "Software\\Zelvan\\Tavrilon\\DeviceList\\";
constexpr DWORD kRoundPauseMs = 300;

void Forget(const std::string& id) { RegDeleteTreeA(HKEY_CURRENT_USER, (kDeviceList + id).c_str()); }

test::Serial10Bench& SharedBench() {
    static test::Serial10Bench bench(kCom, kDeviceId, {TV_ZVPORT_DLL, TV_ZVASSOC_DLL});
    return bench;
}

class RecordingFactoryCallback : public tv::com::ComObject<RecordingFactoryCallback, IZvFactoryCallback> {
  public:
    STDMETHODIMP OnDeviceFound(GUID, IZvDevice* device) override {
        found = device;
        return S_OK;
    }
    STDMETHODIMP OnDeviceLost(GUID, LPSTR) override { return S_OK; }
    ComPtr<IZvDevice> found;
};

// The names a factory asked for, from its detection thread.
class RecordingNamer {
  public:
    explicit RecordingNamer(std::string name) : name_(std::move(name)) {}
    DeviceNamer Namer() {
        return [this](const std::string& id, HANDLE) {
            {
                std::lock_guard<std::mutex> guard(mutex_);
                asked_.push_back(id);
            }
            WriteDeviceRegistration(id, name_, 0);
        };
    }
    std::vector<std::string> Asked() {
        std::lock_guard<std::mutex> guard(mutex_);
        return asked_;
    }

  private:
    std::string name_;
    std::mutex mutex_;
    std::vector<std::string> asked_;
};

class Factory10Test : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SERIAL10_BENCH(SharedBench());
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        comInitialised_ = true;
        Forget(kDeviceId);
        ASSERT_EQ(S_OK, tv::com::MakeComObject(callback_));
        SharedBench().TakeLog();
    }
    void TearDown() override {
        callback_ = nullptr;
        Forget(kDeviceId);
        test::ListSerialPort(kCom, false);
        if (comInitialised_)
            CoUninitialize();
    }
    ComPtr<IZvFactory> MakeFactory(DeviceNamer namer) {
        ComPtr<IZvFactory> factory;
        EXPECT_EQ(S_OK, slot_.GetOrCreate(IID_IZvFactory, reinterpret_cast<void**>(&factory),
                                          std::move(namer), kRoundPauseMs));
        return factory;
    }
    // A factory with the callback advised, the test's port listed or not.
    ComPtr<IZvFactory> AdvisedFactory(bool portListed, DeviceNamer namer, long& cookie) {
        EXPECT_TRUE(test::ListSerialPort(kCom, portListed));
        ComPtr<IZvFactory> factory = MakeFactory(std::move(namer));
        if (factory) {
            EXPECT_EQ(S_OK, factory->Advise(callback_.Get(), &cookie));
        }
        return factory;
    }

    bool comInitialised_ = false;
    tv::com::SharedInstance<ZvFactory10> slot_;
    ComPtr<RecordingFactoryCallback> callback_;
};

TEST_F(Factory10Test, ADeviceNeverSeenIsNamedByTheFactorysNamerAndReported) {
    RecordingNamer namer("Named by the user");
    long cookie = -1;
    ComPtr<IZvFactory> factory = AdvisedFactory(true, namer.Namer(), cookie);
    ASSERT_TRUE(factory);
    EXPECT_TRUE(tv::test::PollUntil([&] { return static_cast<bool>(callback_->found); }, 60000));
    EXPECT_EQ(namer.Asked(), std::vector<std::string>{kDeviceId});
    if (callback_->found) {
        unsigned char name[260] = {};
        EXPECT_EQ(S_OK, callback_->found->GetName(sizeof name, name));
        EXPECT_STREQ(reinterpret_cast<char*>(name), "Named by the user");
    }
    callback_->found = nullptr;
    factory->UnAdvise(cookie);
}

TEST_F(Factory10Test, APortMissingFromTheSystemsListIsNeverOpened) {
    RecordingNamer namer("Never asked");
    long cookie = -1;
    ComPtr<IZvFactory> factory = AdvisedFactory(false, namer.Namer(), cookie);
    ASSERT_TRUE(factory);
    // Several rounds of detection.
    tv::test::PollUntil([] { return false; }, 10 * kRoundPauseMs);
    EXPECT_FALSE(callback_->found);
    EXPECT_TRUE(namer.Asked().empty());
    EXPECT_EQ(SharedBench().TakeLog(), std::vector<std::string>{}) << "the port was opened";
    factory->UnAdvise(cookie);
}

// The program ends while the naming dialog waits for the user: the factory's end closes the
// dialog, registers nothing and returns at once. Should it not, the test answers the dialog
// itself after a while, so that it fails instead of hanging.
TEST_F(Factory10Test, EndingWhileTheNamingDialogIsUpClosesItAtOnce) {
    ASSERT_TRUE(test::ListSerialPort(kCom, true));
    ComPtr<IZvFactory> factory = MakeFactory(DeviceNamer(&NameNewDevice));
    ASSERT_TRUE(factory);
    HWND naming = tv::test::WaitForWindow(L"#32770", L"New Zelvan device", 60000);
    ASSERT_TRUE(naming);
    std::atomic<bool> ended{false};
    std::thread rescue([&] {
        if (tv::test::PollUntil([&] { return ended.load(); }, 20000))
            return;
        SetDlgItemTextA(naming, IDC_DEVICE10_NAME, "Answered by the rescue");
        tv::test::ClickButton(naming, IDOK);
    });
    const DWORD started = GetTickCount();
    factory = nullptr;
    const DWORD elapsed = GetTickCount() - started;
    ended = true;
    rescue.join();
    EXPECT_LT(elapsed, 5000u);
    EXPECT_TRUE(tv::test::WaitForWindowGone(naming, 5000));
    std::string name;
    EXPECT_FALSE(ReadDeviceName(kDeviceId, name)) << "registered as " << name;
}

// Answers the naming dialog with the given names in turn (then with what it shows), and OK to
// every message box; counts both and keeps the boxes' texts.
class NamingAnswerer {
  public:
    explicit NamingAnswerer(std::vector<std::string> names)
        : names_(std::move(names)), answerer_([this](HWND dialog) { Answer(dialog); }, 1500) {}
    int Dialogs() const { return dialogs_; }
    int Boxes() const { return boxes_; }
    const std::vector<std::string>& Prefills() const { return prefills_; }
    const std::vector<std::string>& BoxTexts() const { return boxTexts_; }

  private:
    void Answer(HWND dialog) {
        if (HWND nameBox = GetDlgItem(dialog, IDC_DEVICE10_NAME)) {
            char prefill[260] = {};
            GetWindowTextA(nameBox, prefill, sizeof prefill);
            prefills_.push_back(prefill);
            ++dialogs_;
            SetWindowTextA(nameBox, next_ < names_.size() ? names_[next_++].c_str() : prefill);
        } else {
            char text[512] = {};
            GetDlgItemTextA(dialog, 0xFFFF, text, sizeof text);
            boxTexts_.push_back(text);
            ++boxes_;
        }
        tv::test::ClickButton(dialog, IDOK);
    }
    std::vector<std::string> names_;
    size_t next_ = 0;
    std::atomic<int> dialogs_{0};
    std::atomic<int> boxes_{0};
    std::vector<std::string> prefills_;
    std::vector<std::string> boxTexts_;
    tv::test::DialogAnswerer answerer_; // last: it calls Answer until it is destroyed
};

TEST(NameNewDevice, ANameTakenByAnotherDeviceIsWarnedAboutAndAskedAgain) {
    Forget("@ZVNT0001");
    Forget("@ZVNT0002");
    ASSERT_EQ(WriteDeviceRegistration("@ZVNT0002", "Taken name", 1), ERROR_SUCCESS);
    {
        NamingAnswerer answerer({"Taken name", "My handheld"});
        NameNewDevice("@ZVNT0001");
        EXPECT_EQ(answerer.Dialogs(), 2);
        EXPECT_EQ(answerer.Boxes(), 1);
        for (const std::string& prefill : answerer.Prefills())
            EXPECT_EQ(prefill, "@ZVNT0001");
    }
    std::string name;
    ASSERT_TRUE(ReadDeviceName("@ZVNT0001", name));
    EXPECT_EQ(name, "My handheld");
    Forget("@ZVNT0001");
    Forget("@ZVNT0002");
}

TEST(NameNewDevice, AnInvalidNameIsRefusedWithItsMessageAndTheEmptyNameIsValid) {
    Forget("@ZVNT0003");
    {
        NamingAnswerer answerer({"bad|name", ""});
        NameNewDevice("@ZVNT0003");
        EXPECT_EQ(answerer.Dialogs(), 2);
        EXPECT_EQ(answerer.Boxes(), 1);
        if (!answerer.BoxTexts().empty()) {
            EXPECT_EQ(answerer.BoxTexts()[0], LangString(IDS_DEVICE_NAME_INVALID));
        }
        // The dialog stayed open with the name box set back to the identifier.
        for (const std::string& prefill : answerer.Prefills())
            EXPECT_EQ(prefill, "@ZVNT0003");
    }
    std::string name = "unchanged";
    ASSERT_TRUE(ReadDeviceName("@ZVNT0003", name));
    EXPECT_EQ(name, "");
    Forget("@ZVNT0003");
}

} // namespace
} // namespace devlink10
