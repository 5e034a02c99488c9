#include "Crc32.h"
#include <gtest/gtest.h>
#include <string_view>

namespace {

TEST(Crc32Test, MatchesTheStandardCheckValues) {
    constexpr std::string_view text = "123456789";
    EXPECT_EQ(tv::portable::Crc32({reinterpret_cast<const uint8_t*>(text.data()), text.size()}), 0xCBF43926u);
    EXPECT_EQ(tv::portable::Crc32({}), 0u);
}

} // namespace
