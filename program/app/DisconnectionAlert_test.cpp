#include "DisconnectionAlert.h"
#include <gtest/gtest.h>

namespace tv::app {
namespace {

TEST(DisconnectionAlert, LabelAndHelpTopicFollowTheDevice) {
    EXPECT_EQ(DisconnectionAlertLabel("Pocket", "@TDPocket"), L"Pocket(@TDPocket)");
    // The same text twice, or two texts of 25 characters together, show the id alone.
    EXPECT_EQ(DisconnectionAlertLabel("@TDPocket", "@TDPocket"), L"@TDPocket");
    EXPECT_EQ(DisconnectionAlertLabel("Twelve chars", "@AB456789012"), L"Twelve chars(@AB456789012)");
    EXPECT_EQ(DisconnectionAlertLabel("Thirteen char", "@AB456789012"), L"@AB456789012");

    EXPECT_EQ(DisconnectionAlertHelpLanguage("@XE0001"), 2057);
    EXPECT_EQ(DisconnectionAlertHelpLanguage("@AB0001"), 2057);
    EXPECT_EQ(DisconnectionAlertHelpLanguage("@AA0001"), 1033);
    EXPECT_EQ(DisconnectionAlertHelpLanguage("@TD0001"), 1033);
    EXPECT_EQ(DisconnectionAlertHelpLanguage("XE"), 1033);
}

} // namespace
} // namespace tv::app
