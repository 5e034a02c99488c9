#include "UiHarness.h"
#include <commctrl.h>
#include <cstdlib>
#include <vector>
#include <memory>
#include <type_traits>

namespace tv::test {

bool StartedProcess::Start(const std::wstring& commandLine) {
    Terminate();
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::wstring mutableLine = commandLine;
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    process_.Reset(pi.hProcess);
    id_ = pi.dwProcessId;
    return true;
}

long StartedProcess::WaitForExit(DWORD timeoutMs) {
    if (!process_ || WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.Get(), &code);
    return static_cast<long>(code);
}

void StartedProcess::Terminate() {
    if (!process_)
        return;
    if (WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.Get(), 1);
        WaitForSingleObject(process_.Get(), 5000);
    }
    process_.Reset();
    id_ = 0;
}

std::wstring ExeFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.rfind(L'\\'));
}

bool InstallRequired() {
    const char* required = std::getenv("TV_REQUIRE_INSTALL");
    return required && *required && std::string(required) != "0";
}

DialogAnswerer::DialogAnswerer(std::function<void(HWND)> answer, DWORD settleMs)
    : answer_(std::move(answer)), settleMs_(settleMs) {
    thread_ = std::thread([this] { Run(); });
}

DialogAnswerer::~DialogAnswerer() {
    stop_ = true;
    thread_.join();
}

void DialogAnswerer::Run() {
    const auto answerable = [] {
        for (HWND window = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); window;
             window = FindWindowExW(nullptr, window, L"#32770", nullptr)) {
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process == GetCurrentProcessId() && IsWindowVisible(window) && IsWindowEnabled(window))
                return window;
        }
        return HWND{};
    };
    while (!stop_) {
        HWND dialog = nullptr;
        if (!PollUntil([&] { return (dialog = answerable()) != nullptr; }, 200))
            continue;
        answer_(dialog);
        PollUntil([dialog] { return !IsWindowVisible(dialog) || !IsWindowEnabled(dialog); }, settleMs_);
    }
}

HWND FindShownWindow(const wchar_t* className, const wchar_t* title) {
    for (HWND window = FindWindowExW(nullptr, nullptr, className, title); window;
         window = FindWindowExW(nullptr, window, className, title)) {
        if (IsWindowVisible(window))
            return window;
    }
    return nullptr;
}

HWND WaitForWindow(const wchar_t* className, const wchar_t* title, DWORD timeoutMs) {
    HWND found = nullptr;
    PollUntil([&] { return (found = FindShownWindow(className, title)) != nullptr; }, timeoutMs);
    return found;
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs) {
    return PollUntil([window] { return !IsWindow(window) || !IsWindowVisible(window); }, timeoutMs);
}

bool ClickButton(HWND dialog, int buttonId) {
    HWND button = GetDlgItem(dialog, buttonId);
    if (!button)
        return false;
    // BM_CLICK goes through the button's own press handling, like a mouse click.
    return PostMessageW(button, BM_CLICK, 0, 0) != FALSE;
}

std::vector<uint8_t> CaptureScreen(int left, int top, int width, int height) {
    if (width <= 0 || height <= 0)
        return {};
    const auto releaseScreen = [](HDC dc) { ReleaseDC(nullptr, dc); };
    std::unique_ptr<std::remove_pointer_t<HDC>, decltype(releaseScreen)> screen(GetDC(nullptr), releaseScreen);
    if (!screen)
        return {};
    const auto deleteDc = [](HDC dc) { DeleteDC(dc); };
    std::unique_ptr<std::remove_pointer_t<HDC>, decltype(deleteDc)> memory(CreateCompatibleDC(screen.get()),
                                                                            deleteDc);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const auto deleteBitmap = [](HBITMAP bitmap) { DeleteObject(bitmap); };
    std::unique_ptr<std::remove_pointer_t<HBITMAP>, decltype(deleteBitmap)> bitmap(
        CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0), deleteBitmap);
    if (!memory || !bitmap || !bits)
        return {};
    HGDIOBJ old = SelectObject(memory.get(), bitmap.get());
    BitBlt(memory.get(), 0, 0, width, height, screen.get(), left, top, SRCCOPY);
    SelectObject(memory.get(), old);
    GdiFlush();
    const size_t rowBytes = ((static_cast<size_t>(width) * 3 + 3) / 4) * 4;
    const auto* first = static_cast<const uint8_t*>(bits);
    return std::vector<uint8_t>(first, first + rowBytes * static_cast<size_t>(height));
}

