#include "Listing10.h"

#include <gtest/gtest.h>

namespace devlink10 {
namespace {

const char kMediumListing[] = "ls -l -t \"/b/*\"\r\n/b on flash\r\n"
                              "01.02.2003 04:05   123 /b/x.txt\r\n"
                              "28.02.2004 23:59   0 /b/root_a.app\r\n"
                              "---------------------------\r\n2 file(s)\r\nReady >\r\n";

TEST(ListingReply, ItemLinesBecomeRecordsAndItems) {
    std::string records;
    ASSERT_EQ(ParseListingReply("/default on flash\r\n01.02.2003 04:05   123 a.app\r\n"
                                "---------------------------\r\n",
                                &records),
              ParseResult::Ok);
    EXPECT_EQ(records, "a.app|123|.app|01.02.2003 04:05|");

    records.clear();
    ASSERT_EQ(ParseListingReply(kMediumListing, &records), ParseResult::Ok);
    auto items = SplitListingRecords(records);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].name, "/b/x.txt");
    EXPECT_EQ(items[1].name, "/b/root_a.app");
    EXPECT_EQ(items[1].size, "0");
    EXPECT_EQ(items[1].extension, ".app");
    EXPECT_EQ(items[1].dateTime, "28.02.2004 23:59");
}

TEST(ListingReply, ShapeErrors) {
    std::string records;
    EXPECT_EQ(ParseListingReply("x", nullptr), ParseResult::InvalidArgument);
    EXPECT_EQ(ParseListingReply("no medium\r\n---------------------------\r\n", &records), ParseResult::Unexpected);
    EXPECT_EQ(ParseListingReply("/default on flash\r\n0 file(s)\r\n", &records), ParseResult::Unexpected);
    // A line without its line feed, or without a size, is malformed.
    EXPECT_EQ(ParseListingReply("/default on flash\r\n01.02.2003 04:05 x---------------------------", &records),
              ParseResult::Unexpected);
    EXPECT_EQ(ParseListingReply("/default on flash\r\nnoblanks\r\n---------------------------", &records),
              ParseResult::Unexpected);
    // An empty item text lists nothing; a dash line before "flash" too.
    records.clear();
    EXPECT_EQ(ParseListingReply("/default on flash\r\n---------------------------\r\n0 file(s)", &records),
              ParseResult::Ok);
    EXPECT_EQ(ParseListingReply("---------------------------flash", &records), ParseResult::Ok);
    EXPECT_TRUE(records.empty());
    EXPECT_TRUE(SplitListingRecords("").empty());
}

TEST(ListingTime, TakenAsItStands) {
    uint64_t time = 0;
    ASSERT_TRUE(ListingTimeToFileTime("01.02.2003 04:05", time));
    // 2003-02-01 04:05:00 as a file time.
    EXPECT_EQ(time, 126885459000000000ULL);
    ASSERT_TRUE(ListingTimeToFileTime("01.01.1601 00:00", time));
    EXPECT_EQ(time, 0u);
    ASSERT_TRUE(ListingTimeToFileTime("29.02.2004 23:59", time));
    EXPECT_FALSE(ListingTimeToFileTime("29.02.2003 10:00", time));
    EXPECT_FALSE(ListingTimeToFileTime("01.13.2003 10:00", time));
    EXPECT_FALSE(ListingTimeToFileTime("01.02.2003", time));
    EXPECT_EQ(time, 0u);
}

TEST(MediaList, FoldersLabelsAndDevicePaths) {
    MediaList media;
    ParseMediaList("ls /*\r\n/default main_flash\r\n/MP3 player\r\n/b Card B\r\nReady >\r\n", media);
    ASSERT_EQ(media.folders, (std::vector<std::string>{"MP3", "b"}));
    EXPECT_EQ(media.labels, (std::vector<std::string>{"player", "Card B"}));

    std::string path;
    EXPECT_TRUE(ToDevicePath("Main\\a.app", "Main", media, path));
    EXPECT_EQ(path, "/default/a.app");
    EXPECT_TRUE(ToDevicePath("Main\\x\\y\\a.app", "Main", media, path));
    EXPECT_EQ(path, "/default/x/y/a.app");
    EXPECT_TRUE(ToDevicePath("Card B\\x.txt", "Main", media, path));
    EXPECT_EQ(path, "/b/x.txt");
    EXPECT_TRUE(ToDevicePath("Other\\x.txt", "Main", media, path));
    EXPECT_EQ(path, "/Other/x.txt");
    EXPECT_FALSE(ToDevicePath("a.app", "Main", media, path));

    // A last line without its line end keeps an empty label and ends the list.
    ParseMediaList("/default main_flash\r\n/c card", media);
    EXPECT_EQ(media.folders, std::vector<std::string>{"c"});
    EXPECT_EQ(media.labels, std::vector<std::string>{""});
    ParseMediaList("", media);
    EXPECT_TRUE(media.folders.empty());
}

