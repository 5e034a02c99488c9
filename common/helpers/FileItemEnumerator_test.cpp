#include "FileItemEnumerator.h"
#include "ComPtr.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

using tv::FileItemEnumerator;
using tv::FileItemRecord;
using tv::com::ComPtr;

namespace {

FileItemRecord Record(const std::string& name, long size) {
    FileItemRecord record;
    record.type = 4;
    record.nSize = size;
    record.strName = name;
    record.strDesc = "File";
    record.strIconFile = "shell32.dll";
    return record;
}

ComPtr<IZvEnumFileItems> Listing(const std::vector<std::string>& names) {
    ComPtr<FileItemEnumerator> items;
    EXPECT_EQ(S_OK, tv::com::MakeComObject(items));
    long size = 0;
    for (const std::string& name : names)
        items->Add(Record(name, ++size));
    ComPtr<IZvEnumFileItems> enumerator;
    EXPECT_EQ(S_OK, items->QueryInterface(__uuidof(IZvEnumFileItems),
                                          reinterpret_cast<void**>(enumerator.ReleaseAndGetAddressOf())));
    return enumerator;
}

void Free(ZVFILEITEM& item) {
    CoTaskMemFree(item.strName);
    CoTaskMemFree(item.strDesc);
    CoTaskMemFree(item.strIconFile);
}

// The names the next `count` items carry, "" for a null name; the copies are freed.
std::vector<std::string> NextNames(IZvEnumFileItems* items, unsigned long count, HRESULT expected) {
    std::vector<ZVFILEITEM> raw(count);
    long fetched = -1;
    EXPECT_EQ(expected, items->Next(count, raw.data(), &fetched));
    std::vector<std::string> names;
    for (long i = 0; i < fetched; ++i) {
        names.push_back(raw[i].strName ? raw[i].strName : "");
        Free(raw[i]);
    }
    return names;
}

} // namespace

TEST(FileItemEnumerator, NextHandsOutFreshCopiesAndStopsAtTheEnd) {
    ComPtr<IZvEnumFileItems> items = Listing({"a.txt", "b.txt", "c.txt"});
    ZVFILEITEM first{};
    ASSERT_EQ(S_OK, items->Next(1, &first, nullptr));
    EXPECT_STREQ("a.txt", first.strName);
    EXPECT_STREQ("File", first.strDesc);
    EXPECT_EQ(1, first.nSize);
    ASSERT_EQ(S_OK, items->Reset());
    ZVFILEITEM again{};
    ASSERT_EQ(S_OK, items->Next(1, &again, nullptr));
    EXPECT_STREQ(first.strName, again.strName);
    EXPECT_NE(first.strName, again.strName); // each receiver owns its own copy
    Free(first);
    Free(again);

    EXPECT_EQ((std::vector<std::string>{"b.txt", "c.txt"}), NextNames(items.Get(), 5, S_OK));
    EXPECT_TRUE(NextNames(items.Get(), 1, S_FALSE).empty());
    ZVFILEITEM none[2];
    EXPECT_EQ(E_POINTER, items->Next(2, none, nullptr));
}

TEST(FileItemEnumerator, SkipClampsAtTheEndAndResetStartsOver) {
    ComPtr<IZvEnumFileItems> items = Listing({"a", "b", "c"});
    EXPECT_EQ(S_OK, items->Skip(2));
    EXPECT_EQ((std::vector<std::string>{"c"}), NextNames(items.Get(), 3, S_OK));
    EXPECT_EQ(S_OK, items->Skip(100));
    EXPECT_TRUE(NextNames(items.Get(), 1, S_FALSE).empty());
    EXPECT_EQ(S_OK, items->Reset());
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), NextNames(items.Get(), 3, S_OK));
}

TEST(FileItemEnumerator, CloneKeepsThePositionAndMovesOnItsOwn) {
    ComPtr<IZvEnumFileItems> items = Listing({"a", "b", "c"});
    ASSERT_EQ(S_OK, items->Skip(1));
    ComPtr<IZvEnumFileItems> clone;
    ASSERT_EQ(S_OK, items->Clone(clone.ReleaseAndGetAddressOf()));
    ASSERT_TRUE(clone);
    EXPECT_NE(clone.Get(), items.Get());
    EXPECT_EQ((std::vector<std::string>{"b", "c"}), NextNames(clone.Get(), 3, S_OK));
    EXPECT_EQ((std::vector<std::string>{"b"}), NextNames(items.Get(), 1, S_OK));
    EXPECT_EQ(E_POINTER, items->Clone(nullptr));
}

TEST(FileItemEnumerator, StringsLeftOutComeOutAsNull) {
    ComPtr<FileItemEnumerator> items;
    ASSERT_EQ(S_OK, tv::com::MakeComObject(items));
    FileItemRecord record = Record("x", 1);
    record.nullDesc = true;
    record.nullIconFile = true;
    items->Add(record);
    ZVFILEITEM item{};
    long fetched = 0;
    ASSERT_EQ(S_OK, items->Next(1, &item, &fetched));
    EXPECT_EQ(1, fetched);
    EXPECT_STREQ("x", item.strName);
    EXPECT_EQ(nullptr, item.strDesc);
    EXPECT_EQ(nullptr, item.strIconFile);
    Free(item);
}
