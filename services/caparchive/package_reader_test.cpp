#include "package_reader.h"

#include "big_endian.h"
#include "package_writer.h"
#include "result_codes.h"
#include "package_test_support.h"
#include "test_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace caparchive {
namespace {

// A memory source that remembers the furthest byte anyone read.
class WatchedSource final : public ByteSource {
  public:
    explicit WatchedSource(std::span<const uint8_t> bytes) : inner_(bytes) {}
    uint64_t Size() const override { return inner_.Size(); }
    int ReadAt(uint64_t offset, std::span<uint8_t> out) override {
        furthest_ = std::max<uint64_t>(furthest_, offset + out.size());
        return inner_.ReadAt(offset, out);
    }
    uint64_t Furthest() const { return furthest_; }

  private:
    MemorySource inner_;
    uint64_t furthest_ = 0;
};

Package SamplePackage() {
    Package package;
    package.option = 1;
    package.header = PackageHeader{45123.5, "Weekly backup", "Contacts and calendar", "icon.ico"};
    package.items.push_back({"icon.ico", kItemKindFile, 1700000000, 0x20, testdata::MakeRandom(766, 1)});
    package.items.push_back({"Startup", kItemKindScript, 3, 0, testdata::MakeText(2000, 2)});
    package.items.push_back({"Startup", kItemKindFile, -7, 0x1, testdata::MakeText(150000, 3)});
    package.items.push_back({"empty", kItemKindFile, 0, 0x80, {}});
    package.items.push_back({"one", kItemKindFile, 0, 0, {'x'}});
    package.items.push_back({"big random", kItemKindFile, 5, 0, testdata::MakeRandom(70000, 4)});
    package.items.push_back({"", kItemKindFile, 0, 0, testdata::MakeText(300, 5)});
    return package;
}

std::vector<uint8_t> Write(const Package& package) {
    VectorSink sink;
    EXPECT_EQ(WritePackage(package, sink), kSuccess);
    return sink.Bytes();
}

TEST(PackageReaderTest, WrittenPackageReadsBackInOrder) {
    const Package package = SamplePackage();
    const std::vector<uint8_t> file = Write(package);
    MemorySource source(file);
    Package read;
    ASSERT_EQ(ReadPackage(source, read), kSuccess);
    ExpectSamePackage(read, package);

    // Each entry's stored length covers its body exactly: bodies are laid end to end.
    PackageDirectory directory;
    ASSERT_EQ(ReadPackageDirectory(source, directory), kSuccess);
    uint64_t end = directory.items.front().record.dataOffset;
    for (size_t i = 0; i < directory.items.size(); ++i) {
        const ItemEntry& item = directory.items[i];
        EXPECT_EQ(item.record.dataOffset, end);
        end += item.record.storedLength;
        EntryLayout layout;
        ASSERT_EQ(ReadItemLayout(source, item, layout), kSuccess);
        EXPECT_EQ(layout.size, package.items[i].data.size());
    }
    EXPECT_EQ(end, file.size());

    // Text is stored compressed, random data plainly.
    EntryLayout layout;
    ASSERT_EQ(ReadItemLayout(source, directory.items[2], layout), kSuccess);
    EXPECT_TRUE(layout.compressed);
    ASSERT_EQ(ReadItemLayout(source, directory.items[5], layout), kSuccess);
    EXPECT_FALSE(layout.compressed);

    Package empty;
    const std::vector<uint8_t> emptyFile = Write(empty);
    MemorySource emptySource(emptyFile);
    ASSERT_EQ(ReadPackage(emptySource, read), kSuccess);
    ExpectSamePackage(read, empty);
}

TEST(PackageReaderTest, ListingReadsOnlyTheFrontOfTheFile) {
    const std::vector<uint8_t> file = Write(SamplePackage());
    WatchedSource source(file);
    PackageDirectory directory;
    ASSERT_EQ(ReadPackageDirectory(source, directory), kSuccess);
    ASSERT_EQ(directory.items.size(), 7u);
    // Names may be read up to the longest allowed name past the last one; no body is decoded.
    EXPECT_LE(source.Furthest(), directory.items.back().record.nameOffset + kMaxItemNameLength + 1u);
    ASSERT_NE(FindItem(directory, "Startup", kItemKindFile), nullptr);
    EXPECT_EQ(FindItem(directory, "Startup", kItemKindFile)->storedLong, -7);
    EXPECT_EQ(FindItem(directory, "Startup", kItemKindScript)->storedLong, 3);
    EXPECT_EQ(FindItem(directory, "startup", kItemKindFile), nullptr);
    ASSERT_TRUE(directory.header.has_value());
    EXPECT_EQ(directory.header->iconName, "icon.ico");
}

TEST(PackageReaderTest, ContainerWithoutCatalogGivesPlainFileItems) {
    // One record named "a", stored body "hi".
    std::vector<uint8_t> file;
    AppendU16(file, kPackageMagic);
    AppendU16(file, 1);
    AppendU16(file, 0);
    AppendU16(file, 16);
    AppendU32(file, 18);
    AppendU32(file, 3);
    file.insert(file.end(), {'a', 0, 0, 'h', 'i'});
    MemorySource source(file);
    Package read;
    ASSERT_EQ(ReadPackage(source, read), kSuccess);
    EXPECT_FALSE(read.header.has_value());
    ASSERT_EQ(read.items.size(), 1u);
    EXPECT_EQ(read.items[0].name, "a");
    EXPECT_EQ(read.items[0].kind, kItemKindFile);
    EXPECT_EQ(read.items[0].data, (std::vector<uint8_t>{'h', 'i'}));
}

TEST(PackageReaderTest, WriterRefusesWhatTheFormatCannotHold) {
    VectorSink sink;
    Package zeroInName;
    zeroInName.items.push_back({std::string("a\0b", 3), kItemKindFile, 0, 0, {}});
    EXPECT_EQ(WritePackage(zeroInName, sink), kErrorInvalidParameter);

    Package longName;
    longName.items.push_back({std::string(kMaxItemNameLength + 1, 'n'), kItemKindFile, 0, 0, {}});
    EXPECT_EQ(WritePackage(longName, sink), kErrorInvalidParameter);

    // Names must start within the first 64 KiB, where 16-bit name offsets reach.
    Package manyNames;
    for (int i = 0; i < 40; ++i)
        manyNames.items.push_back(
            {std::string(2000, static_cast<char>('a' + i % 26)), kItemKindFile, 0, 0, {}});
    EXPECT_EQ(WritePackage(manyNames, sink), kErrorPackageTooLarge);
    manyNames.items.resize(30);
    EXPECT_EQ(WritePackage(manyNames, sink), kSuccess);
}

TEST(PackageReaderTest, DamagedFilesAreRefusedWithoutHarm) {
    const std::vector<uint8_t> file = Write(SamplePackage());
    Package read;
    // Every truncation fails: the last body always reaches the end of the file.
    for (size_t cut = 0; cut < file.size(); cut += 1 + cut / 64) {
        const std::vector<uint8_t> truncated(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
        MemorySource source(truncated);
        ASSERT_EQ(ReadPackage(source, read), kErrorInvalidData) << "cut at " << cut;
    }
    // Random damage either reads (as some other package) or gives 13; the sanitizers watch the rest.
    std::mt19937 random(11);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> damaged = file;
        const size_t frontSize = damaged.size() / 16;
        for (int i = 0; i < 4; ++i)
            damaged[random() % (i < 2 ? frontSize : damaged.size())] = static_cast<uint8_t>(random());
        MemorySource source(damaged);
        const int result = ReadPackage(source, read);
        ASSERT_TRUE(result == kSuccess || result == kErrorInvalidData) << result;
    }
}

TEST(PackageReaderTest, RecordsSharingOneBodyCannotMultiplyMemory) {
    // A catalog-less container whose 2000 records all point at one body that decodes to 64 KiB.
    std::vector<uint8_t> zeros(65536, 0);
    std::vector<uint8_t> body;
    ASSERT_EQ(BuildEntryBody(zeros, body), kSuccess);
    ASSERT_EQ(body[0], kMethodCompressed);
    const uint16_t count = 2000;
    std::vector<uint8_t> file;
    AppendU16(file, kPackageMagic);
    AppendU16(file, count);
    AppendU16(file, 0);
    const uint32_t namesOffset = kFileHeaderSize + kDirectoryRecordSize * count;
    const uint32_t bodyOffset = namesOffset + 2 * count;
    for (int i = 0; i < count; ++i) {
        AppendU16(file, static_cast<uint16_t>(namesOffset + 2 * i));
        AppendU32(file, bodyOffset);
        AppendU32(file, static_cast<uint32_t>(body.size()));
    }
    for (int i = 0; i < count; ++i)
        file.insert(file.end(), {'z', 0});
    file.insert(file.end(), body.begin(), body.end());
    MemorySource source(file);
    PackageDirectory directory;
    ASSERT_EQ(ReadPackageDirectory(source, directory), kSuccess);
    std::vector<uint8_t> data;
    ASSERT_EQ(ReadItemData(source, directory.items[0], data), kSuccess);
    EXPECT_EQ(data, zeros);
    Package read;
    EXPECT_EQ(ReadPackage(source, read), kErrorInvalidData);

    // Records that all name one long string are refused while the names are read.
    std::vector<uint8_t> sameName;
    AppendU16(sameName, kPackageMagic);
    AppendU16(sameName, count);
    AppendU16(sameName, 0);
    for (int i = 0; i < count; ++i) {
        AppendU16(sameName, static_cast<uint16_t>(namesOffset));
        AppendU32(sameName, namesOffset);
        AppendU32(sameName, 1);
    }
    sameName.insert(sameName.end(), 1000, 'z');
    sameName.push_back(0);
    MemorySource sameNameSource(sameName);
    EXPECT_EQ(ReadPackageDirectory(sameNameSource, directory), kErrorInvalidData);
}

} // namespace
} // namespace caparchive
