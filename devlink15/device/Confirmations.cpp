// Overwrite and read-only confirmations of the device object. The answers given "for all items"
// are kept in the device object until the hub resets it for the next operation.
#include "Confirmations.h"

#include "LangIds.h"
#include "TransferSupport.h"
#include "ZvDevice15.h"

#include <shlwapi.h>

#include <cstdio>

namespace devlink15 {

namespace {

// The collapsed heights of the two overwrite dialogs, in pixels.
constexpr int kOverwriteCollapsedHeight = 130;
constexpr int kSystemOverwriteCollapsedHeight = 170;
// The item label holds at most this many characters, the terminator included.
constexpr UINT kItemLabelChars = 50;

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

SYSTEMTIME AsCalendarTime(long low, long high) {
    FILETIME fileTime{static_cast<DWORD>(low), static_cast<DWORD>(high)};
    SYSTEMTIME time{};
    FileTimeToSystemTime(&fileTime, &time);
    return time;
}

// The detail text: the existing item, then the one that would replace it.
std::string OverwriteDetails(const std::string& dest, DWORD destSize, const SYSTEMTIME& destTime,
                             const std::string& source, DWORD sourceSize, const SYSTEMTIME& sourceTime) {
    const std::string format = ZvDevice15::LangString(IDS_CONFIRM_OVERWRITE_DETAILS);
    if (format.empty())
        return {};
    const auto part = [](WORD value) { return static_cast<unsigned long>(value); };
    char text[2048];
    std::snprintf(text, sizeof(text), format.c_str(), dest.c_str(), static_cast<unsigned long>(destSize),
                  part(destTime.wDay), part(destTime.wMonth), part(destTime.wYear), part(destTime.wHour),
                  part(destTime.wMinute), source.c_str(), static_cast<unsigned long>(sourceSize),
                  part(sourceTime.wDay), part(sourceTime.wMonth), part(sourceTime.wYear),
                  part(sourceTime.wHour), part(sourceTime.wMinute));
    return text;
}

// Asks about one existing item, or answers from an earlier "for all" choice. 1 replace, 0 keep.
HRESULT AskOverwrite(ZvDevice15& device, const ListingEntry& existing, const std::string& details,
                     const std::string& dest) {
    ZvDevice15::OverwriteAnswers& answers = device.Answers();
    const ConfirmQuestion question{details, dest, device.ItemCount()};
    if (existing.attr & kAttrSystem) {
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

} // namespace

ConfirmAnswer ConfirmDialog::Show(const ConfirmQuestion& question) {
    question_ = &question;
    answer_ = {};
    tv::com::UniqueModule language(
        LoadLibraryExA(ZvDevice15::LanguageLibraryPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!language)
        return answer_;
    answer_.result = DialogBoxParamA(language.Get(), MAKEINTRESOURCEA(templateId_), GetActiveWindow(),
                                     DialogProc, reinterpret_cast<LPARAM>(this));
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
    SetDlgItemTextA(dialog, IDC_CONFIRM_ITEM, transfer::Text(IDS_CONFIRM_ITEM, compact).c_str());

    if (hasDetails_) {
        SetDlgItemTextA(dialog, IDC_CONFIRM_DETAILS_TEXT, question_->details.c_str());
        RECT full{};
        GetWindowRect(dialog, &full);
        fullSize_ = {full.right - full.left, full.bottom - full.top};
        SetWindowPos(dialog, nullptr, 0, 0, fullSize_.cx, collapsedHeight_, SWP_NOMOVE | SWP_NOZORDER);
        ShowWindow(GetDlgItem(dialog, IDC_CONFIRM_DETAILS_TEXT), SW_HIDE);
        hideDetailsText_ = ZvDevice15::LangString(IDS_CONFIRM_HIDE_DETAILS);
        showDetailsText_ = ZvDevice15::LangString(IDS_CONFIRM_SHOW_DETAILS);
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
    SetDlgItemTextA(dialog, IDC_CONFIRM_DETAILS_BUTTON,
                    (expanded_ ? hideDetailsText_ : showDetailsText_).c_str());
}

void ConfirmDialog::Close(HWND dialog, INT_PTR result) {
    answer_.forAll = IsDlgButtonChecked(dialog, IDC_CONFIRM_FOR_ALL) == BST_CHECKED;
    EndDialog(dialog, result);
}

OverwriteDlg::OverwriteDlg() : ConfirmDialog(IDD_OVERWRITE_15, kOverwriteCollapsedHeight, false, true) {}
SystemOverwriteDlg::SystemOverwriteDlg()
    : ConfirmDialog(IDD_SYSTEM_OVERWRITE_15, kSystemOverwriteCollapsedHeight, true, true) {}
ReadOnlyDeleteDlg::ReadOnlyDeleteDlg() : ConfirmDialog(IDD_READ_ONLY_DELETE_15, 0, false, false) {}

HRESULT ZvDevice15::ConfirmOverwrite(const std::string& dest, const std::string& source) {
    ListingEntry existing;
    if (StatItem(dest, &existing) != S_OK || enableUI_ != 1)
        return 1;
    tv::com::UniqueFileHandle file(
        CreateFileA(source.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return E_FAIL;
    const DWORD size = GetFileSize(file.Get(), nullptr);
    FILETIME written{};
    SYSTEMTIME writtenLocal{};
    if (!GetFileTime(file.Get(), nullptr, nullptr, &written) ||
        !FileTimeToLocalSystemTime(written, writtenLocal))
        return E_FAIL;
    file.Reset();
    const std::string details =
        OverwriteDetails(dest, static_cast<DWORD>(existing.size),
                         AsCalendarTime(existing.timeLow, existing.timeHigh), source, size, writtenLocal);
    return AskOverwrite(*this, existing, details, dest);
}

HRESULT ZvDevice15::ConfirmOverwriteOnDevice(const std::string& dest, const std::string& source) {
    ListingEntry existing;
    if (StatItem(dest, &existing) != S_OK || enableUI_ != 1)
        return 1;
    ListingEntry replacing;
    if (source.empty() || StatItem(source.substr(1), &replacing) != S_OK)
        return E_FAIL;
    const std::string details = OverwriteDetails(
        dest, static_cast<DWORD>(existing.size), AsCalendarTime(existing.timeLow, existing.timeHigh), source,
        static_cast<DWORD>(replacing.size), AsCalendarTime(replacing.timeLow, replacing.timeHigh));
    return AskOverwrite(*this, existing, details, dest);
}

bool ZvDevice15::ConfirmDeleteReadOnly(ListingEntry entry) {
    const auto clearAndGo = [&] {
        ApplyItemAttributes(entry.path, 0);
        return true;
    };
    if (enableUI_ != 1 || !(entry.attr & kAttrReadOnly))
        return clearAndGo();
    if (answers_.deleteAllReadOnly)
        return clearAndGo();
    if (answers_.keepAllReadOnly)
        return false;
    const ConfirmAnswer answer =
        ReadOnlyDeleteDlg().Show({{}, transfer::AfterLast(entry.path, '/'), itemCount_});
    if (answer.forAll)
        (answer.result == 0 ? answers_.deleteAllReadOnly : answers_.keepAllReadOnly) = true;
    if (answer.result == 1)
        return false;
    return clearAndGo();
}

bool ZvDevice15::ConfirmRenameReadOnly(ListingEntry entry) {
    if (enableUI_ != 1 || !(entry.attr & kAttrReadOnly))
        return true;
    const std::string text =
        transfer::Text(IDS_CONFIRM_RENAME_READ_ONLY, transfer::AfterLast(entry.path, '/'));
    const std::string caption = LangString(IDS_CONFIRM_RENAME_READ_ONLY_CAPTION);
    return MessageBoxA(GetDesktopWindow(), text.c_str(), caption.c_str(),
                       MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDNO;
}

} // namespace devlink15
