#include "package_entry_lookup.h"

#include "big_endian.h"
#include "package_writer.h"
#include "result_codes.h"
#include "test_data.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace caparchive {
namespace {

// A file in the temporary folder, removed when the test ends.
class TempFile {
  public:
    explicit TempFile(const std::vector<uint8_t>& bytes) {
        static int counter = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("caplookup_" + std::to_string(getpid()) + "_" + std::to_string(counter++) + ".cap");
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    ~TempFile() { std::filesystem::remove(path_); }
    std::string Path() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

struct HandEntry {
    std::string name;
    std::vector<uint8_t> body; // method byte included
};

// Lays entries out the way a foreign tool might: header, records, names, bodies.
std::vector<uint8_t> BuildContainer(const std::vector<HandEntry>& entries, uint16_t headerWord = 0) {
    std::vector<uint8_t> file;
    AppendU16(file, kPackageMagic);
    AppendU16(file, static_cast<uint16_t>(entries.size()));
    AppendU16(file, headerWord);
    uint32_t nameOffset = kFileHeaderSize + kDirectoryRecordSize * static_cast<uint32_t>(entries.size());
    uint32_t dataOffset = nameOffset;
    for (const HandEntry& entry : entries)
        dataOffset += static_cast<uint32_t>(entry.name.size() + 1);
    for (const HandEntry& entry : entries) {
        AppendU16(file, static_cast<uint16_t>(nameOffset));
        AppendU32(file, dataOffset);
        AppendU32(file, static_cast<uint32_t>(entry.body.size()));
        nameOffset += static_cast<uint32_t>(entry.name.size() + 1);
        dataOffset += static_cast<uint32_t>(entry.body.size());
    }
    for (const HandEntry& entry : entries) {
        file.insert(file.end(), entry.name.begin(), entry.name.end());
        file.push_back(0);
    }
    for (const HandEntry& entry : entries)
        file.insert(file.end(), entry.body.begin(), entry.body.end());
    return file;
}

std::vector<uint8_t> Stored(std::string_view text) {
    std::vector<uint8_t> body{kMethodStored};
    body.insert(body.end(), text.begin(), text.end());
    return body;
}

int SizeOf(const std::vector<uint8_t>& file, std::string_view name, uint32_t& size) {
    TempFile temp(file);
    return GetPackageEntrySize(temp.Path(), name, size);
}

TEST(PackageEntryLookupTest, HeaderChecksFollowTheFileSize) {
    uint32_t size = 99;
    EXPECT_EQ(SizeOf({0x5A, 0x76, 0, 0, 0}, "root.inf", size), kErrorInvalidData);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(SizeOf({0x5A, 0x76, 0, 0, 0, 0}, "root.inf", size), kErrorInvalidData);
    EXPECT_EQ(SizeOf({0x5A, 0x76, 0, 0, 0, 0, 0}, "root.inf", size), kErrorNotFound);
    EXPECT_EQ(SizeOf({0x76, 0x5A, 0, 0, 0, 0, 0}, "root.inf", size), kErrorInvalidData);
    // The header word must leave the file longer than 6 + H.
    EXPECT_EQ(SizeOf({0x5A, 0x76, 0, 0, 0, 1, 0}, "root.inf", size), kErrorInvalidData);
    EXPECT_EQ(SizeOf({0x5A, 0x76, 0, 0, 0, 1, 0, 0}, "root.inf", size), kErrorNotFound);
    EXPECT_EQ(SizeOf(BuildContainer({{"a", Stored("x")}}), "", size), kErrorInvalidParameter);
    EXPECT_EQ(GetPackageEntrySize("/nonexistent/folder/x.cap", "root.inf", size), kErrorFileNotFound);
}

TEST(PackageEntryLookupTest, FindsTheFirstEntryOfTheExactName) {
    const TempFile file(BuildContainer({{"ROOT.INF", Stored("upper")},
                                        {"root.inf", Stored("[first]\nline")},
                                        {"root.inf", Stored("second")},
                                        {"empty", Stored("")}}));
    std::string text = "old";
    ASSERT_EQ(ReadRootInf(file.Path(), text), kSuccess);
    EXPECT_EQ(text, "[first]\nline");
    uint32_t size = 0;
    ASSERT_EQ(GetPackageEntrySize(file.Path(), "empty", size), kSuccess);
    EXPECT_EQ(size, 0u);
    ASSERT_EQ(GetPackageEntrySize(file.Path(), "ROOT.INF", size), kSuccess);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(GetPackageEntrySize(file.Path(), "Root.inf", size), kErrorNotFound);

    const TempFile noRoot(BuildContainer({{"ROOT.INF", Stored("upper")}}));
    EXPECT_EQ(ReadRootInf(noRoot.Path(), text), kErrorNotFound);
    const TempFile emptyRoot(BuildContainer({{"root.inf", Stored("")}}));
    ASSERT_EQ(ReadRootInf(emptyRoot.Path(), text), kSuccess);
    EXPECT_EQ(text, "");
}

TEST(PackageEntryLookupTest, ReadsEntriesOfAPackageTheWriterMade) {
    Package package;
    const std::vector<uint8_t> icon = testdata::MakeRandom(766, 4);
    const std::vector<uint8_t> inf = testdata::MakeText(5000, 4);
    package.items.push_back({"root.inf", kItemKindFile, 0, 0, inf});
    package.items.push_back({"root.ico", kItemKindFile, 0, 0, icon});
    VectorSink sink;
    ASSERT_EQ(WritePackage(package, sink), kSuccess);
    const TempFile file(sink.Bytes());

    std::string text;
    ASSERT_EQ(ReadRootInf(file.Path(), text), kSuccess);
    EXPECT_EQ(text, std::string(inf.begin(), inf.end()));
    uint32_t size = 0;
    ASSERT_EQ(GetPackageEntrySize(file.Path(), "root.ico", size), kSuccess);
    ASSERT_EQ(size, icon.size());
    std::vector<uint8_t> buffer(size);
    ASSERT_EQ(ReadPackageEntry(file.Path(), "root.ico", buffer, size), kSuccess);
    EXPECT_EQ(buffer, icon);
    // The buffer's capacity bounds what is written.
    std::vector<uint8_t> small(100);
    EXPECT_EQ(ReadPackageEntry(file.Path(), "root.inf", small, size), kErrorInvalidData);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(ReadPackageEntry(file.Path(), "root.inf", {}, size), kErrorInvalidParameter);
}

TEST(PackageEntryLookupTest, RecordsPointingOutsideTheFileAreRefused) {
    const std::vector<uint8_t> good = BuildContainer({{"a", Stored("alpha")}, {"root.inf", Stored("text")}});
    uint32_t size = 0;
    ASSERT_EQ(SizeOf(good, "root.inf", size), kSuccess);

    auto patched = [&](size_t offset, uint32_t value, int width) {
        std::vector<uint8_t> file = good;
        for (int i = 0; i < width; ++i)
            file[offset + i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
        return file;
    };
    const uint32_t fileSize = static_cast<uint32_t>(good.size());
    const size_t second = kFileHeaderSize + kDirectoryRecordSize;
    // A name offset past the end stops the walk even before the wanted record.
    EXPECT_EQ(SizeOf(patched(kFileHeaderSize, fileSize, 2), "root.inf", size), kErrorInvalidData);
    EXPECT_EQ(SizeOf(patched(second + 2, fileSize, 4), "root.inf", size), kErrorInvalidData);
    EXPECT_EQ(SizeOf(patched(second + 6, 6, 4), "root.inf", size), kErrorInvalidData);
    EXPECT_EQ(SizeOf(patched(second + 6, 0, 4), "root.inf", size), kErrorInvalidData);
    EXPECT_EQ(SizeOf(patched(second + 6, 0xFFFFFFFF, 4), "root.inf", size), kErrorInvalidData);
    // A damaged record that is not the wanted one does not matter once the wanted one is found.
    EXPECT_EQ(SizeOf(patched(kFileHeaderSize + 2, fileSize, 4), "root.inf", size), kSuccess);
}

} // namespace
} // namespace caparchive
