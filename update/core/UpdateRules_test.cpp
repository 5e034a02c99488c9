#include "UpdateRules.h"

#include <gtest/gtest.h>

#include <limits>

namespace zvupdate {
namespace {

TEST(SizeText, FollowsTheUnitSteps) {
    EXPECT_EQ(FormatSize(0), "0 bytes");
    EXPECT_EQ(FormatSize(1023), "1023 bytes");
    EXPECT_EQ(FormatSize(1024), "1,00 KB");
    EXPECT_EQ(FormatSize(1536), "1,50 KB");
    EXPECT_EQ(FormatSize(1034), "1,00 KB"); // 10 × 100 / 1024 = 0: a leading 0
    EXPECT_EQ(FormatSize(1126), "1,09 KB");
    EXPECT_EQ(FormatSize(15 * 1024 + 700), "15,6 KB");
    EXPECT_EQ(FormatSize(512 * 1024), "512 KB");
    EXPECT_EQ(FormatSize(1040000), "0,99 MB");
    EXPECT_EQ(FormatSize(1048576), "1,00 MB");
    EXPECT_EQ(FormatSize(3ull << 30), "3,00 GB");
    // Sizes past 32 bits are kept whole; the last unit takes any quotient.
    EXPECT_EQ(FormatSize(5ull << 40), "5,00 TB");
    EXPECT_EQ(FormatSize(2000ull << 40), "2000 TB");
}

TEST(Figures, RatesAndBarsStayInRange) {
    EXPECT_EQ(TransferRateKBps(8u << 20, 0), 0u);
    EXPECT_EQ(TransferRateKBps(8u << 20, 1000), 8192u);
    // 4 GiB in 1 ms would overflow 32 bits on the way: computed in 64 and clamped.
    // A 32-bit product of length × 1000 would wrap for any image over 4 MiB.
    EXPECT_EQ(TransferRateKBps(0xFFFFFFFFull, 1), 4194303999u);
    EXPECT_EQ(TransferRateKBps(uint64_t{1} << 40, 1), std::numeric_limits<uint32_t>::max());
    EXPECT_EQ(TransferRateKBps(0xFFFFFFFFull, 1000), 4194303u);
    EXPECT_EQ(BarPercent(50, 100), 50);
    EXPECT_EQ(BarPercent(150, 100), 100);
    EXPECT_EQ(BarPercent(-3, 100), 0);
    EXPECT_EQ(BarPercent(5, 0), 0);
    EXPECT_EQ(BarPercent(0x7FFFFFFF, 0x7FFFFFFF), 100); // no 32-bit overflow of position × 100
    EXPECT_EQ(ClampToLong(int64_t{1} << 40), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(ClampToLong(-(int64_t{1} << 40)), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(AutoProgressInterval(5000, 10), 500u);
    EXPECT_EQ(AutoProgressInterval(5, 10), 1u);
    EXPECT_EQ(AutoProgressInterval(5000, 0), 0u);
}

UpdateFile Update(const std::string& name, int64_t length, bool selected, const std::string& app = {}) {
    UpdateFile file;
    file.name = name;
    file.appName = app.empty() ? name : app;
    file.length = length;
    file.selected = selected;
    return file;
}

DeviceFile Device(const std::string& name, int64_t length) {
    DeviceFile file;
    file.name = name;
    file.length = length;
    return file;
}

TEST(Space, OffsetsReplacedFilesUnlessTheFlashIsFormatted) {
    const std::vector<UpdateFile> updates = {Update("os.bin", 1000, true), Update("app.cap", 500, true),
                                             Update("extra.bin", 700, false)};
    const std::vector<DeviceFile> devices = {Device("os.bin", 800), Device("os.bin", 50), Device("app.cap", 400),
                                             Device("OS.BIN", 999)};
    SpaceFigures simple = ComputeSpace(FilePage::Simple, updates, devices, false, 1000, 5000);
    EXPECT_EQ(simple.required, 1000 - 800 + 500 - 400); // the first device file of the name, case-sensitive
    EXPECT_EQ(simple.available, 1000);
    EXPECT_TRUE(simple.Fits());

    SpaceFigures advanced = ComputeSpace(FilePage::Advanced, updates, devices, false, 1000, 5000);
    EXPECT_EQ(advanced.required, 1000 - 800 + 500); // a package is never offset

    SpaceFigures formatted = ComputeSpace(FilePage::Simple, updates, devices, true, 1000, 5000);
    EXPECT_EQ(formatted.required, 1500);
    EXPECT_EQ(formatted.available, 5000);

    // Larger device files than the updates: required stays at 0.
    const std::vector<DeviceFile> big = {Device("os.bin", 5000), Device("app.cap", 5000)};
    EXPECT_EQ(ComputeSpace(FilePage::Simple, updates, big, false, 0, 0).required, 0);

    // Adding a selected file larger than the space makes it not fit.
    std::vector<UpdateFile> more = updates;
    more.push_back(Update("huge.bin", 0x7FFFFFFF, true));
    more.push_back(Update("huge2.bin", 0x7FFFFFFF, true));
    SpaceFigures over = ComputeSpace(FilePage::Simple, more, devices, false, 1000, 5000);
    EXPECT_GT(over.required, int64_t{0x7FFFFFFF}); // summed in 64 bits, no wrap to negative
    EXPECT_FALSE(over.Fits());
}

TEST(Commit, KeepsSelectedUpdatesAndTheDeviceFilesTheyReplace) {
    std::vector<UpdateFile> updates = {Update("os.bin", 1, true), Update("app.cap", 1, true),
                                       Update("gone.bin", 1, false)};
    std::vector<DeviceFile> devices = {Device("os.bin", 1), Device("app.cap", 1), Device("gone.bin", 1),
                                       Device("other", 1)};
    auto u = updates;
    auto d = devices;
    CommitFileSelection(FilePage::Simple, false, u, d);
    ASSERT_EQ(u.size(), 2u);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].name, "os.bin");
    EXPECT_EQ(d[1].name, "app.cap");

    // Format flash does not change the simple page's deletion list.
    u = updates;
    d = devices;
    CommitFileSelection(FilePage::Simple, true, u, d);
    EXPECT_EQ(d.size(), 2u);

    // The advanced page keeps no package's device file, and none at all with format flash.
    u = updates;
    d = devices;
    CommitFileSelection(FilePage::Advanced, false, u, d);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].name, "os.bin");
    u = updates;
    d = devices;
    CommitFileSelection(FilePage::Advanced, true, u, d);
    EXPECT_TRUE(d.empty());
    EXPECT_TRUE(IsPackageFile("X.CaP"));
    EXPECT_FALSE(IsPackageFile("cap"));
}

