// Test support: the user's side of the backup wizard, driven from a thread of the test (the
// wizard may run in the test program or in the desktop program).
#pragma once
#include "BackupIds.h"
#include "UiHarness.h"
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <string>

namespace tv::test {

class WizardUser {
public:
    bool Find(DWORD timeoutMs = 20000) {
        sheet_ = nullptr;
        test::PollUntil(
            [&] {
                for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w;
                     w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
                    wchar_t title[256] = {};
                    GetWindowTextW(w, title, 256);
                    if (IsWindowVisible(w) && (wcsstr(title, L"Backup and restore") || wcsstr(title, L"Backing up") ||
                                               wcsstr(title, L"Restoring"))) {
                        sheet_ = w;
                        return true;
                    }
                }
                return false;
            },
            timeoutMs);
        return sheet_ != nullptr;
    }
    // Opens the wizard with `open` (a command posted to the program) and finds it. The program
    // runs one wizard at a time: a command that comes while the last wizard's thread is still
    // ending, its window already gone, is answered with a note ("Tavrilon"); the note is closed
    // and the command given again until a wizard shows.
    template <class Open> bool OpenAndFind(Open open) {
        for (int attempt = 0; attempt < 8; ++attempt) {
            open();
            if (Find(2500))
                return true;
            if (HWND note = test::FindShownWindow(L"#32770", L"Tavrilon"))
                PostMessageW(note, WM_COMMAND, IDOK, 0);
        }
        return false;
    }
    HWND Sheet() const { return sheet_; }
    HWND Page() const { return reinterpret_cast<HWND>(SendMessageW(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0)); }
    // Waits for the page that holds control `id`.
    HWND WaitForPageWith(int id) const {
        HWND page = nullptr;
        test::PollUntil([&] { return (page = Page()) && GetDlgItem(page, id); }, 15000);
        return page && GetDlgItem(page, id) ? page : nullptr;
    }
    void Press(int button) const { PostMessageW(sheet_, PSM_PRESSBUTTON, button, 0); }
    bool ButtonEnabled(int id) const { return IsWindowEnabled(GetDlgItem(sheet_, id)) != FALSE; }
    std::string Text(HWND page, int id) const {
        char text[512] = {};
        GetDlgItemTextA(page, id, text, sizeof(text));
        return text;
    }
    void Check(HWND page, int id, bool on) const {
        SendDlgItemMessageW(page, id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    // Backs up the other files only, under the set name `setName`: ticks the box on the classes
    // page, types the name on the sets page and presses Next on each. The sets page, or null when
    // a page did not come.
    HWND ChooseOtherFilesAndName(const char* setName) const {
        HWND classes = WaitForPageWith(IDC_BACKUP_APPS);
        if (!classes)
            return nullptr;
        Check(classes, IDC_BACKUP_OTHER, true);
        Press(PSBTN_NEXT);
        HWND sets = WaitForPageWith(IDC_BACKUP_SET_NAME);
        if (!sets)
            return nullptr;
        SetDlgItemTextA(sets, IDC_BACKUP_SET_NAME, setName);
        Press(PSBTN_NEXT);
        return sets;
    }
    // Waits until the progress page shows the operation's end (Finish enabled).
    bool WaitForFinish(DWORD timeoutMs = 60000) const {
        return test::PollUntil(
            [&] {
                HWND page = Page();
                return page && IsWindowVisible(GetDlgItem(page, IDC_BACKUP_SUCCESS));
            },
            timeoutMs);
    }

private:
    HWND sheet_ = nullptr;
};


} // namespace tv::test
