// What the folder's test programs share: a served hub over test devices in a temporary folder,
// the language library handed to the folder's code, and small file helpers.
#pragma once
#include "AnsiText.h"
#include "ServedHub.h"
#include "ZelvanFolder.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tv::shellns::test {

std::string TempRoot(const char* name);
void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);

// A test with devices "Dev1" (folders Main and Other, files in Main) served by an in-process hub.
class NamespaceTest : public ::testing::Test {
public:
    static std::string NameOf(PCUIDLIST_RELATIVE pidl);

protected:
    void SetUp() override;
    void TearDown() override;

    // The root folder object, and a folder bound below it by device path ("Dev1\Main").
    com::ComPtr<ZelvanFolder> Root();
    com::ComPtr<IShellFolder> FolderAt(const std::string& path);
    // The identifiers the folder lists (folders and files).
    std::vector<UniquePidl> List(IShellFolder* folder, SHCONTF flags = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS);
    std::string DevicePc(const std::string& devicePath) const;  // the PC file behind a device path

    std::string root_;
    HMODULE language_ = nullptr;
    tv::test::ServedHub served_;
};

} // namespace tv::shellns::test
