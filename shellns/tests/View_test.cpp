// The view in a test shell-browser frame over a served hub: columns, sorting, status text,
// commands and their effect on the device's files, and a screenshot of the view.
#include "NsTestSupport.h"
#include "ShellBrowserHost.h"
#include "ClipboardFolder.h"
#include "DropTarget.h"
#include "FileOps.h"
#include "Seams.h"
#include "ShellView.h"
#include "ShellnsIds.h"
#include "UiHarness.h"
#include <atomic>
#include <memory>
#include <thread>

using namespace tv;
using namespace tv::shellns;
using namespace tv::shellns::test;

namespace {

// The system version the folder sees, for the branches of the oldest systems.
class SystemVersion {
  public:
    SystemVersion(DWORD major, DWORD minor) {
        Version() = major | (minor << 8);
        Seams().getVersion = [] { return Version(); };
    }
    ~SystemVersion() { Seams().getVersion = ::GetVersion; }

  private:
    static DWORD& Version() {
        static DWORD version = 0;
        return version;
    }
};

// The PC files on the clipboard as a plain file list.
std::vector<std::string> ClipboardFiles() {
    std::vector<std::string> files;
    if (!OpenClipboard(nullptr))
        return files;
    if (HANDLE block = GetClipboardData(CF_HDROP))
        files = DropFileNames(static_cast<HDROP>(block));
    CloseClipboard();
    return files;
}

void EmptyTheClipboard() {
    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        CloseClipboard();
    }
}

std::string WindowTitle(HWND window) {
    char title[128] = {};
    GetWindowTextA(window, title, sizeof(title));
    return title;
}

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

TEST_F(ViewTest, AZeroByteFileShowsItsSizeAndTheHiddenFavoritesButtonComesBack) {
    WriteFile(DevicePc("Dev1\\Main\\empty.txt"), "");
    OpenAt("Dev1\\Main");
    EXPECT_EQ("0 bytes", Cell("empty.txt", 1));
    EXPECT_EQ("", Cell("Sub", 1));
    EXPECT_FALSE(host_->FavoritesHidden());
}

// The header of the details view is drawn by the view: each column's text, and a triangle in the
// room kept free at the right of the sorted column, pointing by the direction.
TEST_F(ViewTest, TheDetailsHeaderIsOwnerDrawnWithATriangleOnTheSortedColumn) {
    OpenAt("Dev1\\Main");
    HWND header = ListView_GetHeader(list_);
    for (int i = 0; i < 4; ++i) {
        HDITEMA item{};
        item.mask = HDI_FORMAT;
        ASSERT_TRUE(Header_GetItem(header, i, &item));
        EXPECT_EQ(HDF_OWNERDRAW, item.fmt) << i;
    }
    constexpr COLORREF kPaper = RGB(255, 0, 255);
    // The pixels a column's drawing changed: in its left half, and in the room at its right.
    struct Drawn {
        int text = 0;
        std::vector<COLORREF> right;
        int Marked() const {
            int marked = 0;
            for (COLORREF pixel : right)
                marked += pixel != kPaper;
            return marked;
        }
    };
    auto draw = [&](int column) {
        RECT rect{};
        Header_GetItemRect(header, column, &rect);
        const int width = rect.right - rect.left, height = rect.bottom - rect.top;
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
        ReleaseDC(nullptr, screen);
        HGDIOBJ old = SelectObject(memory, bitmap);
        RECT all{0, 0, width, height};
        HBRUSH paper = CreateSolidBrush(kPaper);
        FillRect(memory, &all, paper);
        DeleteObject(paper);
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_HEADER;
        item.itemID = static_cast<UINT>(column);
        item.itemAction = ODA_DRAWENTIRE;
        item.hwndItem = header;
        item.hDC = memory;
        item.rcItem = all;
        SendMessageA(list_, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&item));
        Drawn drawn;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width / 2; ++x)
                drawn.text += GetPixel(memory, x, y) != kPaper;
            for (int x = width - 16; x < width; ++x)
                drawn.right.push_back(GetPixel(memory, x, y));
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
        DeleteDC(memory);
        return drawn;
    };
    // Sorted by the type column (the third) ascending by default.
    const Drawn ascending = draw(2), name = draw(0);
    EXPECT_GT(name.text, 0);
    EXPECT_GT(ascending.text, 0);
    EXPECT_EQ(0, name.Marked());
    EXPECT_GT(ascending.Marked(), 0);
    Command(IDC_NS_SORT_FIRST + 2);
    NMHEADERA click{};
    click.hdr.hwndFrom = header;
    click.hdr.code = HDN_ITEMCLICKA;
    click.iItem = 2;
    SendMessageA(host_->ViewWindow(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&click));
    const Drawn descending = draw(2);
    EXPECT_GT(descending.Marked(), 0);
    EXPECT_NE(ascending.right, descending.right);
}

