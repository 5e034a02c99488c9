#include "SubscriptionTestUser.h"
#include "LangIds.h"
#include <fstream>
#include <iterator>

namespace tv::test {
namespace {

constexpr DWORD kWindowWaitMs = 15000;

std::wstring WindowText(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, ARRAYSIZE(text));
    return text;
}

HWND FirstEdit(HWND dialog) {
    HWND found = nullptr;
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM out) -> BOOL {
            wchar_t name[32] = {};
            GetClassNameW(child, name, ARRAYSIZE(name));
            if (lstrcmpiW(name, L"Edit") == 0 && IsWindowVisible(child)) {
                *reinterpret_cast<HWND*>(out) = child;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// Gives `answer` to `dialog` until the dialog goes away: an answer that comes while the dialog
// still sets itself up may get lost. False when it stays.
bool AnswerUntilClosed(HWND dialog, const std::function<void()>& answer) {
    for (int attempt = 0; attempt < 10 && IsWindow(dialog); ++attempt) {
        Sleep(300);
        answer();
        for (int wait = 0; wait < 10 && IsWindow(dialog); ++wait)
            Sleep(100);
    }
    return !IsWindow(dialog);
}

} // namespace

std::wstring WinePath(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* c = unixPath; *c; ++c)
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

std::string ReadFile(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::wstring Text(UINT id) {
    static HMODULE language = LoadLibraryExW(L"Zv0409.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    wchar_t buffer[512] = {};
    LoadStringW(language, id, buffer, ARRAYSIZE(buffer));
    return buffer;
}

std::string OpenWindows() {
    std::string list;
    EnumWindows(
        [](HWND window, LPARAM out) -> BOOL {
            if (IsWindowVisible(window)) {
                char title[200] = {}, name[64] = {};
                GetWindowTextA(window, title, sizeof(title));
                GetClassNameA(window, name, sizeof(name));
                *reinterpret_cast<std::string*>(out) += std::string("[") + name + "] \"" + title + "\"; ";
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&list));
    return list;
}

bool SubscriptionUser::AnswerFirstDialog(int button) {
    HWND dialog = WaitForWindow(L"#32770", kFirstDialogCaption, kWindowWaitMs);
    return dialog && AnswerUntilClosed(dialog, [&] { ClickButton(dialog, button); });
}

bool SubscriptionUser::ChoosePackage(const std::wstring& path) {
    HWND dialog = WaitForWindow(L"#32770", Text(IDS_SUBSCRIPTION_OPEN_TITLE).c_str(), kWindowWaitMs);
    return dialog && AnswerUntilClosed(dialog, [&] {
               if (path.empty()) {
                   ClickButton(dialog, IDCANCEL);
               } else if (HWND edit = FirstEdit(dialog)) {
                   SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
                   ClickButton(dialog, IDOK);
               }
           });
}

std::optional<std::wstring> SubscriptionUser::CloseMessageBox(const std::wstring& caption) {
    HWND box = WaitForWindow(L"#32770", caption.c_str(), kWindowWaitMs);
    if (!box)
        return std::nullopt;
    Sleep(200);
    std::wstring text = WindowText(GetDlgItem(box, 0xFFFF));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    return text;
}

} // namespace tv::test
