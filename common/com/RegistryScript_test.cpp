#include "Handles.h"
#include "RegistryScript.h"
#include <gtest/gtest.h>

using namespace tv::com;

namespace {

const wchar_t kTestRoot[] = L"Software\\TavrilonToolkitTest";

bool KeyExists(const std::wstring& path) {
    UniqueHKey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

std::wstring ReadText(const std::wstring& path, const wchar_t* name) {
    wchar_t buffer[512] = {};
    DWORD size = sizeof(buffer);
    if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return L"<missing>";
    return buffer;
}

class RegistryScriptTest : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kTestRoot); }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kTestRoot);
        RegDeleteKeyW(HKEY_CURRENT_USER, kTestRoot);
    }
    std::wstring Path(const std::wstring& rest) { return std::wstring(kTestRoot) + L"\\" + rest; }
};

std::vector<RegKey> SampleScript() {
    return {{kTestRoot, KeyMode::NoRemove, {}, {
        {L"Owned", KeyMode::ForceRemove, {{L"", std::wstring(L"%MODULE%")}, {L"Count", DWORD{7}}},
         {{L"Child", KeyMode::Normal, {{L"Name", std::wstring(L"child of %MODULE%")}}, {}}}},
        {L"Shared", KeyMode::NoRemove, {}, {{L"Mine", KeyMode::Normal, {}, {}}}},
        {L"Plain", KeyMode::Normal, {{L"Value", std::wstring(L"x")}}, {}},
    }}};
}

} // namespace

TEST_F(RegistryScriptTest, RegistersValuesWithSubstitutions) {
    RegistryScript script(HKEY_CURRENT_USER, SampleScript(), {{L"%MODULE%", L"C:\\mod.dll"}});
    ASSERT_EQ(S_OK, script.Register());
    EXPECT_EQ(L"C:\\mod.dll", ReadText(Path(L"Owned"), nullptr));
    EXPECT_EQ(L"child of C:\\mod.dll", ReadText(Path(L"Owned\\Child"), L"Name"));
    DWORD count = 0, size = sizeof(count);
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CURRENT_USER, Path(L"Owned").c_str(), L"Count", RRF_RT_REG_DWORD,
                                          nullptr, &count, &size));
    EXPECT_EQ(7u, count);
}

TEST_F(RegistryScriptTest, BinaryValuesAreWrittenByteForByteAndRemoved) {
    RegistryScript script(HKEY_CURRENT_USER,
                          {{kTestRoot, KeyMode::NoRemove, {},
                            {{L"Shell", KeyMode::Normal, {{L"Attributes", RegBinary{0x00, 0x00, 0x00, 0xA0}}}, {}}}}});
    ASSERT_EQ(S_OK, script.Register());
    BYTE data[8] = {};
    DWORD type = 0, size = sizeof(data);
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CURRENT_USER, Path(L"Shell").c_str(), L"Attributes", RRF_RT_ANY,
                                          &type, data, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    ASSERT_EQ(4u, size);
    DWORD asNumber = 0;
    memcpy(&asNumber, data, sizeof(asNumber));
    EXPECT_EQ(0xA0000000u, asNumber);
    ASSERT_EQ(S_OK, script.Unregister());
    EXPECT_FALSE(KeyExists(Path(L"Shell")));
}

TEST_F(RegistryScriptTest, ForceRemoveReplacesAnExistingTreeOnRegistration) {
    UniqueHKey stale;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, Path(L"Owned\\Stale").c_str(), 0, nullptr, 0,
                                             KEY_WRITE, nullptr, stale.Put(), nullptr));
    stale.Reset();
    RegistryScript script(HKEY_CURRENT_USER, SampleScript(), {{L"%MODULE%", L"m"}});
    ASSERT_EQ(S_OK, script.Register());
    EXPECT_FALSE(KeyExists(Path(L"Owned\\Stale")));
    EXPECT_TRUE(KeyExists(Path(L"Owned\\Child")));
}

TEST_F(RegistryScriptTest, UnregistrationKeepsNoRemoveKeysAndForeignContent) {
    RegistryScript script(HKEY_CURRENT_USER, SampleScript(), {{L"%MODULE%", L"m"}});
    ASSERT_EQ(S_OK, script.Register());
    // Another component's content inside the shared key and inside a plain key.
    UniqueHKey foreign;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, Path(L"Shared\\Theirs").c_str(), 0, nullptr, 0,
                                             KEY_WRITE, nullptr, foreign.Put(), nullptr));
    foreign.Reset();
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, Path(L"Plain").c_str(), L"Other", REG_SZ, L"y", 4));

    ASSERT_EQ(S_OK, script.Unregister());
    EXPECT_FALSE(KeyExists(Path(L"Owned")));
    EXPECT_FALSE(KeyExists(Path(L"Shared\\Mine")));
    EXPECT_TRUE(KeyExists(Path(L"Shared\\Theirs")));
    EXPECT_TRUE(KeyExists(Path(L"Plain"))) << "a plain key with foreign values stays";
    EXPECT_EQ(L"<missing>", ReadText(Path(L"Plain"), L"Value"));
    EXPECT_TRUE(KeyExists(kTestRoot));
}

TEST_F(RegistryScriptTest, UnregistrationOfMissingKeysSucceeds) {
    RegistryScript script(HKEY_CURRENT_USER, SampleScript(), {});
    EXPECT_EQ(S_OK, script.Unregister());
}
