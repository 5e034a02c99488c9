#include "set_container.h"

#include "big_endian.h"
#include "package_reader.h"
#include "package_test_support.h"
#include "package_writer.h"
#include "result_codes.h"
#include "test_data.h"

#include <gtest/gtest.h>

#include <random>

namespace caparchive {
namespace {

// A set whose items cover the chunking: empty, tiny, text over several chunks, random (stored
// chunks) and an exact multiple of the chunk size.
Package SampleSet() {
    Package set;
    set.option = kBackupSetOption;
    set.header = PackageHeader{45123.5, "Device backup set, version 1", "Backup of 20240101", ""};
    set.items.push_back({"Docs\\empty.txt", kItemKindFile, 7, 0, {}});
    set.items.push_back({"Docs\\one.txt", kItemKindFile, -1, 0x21, {'x'}});
    set.items.push_back(
        {"Docs\\book.txt", kItemKindFile, 1700000000, 0, testdata::MakeText(3 * kSetChunkSize + 1234, 1)});
    set.items.push_back(
        {"Music\\noise.mp3", kItemKindFile, 5, 8, testdata::MakeRandom(kSetChunkSize + 7, 2)});
    set.items.push_back({"zeros.bin", kItemKindFile, 0, 0, std::vector<uint8_t>(2 * kSetChunkSize, 0)});
    set.items.push_back({"@ABCDEFG", kItemKindFile, 0, 0, {}});
    return set;
}

std::vector<uint8_t> WriteSet(const Package& set) {
    VectorSink sink;
    EXPECT_EQ(WriteSetPackage(set, sink), kSuccess);
    return sink.Bytes();
}

TEST(SetContainerTest, SetsReadBackWholeAndSmallerThanTheirData) {
    const Package set = SampleSet();
    const std::vector<uint8_t> file = WriteSet(set);
    MemorySource source(file);
    EXPECT_TRUE(IsSetContainer(source));
    Package read;
    ASSERT_EQ(ReadPackage(source, read), kSuccess);
    ExpectSamePackage(read, set);
    // Text and zeros are compressed, the random chunks stored: well under the 7 MiB of data.
    EXPECT_LT(file.size(), 3 * kSetChunkSize);

    // A package file is no set container, and both read through the same calls.
    VectorSink packageSink;
    Package small = set;
    small.items.resize(2);
    ASSERT_EQ(WritePackage(small, packageSink), kSuccess);
    MemorySource packageSource(packageSink.Bytes());
    EXPECT_FALSE(IsSetContainer(packageSource));
    ASSERT_EQ(ReadPackage(packageSource, read), kSuccess);
    ExpectSamePackage(read, small);
}

TEST(SetContainerTest, ManyLongNamesThatNoPackageFileCanListFit) {
    Package set;
    set.option = kBackupSetOption;
    for (int i = 0; i < 20000; ++i) {
        std::string name = "Main\\Folder" + std::to_string(i / 200) + "\\" + std::to_string(i);
        name.resize(60, '_');
        set.items.push_back({name, kItemKindFile, i, 0, {static_cast<uint8_t>(i), 'a', 'b'}});
    }
    VectorSink packageSink;
    EXPECT_EQ(WritePackage(set, packageSink), kErrorPackageTooLarge);
    EXPECT_TRUE(packageSink.Bytes().empty());

    const std::vector<uint8_t> file = WriteSet(set);
    MemorySource source(file);
    PackageDirectory directory;
    ASSERT_EQ(ReadPackageDirectory(source, directory), kSuccess);
    ASSERT_EQ(directory.items.size(), 20000u);
    const ItemEntry* last = FindItem(directory, set.items.back().name, kItemKindFile);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->storedLong, 19999);
    std::vector<uint8_t> data;
    ASSERT_EQ(ReadItemData(source, *last, data), kSuccess);
    EXPECT_EQ(data, set.items.back().data);
}

// Gives `good` bytes, then fails.
class FailingSource final : public ItemDataSource {
  public:
    explicit FailingSource(size_t good) : good_(good) {}
    int Read(std::span<uint8_t> out) override {
        if (out.size() > good_)
            return kErrorReadFault;
        good_ -= out.size();
        std::fill(out.begin(), out.end(), uint8_t{'r'});
        return kSuccess;
    }