// A device file the script added for deletion stays to be deleted whether or not an update file
// replaces it; the flag a match gives lasts only as long as the match, also when the page is
// committed again after its update file was deselected.
TEST(Commit, KeepsTheDeleteFlagTheScriptSet) {
    std::vector<UpdateFile> updates = {Update("os.bin", 1, true), Update("app.cap", 1, true)};
    DeviceFile obsolete = Device("obsolete.dat", 1);
    obsolete.flag = true;
    DeviceFile replacedByScript = Device("os.bin", 1);
    replacedByScript.flag = true;
    std::vector<DeviceFile> devices = {obsolete, Device("os.bin", 1), Device("other", 1)};
    CommitFileSelection(FilePage::Simple, false, updates, devices);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].name, "obsolete.dat");
    EXPECT_EQ(devices[1].name, "os.bin");

    updates[0].selected = false;
    CommitFileSelection(FilePage::Simple, false, updates, devices);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].name, "obsolete.dat");

    // A file both flagged by the script and matched is listed once.
    updates = {Update("os.bin", 1, true)};
    devices = {replacedByScript};
    CommitFileSelection(FilePage::Simple, true, updates, devices);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].name, "os.bin");
}

TEST(SortOrder, EachKindKeepsItsDirection) {
    FileSortOrder order;
    EXPECT_TRUE(order.ByName());
    EXPECT_TRUE(order.Ascending());
    order.Click(0); // name again: flips
    EXPECT_TRUE(order.ByName());
    EXPECT_FALSE(order.Ascending());
    order.Click(1); // length: ascending first
    EXPECT_FALSE(order.ByName());
    EXPECT_TRUE(order.Ascending());
    order.Click(2); // any other column is length too: flips
    EXPECT_FALSE(order.Ascending());
    order.Click(0); // back to name, in the direction it had
    EXPECT_TRUE(order.ByName());
    EXPECT_FALSE(order.Ascending());

    const std::vector<UpdateFile> files = {Update("a", 30, true, "Beta"), Update("b", 10, true, "alpha"),
                                           Update("c", 20, true, "Alpha")};
    std::vector<size_t> rows = {0, 1, 2};
    FileSortOrder byName;
    byName.Sort(rows, files);
    EXPECT_EQ(rows, (std::vector<size_t>{2, 0, 1})); // case-sensitive: "Alpha" < "Beta" < "alpha"
    byName.Click(1);
    byName.Sort(rows, files);
    EXPECT_EQ(rows, (std::vector<size_t>{1, 2, 0}));
}

TEST(ProgressText, ShortensBetweenColonAndLastBackslash) {
    auto within = [](size_t width) { return [width](const std::string& s) { return s.size() <= width; }; };
    EXPECT_EQ(ShortenProgressText("Copying C:\\a\\b\\file.txt", within(100)), "Copying C:\\a\\b\\file.txt");
    EXPECT_EQ(ShortenProgressText("no backslash at all here", within(3)), "no backslash at all here");
    // "Copying C:" stays, then characters in front of the last backslash go one at a time.
    EXPECT_EQ(ShortenProgressText("Copying C:\\folder\\sub\\file.txt", within(27)), "Copying C:...r\\sub\\file.txt");
    // Nothing left to replace: the shortest form comes back although it does not fit, and the
    // shortening ends (it used to loop for ever).
    EXPECT_EQ(ShortenProgressText("Copying C:\\folder\\file.txt", within(5)), "Copying C:...\\file.txt");
    EXPECT_EQ(ShortenProgressText("C:\\file.txt", within(2)), "C:\\file.txt");
    // Without a colon the replacement starts at the beginning.
    EXPECT_EQ(ShortenProgressText("folder\\file", within(9)), "...r\\file");
}

} // namespace
} // namespace zvupdate