TEST(ItemRules, SystemFilesAndSafeNames) {
    EXPECT_TRUE(IsSystemFile("Main\\x.dl"));
    EXPECT_TRUE(IsSystemFile("os.boot"));
    EXPECT_TRUE(IsSystemFile("Main\\root_menu.app"));
    EXPECT_TRUE(IsSystemFile("chat_x.app"));
    EXPECT_FALSE(IsSystemFile("root_menu.txt"));
    EXPECT_FALSE(IsSystemFile("Root_menu.app"));
    EXPECT_TRUE(IsSystemFile("Main\\zvos.bin"));
    EXPECT_FALSE(IsSystemFile("notes.txt"));

    EXPECT_TRUE(IsSafeDeviceName("a b.txt"));
    EXPECT_FALSE(IsSafeDeviceName("a\".txt"));
    EXPECT_FALSE(IsSafeDeviceName("a|b"));
    EXPECT_FALSE(IsSafeDeviceName("a\nrm x"));
}

TEST(Sysinfo, ValuesAndModel) {
    const std::string reply = "sysinfo : block_size(bytes):512\r\nsysinfo : blocks_total     :2043\r\n"
                              "sysinfo : free_blocks      :1000\r\nReady >\r\n";
    EXPECT_EQ(SysinfoValue(reply, "block_size(bytes)"), 512);
    EXPECT_EQ(SysinfoValue(reply, "blocks_total"), 2043);
    EXPECT_EQ(SysinfoValue(reply, "free_blocks"), 1000);
    EXPECT_EQ(SysinfoValue(reply, "missing"), 0);
    EXPECT_EQ(SysinfoValue("blocks_total: 99999999999\n", "blocks_total"), 2147483647);
    EXPECT_EQ(SysinfoValue("blocks_total: 12", "blocks_total"), 0);
    EXPECT_EQ(ModelFromSysinfo(reply), 119);
    EXPECT_EQ(ModelFromSysinfo("sysinfo : blocks_total     :1023\r\n"), 114);
    EXPECT_EQ(ModelFromSysinfo("sysinfo : blocks_total     :4095\r\n"), 0);
    EXPECT_EQ(ModelFromSysinfo(""), 0);
}

TEST(Cfg, EntriesAndDeviceInfoFields) {
    std::string text = "unchanged";
    EXPECT_EQ(ParseCfgReply("cfg\r\nmodel: 7\r\nReady >\r\n", text), CfgResult::Ok);
    EXPECT_EQ(text, "model= 7");
    text = "unchanged";
    EXPECT_EQ(ParseCfgReply("cfg\r\n\r\nReady >\r\n", text), CfgResult::Empty);
    EXPECT_EQ(text, "unchanged");
    EXPECT_EQ(ParseCfgReply("", text), CfgResult::Failed);
    EXPECT_EQ(ParseCfgReply("cfg\r\nmodel: 7\r\n", text), CfgResult::Failed);

    // Every line up to the prompt is kept, however long the reply.
    ASSERT_EQ(ParseCfgReply("cfg\r\nmodel: 7\r\nhardware version: B1\r\nrf channel: 5\r\nReady >\r\n", text),
              CfgResult::Ok);
    EXPECT_EQ(text, "model= 7|hardware version= B1|rf channel= 5");
    EXPECT_EQ(HardwareField(text), "= B1");
    EXPECT_EQ(HardwareLetter(HardwareField(text)), 'r');
    EXPECT_EQ(RfChannelField(text), "= 5");
    // The letter comes from the hardware field alone, not from the fields after it.
    EXPECT_EQ(HardwareLetter(HardwareField("hardware version= X|rf channel= 2")), 0);
    EXPECT_EQ(HardwareLetter("= 1.2"), 'w');
    EXPECT_EQ(VersionField("ver\r\nZvOS v. 1.0.3 built 15.03.2001\r\nReady >\r\n"),
              "\r\nZvOS v. 1.0.3 built 15.03.2001\r\n");
    EXPECT_EQ(ReadDecimal("  -12x"), -12);
    EXPECT_TRUE(ReplyReportsFailure("rm -f \"/default/x\"\r\nrm: no such file\r\nfail\r\nReady >\r\n"));
    EXPECT_FALSE(ReplyReportsFailure("cp -f \"/default/fail\" \"/default/b\"\r\nReady >\r\n"));
}

} // namespace
} // namespace devlink10
