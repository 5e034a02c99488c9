#include "Handles.h"
#include "LanguageLibrary.h"
#include "LangIds.h"
#include <gtest/gtest.h>

namespace {

const char kKey[] = "Software\\Zelvan\\Tavrilon";

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string ExeFolder() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.rfind('\\'));
}

// Runs one test with LangID set as given (or removed), and restores the installed value.
class LangIdScope {
public:
    explicit LangIdScope(const DWORD* value) {
        size_ = sizeof(saved_);
        had_ = RegGetValueA(HKEY_LOCAL_MACHINE, kKey, "LangID", RRF_RT_REG_DWORD, nullptr, &saved_, &size_) ==
               ERROR_SUCCESS;
        Set(value);
    }
    ~LangIdScope() { Set(had_ ? &saved_ : nullptr); }

private:
    static void Set(const DWORD* value) {
        tv::com::UniqueHKey key;
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.Put(), nullptr);
        if (value)
            RegSetValueExA(key.Get(), "LangID", 0, REG_DWORD, reinterpret_cast<const BYTE*>(value), sizeof(*value));
        else
            RegDeleteValueA(key.Get(), "LangID");
    }
    DWORD saved_ = 0, size_ = 0;
    bool had_ = false;
};

} // namespace

// One test: the language id is cached for the process once it is known, so the order matters.
TEST(LanguageLibrary, FollowsLangIdAndFailsWhenTheLibraryIsAbsent) {
    {
        LangIdScope none(nullptr);
        EXPECT_EQ(0u, tv::ReadLangId());
        const std::string path = tv::BuildLanguageLibraryPath(nullptr);
        EXPECT_TRUE(EndsWith(path, "\\Zv0000.dll")) << path;
        EXPECT_EQ(ExeFolder() + "\\Zv0000.dll", path);
        EXPECT_EQ(nullptr, tv::LoadLanguageLibrary(nullptr));
    }
    {
        const DWORD russian = 1049;
        LangIdScope set(&russian);
        EXPECT_EQ(1049u, tv::ReadLangId());
        const std::string path = tv::BuildLanguageLibraryPath(nullptr);
        EXPECT_TRUE(EndsWith(path, "\\Zv0419.dll")) << path;
        EXPECT_EQ(nullptr, tv::LoadLanguageLibrary(nullptr)) << "no Zv0419.dll beside the module";

        const std::string english = ExeFolder() + "\\Zv0409.dll";
        ASSERT_TRUE(CopyFileA(english.c_str(), path.c_str(), FALSE)) << "needs Zv0409.dll beside the test";
        HMODULE library = tv::LoadLanguageLibrary(nullptr);
        ASSERT_NE(nullptr, library);
        char text[128] = {};
        EXPECT_GT(LoadStringA(library, IDS_DEVICE_DESCRIPTION_15, text, sizeof(text)), 0);
        FreeLibrary(library);
        DeleteFileA(path.c_str());
    }
    {
        // Cached: a later change of the value is not seen by this process.
        const DWORD english = 1033;
        LangIdScope set(&english);
        EXPECT_EQ(1049u, tv::ReadLangId());
    }
}

TEST(LanguageLibrary, ModuleWithoutAFileNameGivesAnEmptyPath) {
    EXPECT_EQ("", tv::BuildLanguageLibraryPath(reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x10))));
    EXPECT_EQ(nullptr, tv::LoadLanguageLibrary(reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x10))));
}
