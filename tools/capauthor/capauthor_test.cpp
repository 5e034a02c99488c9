#include "automation_date.h"

#include "byte_io.h"
#include "package_entry_lookup.h"
#include "package_reader.h"
#include "result_codes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace caparchive;

class CapAuthorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() / ("capauthor_" + std::to_string(getpid()));
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string Write(const std::string& name, const std::string& content) {
        const std::filesystem::path path = folder_ / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    std::string PathOf(const std::string& name) const { return (folder_ / name).string(); }

    // Exit status of capauthor with the arguments, its output thrown away.
    static int Run(const std::string& arguments) {
        const int status =
            std::system((std::string(CAPAUTHOR_PATH) + " " + arguments + " >/dev/null 2>&1").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::filesystem::path folder_;
};

TEST_F(CapAuthorTest, BuildsAPackageThatBothReadersRead) {
    std::string inf = "[Package]\nName=Demo\n";
    for (int i = 0; i < 200; ++i)
        inf += "File" + std::to_string(i) + "=payload\\file" + std::to_string(i) + ".dat\n";
    const std::string script = "function OnConnect() { return true; }\n";
    const std::string out = PathOf("demo.cap");
    ASSERT_EQ(
        Run(out +
            " --title 'Demo package' --description 'For tests' --icon root.ico --date 2024-02-29T13:45" +
            " --file root.inf=" + Write("root.inf", inf) + " --file root.ico=" + Write("icon", "ICON") +
            " --attributes 0x21 --script OnConnect=" + Write("s.js", script) + " --long 3"),
        0);

    std::string text;
    ASSERT_EQ(ReadRootInf(out, text), kSuccess);
    EXPECT_EQ(text, inf);

    FileSource source;
    ASSERT_EQ(source.Open(out), kSuccess);
    Package package;
    ASSERT_EQ(ReadPackage(source, package), kSuccess);
    ASSERT_TRUE(package.header.has_value());
    EXPECT_EQ(package.header->title, "Demo package");
    EXPECT_EQ(package.header->description, "For tests");
    EXPECT_EQ(package.header->iconName, "root.ico");
    EXPECT_EQ(capauthor::FormatAutomationDate(package.header->date), "2024-02-29T13:45:00");
    ASSERT_EQ(package.items.size(), 3u);
    EXPECT_EQ(package.items[1].attributes, 0x21u);
    EXPECT_EQ(package.items[2].name, "OnConnect");
    EXPECT_EQ(package.items[2].kind, kItemKindScript);
    EXPECT_EQ(package.items[2].storedLong, 3);
    EXPECT_EQ(std::string(package.items[2].data.begin(), package.items[2].data.end()), script);
    EXPECT_EQ(Run("--list " + out), 0);
}

TEST_F(CapAuthorTest, BadCommandLinesLeaveNoFile) {
    const std::string out = PathOf("bad.cap");
    EXPECT_EQ(Run(out + " --long 3"), 1);
    EXPECT_EQ(Run(out + " --file noequals"), 1);
    EXPECT_EQ(Run(out + " --date 2023-02-29"), 1);
    EXPECT_EQ(Run(out + " --bogus x"), 1);
    EXPECT_EQ(Run(out + " --file a=" + PathOf("missing")), 2);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(Run("--help"), 0);
}

TEST(AutomationDateTest, ConvertsBothWays) {
    EXPECT_EQ(capauthor::ParseAutomationDate("1899-12-30"), 0.0);
    EXPECT_EQ(capauthor::ParseAutomationDate("1970-01-01T06:00"), 25569.25);
    EXPECT_EQ(capauthor::FormatAutomationDate(45351.5), "2024-02-29T12:00:00");
    EXPECT_FALSE(capauthor::ParseAutomationDate("2024-13-01").has_value());
    EXPECT_FALSE(capauthor::ParseAutomationDate("2024-01-01T10").has_value());
}

} // namespace
