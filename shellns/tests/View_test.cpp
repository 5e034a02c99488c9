// The view in a test shell-browser frame over a served hub: columns, sorting, status text,
// commands and their effect on the device's files, and a screenshot of the view.
#include "NsTestSupport.h"
#include "ShellBrowserHost.h"
#include "DropTarget.h"
#include "FileOps.h"
#include "ShellView.h"
#include "ShellnsIds.h"
#include "UiHarness.h"
#include <atomic>
#include <thread>

using namespace tv;
using namespace tv::shellns;
using namespace tv::shellns::test;

namespace {

class ViewTest : public NamespaceTest {
protected:
    void SetUp() override {
        NamespaceTest::SetUp();
        RegDeleteKeyA(HKEY_CURRENT_USER, kNamespaceKey);
        ASSERT_EQ(S_OK, com::MakeComObject(host_));
    }
    void TearDown() override {
        if (host_)
            host_->Close();
        host_.Reset();
        NamespaceTest::TearDown();
    }

    void OpenAt(const std::string& path) {
        folder_ = FolderAt(path);
        ASSERT_TRUE(folder_);
        ASSERT_EQ(S_OK, host_->Open(folder_.Get()));
        list_ = FindWindowExA(host_->ViewWindow(), nullptr, WC_LISTVIEWA, nullptr);
        ASSERT_NE(nullptr, list_);
    }

    // Closes the frame and opens a new one at `path`, as a user going to another folder.
    void ReopenAt(const std::string& path) {
        host_->Close();
        host_.Reset();
        ASSERT_EQ(S_OK, com::MakeComObject(host_));
        OpenAt(path);
    }

    std::vector<std::string> Shown() const {
        std::vector<std::string> names;
        for (int i = 0, n = ListView_GetItemCount(list_); i < n; ++i) {
            char text[MAX_PATH] = {};
            ListView_GetItemText(list_, i, 0, text, sizeof(text));
            names.emplace_back(text);
        }
        return names;
    }

    std::string Cell(const std::string& name, int column) const {
        for (int i = 0, n = ListView_GetItemCount(list_); i < n; ++i) {
            char text[MAX_PATH] = {};
            ListView_GetItemText(list_, i, 0, text, sizeof(text));
            if (name == text) {
                ListView_GetItemText(list_, i, column, text, sizeof(text));
                return text;
            }
        }
        return "<missing>";
    }

    void Select(std::initializer_list<const char*> names) {
        ListView_SetItemState(list_, -1, 0, LVIS_SELECTED);
        for (const char* name : names)
            for (int i = 0, n = ListView_GetItemCount(list_); i < n; ++i) {
                char text[MAX_PATH] = {};
                ListView_GetItemText(list_, i, 0, text, sizeof(text));
                if (std::string(text) == name)
                    ListView_SetItemState(list_, i, LVIS_SELECTED, LVIS_SELECTED);
            }
    }

    void Command(UINT id) { SendMessageA(host_->ViewWindow(), WM_COMMAND, id, 0); }

    // Pastes what the clipboard holds: the drop of it runs on a thread of its own.
    void Paste() {
        Command(IDC_NS_PASTE);
        EXPECT_TRUE(WaitForDropThreads(60000));
    }

    // Answers the next message box of the folder with `button`, from a thread of its own.
    std::thread Answer(int button) {
        return std::thread([button] {
            if (HWND box = tv::test::WaitForWindow(L"#32770", L"Tavrilon", 20000))
                tv::test::ClickButton(box, button);
        });
    }