  private:
    size_t good_;
};

TEST(SetContainerTest, TheWriterStreamsItemsAndStopsAtTheFirstFailure) {
    VectorSink sink;
    SetWriter writer(sink);
    ASSERT_EQ(writer.Begin(), kSuccess);
    FailingSource whole(3 * kSetChunkSize);
    ASSERT_EQ(writer.Add("big", kItemKindFile, 1, 2, 3 * kSetChunkSize, whole), kSuccess);
    FailingSource broken(kSetChunkSize);
    EXPECT_EQ(writer.Add("broken", kItemKindFile, 0, 0, 2 * kSetChunkSize, broken), kErrorReadFault);
    FailingSource none(0);
    EXPECT_EQ(writer.Add(std::string("a\0b", 3), kItemKindFile, 0, 0, 0, none), kErrorInvalidParameter);

    VectorSink good;
    SetWriter second(good);
    ASSERT_EQ(second.Begin(), kSuccess);
    FailingSource data(3 * kSetChunkSize);
    ASSERT_EQ(second.Add("big", kItemKindFile, 1, 2, 3 * kSetChunkSize, data), kSuccess);
    ASSERT_EQ(second.Finish(kBackupSetOption, std::nullopt), kSuccess);
    MemorySource source(good.Bytes());
    Package read;
    ASSERT_EQ(ReadPackage(source, read), kSuccess);
    ASSERT_EQ(read.items.size(), 1u);
    EXPECT_EQ(read.items[0].data, std::vector<uint8_t>(3 * kSetChunkSize, 'r'));
    EXPECT_FALSE(read.header.has_value());
}

TEST(SetContainerTest, DamagedSetsAreRefusedWithoutHarm) {
    Package set = SampleSet();
    set.items[2].data.resize(20000);
    set.items[3].data.resize(3000);
    set.items[4].data.resize(5000);
    const std::vector<uint8_t> file = WriteSet(set);
    Package read;
    for (size_t cut = 0; cut < file.size(); cut += 1 + cut / 64) {
        const std::vector<uint8_t> truncated(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
        MemorySource source(truncated);
        ASSERT_NE(ReadPackage(source, read), kSuccess) << "cut at " << cut;
    }
    std::mt19937 random(7);
    for (int round = 0; round < 500; ++round) {
        std::vector<uint8_t> damaged = file;
        for (int i = 0; i < 3; ++i)
            damaged[random() % damaged.size()] = static_cast<uint8_t>(random());
        MemorySource source(damaged);
        const int result = ReadPackage(source, read);
        ASSERT_TRUE(result == kSuccess || result == kErrorInvalidData) << result;
    }
}

TEST(SetContainerTest, ItemsSharingOneBodyCannotMultiplyMemory) {
    // 3000 directory records that all name one body of 1 MiB of zeros.
    Package one;
    one.option = kBackupSetOption;
    one.items.push_back({"z", kItemKindFile, 0, 0, std::vector<uint8_t>(kSetChunkSize, 0)});
    std::vector<uint8_t> file = WriteSet(one);
    const uint64_t directoryOffset = LoadU64(file.data() + file.size() - 16);
    std::vector<uint8_t> record(file.begin() + static_cast<std::ptrdiff_t>(directoryOffset) + 4 + 1 + 4,
                                file.end() - 16);
    std::vector<uint8_t> rebuilt(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(directoryOffset));
    AppendU32(rebuilt, kBackupSetOption);
    rebuilt.push_back(0);
    AppendU32(rebuilt, 3000);
    for (int i = 0; i < 3000; ++i)
        rebuilt.insert(rebuilt.end(), record.begin(), record.end());
    AppendU64(rebuilt, directoryOffset);
    rebuilt.insert(rebuilt.end(), file.end() - 8, file.end());
    MemorySource source(rebuilt);
    PackageDirectory directory;
    ASSERT_EQ(ReadPackageDirectory(source, directory), kSuccess);
    ASSERT_EQ(directory.items.size(), 3000u);
    std::vector<uint8_t> data;
    ASSERT_EQ(ReadItemData(source, directory.items[0], data), kSuccess);
    EXPECT_EQ(data.size(), kSetChunkSize);
    Package read;
    EXPECT_EQ(ReadPackage(source, read), kErrorInvalidData);
}

} // namespace
} // namespace caparchive
