// Test support: the backup wizard of the running program, opened with the tray's back-up command
// for one device and driven as a user would (a backup, a restore, a cancel on the progress page),
// and the set files of a backup folder.
#pragma once
#include "FileTree.h"
#include "WizardUser.h"
#include "ZelvanMgr.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <cstdint>
#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tv::test {

// The names of the set files in a folder, sorted.
inline std::vector<std::string> SetFilesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((folder + "\\*.zbk").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do
            names.emplace_back(found.cFileName);
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The names the hub lists for a path; empty when it lists nothing.
inline std::vector<std::string> ListedNames(IZelvanMgr* hub, std::string path) {
    std::vector<std::string> names;
    IZvEnumFileItems* items = nullptr;
    if (FAILED(hub->EnumFileItems(path.data(), 31, &items)) || !items)
        return names;
    ZVFILEITEM item{};
    LONG fetched = 0;
    while (items->Next(1, &item, &fetched) == S_OK && fetched == 1) {
        names.emplace_back(item.strName ? item.strName : "");
        CoTaskMemFree(item.strName);
        CoTaskMemFree(item.strDesc);
        CoTaskMemFree(item.strIconFile);
    }
    items->Release();
    return names;
}

// Waits until the hub is no longer kept busy by a dialog.
inline bool WaitUntilHubFree(IZelvanMgr* hub) {
    LONG busy = -1;
    return PollUntil([&] { return SUCCEEDED(hub->get_BusyUI(&busy)) && busy == 0; }, 20000);
}

// The wizard that the program's tray command `command` (its back-up command of one device) opens.
class ProgramWizard {
public:
    // `shot` saves a screenshot under a name (without folder and extension).
    ProgramWizard(HWND mainDialog, UINT command, std::function<void(const std::string&)> shot)
        : mainDialog_(mainDialog), command_(command), shot_(std::move(shot)) {}

    // Opens the wizard and goes past the choice page with a backup or a restore chosen.
    testing::AssertionResult Open(WizardUser& user, bool restore, const std::string& shotPrefix) {
        if (!user.OpenAndFind([&] { PostMessageW(mainDialog_, WM_COMMAND, command_, 0); }))
            return testing::AssertionFailure() << "no wizard";
        if (!user.WaitForPageWith(IDC_BACKUP_WELCOME_TITLE))
            return testing::AssertionFailure() << "no welcome page";
        user.Press(PSBTN_NEXT);
        HWND choice = user.WaitForPageWith(IDC_BACKUP_CHOOSE_RESTORE);
        if (!choice)
            return testing::AssertionFailure() << "no choice page";
        SendDlgItemMessageW(choice, restore ? IDC_BACKUP_CHOOSE_RESTORE : IDC_BACKUP_CHOOSE_BACKUP, BM_CLICK, 0, 0);
        if (!PollUntil([&] { return IsDlgButtonChecked(choice, restore ? IDC_BACKUP_CHOOSE_RESTORE
                                                                       : IDC_BACKUP_CHOOSE_BACKUP) == BST_CHECKED; },
                       5000))
            return testing::AssertionFailure() << "the choice was not taken";
        shot_(shotPrefix + "_choice");
        user.Press(PSBTN_NEXT);
        return testing::AssertionSuccess();
    }

    // A backup of every file class into the set `setName`, up to the progress page.
    testing::AssertionResult StartBackup(WizardUser& user, const std::string& setName, const std::string& shotPrefix) {
        testing::AssertionResult opened = Open(user, false, shotPrefix);
        if (!opened)
            return opened;
        HWND classes = user.WaitForPageWith(IDC_BACKUP_APPS);
        if (!classes)
            return testing::AssertionFailure() << "no classes page";
        for (int id : {IDC_BACKUP_APPS, IDC_BACKUP_MUSIC, IDC_BACKUP_OTHER, IDC_BACKUP_SYSTEM})
            user.Check(classes, id, true);
        user.Press(PSBTN_NEXT);
        HWND sets = user.WaitForPageWith(IDC_BACKUP_SET_NAME);
        if (!sets)
            return testing::AssertionFailure() << "no set page";
        SetDlgItemTextA(sets, IDC_BACKUP_SET_NAME, setName.c_str());
        shot_(shotPrefix + "_set");
        user.Press(PSBTN_NEXT);
        if (!user.WaitForPageWith(IDC_BACKUP_BAR))
            return testing::AssertionFailure() << "no progress page";
        return testing::AssertionSuccess();
    }

    // A restore of the only set listed (every class the set holds), up to the progress page.
    testing::AssertionResult StartRestore(WizardUser& user, const std::string& shotPrefix) {
        testing::AssertionResult opened = Open(user, true, shotPrefix);
        if (!opened)
            return opened;
        HWND sets = user.WaitForPageWith(IDC_BACKUP_SET_LIST);
        if (!sets)
            return testing::AssertionFailure() << "no set page";
        if (SendDlgItemMessageA(sets, IDC_BACKUP_SET_LIST, LB_GETCOUNT, 0, 0) != 1)
            return testing::AssertionFailure() << "not one set listed";
        user.Press(PSBTN_NEXT);
        if (!user.WaitForPageWith(IDC_BACKUP_APPS))
            return testing::AssertionFailure() << "no classes page";
        shot_(shotPrefix + "_classes");
        user.Press(PSBTN_NEXT);
        if (!user.WaitForPageWith(IDC_BACKUP_BAR))
            return testing::AssertionFailure() << "no progress page";
        return testing::AssertionSuccess();
    }

    // Answers the device's question whether to replace a file that is there already: Replace,
    // for all items.
    void AnswerReplaceQuestion(const std::string& shotPrefix) {
        HWND question = FindShownWindow(L"#32770", L"Confirm File Replace");
        if (!question)
            return;
        shot_(shotPrefix + "_replace");
        SendDlgItemMessageW(question, kConfirmForAll, BM_SETCHECK, BST_CHECKED, 0);
        ClickButton(question, IDOK); // Replace
        WaitForWindowGone(question, 5000);
    }

    // Waits for the end shown on the progress page, answering the replace question meanwhile.
    bool WaitForEnd(WizardUser& user, const std::string& shotPrefix, DWORD timeoutMs) {
        HWND progress = user.Page();
        return PollUntil(
            [&] {
                AnswerReplaceQuestion(shotPrefix);
                return IsWindowVisible(GetDlgItem(progress, IDC_BACKUP_SUCCESS)) != FALSE;
            },
            timeoutMs);
    }

    // Waits for the end shown on the progress page, then finishes the wizard.
    testing::AssertionResult Finish(WizardUser& user, const std::string& shotPrefix, DWORD timeoutMs = 120000) {
        HWND progress = user.Page();
        if (!WaitForEnd(user, shotPrefix, timeoutMs)) {
            char status[512] = {};
            GetDlgItemTextA(progress, IDC_BACKUP_STATUS, status, sizeof(status));
            shot_(shotPrefix + "_unfinished");
            return testing::AssertionFailure() << "no successful end; status: " << status;
        }
        shot_(shotPrefix + "_done");
        user.Press(PSBTN_FINISH);
        if (!WaitForWindowGone(user.Sheet(), 15000))
            return testing::AssertionFailure() << "the wizard stayed";
        return testing::AssertionSuccess();
    }

    // Once the progress bar moved (an item is under way), Cancel; then, once the page shows the
    // operation's end, Finish. `status` receives the page's last status line.
    testing::AssertionResult CancelInTheMiddle(WizardUser& user, const std::string& shotPrefix, std::string& status) {
        HWND progress = user.Page();
        if (!PollUntil(
                [&] {
                    AnswerReplaceQuestion(shotPrefix);
                    return SendDlgItemMessageA(progress, IDC_BACKUP_BAR, PBM_GETPOS, 0, 0) > 0;
                },
                60000))
            return testing::AssertionFailure() << "the progress bar never moved";
        shot_(shotPrefix + "_cancelling");
        user.Press(PSBTN_CANCEL);
        if (!WaitForEnd(user, shotPrefix, 120000))
            return testing::AssertionFailure() << "the operation did not end after Cancel";
        status = user.Text(progress, IDC_BACKUP_STATUS);
        shot_(shotPrefix + "_cancelled");
        user.Press(PSBTN_FINISH);
        if (!WaitForWindowGone(user.Sheet(), 15000))
            return testing::AssertionFailure() << "the wizard stayed";
        return testing::AssertionSuccess();
    }

private:
    static constexpr int kConfirmForAll = 14008; // the question's "Do this for all items"
    HWND mainDialog_;
    UINT command_;
    std::function<void(const std::string&)> shot_;
};

} // namespace tv::test
