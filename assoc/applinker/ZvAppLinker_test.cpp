// The application installer against a hub served in this test program: the folder choice and
// the device's version are the hub's scripted answers, a helper thread acts as the user.
#include "ZvAppLinker.h"
#include "AnsiText.h"
#include "AssociationRecord.h"
#include "LangIds.h"
#include "LanguageLibrary.h"
#include "InstallerTest.h"
#include <gtest/gtest.h>
#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

using namespace tv;
using namespace tv::applinker;

namespace {

using test::ReadWholeFile;
using test::TestData;
using test::Text;

class AppLinkerTest : public test::InstallerTest<applinker::ZvAppLinker> {
protected:
    void SetUp() override { StartWith("tvapptest", {"Apps"}); }
    std::string Installed(const char* name) const { return Device("Apps\\") + name; }
};

TEST_F(AppLinkerTest, HandlerAnswersForAppFilesOnly) {
    char upper[] = ".APP", other[] = ".cap";
    EXPECT_EQ(installer_->IsAcceptable(upper), S_OK);
    EXPECT_EQ(installer_->IsAcceptable(other), S_FALSE);
    ZVASSOCIATION record{};
    ASSERT_EQ(installer_->GetAssociation(&record), S_OK);
    EXPECT_STREQ(record.strExtension, ".app");
    EXPECT_EQ(com::FromAnsi(record.strDescription), Text(IDS_APP_DESCRIPTION));
    EXPECT_EQ(record.dwIconIdx, -IDI_PACKAGE);
    assoc::FreeRecord(record);
    LONG id = 9;
    EXPECT_EQ(installer_->GetContextMenuID(&id), S_OK);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(installer_->DoVerb(upper, 0), E_NOTIMPL);
}

TEST_F(AppLinkerTest, NewEnoughDeviceGetsTheApplicationWithItsIconShown) {
    served_.Hub()->AnswerBrowse("Dev1[@TDDev1]\\Apps");
    // 1.2.345 against a required 1.3.100: kinds 2 and 3 count as one, the build is new enough.
    served_.Hub()->AnswerVersion("1.2.345");
    EXPECT_EQ(OpenWhile(TestData("game.app")), S_OK);
    EXPECT_EQ(served_.Hub()->BrowseTitle(), Text(IDS_INSTALL_BROWSE_TITLE));
    EXPECT_EQ(ReadWholeFile(Installed("game.app")), ReadWholeFile(TestData("game.app")));
    EXPECT_EQ(served_.Hub()->Commands(), (std::vector<std::string>{"ver ", "pc on busy", "pc off"}));
    EXPECT_EQ(served_.BusyUI(), 0);
    // The upload window showed the application's icon, and the icon's bitmap went with the window.
    const HBITMAP shown = served_.Hub()->PictureAtLastCopy(IDC_UPLOADER_PICTURE);
    EXPECT_NE(shown, nullptr);
    EXPECT_EQ(GetObjectType(shown), 0u);
}

TEST_F(AppLinkerTest, TooOldDeviceIsRefusedWithAMessage) {
    served_.Hub()->AnswerBrowse("Dev1\\Apps");
    served_.Hub()->AnswerVersion("1.5.0");
    std::wstring shown;
    EXPECT_EQ(OpenWhile(TestData("future.app"),
                        [&] {
                            HWND box = test::WaitForWindow(L"#32770", Text(IDS_INSTALL_CAPTION).c_str(), 20000);
                            if (!box)
                                return;
                            wchar_t text[512] = {};
                            test::PollUntil(
                                [&] {
                                    GetDlgItemTextW(box, 0xFFFF, text, ARRAYSIZE(text));
                                    return text[0] != 0;
                                },
                                2000);
                            shown = text;
                            test::ClickButton(box, IDOK);
                        }),
              S_OK);
    EXPECT_NE(shown.find(L"9.0.0"), std::wstring::npos) << com::ToAnsi(shown.c_str(), shown.size());
    EXPECT_NE(shown.find(L"1.5.0"), std::wstring::npos);
    EXPECT_EQ(GetFileAttributesA(Installed("future.app").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(served_.Hub()->Commands(), (std::vector<std::string>{"ver "}));
}

TEST_F(AppLinkerTest, UnknownVersionInstallsAndLongPathsAreRefusedWhole) {
    served_.Hub()->AnswerBrowse("Dev1\\Apps");
    // The test device does not know "ver ": the version cannot be compared. The application has
    // no icon: it installs with an empty picture.
    EXPECT_EQ(OpenWhile(TestData("future.app")), S_OK);
    EXPECT_EQ(ReadWholeFile(Installed("future.app")), ReadWholeFile(TestData("future.app")));
    EXPECT_EQ(served_.Hub()->PictureAtLastCopy(IDC_UPLOADER_PICTURE), nullptr);
    std::string longPath = "C:\\" + std::string(kMaxApplicationPath, 'a') + ".app";
    EXPECT_EQ(installer_->Open(longPath.data()), E_INVALIDARG);
    EXPECT_EQ(installer_->Open(nullptr), E_POINTER);
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    com::ComApartment apartment;
    return RUN_ALL_TESTS();
}
