#include "OverwriteQuestion.h"

#include "Handles.h"
#include "LanguageLibrary.h"
#include "Transfers15Ids.h"

#include <shlwapi.h>

#include <cstdio>
#include <vector>

namespace tv {

namespace {

// The collapsed heights of the two overwrite dialogs, in pixels.
constexpr int kOverwriteCollapsedHeight = 130;
constexpr int kSystemOverwriteCollapsedHeight = 170;
// The item label holds at most this many characters, the terminator included.
constexpr UINT kItemLabelChars = 50;

// The module this code is linked into (a device link's DLL, or a test program).
HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

std::string LangText(UINT id) {
    com::UniqueModule library(LoadLanguageLibrary(ThisModule()));
    char text[1024] = {};
    if (library && LoadStringA(library.Get(), id, text, sizeof text) > 0)
        return text;
    return {};
}

std::string FormatWithText(const std::string& format, const std::string& argument) {
    if (format.empty())
        return argument;
    std::vector<char> text(format.size() + argument.size() + 64);
    std::snprintf(text.data(), text.size(), format.c_str(), argument.c_str());
    return text.data();
}

void CentreWindow(HWND dialog) {
    RECT area{};
    HWND owner = GetWindow(dialog, GW_OWNER);
    if (!owner || !GetWindowRect(owner, &area))
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    RECT own{};
    GetWindowRect(dialog, &own);
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    SetWindowPos(dialog, HWND_TOP, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0, SWP_NOSIZE);
}

} // namespace

std::string OverwriteDetails(const std::string& existing, unsigned long existingSize, const SYSTEMTIME& existingTime,
                             const std::string& replacing, unsigned long long replacingSize,
                             const SYSTEMTIME& replacingTime) {
    const std::string format = LangText(IDS_CONFIRM_OVERWRITE_DETAILS);
    if (format.empty())
        return {};
    const auto part = [](WORD value) { return static_cast<unsigned long>(value); };
    // The language text takes 32-bit sizes; larger files are shown at the largest such size.
    const unsigned long shownReplacingSize =
        replacingSize > 0xFFFFFFFFull ? 0xFFFFFFFFul : static_cast<unsigned long>(replacingSize);
    char text[2048];
    std::snprintf(text, sizeof(text), format.c_str(), existing.c_str(), existingSize, part(existingTime.wDay),
                  part(existingTime.wMonth), part(existingTime.wYear), part(existingTime.wHour),
                  part(existingTime.wMinute), replacing.c_str(), shownReplacingSize, part(replacingTime.wDay),
                  part(replacingTime.wMonth), part(replacingTime.wYear), part(replacingTime.wHour),
                  part(replacingTime.wMinute));
    return text;
}

HRESULT AskOverwrite(ForAllAnswers& answers, bool systemItem, const ConfirmQuestion& question) {
    if (systemItem) {
        if (answers.replaceAllSystem)
            return 1;
        if (answers.keepAllSystem)
            return 0;
        const ConfirmAnswer answer = SystemOverwriteDlg().Show(question);
        if (answer.forAll)
            (answer.result == 0 ? answers.replaceAllSystem : answers.keepAllSystem) = true;
        if (answer.result == 1)
            return 0;
        if (answer.result == 0)
            return 1;
    }
    if (answers.replaceAll)
        return 1;
    if (answers.keepAll)
        return 0;
    const ConfirmAnswer answer = OverwriteDlg().Show(question);
    if (answer.forAll)
        (answer.result == 0 ? answers.replaceAll : answers.keepAll) = true;
    return answer.result == 1 ? 0 : 1;
}

ConfirmAnswer ConfirmDialog::Show(const ConfirmQuestion& question) {
    question_ = &question;
    answer_ = {};
    com::UniqueModule language(LoadLanguageLibrary(ThisModule()));
    if (!language)
        return answer_;
    answer_.result = DialogBoxParamA(language.Get(), MAKEINTRESOURCEA(templateId_), GetActiveWindow(), DialogProc,
                                     reinterpret_cast<LPARAM>(this));
    return answer_;
}

INT_PTR CALLBACK ConfirmDialog::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        reinterpret_cast<ConfirmDialog*>(lParam)->OnInit(dialog);
        return TRUE;
    }
    auto* self = reinterpret_cast<ConfirmDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (!self || message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED)
        return FALSE;
    switch (LOWORD(wParam)) {
    case 1:
        self->Close(dialog, 0);
        return TRUE;
    case 2: // also the close box
        self->Close(dialog, 1);
        return TRUE;
    case IDC_CONFIRM_DETAILS_BUTTON:
        self->ToggleDetails(dialog);
        return TRUE;
    }
    return FALSE;
}

