#include "NamespaceLink.h"
#include <gtest/gtest.h>
#include <cstring>
#include <vector>

namespace {

// Builds an item-identifier list from (signature, name) pairs the way the Explorer folder lays
// its items out; a terminating zero byte count ends it.
std::vector<BYTE> MakeList(const std::vector<std::pair<const char*, const char*>>& items) {
    std::vector<BYTE> bytes;
    for (const auto& [signature, name] : items) {
        std::vector<BYTE> item(tv::kNamespaceItemNameOffset + std::strlen(name) + 1, 0);
        std::memcpy(item.data() + 2, signature, std::strlen(signature) + 1);
        std::memcpy(item.data() + tv::kNamespaceItemNameOffset, name, std::strlen(name) + 1);
        const USHORT cb = static_cast<USHORT>(item.size());
        std::memcpy(item.data(), &cb, sizeof(cb));
        bytes.insert(bytes.end(), item.begin(), item.end());
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

PCUIDLIST_RELATIVE AsList(const std::vector<BYTE>& bytes) {
    return reinterpret_cast<PCUIDLIST_RELATIVE>(bytes.data());
}

} // namespace

TEST(PidlToPath, JoinsNamespaceNamesWithBackslashes) {
    auto list = MakeList({{"ZVL", "Dev"}, {"ZVL", "Games"}});
    EXPECT_EQ("Dev\\Games", tv::PidlToPath(AsList(list)));
    EXPECT_EQ("Dev\\Games", tv::PidlToPathSkipping(AsList(list)));
    EXPECT_EQ("", tv::PidlToPath(nullptr));
}

TEST(PidlToPath, StopsAtTheFirstForeignItemWhileSkippingPassesOver) {
    auto list = MakeList({{"ZVL", "Dev"}, {"XYZ", "Other"}, {"ZVL", "Games"}});
    EXPECT_EQ("Dev\\", tv::PidlToPath(AsList(list)));
    EXPECT_EQ("Dev\\Games", tv::PidlToPathSkipping(AsList(list)));
    auto leadingForeign = MakeList({{"ABC", "My Computer"}, {"ZVL", "Dev"}});
    EXPECT_EQ("", tv::PidlToPath(AsList(leadingForeign)));
    EXPECT_EQ("Dev", tv::PidlToPathSkipping(AsList(leadingForeign)));
}

TEST(PidlToPath, ReadsNoFurtherThanAnItemsOwnByteCount) {
    // A namespace item whose name is not terminated inside the item.
    std::vector<BYTE> bytes(tv::kNamespaceItemNameOffset + 3 + 2, 0);
    const USHORT cb = static_cast<USHORT>(tv::kNamespaceItemNameOffset + 3);
    std::memcpy(bytes.data(), &cb, sizeof(cb));
    std::memcpy(bytes.data() + 2, "ZVL", 4);
    std::memcpy(bytes.data() + tv::kNamespaceItemNameOffset, "abc", 3);
    EXPECT_EQ("abc", tv::PidlToPath(AsList(bytes)));
}

TEST(IsNamespaceItem, WantsSignatureAndAMinimumSize) {
    auto list = MakeList({{"ZVL", "x"}});
    EXPECT_TRUE(tv::IsNamespaceItem(&AsList(list)->mkid));
    BYTE tiny[8] = {5, 0, 'Z', 'V', 'L', 0, 0, 0};
    EXPECT_FALSE(tv::IsNamespaceItem(reinterpret_cast<const SHITEMID*>(tiny)));
}
