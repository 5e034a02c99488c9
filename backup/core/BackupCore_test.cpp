// The file-class rule, the set's time and date conversions and the naming of sets and entries.
#include "BackupTime.h"
#include "FileClass.h"
#include "ProgressScale.h"
#include "SetNames.h"
#include <gtest/gtest.h>

using namespace tv::backup;

namespace {

TEST(FileClassTest, SuffixesDecideTheClassWithoutRegardToCase) {
    EXPECT_EQ(FileClassOf("Games\\chess.APP", 0), kApplications);
    EXPECT_EQ(FileClassOf("lib\\x.dl", 0), kApplications);
    EXPECT_EQ(FileClassOf("Music\\song.Mp3", 0), kMusic);
    EXPECT_EQ(FileClassOf("notes.txt", 0), kOtherFiles);
    // The end of the name alone counts: anything ending in ".t" is a system file.
    for (const char* name : {"a.db", "b.T", "backup.dat", "x.cfg", "os.boot", "what.t", "Apps\\Startup.cmd"})
        EXPECT_EQ(FileClassOf(name, 0), kSystemFiles) << name;
    EXPECT_EQ(FileClassOf("dl", 0), kOtherFiles);
    EXPECT_EQ(FileClassOf("", 0), kOtherFiles);
}

TEST(FileClassTest, TheProtectedBitMovesApplicationsAndMusicAndDropsOtherFiles) {
    EXPECT_EQ(FileClassOf("settings.app", kProtectedAttribute), kSystemFiles);
    EXPECT_EQ(FileClassOf("chess.app", kProtectedAttribute), 0u);
    EXPECT_EQ(FileClassOf("song.mp3", kProtectedAttribute), 0u);
    EXPECT_EQ(FileClassOf("notes.txt", kProtectedAttribute), 0u);
    EXPECT_EQ(FileClassOf("x.db", kProtectedAttribute), kSystemFiles);
    EXPECT_FALSE(IsFileInBackupSet("notes.txt", kFileClasses, kProtectedAttribute));
    // Other attribute bits change nothing.
    EXPECT_EQ(FileClassOf("song.mp3", 0x07), kMusic);
}

TEST(FileClassTest, TheFlagWordSelectsClasses) {
    EXPECT_TRUE(IsFileInBackupSet("a.app", kApplications, 0));
    EXPECT_FALSE(IsFileInBackupSet("a.app", kMusic | kOtherFiles | kSystemFiles, 0));
    EXPECT_TRUE(IsFileInBackupSet("a.mp3", kMusic | kNoBackupOffer, 0));
    EXPECT_FALSE(IsFileInBackupSet("a.mp3", kNoBackupOffer | kNoRestoreOffer | kRemoveLibraries, 0));
    EXPECT_TRUE(IsFileInBackupSet("x\\y.bin", kOtherFiles, 0));
    // A restore sees attribute word 0: a stored protected song is music again.
    EXPECT_TRUE(IsFileInBackupSet("song.mp3", kMusic, 0));
}

TEST(FileClassTest, DeviceLibrariesAreMatchedOnTheEndOfTheName) {
    EXPECT_TRUE(IsDeviceLibrary("System\\ZVKERNEL.DL"));
    EXPECT_TRUE(IsDeviceLibrary("myzvmime.dl"));
    EXPECT_FALSE(IsDeviceLibrary("zvkernel.dl.bak"));
    EXPECT_FALSE(IsDeviceLibrary("game.dl"));
}

TEST(BackupTimeTest, FileTimesBecomeUnsignedSecondsSince1970) {
    EXPECT_EQ(FileTimeToSetSeconds(kFileTimeOf1970), 0u);
    EXPECT_EQ(FileTimeToSetSeconds(kFileTimeOf1970 + 15 * kFileTimeTicksPerSecond + 9999999), 15u);
    // Before 1970: clamped to 0 rather than wrapped to a date far ahead.
    EXPECT_EQ(FileTimeToSetSeconds(0), 0u);
    EXPECT_EQ(FileTimeToSetSeconds(kFileTimeOf1970 - 1), 0u);
    // Past 2038 the count keeps going as an unsigned value and reads back the same.
    const uint32_t in2050 = 2524608000u; // 2050-01-01
    const uint64_t fileTime = SetSecondsToFileTime(in2050);
    EXPECT_EQ(fileTime, in2050 * kFileTimeTicksPerSecond + kFileTimeOf1970);
    EXPECT_EQ(FileTimeToSetSeconds(fileTime), in2050);
    EXPECT_EQ(FileTimeToSetSeconds(SetSecondsToFileTime(UINT32_MAX)), UINT32_MAX);
    EXPECT_EQ(FileTimeToSetSeconds(SetSecondsToFileTime(UINT32_MAX) + 10 * kFileTimeTicksPerSecond), UINT32_MAX);
}

TEST(BackupTimeTest, CalendarTimesBecomeAutomationDates) {
    EXPECT_DOUBLE_EQ(*CalendarTimeToDate({1899, 12, 30, 0, 0, 0}), 0.0);
    EXPECT_DOUBLE_EQ(*CalendarTimeToDate({1900, 1, 1, 12, 0, 0}), 2.5);
    EXPECT_DOUBLE_EQ(*CalendarTimeToDate({2000, 1, 1, 6, 0, 0}), 36526.25);
    // Before the epoch day the time of day is subtracted.
    EXPECT_DOUBLE_EQ(*CalendarTimeToDate({1899, 12, 29, 6, 0, 0}), -1.25);
    EXPECT_TRUE(CalendarTimeToDate({2024, 2, 29, 23, 59, 59}));
    EXPECT_TRUE(CalendarTimeToDate({2000, 2, 29, 0, 0, 0}));
    for (CalendarTime bad : {CalendarTime{1900, 2, 29, 0, 0, 0}, CalendarTime{2023, 2, 29, 0, 0, 0},
                             CalendarTime{10000, 1, 1, 0, 0, 0}, CalendarTime{2020, 13, 1, 0, 0, 0},
                             CalendarTime{2020, 0, 1, 0, 0, 0}, CalendarTime{2020, 4, 31, 0, 0, 0},
                             CalendarTime{2020, 1, 1, 24, 0, 0}, CalendarTime{2020, 1, 1, 0, 60, 0},
                             CalendarTime{2020, 1, 1, 0, 0, 60}})
        EXPECT_FALSE(CalendarTimeToDate(bad)) << bad.year << "-" << bad.month << "-" << bad.day;
    EXPECT_EQ(DateNumber({2026, 12, 9, 1, 2, 3}), 20261209u);
}

TEST(SetNamesTest, NamesAreCheckedInOrder) {
    EXPECT_EQ(CheckSetName(L"Dev1_December_9_2026", 40), SetNameProblem::kNone);
    for (const wchar_t* bad : {L"a/b", L"a\\b", L"c:", L"a*", L"a?", L"<a>", L"a|b", L"a\"b", L"a\tb", L"\x01"})
        EXPECT_EQ(CheckSetName(bad, 40), SetNameProblem::kBadCharacter) << bad;
    EXPECT_EQ(CheckSetName(L"", 40), SetNameProblem::kEmpty);
    EXPECT_EQ(CheckSetName(std::wstring(214, L'x'), 40), SetNameProblem::kNone);
    EXPECT_EQ(CheckSetName(std::wstring(215, L'x'), 40), SetNameProblem::kTooLong);
    EXPECT_EQ(TrimSetName(L"  my set \t"), L"my set");
    EXPECT_EQ(TrimSetName(L" \r\n"), L"");
}

TEST(SetNamesTest, TheProposedNameTakesDeviceAndDateLiterally) {
    EXPECT_EQ(FormatSetName(L"%s_%s", L"Dev %s 1", L"December_9_2026"), L"Dev %s 1_December_9_2026");
    EXPECT_EQ(FormatSetName(L"%s backup of %s (100%%) %s", L"D", L"T"), L"D backup of T (100%) %s");
    EXPECT_EQ(FormatSetName(L"plain", L"D", L"T"), L"plain");
    EXPECT_EQ(SetFilePath(L"C:\\B", L"\\", L"set", L".zbk"), L"C:\\B\\set.zbk");
}

TEST(SetNamesTest, EntryNamesThatCouldLeaveTheirFolderAreRefused) {
    for (const char* good : {"a.txt", "Music\\song.mp3", "My Docs\\x y\\z.db", "@abcdefg", "..x\\y..z"})
        EXPECT_TRUE(IsSafeEntryName(good)) << good;
    for (const char* bad : {"", "\\abs.txt", "..\\up.txt", "a\\..\\..\\b", "a\\.\\b", "a\\\\b", "a\\", "C:x",
                            "c:\\win\\x", "a/b", "a\\b*", "a\x01", "a\\b.", "a\\b "})
        EXPECT_FALSE(IsSafeEntryName(bad)) << bad;
    // Names of devices, in any case and with or without an extension, in any component.
    for (const char* device :
         {"COM1", "con", "Docs\\aux.txt", "nul.log.txt", "LPT9\\x", "Docs\\prn ", "com3 .dat"})
        EXPECT_FALSE(IsSafeEntryName(device)) << device;
    for (const char* plain : {"COM0", "com10.txt", "console.txt", "Docs\\nulls"})
        EXPECT_TRUE(IsSafeEntryName(plain)) << plain;
    EXPECT_FALSE(IsSafeEntryName(std::string(260, 'a')));
}

TEST(ProgressScaleTest, TotalsOfAnySizeFitTheSinksFiguresWithTheirShares) {
    const ProgressScale fits(0x7FFFFFFF);
    EXPECT_EQ(fits.Total(), 0x7FFFFFFF);
    EXPECT_EQ(fits.Scaled(1234), 1234);
    const ProgressScale threeGiB(3ull << 30);
    EXPECT_EQ(threeGiB.Total(), 3 << 29);
    EXPECT_EQ(threeGiB.Scaled(1536ull << 20), 3 << 28);
    const ProgressScale huge(~0ull);
    EXPECT_LE(huge.Total(), 0x7FFFFFFF);
    EXPECT_GT(huge.Total(), 0x3FFFFFFF);
    EXPECT_EQ(huge.Scaled(~0ull / 2 + 1), huge.Total() / 2 + 1);
    EXPECT_EQ(ProgressScale().Total(), 0);
}

} // namespace
