#include "MailFields.h"
#include <gtest/gtest.h>
#include <cstring>

namespace tv::mail {
namespace {

TEST(MailFieldsTest, AttachmentDescriptorsRoundTrip) {
    std::string descriptor;
    AppendAttachmentEntry(descriptor, "a.txt", "00000001.att");
    AppendAttachmentEntry(descriptor, "b c.bin", "00000002.att");
    EXPECT_EQ(descriptor, "a.txt>/default/System/EMAIL/00000001.att|b c.bin>/default/System/EMAIL/00000002.att");
    std::string ended = "x>/y|";
    AppendAttachmentEntry(ended, "n", "s");
    EXPECT_EQ(ended, "x>/y|n>/default/System/EMAIL/s");
    const std::vector<AttachmentEntry> entries = ParseAttachmentDescriptor(descriptor + "||broken");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].name, "b c.bin");
    EXPECT_EQ(entries[1].devicePath, "/default/System/EMAIL/00000002.att");
    EXPECT_TRUE(ParseAttachmentDescriptor("").empty());
}

TEST(MailFieldsTest, AddressesAndPaths) {
    EXPECT_EQ(AngleAddress("Ann <ann@example.org>"), "ann@example.org");
    EXPECT_EQ(AngleAddress("ann@example.org"), "ann@example.org");
    EXPECT_EQ(AngleAddress("odd > order <x"), "odd > order <x");
    EXPECT_EQ(LastPathElement("C:\\a\\b.txt"), "b.txt");
    EXPECT_EQ(LastPathElement("/default/x/y.att"), "y.att");
    EXPECT_EQ(LastPathElement("plain"), "plain");
}

TEST(MailFieldsTest, TheTableFileComesOnlyFromAReadableCatalog) {
    std::vector<uint8_t> catalog(71, 0);
    std::memcpy(catalog.data(), "ZvDB", 4);
    catalog[7] = 1;
    catalog[35] = 1;
    catalog[36] = 0x12;
    catalog[37] = 0x34;
    catalog[38] = 0xAB;
    catalog[39] = 0x0C;
    EXPECT_EQ(FirstTableFileName(catalog), "1234AB0C.t");
    std::vector<uint8_t> bad = catalog;
    bad[35] = 0; // no table
    EXPECT_FALSE(FirstTableFileName(bad));
    bad = catalog;
    bad[7] = 2;
    EXPECT_FALSE(FirstTableFileName(bad));
    bad = catalog;
    bad[0] = 'X';
    EXPECT_FALSE(FirstTableFileName(bad));
    EXPECT_FALSE(FirstTableFileName(std::span<const uint8_t>(catalog).first(39)));
}

// A name already on the device is drawn again (names compared without case); when every draw
// gives a name in use, the drawing ends without a name instead of going on for ever.
TEST(AttachmentNames, NamesInUseAreDrawnAgainABoundedNumberOfTimes) {
    AttachmentNames names;
    names.Use("00000007.ATT");
    std::vector<int> draws = {7, 7, 42};
    size_t next = 0;
    EXPECT_EQ(names.Draw([&] { return draws[next++ % draws.size()]; }), "00000042.att");
    EXPECT_EQ(next, 3u);
    int calls = 0;
    EXPECT_FALSE(names.Draw([&] { return ++calls, 42; })) << "00000042.att is taken now";
    EXPECT_GT(calls, 1);
    EXPECT_LE(calls, 100000);
}

} // namespace
} // namespace tv::mail
