#include "Registration.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string MachineValue(const char* key, const char* name) {
    char text[1024] = {};
    DWORD size = sizeof text;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return "<none>";
    return text;
}

// The start-up value is the machine's: written from the install's Image with /NoSplash, and
// removed again.
TEST(Autorun, TheMachineStartsTheInstalledProgramWithoutSplash) {
    const std::string image = MachineValue(tv::app::kSettingsKey, "Image");
    const bool hadValue = tv::app::IsAutorunEnabled();
    const std::string before = MachineValue(kRunKey, "Tavrilon");
    // The test prefix's install wrote the Image the program is started from.
    ASSERT_NE(image, "<none>");

    ASSERT_EQ(tv::app::EnableAutorun(), S_OK);
    EXPECT_TRUE(tv::app::IsAutorunEnabled());
    EXPECT_EQ(MachineValue(kRunKey, "Tavrilon"), image + " /NoSplash");
    char user[16] = {};
    DWORD size = sizeof user;
    EXPECT_NE(RegGetValueA(HKEY_CURRENT_USER, kRunKey, "Tavrilon", RRF_RT_REG_SZ, nullptr, user, &size),
              ERROR_SUCCESS);

    EXPECT_EQ(tv::app::DisableAutorun(), S_OK);
    EXPECT_FALSE(tv::app::IsAutorunEnabled());
    EXPECT_EQ(tv::app::DisableAutorun(), S_FALSE);

    if (hadValue)
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, kRunKey, "Tavrilon", REG_SZ, before.c_str(),
                        static_cast<DWORD>(before.size() + 1));
}

} // namespace