bool SaveScreenshot(const std::wstring& path) {
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    const std::vector<uint8_t> bits =
        CaptureScreen(GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN), width, height);
    if (bits.empty())
        return false;
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    header.bfSize = header.bfOffBits + static_cast<DWORD>(bits.size());
    com::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.Get(), &header, sizeof(header), &written, nullptr) &&
           WriteFile(file.Get(), &info, sizeof(info), &written, nullptr) &&
           WriteFile(file.Get(), bits.data(), static_cast<DWORD>(bits.size()), &written, nullptr) &&
           written == bits.size();
}

namespace {

// Asks a common control for an item's text with `message` and an item record (a tree or list
// record with `pszText` and `cchTextMax`). The control may belong to another process (a program's
// folder browser or session dialog): texts do not cross processes by themselves, so the record
// and its text buffer are then placed in the memory of the control's own process.
template <typename Record>
std::wstring ControlItemText(HWND control, UINT message, WPARAM wParam, const Record& record) {
    struct Buffers {
        Record record;
        wchar_t text[MAX_PATH];
    };
    DWORD processId = 0;
    GetWindowThreadProcessId(control, &processId);
    if (processId == GetCurrentProcessId()) {
        Buffers local{record, {}};
        local.record.pszText = local.text;
        local.record.cchTextMax = MAX_PATH;
        SendMessageW(control, message, wParam, reinterpret_cast<LPARAM>(&local.record));
        local.text[MAX_PATH - 1] = L'\0';
        return local.text;
    }
    com::UniqueHandle process(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId));
    if (!process)
        return {};
    void* remote = VirtualAllocEx(process.Get(), nullptr, sizeof(Buffers), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!remote)
        return {};
    auto* at = static_cast<Buffers*>(remote);
    Buffers local{record, {}};
    local.record.pszText = at->text;
    local.record.cchTextMax = MAX_PATH;
    std::wstring text;
    if (WriteProcessMemory(process.Get(), remote, &local, sizeof(local), nullptr)) {
        SendMessageW(control, message, wParam, reinterpret_cast<LPARAM>(&at->record));
        if (ReadProcessMemory(process.Get(), remote, &local, sizeof(local), nullptr)) {
            local.text[MAX_PATH - 1] = L'\0';
            text = local.text;
        }
    }
    VirtualFreeEx(process.Get(), remote, 0, MEM_RELEASE);
    return text;
}

std::wstring TreeItemText(HWND tree, HTREEITEM item) {
    TVITEMW data{};
    data.mask = TVIF_TEXT;
    data.hItem = item;
    return ControlItemText(tree, TVM_GETITEMW, 0, data);
}

// Whether a tree text names `name`: the shell shows an item in full ("My Zelvan\Dev1\Main").
bool NamesItem(const std::wstring& text, const std::wstring& name) {
    return text == name || (text.size() > name.size() && text.compare(text.size() - name.size(), name.size(), name) == 0 &&
                            text[text.size() - name.size() - 1] == L'\\');
}

// The child of `parent` named `name`, waiting for the tree to fill it after an expansion.
HTREEITEM FindTreeChild(HWND tree, HTREEITEM parent, const std::wstring& name) {
    HTREEITEM found = nullptr;
    PollUntil(
        [&] {
            for (HTREEITEM child = TreeView_GetChild(tree, parent); child; child = TreeView_GetNextSibling(tree, child))
                if (NamesItem(TreeItemText(tree, child), name)) {
                    found = child;
                    return true;
                }
            return false;
        },
        5000);
    return found;
}

} // namespace

std::wstring ListViewItemText(HWND list, int item, int column) {
    LVITEMW data{};
    data.iSubItem = column;
    return ControlItemText(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), data);
}

bool PickInFolderBrowser(const wchar_t* title, const std::vector<std::wstring>& folders, DWORD timeoutMs,
                         const std::vector<bool>* okExpected) {
    HWND dialog = WaitForWindow(L"#32770", title, timeoutMs);
    if (!dialog)
        return false;
    HWND tree = FindWindowExW(dialog, nullptr, L"SysTreeView32", nullptr);
    HTREEITEM item = tree ? TreeView_GetRoot(tree) : nullptr;
    bool found = item != nullptr;
    for (size_t i = 0; found && i < folders.size(); ++i) {
        TreeView_Expand(tree, item, TVE_EXPAND);
        item = FindTreeChild(tree, item, folders[i]);
        found = item != nullptr;
        if (found)
            TreeView_SelectItem(tree, item);
        // The dialog may settle the OK button with a message it posts itself.
        if (found && okExpected && i < okExpected->size())
            found = PollUntil(
                [&] { return (IsWindowEnabled(GetDlgItem(dialog, IDOK)) != FALSE) == (*okExpected)[i]; }, 2000);
    }
    const bool pick = found && !folders.empty();
    ClickButton(dialog, pick ? IDOK : IDCANCEL);
    return found;
}

} // namespace tv::test