    com::ComPtr<tv::test::ShellBrowserHost> host_;
    com::ComPtr<IShellFolder> folder_;
    HWND list_ = nullptr;
};

TEST_F(ViewTest, ShowsColumnsStatusToolbarAndMenusAndKeepsAScreenshot) {
    OpenAt("Dev1\\Main");
    HWND header = ListView_GetHeader(list_);
    EXPECT_EQ(4, Header_GetItemCount(header));
    char text[64] = {};
    HDITEMA column{};
    column.mask = HDI_TEXT;
    column.pszText = text;
    column.cchTextMax = sizeof(text);
    Header_GetItem(header, 1, &column);
    EXPECT_STREQ("Size", text);
    // Default sort: by type, folders first.
    EXPECT_EQ((std::vector<std::string>{"Sub", "a.txt", "b.txt"}), Shown());
    EXPECT_EQ("9 bytes", Cell("b.txt", 1));
    EXPECT_EQ("File", Cell("b.txt", 2));
    EXPECT_NE("", Cell("b.txt", 3));
    const std::wstring status = host_->LastStatus();
    EXPECT_NE(std::wstring::npos, status.find(L"3 object(s)")) << com::TerminatedToAnsi(status.c_str());
    EXPECT_NE(std::wstring::npos, status.find(L"free space"));
    EXPECT_EQ(4, host_->ToolbarButtonsMerged());
    EXPECT_TRUE(host_->MenuMerged());
    Select({"a.txt", "b.txt"});
    EXPECT_EQ(L"2 object(s) selected", host_->LastStatus());
    tv::test::PollUntil([] { return false; }, 300);
    CreateDirectoryA("screenshots", nullptr);
    EXPECT_TRUE(tv::test::SaveScreenshot(tv::test::ExeFolder() + L"\\screenshots\\shellns_view.bmp"));
}

TEST_F(ViewTest, SortsByEachColumnAndAHeaderClickFlipsTheDirection) {
    WriteFile(DevicePc("Dev1\\Main\\c.dat"), "12345");
    OpenAt("Dev1\\Main");
    Command(IDC_NS_SORT_FIRST);  // name, folders first
    EXPECT_EQ((std::vector<std::string>{"Sub", "a.txt", "b.txt", "c.dat"}), Shown());
    Command(IDC_NS_SORT_FIRST + 1);  // size
    EXPECT_EQ((std::vector<std::string>{"Sub", "a.txt", "c.dat", "b.txt"}), Shown());
    NMHEADERA click{};
    click.hdr.hwndFrom = ListView_GetHeader(list_);
    click.hdr.code = HDN_ITEMCLICKA;
    click.iItem = 1;
    SendMessageA(host_->ViewWindow(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&click));
    EXPECT_EQ((std::vector<std::string>{"b.txt", "c.dat", "a.txt", "Sub"}), Shown());
    DWORD sort = 0, size = sizeof(sort);
    RegGetValueA(HKEY_CURRENT_USER, kNamespaceKey, "Sort", RRF_RT_REG_DWORD, nullptr, &sort, &size);
    EXPECT_EQ(-2, static_cast<int>(sort));
    Command(IDC_NS_SORT_FIRST + 2);  // type: "Data"... descriptions within one type
    EXPECT_EQ("Sub", Shown().front());
}

TEST_F(ViewTest, NewFolderTakesTheNextFreeNameAndRenameGoesToTheDevice) {
    CreateDirectoryA(DevicePc("Dev1\\Main\\New Folder").c_str(), nullptr);
    OpenAt("Dev1\\Main");
    Command(IDC_NS_NEW_FOLDER);
    EXPECT_TRUE(Exists(DevicePc("Dev1\\Main\\New Folder1")));
    ListView_CancelEditLabel(list_);
    // Rename: the end of a label edit names the new text.
    Select({"a.txt"});
    int index = ListView_GetNextItem(list_, -1, LVNI_SELECTED);
    ASSERT_GE(index, 0);
    char newName[] = "renamed.txt";
    NMLVDISPINFOA edit{};
    edit.hdr.hwndFrom = list_;
    edit.hdr.code = LVN_ENDLABELEDITA;
    edit.item.iItem = index;
    edit.item.pszText = newName;
    EXPECT_TRUE(SendMessageA(host_->ViewWindow(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&edit)));
    EXPECT_TRUE(Exists(DevicePc("Dev1\\Main\\renamed.txt")));
    EXPECT_FALSE(Exists(DevicePc("Dev1\\Main\\a.txt")));
    tv::test::PollUntil([&] { return Cell("renamed.txt", 0) == "renamed.txt"; }, 5000);
    EXPECT_EQ("renamed.txt", Cell("renamed.txt", 0));
}

TEST_F(ViewTest, DeleteAsksAndDeletesOnlyOnYes) {
    OpenAt("Dev1\\Main");
    Select({"b.txt"});
    std::thread no = Answer(IDNO);
    Command(IDC_NS_DELETE);
    no.join();
    EXPECT_TRUE(Exists(DevicePc("Dev1\\Main\\b.txt")));
    Select({"a.txt", "b.txt"});
    std::thread yes = Answer(IDYES);
    Command(IDC_NS_DELETE);
    yes.join();
    EXPECT_FALSE(Exists(DevicePc("Dev1\\Main\\a.txt")));
    EXPECT_FALSE(Exists(DevicePc("Dev1\\Main\\b.txt")));
    EXPECT_EQ((std::vector<std::string>{"Sub"}), Shown());
}

TEST_F(ViewTest, RefreshesWhenTheUpdateMessageArrivesAndOpensContainers) {
    OpenAt("Dev1\\Main");
    WriteFile(DevicePc("Dev1\\Main\\late.txt"), "late");
    PostMessageA(host_->ViewWindow(), RegisterWindowMessageA("TavrilonUpdateZelvanView"), 0, 0);
    EXPECT_TRUE(tv::test::PollUntil([&] { return Shown().size() == 4; }, 5000));
    Select({"Sub"});
    Command(IDC_NS_OPEN);
    Select({"a.txt"});
    Command(IDC_NS_OPEN);  // not a container: nothing
    std::vector<UINT> browsed = host_->BrowseFlags();
    ASSERT_EQ(1u, browsed.size());
    EXPECT_EQ(static_cast<UINT>(SBSP_OPENMODE), browsed[0]);
}

TEST_F(ViewTest, CopyCutAndPasteBetweenFoldersAndPcFilesPastedFromTheClipboard) {
    OpenAt("Dev1\\Main");
    Select({"a.txt"});
    Command(IDC_NS_COPY);
    ReopenAt("Dev1\\Other");
    Paste();
    EXPECT_EQ("a", ReadFile(DevicePc("Dev1\\Other\\a.txt")));
    EXPECT_TRUE(Exists(DevicePc("Dev1\\Main\\a.txt")));

    ReopenAt("Dev1\\Main");
    Select({"b.txt"});
    Command(IDC_NS_CUT);
    ReopenAt("Dev1\\Other");
    Paste();
    EXPECT_EQ("bee bytes", ReadFile(DevicePc("Dev1\\Other\\b.txt")));
    EXPECT_FALSE(Exists(DevicePc("Dev1\\Main\\b.txt")));

    // Files another program put on the clipboard as a plain file list are uploaded.
    WriteFile(root_ + "\\pc\\from pc.txt", "pc bytes");
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    EXPECT_TRUE(SetClipboardData(CF_HDROP, BuildDropFiles({root_ + "\\pc\\from pc.txt"})));
    CloseClipboard();
    Paste();
    EXPECT_EQ("pc bytes", ReadFile(DevicePc("Dev1\\Other\\from pc.txt")));
}

TEST_F(ViewTest, PropertiesOfSeveralItemsShowTheirTotals) {
    OpenAt("Dev1\\Main");
    Select({"a.txt", "b.txt"});
    Command(IDC_NS_PROPERTIES);
    HWND sheet = nullptr;
    tv::test::PollUntil([&] { return (sheet = tv::test::FindShownWindow(L"#32770", L"a.txt,b.txt Properties")) != nullptr; },
                        20000);
    ASSERT_NE(nullptr, sheet);
    HWND page = nullptr;
    std::string size, counts, kind;
    tv::test::PollUntil(
        [&] {
            page = FindWindowExA(sheet, nullptr, "#32770", nullptr);
            char text[128] = {};
            GetDlgItemTextA(page, IDC_NS_PAGE_SIZE, text, sizeof(text));
            size = text;
            GetDlgItemTextA(page, IDC_NS_PAGE_COUNTS, text, sizeof(text));
            counts = text;
            GetDlgItemTextA(page, IDC_NS_PAGE_KIND, text, sizeof(text));
            kind = text;
            return !size.empty() && !counts.empty();
        },
        20000);
    EXPECT_EQ("10 bytes", size);
    EXPECT_EQ("2 Files, 0 Folders", counts);
    EXPECT_EQ("File", kind);
    PostMessageA(sheet, WM_COMMAND, IDCANCEL, 0);
    tv::test::PollUntil([&] { return !IsWindow(sheet); }, 10000);
}

} // namespace
