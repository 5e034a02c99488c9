#include "AllocationFaults.h"
#include "ZvLetterEnum.h"
#include <gtest/gtest.h>

namespace tv::mail {
namespace {

using com::ComPtr;

ComPtr<ZvLetterEnum> ThreeLetters() {
    ComPtr<ZvLetterEnum> letters;
    EXPECT_EQ(ZvLetterEnum::Create(letters), S_OK);
    letters->Append("a", "b", "one");
    letters->Append(nullptr, "c", "two");
    letters->Append("d", nullptr, nullptr);
    return letters;
}

TEST(ZvLetterEnum, EmptyEnumeratorEndsWithEFail) {
    ComPtr<ZvLetterEnum> letters;
    ASSERT_EQ(ZvLetterEnum::Create(letters), S_OK);
    ZVLETTER letter{};
    long fetched = 7;
    EXPECT_EQ(letters->Next(1, &letter, &fetched), E_FAIL);
    EXPECT_EQ(fetched, 0);
    EXPECT_EQ(letters->Skip(0), E_FAIL);
}

TEST(ZvLetterEnum, NextHandsOutOwnPointersAndClearAtLeavesAnEmptySlot) {
    auto letters = ThreeLetters();
    EXPECT_EQ(letters->ClearAt(1), S_OK);
    EXPECT_EQ(letters->ClearAt(3), E_UNEXPECTED);
    EXPECT_EQ(letters->ClearAt(-1), E_INVALIDARG);
    ZVLETTER letter{};
    long fetched = 0;
    ASSERT_EQ(letters->Next(1, &letter, &fetched), S_OK);
    EXPECT_STREQ(letter.strMessage, "one");
    ZVLETTER again{};
    letters->Reset();
    letters->Next(1, &again, &fetched);
    EXPECT_EQ(again.strMessage, letter.strMessage) << "the same pointer: the enumerator's own";
    ASSERT_EQ(letters->Next(1, &letter, &fetched), S_OK);
    EXPECT_TRUE(!letter.strFrom && !letter.strTo && !letter.strMessage);
    ASSERT_EQ(letters->Next(1, &letter, &fetched), S_OK);
    EXPECT_STREQ(letter.strFrom, "d");
    EXPECT_EQ(letter.strTo, nullptr);
    EXPECT_EQ(letters->Next(1, &letter, &fetched), E_FAIL);
}

TEST(ZvLetterEnum, ArgumentChecksAndSkip) {
    auto letters = ThreeLetters();
    ZVLETTER letter{};
    long fetched = 0;
    EXPECT_EQ(letters->Next(2, &letter, &fetched), E_INVALIDARG);
    EXPECT_EQ(letters->Next(1, nullptr, &fetched), E_POINTER);
    EXPECT_EQ(letters->Next(1, &letter, nullptr), E_POINTER);
    EXPECT_EQ(letters->Skip(3), E_FAIL) << "skipping exactly to the end is refused";
    EXPECT_EQ(letters->Skip(-1), E_INVALIDARG);
    EXPECT_EQ(letters->Skip(2), S_OK);
    ASSERT_EQ(letters->Next(1, &letter, &fetched), S_OK);
    EXPECT_STREQ(letter.strFrom, "d");
    EXPECT_EQ(letters->Clone(nullptr), E_POINTER);
    ComPtr<IZvEnumLetters> copy;
    ASSERT_EQ(letters->Clone(&copy), S_OK);
    copy->Reset();
    ASSERT_EQ(copy->Next(1, &letter, &fetched), S_OK);
    EXPECT_STREQ(letter.strMessage, "one");
}

char* TaskText(const char* text) {
    bool ok = true;
    return TaskCopy(text, ok);
}

// When the list cannot grow, the letter handed over is freed with its strings, not leaked.
TEST(ZvLetterEnum, AppendOwnedFreesTheLetterWhenTheListCannotGrow) {
    ComPtr<ZvLetterEnum> letters;
    ASSERT_EQ(ZvLetterEnum::Create(letters), S_OK);
    testing::TaskAllocationFault counting(0);
    ASSERT_TRUE(counting.Registered());
    ZVLETTER letter{};
    letter.strFrom = TaskText("from");
    letter.strTo = TaskText("to");
    letter.strMessage = TaskText("message");
    ASSERT_EQ(counting.Outstanding(), 3);
    testing::FailNthNew(2); // the record is the first allocation, the list's growth the second
    EXPECT_EQ(letters->AppendOwned(letter), E_OUTOFMEMORY);
    testing::FailNthNew(0);
    EXPECT_EQ(counting.Outstanding(), 0) << "the letter's strings were freed";
    EXPECT_EQ(letters->Count(), 0u);
}

} // namespace
} // namespace tv::mail
