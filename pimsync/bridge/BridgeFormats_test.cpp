#include "BridgeFormats.h"
#include <gtest/gtest.h>

namespace tv::pimbridge {
namespace {

TEST(EntryIdText, EncodesLowHalfFirstAndRoundTrips) {
    EXPECT_EQ(EncodeEntryId({0x01, 0xA2}), "BACK");
    std::vector<uint8_t> all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<uint8_t>(b));
    auto decoded = DecodeEntryId(EncodeEntryId(all));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, all);
}

TEST(EntryIdText, RefusesWhatIsNoEntryId) {
    EXPECT_FALSE(DecodeEntryId(""));
    EXPECT_FALSE(DecodeEntryId("BAC"));
    EXPECT_FALSE(DecodeEntryId("BQ"));
    EXPECT_FALSE(DecodeEntryId("ba"));
    EXPECT_FALSE(DecodeEntryId("B@"));
    EXPECT_TRUE(DecodeEntryId("PP"));
}

TEST(FreshNames, UseLowerCaseHexWithoutLeadingZeros) {
    EXPECT_EQ(AttachmentName(0x00ABC123), "abc123.att");
    EXPECT_EQ(DeviceItemId(0x0A1B2C3D, 0x004E, 0xF00F), "1b2c3d4ef00f");
}

TEST(MailFilter, AgeIsComparedAsARealNumberOfDays) {
    FilterSettings settings;
    EXPECT_TRUE(MessagePasses(settings, 2.9 * 86400, 10));
    EXPECT_FALSE(MessagePasses(settings, 3 * 86400, 10));
    EXPECT_TRUE(MessagePasses(settings, -86400, 10)); // dated in the future
    settings.days = 0;
    EXPECT_FALSE(MessagePasses(settings, 0, 10));
}

TEST(MailFilter, SizeLimitAppliesOnlyWithItsBit) {
    FilterSettings settings;
    EXPECT_TRUE(MessagePasses(settings, 0, 5000));
    settings.attributes = kLimitSize;
    EXPECT_TRUE(MessagePasses(settings, 0, 1023));
    EXPECT_FALSE(MessagePasses(settings, 0, 1024));
}

TEST(BodyCut, KeepsExactlyCutMessageSizeCharacters) {
    FilterSettings settings;
    settings.cutMessageSize = 4;
    const std::u16string marker = u"[cut]";
    EXPECT_EQ(CutBody(settings, std::u16string(u"abcdefgh"), marker), u"abcdefgh"); // bit 3 clear
    settings.attributes = kCutBodies;
    EXPECT_EQ(CutBody(settings, std::u16string(u"abcd"), marker), u"abcd");
    EXPECT_EQ(CutBody(settings, std::u16string(u"abcde"), marker), u"abcd[cut]");
}

} // namespace
} // namespace tv::pimbridge
