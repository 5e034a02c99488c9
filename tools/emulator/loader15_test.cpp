#include "loader15.h"

#include <gtest/gtest.h>

#include "mcp_frame.h"

namespace zvemu {
namespace {

uint32_t U32(const std::vector<uint8_t>& bytes, size_t at) {
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (uint32_t{bytes[at + 3]} << 24);
}

LoaderConfig Config(const std::string& faults) {
    std::map<std::string, std::string> keys = {{"boot", "1"}, {"id", "UPDATED00001"}, {"short", "UPD0001"},
                                               {"root", "/tmp"}, {"version", "2.0.0"}};
    if (!faults.empty())
        keys[faults.substr(0, faults.find('='))] = faults.substr(faults.find('=') + 1);
    LoaderConfig config;
    std::string error;
    EXPECT_TRUE(ParseLoaderConfig(keys, config, error)) << error;
    return config;
}

TEST(Loader15, TakesTheImageThenReboots) {
    Loader15 loader(4, Config(""));
    const auto now = Clock::now();
    loader.OnHostAttached(now);
    auto events = loader.TakeDueEvents(now);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, LoaderEvent::Kind::Plug);

    const std::vector<uint8_t> image = {1, 2, 3, 4, 5};
    const ImageRecord record = loader.OnImage(image, now);
    EXPECT_EQ(record.length, 5u);
    EXPECT_EQ(record.crc, Crc32(image));
    EXPECT_EQ(record.accepted, 5u);
    events = loader.TakeDueEvents(now);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, LoaderEvent::Kind::Answer);
    EXPECT_EQ(U32(events[0].bytes, 0), 0u);
    EXPECT_EQ(U32(events[0].bytes, 4), 5u);
    ASSERT_TRUE(loader.NextDeadline());
    events = loader.TakeDueEvents(now + std::chrono::seconds(2));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, LoaderEvent::Kind::Unplug);
    EXPECT_EQ(events[1].kind, LoaderEvent::Kind::Boot);
    EXPECT_EQ(loader.config().bootKeys.at("version"), "2.0.0");
}

TEST(Loader15, FaultsRefuseShortenDelayOrKeepTheLoader) {
    const std::vector<uint8_t> image(100, 7);
    const auto now = Clock::now();
    {
        Loader15 loader(4, Config("refuse=1"));
        EXPECT_TRUE(loader.OnImage(image, now).refused);
        const auto events = loader.TakeDueEvents(now + std::chrono::seconds(5));
        ASSERT_EQ(events.size(), 1u); // the refusal only: no reboot
        EXPECT_EQ(U32(events[0].bytes, 0), 1u);
    }
    {
        Loader15 loader(4, Config("shortby=1"));
        EXPECT_EQ(loader.OnImage(image, now).accepted, 99u);
        EXPECT_EQ(loader.TakeDueEvents(now + std::chrono::seconds(5)).size(), 1u);
    }
    {
        Loader15 loader(4, Config("delay=1500"));
        loader.OnImage(image, now);
        EXPECT_TRUE(loader.TakeDueEvents(now + std::chrono::milliseconds(1000)).empty());
        EXPECT_EQ(loader.TakeDueEvents(now + std::chrono::milliseconds(1500)).size(), 1u);
    }
    {
        Loader15 loader(4, Config("noreboot=1"));
        loader.OnImage(image, now);
        EXPECT_EQ(loader.TakeDueEvents(now + std::chrono::seconds(5)).size(), 1u);
    }
    LoaderConfig config;
    std::string error;
    EXPECT_FALSE(ParseLoaderConfig({{"delay", "x"}}, config, error));
    EXPECT_FALSE(ParseLoaderConfig({{"colour", "red"}}, config, error));
}

} // namespace
} // namespace zvemu
