#include "AssocManager.h"
#include "Handles.h"
#include "LanguageLibrary.h"
#include <gtest/gtest.h>

namespace tv::assoc {
namespace {

class AssocManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        language_.Reset(LoadLanguageLibrary(GetModuleHandleW(nullptr)));
        ASSERT_TRUE(language_) << "Zv0409.dll beside the test";
        ASSERT_HRESULT_SUCCEEDED(com::MakeComObject(manager_, language_.Get()));
    }
    com::ComApartment apartment_;
    com::UniqueModule language_;
    com::ComPtr<AssocManager> manager_;
};

TEST_F(AssocManagerTest, UnknownTypeGetsGenericTextAndShellIcon) {
    ZVASSOCIATION record{};
    record.dwZvFlag = 7;
    char extension[] = ".xyz";
    ASSERT_EQ(manager_->GetAssociation(extension, &record), S_OK);
    ASSERT_NE(record.strDescription, nullptr);
    EXPECT_STRNE(record.strDescription, "");
    ASSERT_NE(record.strIconSrc, nullptr);
    EXPECT_STREQ(record.strIconSrc, "shell32.dll");
    EXPECT_EQ(record.dwIconIdx, 0);
    EXPECT_EQ(record.dwZvFlag, 0);
    EXPECT_EQ(record.strExtension, nullptr);
    CoTaskMemFree(record.strDescription);
    CoTaskMemFree(record.strIconSrc);
}

TEST_F(AssocManagerTest, NullArgumentsAndUnhandledFiles) {
    ZVASSOCIATION record{};
    char empty[] = "";
    EXPECT_EQ(manager_->GetAssociation(nullptr, &record), E_POINTER);
    EXPECT_EQ(manager_->GetAssociation(empty, nullptr), E_POINTER);
    EXPECT_EQ(manager_->Open(nullptr), E_POINTER);
    char path[] = "C:\\file.txt";
    EXPECT_EQ(manager_->Open(path), S_FALSE);
}

TEST(AssocManagerNoLanguage, GenericTextMissingFails) {
    com::ComApartment apartment;
    com::ComPtr<AssocManager> manager;
    ASSERT_HRESULT_SUCCEEDED(com::MakeComObject(manager, static_cast<HMODULE>(nullptr)));
    ZVASSOCIATION record{};
    char extension[] = ".txt";
    EXPECT_EQ(manager->GetAssociation(extension, &record), E_FAIL);
    EXPECT_EQ(record.strIconSrc, nullptr);
}

} // namespace
} // namespace tv::assoc
