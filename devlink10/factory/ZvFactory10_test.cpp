// The naming of a 1.0 device seen for the first time: the dialog of the language library, the
// warning when another device has the name, names outside the allowed characters asked again,
// and the empty name taken as valid.
#include "Device10Support.h"
#include "LangIds.h"
#include "UiHarness.h"
#include "ZvFactory10.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

namespace {

constexpr char kDeviceList[] = "Software\\Zelvan\\Tavrilon\\DeviceList\\";

void Forget(const std::string& id) { RegDeleteTreeA(HKEY_CURRENT_USER, (kDeviceList + id).c_str()); }

// Answers the naming dialog with the given names in turn (then with what it shows), and OK to
// every message box; counts both.
class NamingAnswerer {
  public:
    explicit NamingAnswerer(std::vector<std::string> names)
        : names_(std::move(names)), answerer_([this](HWND dialog) { Answer(dialog); }, 1500) {}
    int Dialogs() const { return dialogs_; }
    int Boxes() const { return boxes_; }
    const std::vector<std::string>& Prefills() const { return prefills_; }

  private:
    void Answer(HWND dialog) {
        if (HWND nameBox = GetDlgItem(dialog, IDC_DEVICE10_NAME)) {
            char prefill[260] = {};
            GetWindowTextA(nameBox, prefill, sizeof prefill);
            prefills_.push_back(prefill);
            ++dialogs_;
            SetWindowTextA(nameBox, next_ < names_.size() ? names_[next_++].c_str() : prefill);
        } else {
            ++boxes_;
        }
        tv::test::ClickButton(dialog, IDOK);
    }
    std::vector<std::string> names_;
    size_t next_ = 0;
    std::atomic<int> dialogs_{0};
    std::atomic<int> boxes_{0};
    std::vector<std::string> prefills_;
    tv::test::DialogAnswerer answerer_; // last: it calls Answer until it is destroyed
};

TEST(NameNewDevice, ANameTakenByAnotherDeviceIsWarnedAboutAndAskedAgain) {
    Forget("@ZVNT0001");
    Forget("@ZVNT0002");
    ASSERT_EQ(devlink10::WriteDeviceRegistration("@ZVNT0002", "Taken name", 1), ERROR_SUCCESS);
    {
        NamingAnswerer answerer({"Taken name", "My handheld"});
        devlink10::NameNewDevice("@ZVNT0001");
        EXPECT_EQ(answerer.Dialogs(), 2);
        EXPECT_EQ(answerer.Boxes(), 1);
        for (const std::string& prefill : answerer.Prefills())
            EXPECT_EQ(prefill, "@ZVNT0001");
    }
    std::string name;
    ASSERT_TRUE(devlink10::ReadDeviceName("@ZVNT0001", name));
    EXPECT_EQ(name, "My handheld");
    Forget("@ZVNT0001");
    Forget("@ZVNT0002");
}

TEST(NameNewDevice, AnInvalidNameIsAskedAgainAndTheEmptyNameIsValid) {
    Forget("@ZVNT0003");
    {
        NamingAnswerer answerer({"bad|name", ""});
        devlink10::NameNewDevice("@ZVNT0003");
        EXPECT_EQ(answerer.Dialogs(), 2);
        EXPECT_EQ(answerer.Boxes(), 0);
    }
    std::string name = "unchanged";
    ASSERT_TRUE(devlink10::ReadDeviceName("@ZVNT0003", name));
    EXPECT_EQ(name, "");
    Forget("@ZVNT0003");
}

} // namespace