TEST_F(ViewTest, WhileALabelIsEditedQGoesToTheEditControlAndF3IsLeftToTheShell) {
    OpenAt("Dev1\\Main");
    Select({"a.txt"});
    Command(IDC_NS_RENAME);
    HWND edit = ListView_GetEditControl(list_);
    ASSERT_NE(nullptr, edit);
    static std::vector<WPARAM> keys;
    keys.clear();
    SetWindowSubclass(
        edit,
        [](HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) -> LRESULT {
            if (message == WM_KEYDOWN)
                keys.push_back(wParam);
            return DefSubclassProc(window, message, wParam, lParam);
        },
        1, 0);
    MSG q{edit, WM_KEYDOWN, 'Q', 0x00100001, 0, {}};
    EXPECT_EQ(S_FALSE, host_->View()->TranslateAccelerator(&q));
    EXPECT_EQ(std::vector<WPARAM>{'Q'}, keys);
    MSG f3{edit, WM_KEYDOWN, VK_F3, 0x003D0001, 0, {}};
    EXPECT_EQ(E_NOTIMPL, host_->View()->TranslateAccelerator(&f3));
    ListView_CancelEditLabel(list_);
}

// A browser that lets go of the view without asking it to destroy its window first: the view
// still withdraws its window's drop target, which holds the folder's shared state.
TEST_F(ViewTest, AViewReleasedWithItsWindowWithdrawsItsDropTarget) {
    const auto hubReferences = [&] {
        served_.Hub()->AddRef();
        return served_.Hub()->Release();
    };
    const ULONG before = hubReferences();
    std::weak_ptr<NsGlobals> shared = AcquireGlobals();
    OpenAt("Dev1\\Main");
    HWND window = host_->ViewWindow();
    host_->Abandon();
    folder_.Reset();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(shared.expired());
    // Nothing of the view keeps the program's hub.
    EXPECT_EQ(before, hubReferences());
}

TEST_F(ViewTest, ACutPastedIntoAnotherDevicesFolderMovesTheFiles) {
    CreateDirectoryA(DevicePc("Dev2").c_str(), nullptr);
    CreateDirectoryA(DevicePc("Dev2\\Inbox").c_str(), nullptr);
    ASSERT_TRUE(tv::test::PollUntil([&] { return List(Root().Get()).size() == 2; }, 10000));
    OpenAt("Dev1\\Main");
    Select({"a.txt", "b.txt"});
    Command(IDC_NS_CUT);
    // The folder the items came from is closed: the paste asks before it fetches them.
    ReopenAt("Dev2\\Inbox");
    std::thread yes = Answer(IDYES);
    Paste();
    yes.join();
    EXPECT_EQ("a", ReadFile(DevicePc("Dev2\\Inbox\\a.txt")));
    EXPECT_EQ("bee bytes", ReadFile(DevicePc("Dev2\\Inbox\\b.txt")));
    EXPECT_FALSE(Exists(DevicePc("Dev1\\Main\\a.txt")));
    EXPECT_FALSE(Exists(DevicePc("Dev1\\Main\\b.txt")));
    EXPECT_TRUE(Exists(DevicePc("Dev1\\Main\\Sub")));
}

