#include "NsTestSupport.h"
#include "AnsiText.h"
#include "LanguageLibrary.h"
#include "Seams.h"
#include <fstream>
#include <iterator>

namespace tv::shellns::test {

std::string TempRoot(const char* name) {
    char folder[MAX_PATH] = {};
    GetTempPathA(sizeof(folder), folder);
    return std::string(folder) + name + std::to_string(GetCurrentProcessId());
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void NamespaceTest::SetUp() {
    // Clipboard, drag and drop and the shell want OLE on this thread.
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    root_ = TempRoot("tvnstest");
    tv::test::DeleteTree(com::FromAnsi(root_));
    for (const char* folder : {"", "\\devices", "\\devices\\Dev1", "\\devices\\Dev1\\Main", "\\devices\\Dev1\\Other",
                               "\\devices\\Dev1\\Main\\Sub", "\\pc"})
        CreateDirectoryA((root_ + folder).c_str(), nullptr);
    WriteFile(root_ + "\\devices\\Dev1\\Main\\b.txt", "bee bytes");
    WriteFile(root_ + "\\devices\\Dev1\\Main\\a.txt", "a");
    WriteFile(root_ + "\\devices\\Dev1\\Main\\Sub\\c.txt", "sea");
    language_ = LoadLanguageLibrary(nullptr);
    ASSERT_NE(language_, nullptr);
    Seams().languageLibrary = language_;
    ASSERT_EQ(served_.Start(root_ + "\\devices"), S_OK);
}

void NamespaceTest::TearDown() {
    served_.Stop();
    Seams().languageLibrary = nullptr;
    FreeLibrary(language_);
    tv::test::DeleteTree(com::FromAnsi(root_));
    OleUninitialize();
}

com::ComPtr<ZelvanFolder> NamespaceTest::Root() {
    com::ComPtr<ZelvanFolder> folder;
    EXPECT_EQ(S_OK, com::MakeComObject(folder));
    return folder;
}

std::vector<UniquePidl> NamespaceTest::List(IShellFolder* folder, SHCONTF flags) {
    std::vector<UniquePidl> items;
    com::ComPtr<IEnumIDList> list;
    if (!folder || folder->EnumObjects(nullptr, flags, &list) != S_OK)
        return items;
    PITEMID_CHILD child = nullptr;
    while (list->Next(1, &child, nullptr) == S_OK)
        items.emplace_back(child);
    return items;
}

std::string NamespaceTest::NameOf(PCUIDLIST_RELATIVE pidl) {
    ItemRecord record;
    return ReadItem(pidl, &record) ? record.name : "<bad>";
}

com::ComPtr<IShellFolder> NamespaceTest::FolderAt(const std::string& path) {
    com::ComPtr<IShellFolder> folder = Root();
    size_t start = 0;
    while (folder && start <= path.size()) {
        size_t end = path.find('\\', start);
        const std::string name = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        com::ComPtr<IShellFolder> next;
        for (UniquePidl& item : List(folder.Get(), SHCONTF_FOLDERS))
            if (NameOf(item.Get()) == name)
                folder->BindToObject(item.Get(), nullptr, IID_PPV_ARGS(&next));
        folder = next;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return folder;
}

std::string NamespaceTest::DevicePc(const std::string& devicePath) const {
    return root_ + "\\devices\\" + devicePath;
}

} // namespace tv::shellns::test
