#include "CommandLine.h"
#include <gtest/gtest.h>

namespace tv::app {
namespace {

TEST(CommandLine, RecognisesRegistrationSwitchesOnlyAtTheEndOfTheLine) {
    EXPECT_EQ(ParseSwitches(L"\"C:\\p\\Tavrilon.exe\" /RegServer").action, StartAction::RegServer);
    EXPECT_EQ(ParseSwitches(L"Tavrilon.exe -unregserver").action, StartAction::UnregServer);
    EXPECT_EQ(ParseSwitches(L"Tavrilon.exe /RegServer now").action, StartAction::Run);
    EXPECT_EQ(ParseSwitches(L"Tavrilon.exe -Embedding").action, StartAction::Run);
    // Scanning stops at Embedding, so a later RegServer is never reached.
    EXPECT_EQ(ParseSwitches(L"Tavrilon.exe /x -Embedding").action, StartAction::Run);
}

TEST(CommandLine, NoSplashMustBeLastAndDoesNotStopTheScan) {
    EXPECT_FALSE(ParseSwitches(L"Tavrilon.exe /NoSplash").splash);
    EXPECT_TRUE(ParseSwitches(L"Tavrilon.exe /NoSplash please").splash);
    EXPECT_TRUE(ParseSwitches(L"Tavrilon.exe").splash);
}

TEST(CommandLine, FileOpenMarkIsCaseSensitive) {
    EXPECT_TRUE(HasFileOpenMark(L"Tavrilon.exe /FileOpen \"C:\\a b.txt\""));
    EXPECT_FALSE(HasFileOpenMark(L"Tavrilon.exe /fileopen x"));
}

TEST(CommandLine, FileOpenPathDropsMarksQuotesAndOuterBlanks) {
    EXPECT_EQ(FileOpenPath("/FileOpen \"C:\\My Files\\a b.txt\"  "), "C:\\My Files\\a b.txt");
    EXPECT_EQ(FileOpenPath("/FileOpen/FileOpen x"), "x");
    EXPECT_EQ(FileOpenPath("/FileOpen   "), "");
}

TEST(CommandLine, DdeCommandNeedsBracketAndParentheses) {
    std::string command, argument;
    ASSERT_TRUE(ParseDdeCommand("[FileOpen(\"C:\\a (1).txt\")]", command, argument));
    EXPECT_EQ(command, "FileOpen");
    EXPECT_EQ(argument, "C:\\a (1).txt");
    ASSERT_TRUE(ParseDdeCommand("[fileopen(C:\\b.txt)]", command, argument));
    EXPECT_EQ(argument, "C:\\b.txt");
    EXPECT_FALSE(ParseDdeCommand("FileOpen(x)", command, argument));
    EXPECT_FALSE(ParseDdeCommand("[FileOpen x)]", command, argument));
    EXPECT_FALSE(ParseDdeCommand("[FileOpen(x]", command, argument));
}

} // namespace
} // namespace tv::app
