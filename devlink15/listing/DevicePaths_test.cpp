// Volume lists, path mapping, the reply pipe of the command pass-through and "sysinfo" replies.
#include "DevicePaths.h"

#include <gtest/gtest.h>

namespace devlink15 {
namespace {

const ListingTexts kTexts{"Folder", "File", "Main", "Player"};

VolumeList Volumes(const std::string& reply) {
    VolumeList volumes;
    ParseVolumeList(reply, kTexts, volumes);
    return volumes;
}

TEST(ParseVolumeList, ReadsExtraVolumesAfterTheMainOne) {
    const VolumeList v = Volumes("\n/default main_flash \n/b Card \n/MP3 MP3 \ndone\n");
    ASSERT_EQ(v.names.size(), 2u);
    EXPECT_EQ(v.names[0], "b");
    EXPECT_EQ(v.labels[0], "Card");
    EXPECT_EQ(v.names[1], "MP3");
    EXPECT_EQ(v.labels[1], "Player");
    EXPECT_TRUE(v.mediaPlayer);
    EXPECT_TRUE(Volumes("\n/default main_flash \ndone\n").names.empty());
    EXPECT_TRUE(Volumes("").names.empty());
}

TEST(ParseVolumeList, GivesEveryVolumeItsOwnLabel) {
    // "MP3" and "a" share a label, and a device may name a volume like the main one.
    const VolumeList v = Volumes("\n/default main_flash \n/MP3 x \n/a y \n/c Main \ndone\n");
    ASSERT_EQ(v.labels.size(), 3u);
    EXPECT_EQ(v.labels[0], "Player");
    EXPECT_EQ(v.labels[1], "Player (2)");
    EXPECT_EQ(v.labels[2], "Main (2)");
    EXPECT_FALSE(v.mediaPlayer); // the later "a" wins
    bool mapped = false;
    EXPECT_EQ(MapVolumeLabel("Player (2)", kTexts, v, mapped), "a");
    EXPECT_TRUE(mapped);
    EXPECT_EQ(MapVolumeLabel("Main", kTexts, v, mapped), "default");
}

TEST(MapToDevicePath, MapsLabelsAndSeparators) {
    const VolumeList v = Volumes("\n/default main_flash \n/b Card \ndone\n");
    std::string out;
    EXPECT_TRUE(MapToDevicePath("Main\\Games\\x.app", kTexts, v, out));
    EXPECT_EQ(out, "/default/Games/x.app");
    EXPECT_TRUE(MapToDevicePath("Card\\Docs\\a.txt", kTexts, v, out));
    EXPECT_EQ(out, "/b/Docs/a.txt");
    EXPECT_TRUE(MapToDevicePath("Main\\a.txt", kTexts, v, out));
    EXPECT_EQ(out, "/default/a.txt");
    EXPECT_TRUE(MapToDevicePath("default/x/b.txt", kTexts, v, out)); // a device path maps to itself
    EXPECT_EQ(out, "/default/x/b.txt");
    EXPECT_FALSE(MapToDevicePath("Stick\\a.txt", kTexts, v, out));
    EXPECT_EQ(out, "/Stick/a.txt");
    EXPECT_TRUE(MapToDevicePath("Main\\Games\\\\x", kTexts, v, out)); // one trailing separator dropped
    EXPECT_EQ(out, "/default/Games/x");
}

TEST(IsSafeConsolePath, RefusesQuotesOptionsAndControlCharacters) {
    EXPECT_TRUE(IsSafeConsolePath("/default/a b/c.txt"));
    EXPECT_FALSE(IsSafeConsolePath("/default/a\" -f \"b"));
    EXPECT_FALSE(IsSafeConsolePath("/default/$pipe=3"));
    EXPECT_FALSE(IsSafeConsolePath(std::string("/default/a\nb")));
}

TEST(InsertReplyPipe, PutsThePipeAfterTheFirstWord) {
    EXPECT_EQ(InsertReplyPipe("sysinfo "), "sysinfo $pipe=15 ");
    EXPECT_EQ(InsertReplyPipe("ls /x"), "ls $pipe=15 /x");
    EXPECT_EQ(InsertReplyPipe("reboot"), "reboot $pipe=15 ");
    EXPECT_EQ(InsertReplyPipe(""), " $pipe=15 ");
}

TEST(Sysinfo, ReadsValuesAndFormatsTheDeviceInformation) {
    const std::string reply = "\nblock_size(bytes): 512\nblocks_total: 2048\nfree_blocks: 100\ndone\n";
    EXPECT_EQ(SysinfoValue(reply, "block_size(bytes)"), 512);
    EXPECT_EQ(SysinfoValue(reply, "blocks_total"), 2048);
    EXPECT_EQ(SysinfoValue(reply, "free_blocks"), 100);
    EXPECT_EQ(SysinfoValue(reply, "missing"), 0);
    EXPECT_EQ(SysinfoValue("free_blocks: 77", "free_blocks"), 77); // last line without a line feed
    std::string text;
    ASSERT_TRUE(FormatDeviceInfo("a:1\nb:2\nc:3", text));
    EXPECT_EQ(text, "a=1|b=2|c=3");
    ASSERT_TRUE(FormatDeviceInfo("\na:1\n\nnocolon\nk:v:w\n", text));
    EXPECT_EQ(text, "a=1|nocolon=|k=v");
    EXPECT_FALSE(FormatDeviceInfo("\n\n", text));
}

TEST(ReplyReportsFailure, LooksAtTheStatusLineOnly) {
    EXPECT_TRUE(ReplyReportsFailure("\nno such volume\nfail\n"));
    EXPECT_TRUE(ReplyReportsFailure("fail"));
    EXPECT_FALSE(ReplyReportsFailure("\nfailures: 0\ndone\n"));
    EXPECT_FALSE(ReplyReportsFailure(""));
}

} // namespace
} // namespace devlink15
