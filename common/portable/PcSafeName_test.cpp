#include "PcSafeName.h"
#include <gtest/gtest.h>

namespace {

using tv::portable::CheckPcComponent;
using tv::portable::CheckPcRelativePath;
using tv::portable::IsPcSafeComponent;
using tv::portable::IsPcSafeRelativePath;
using tv::portable::IsReservedDeviceName;
using tv::portable::PcNameProblem;

TEST(PcSafeNameTest, DeviceNamesInAnyCaseWithOrWithoutExtensionAreReserved) {
    for (const char* name : {"CON", "prn", "Aux", "nul", "COM1", "com9", "LPT1", "lpt9", "con.txt", "COM1.tar.gz",
                             "nul .txt", "AUX  ", "com3."})
        EXPECT_TRUE(IsReservedDeviceName(std::string_view(name))) << name;
    for (const char* name : {"CONSOLE", "COM0", "COM10", "LPT", "LPT0", "xcon", "con_1.txt", ".con", "NULL", "COMA"})
        EXPECT_FALSE(IsReservedDeviceName(std::string_view(name))) << name;
    EXPECT_TRUE(IsReservedDeviceName(std::wstring_view(L"Lpt2.doc")));
    EXPECT_EQ(CheckPcComponent(std::string_view("COM1")), PcNameProblem::kReservedDeviceName);
}

TEST(PcSafeNameTest, ComponentsThatCannotBePlainPcFileNamesAreRefused) {
    EXPECT_EQ(CheckPcComponent(std::string_view("")), PcNameProblem::kEmpty);
    EXPECT_EQ(CheckPcComponent(std::string_view(".")), PcNameProblem::kDotComponent);
    EXPECT_EQ(CheckPcComponent(std::string_view("..")), PcNameProblem::kDotComponent);
    EXPECT_EQ(CheckPcComponent(std::string_view("name.")), PcNameProblem::kTrailingDotOrSpace);
    EXPECT_EQ(CheckPcComponent(std::string_view("name ")), PcNameProblem::kTrailingDotOrSpace);
    for (const char* name : {"a:b", "a/b", "a\\b", "a*", "a?", "a\"b", "a<b", "a>b", "a|b", "a\tb", "a\x7f"})
        EXPECT_EQ(CheckPcComponent(std::string_view(name)), PcNameProblem::kBadCharacter) << name;
    EXPECT_EQ(CheckPcComponent(std::string_view("a\0b", 3)), PcNameProblem::kBadCharacter);
    // Plain names, dots inside, leading dots and 8-bit characters of the code page are fine.
    for (const char* name : {"report.txt", ".profile", "a..b", "\xd6lfen.txt", "...x"})
        EXPECT_TRUE(IsPcSafeComponent(std::string_view(name))) << name;
    EXPECT_TRUE(IsPcSafeComponent(std::wstring_view(L"\u00d6lfen")));
}

TEST(PcSafeNameTest, RelativePathsAreCheckedComponentByComponent) {
    EXPECT_TRUE(IsPcSafeRelativePath(std::string_view("Main\\docs\\report.txt")));
    EXPECT_TRUE(IsPcSafeRelativePath(std::wstring_view(L"docs\\report.txt")));
    EXPECT_EQ(CheckPcRelativePath(std::string_view("\\docs")), PcNameProblem::kEmpty);
    EXPECT_EQ(CheckPcRelativePath(std::string_view("docs\\\\x")), PcNameProblem::kEmpty);
    EXPECT_EQ(CheckPcRelativePath(std::string_view("docs\\")), PcNameProblem::kEmpty);
    EXPECT_EQ(CheckPcRelativePath(std::string_view("docs\\..\\x")), PcNameProblem::kDotComponent);
    EXPECT_EQ(CheckPcRelativePath(std::string_view("docs\\COM1\\x")), PcNameProblem::kReservedDeviceName);
    EXPECT_EQ(CheckPcRelativePath(std::wstring_view(L"docs\\nul.txt")), PcNameProblem::kReservedDeviceName);
    EXPECT_EQ(CheckPcRelativePath(std::string_view("C:\\x")), PcNameProblem::kBadCharacter);
}

} // namespace