void ConfirmDialog::OnInit(HWND dialog) {
    CentreWindow(dialog);
    if (warningIcon_)
        SendDlgItemMessageA(dialog, IDC_CONFIRM_ICON, STM_SETICON,
                            reinterpret_cast<WPARAM>(LoadIconA(nullptr, IDI_WARNING)), 0);
    CheckDlgButton(dialog, IDC_CONFIRM_FOR_ALL, BST_UNCHECKED);
    EnableWindow(GetDlgItem(dialog, IDC_CONFIRM_FOR_ALL), question_->itemCount >= 2);

    char compact[kItemLabelChars] = {};
    PathCompactPathExA(compact, question_->itemPath.c_str(), kItemLabelChars, 0);
    SetDlgItemTextA(dialog, IDC_CONFIRM_ITEM, FormatWithText(LangText(IDS_CONFIRM_ITEM), compact).c_str());

    if (hasDetails_) {
        SetDlgItemTextA(dialog, IDC_CONFIRM_DETAILS_TEXT, question_->details.c_str());
        RECT full{};
        GetWindowRect(dialog, &full);
        fullSize_ = {full.right - full.left, full.bottom - full.top};
        SetWindowPos(dialog, nullptr, 0, 0, fullSize_.cx, collapsedHeight_, SWP_NOMOVE | SWP_NOZORDER);
        ShowWindow(GetDlgItem(dialog, IDC_CONFIRM_DETAILS_TEXT), SW_HIDE);
        hideDetailsText_ = LangText(IDS_CONFIRM_HIDE_DETAILS);
        showDetailsText_ = LangText(IDS_CONFIRM_SHOW_DETAILS);
        SetDlgItemTextA(dialog, IDC_CONFIRM_DETAILS_BUTTON, showDetailsText_.c_str());
    } else {
        SetForegroundWindow(dialog);
        SetFocus(dialog);
    }
}

void ConfirmDialog::ToggleDetails(HWND dialog) {
    expanded_ = !expanded_;
    SetWindowPos(dialog, nullptr, 0, 0, fullSize_.cx, expanded_ ? fullSize_.cy : collapsedHeight_,
                 SWP_NOMOVE | SWP_NOZORDER);
    ShowWindow(GetDlgItem(dialog, IDC_CONFIRM_DETAILS_TEXT), expanded_ ? SW_SHOW : SW_HIDE);
    SetDlgItemTextA(dialog, IDC_CONFIRM_DETAILS_BUTTON, (expanded_ ? hideDetailsText_ : showDetailsText_).c_str());
}

void ConfirmDialog::Close(HWND dialog, INT_PTR result) {
    answer_.forAll = IsDlgButtonChecked(dialog, IDC_CONFIRM_FOR_ALL) == BST_CHECKED;
    EndDialog(dialog, result);
}

OverwriteDlg::OverwriteDlg() : ConfirmDialog(IDD_OVERWRITE_15, kOverwriteCollapsedHeight, false, true) {}
SystemOverwriteDlg::SystemOverwriteDlg()
    : ConfirmDialog(IDD_SYSTEM_OVERWRITE_15, kSystemOverwriteCollapsedHeight, true, true) {}
ReadOnlyDeleteDlg::ReadOnlyDeleteDlg() : ConfirmDialog(IDD_READ_ONLY_DELETE_15, 0, false, false) {}

} // namespace tv