TEST_F(ViewTest, OnWindowsMeTheCutOfAProtectedItemOnlySaysSo) {
    SystemVersion me(4, 90);
    ASSERT_TRUE(SetFileAttributesA(DevicePc("Dev1\\Main\\a.txt").c_str(), FILE_ATTRIBUTE_SYSTEM));
    DWORD one = 1;
    RegSetKeyValueA(HKEY_CURRENT_USER, kNamespaceKey, "CutWarning", REG_DWORD, &one, sizeof(one));
    EmptyTheClipboard();
    OpenAt("Dev1\\Main");
    Select({"a.txt"});
    std::vector<std::string> answered;
    {
        tv::test::DialogAnswerer user([&](HWND dialog) {
            answered.push_back(WindowTitle(dialog));
            if (answered.back() == "Tavrilon")
                tv::test::ClickButton(dialog, GetDlgItem(dialog, IDOK) ? IDOK : IDYES);
        });
        Command(IDC_NS_CUT);
    }
    EXPECT_EQ(std::vector<std::string>{"Tavrilon"}, answered);
    EXPECT_TRUE(Exists(DevicePc("Dev1\\Main\\a.txt")));
    EXPECT_TRUE(ClipboardFiles().empty());
    SetFileAttributesA(DevicePc("Dev1\\Main\\a.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(ViewTest, OnWindows98CutWarnsThenMovesToTheClipboardAndCopyPutsFilesThere) {
    SystemVersion win98(4, 10);
    EmptyTheClipboard();
    OpenAt("Dev1\\Main");
    Select({"a.txt"});
    // The warning: "do not show it again", then Cancel: nothing else happens.
    {
        tv::test::DialogAnswerer user([](HWND dialog) {
            if (WindowTitle(dialog) == "Cut") {
                SendDlgItemMessageA(dialog, IDC_NS_CUT_NO_WARNING, BM_SETCHECK, BST_CHECKED, 0);
                tv::test::ClickButton(dialog, IDCANCEL);
            }
        });
        Command(IDC_NS_CUT);
    }
    DWORD warned = 0, size = sizeof(warned);
    RegGetValueA(HKEY_CURRENT_USER, kNamespaceKey, "CutWarning", RRF_RT_REG_DWORD, nullptr, &warned, &size);
    EXPECT_EQ(1u, warned);
    EXPECT_TRUE(Exists(DevicePc("Dev1\\Main\\a.txt")));
    EXPECT_TRUE(ClipboardFiles().empty());

    // Without the warning the cut copies to the clipboard, then deletes once the user agrees.
    Select({"a.txt"});
    std::vector<std::string> answered;
    {
        tv::test::DialogAnswerer user([&](HWND dialog) {
            const std::string title = WindowTitle(dialog);
            if (title == "Tavrilon" || title == "Cut") {
                answered.push_back(title);
                tv::test::ClickButton(dialog, GetDlgItem(dialog, IDYES) ? IDYES : IDCANCEL);
            }
        });
        Command(IDC_NS_CUT);
    }
    EXPECT_EQ(std::vector<std::string>{"Tavrilon"}, answered);
    EXPECT_FALSE(Exists(DevicePc("Dev1\\Main\\a.txt")));
    std::vector<std::string> files = ClipboardFiles();
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(GetClipboardPathFor("a.txt"), files[0]);
    EXPECT_EQ("a", ReadFile(files[0]));

    // Copy on Windows 98 puts the downloaded files on the clipboard at once.
    Select({"b.txt"});
    Command(IDC_NS_COPY);
    files = ClipboardFiles();
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ("bee bytes", ReadFile(files[0]));
    EXPECT_TRUE(Exists(DevicePc("Dev1\\Main\\b.txt")));
}

// Help comes from the HTML help viewer by default; F1 and the About command open their topics of
// the help file "HelpRoot" names.
TEST_F(ViewTest, HelpOpensTheTopicsOfTheHelpFileThroughTheHelpViewer) {
    EXPECT_NE(nullptr, PlatformSeams{}.htmlHelp);
    EXPECT_EQ(&ShowHelpTopic, PlatformSeams{}.htmlHelp);
    const std::string root = HelpRoot();
    ASSERT_FALSE(root.empty());
    static std::vector<std::string> topics;
    topics.clear();
    Seams().htmlHelp = [](HWND, const char* topic) -> HWND {
        topics.emplace_back(topic);
        return nullptr;
    };
    OpenAt("Dev1\\Main");
    MSG f1{list_, WM_KEYDOWN, VK_F1, 0x003B0001, 0, {}};
    EXPECT_EQ(S_OK, host_->View()->TranslateAccelerator(&f1));
    Command(IDC_NS_HELP_ABOUT);
    Seams().htmlHelp = ShowHelpTopic;
    EXPECT_EQ((std::vector<std::string>{root + "::/how_to_work_with_files.htm>default",
                                        root + "::/about_tavrilon.htm>default"}),
              topics);
}

} // namespace
