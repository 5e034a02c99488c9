#include "BackupProgressSink.h"
#include "AnsiText.h"
#include "BackupIds.h"
#include "BackupTexts.h"
#include <commctrl.h>
#include <prsht.h>

namespace tv::backup {

namespace {

// The words by which a step counts files instead of bytes: the library removal's step text holds them.
constexpr char kCountingStepWords[] = "being deleted";

} // namespace

BackupProgressSink::BackupProgressSink(HWND page, HMODULE language) : page_(page), language_(language) {}

int BackupProgressSink::ScaledPosition(uint64_t position, uint64_t range) {
    if (range == 0)
        return 0;
    if (position >= range)
        return kBarSteps;
    // Below 2^50 bytes the product cannot overflow.
    return static_cast<int>(position * kBarSteps / range);
}

void BackupProgressSink::SetPosition(uint64_t position) {
    SendDlgItemMessageA(page_, IDC_BACKUP_BAR, PBM_SETPOS, static_cast<WPARAM>(ScaledPosition(position, range_)), 0);
}

void BackupProgressSink::SetButtons(bool finishAndBack, bool cancel) {
    PropSheet_SetWizButtons(Sheet(), finishAndBack ? (PSWIZB_BACK | PSWIZB_FINISH) : PSWIZB_DISABLEDFINISH);
    EnableWindow(GetDlgItem(Sheet(), IDCANCEL), cancel);
}

STDMETHODIMP BackupProgressSink::OnStart() {
    SetButtons(false, true);
    ShowWindow(GetDlgItem(page_, IDC_BACKUP_BUSY), SW_SHOW);
    ShowWindow(GetDlgItem(page_, IDC_BACKUP_SUCCESS), SW_HIDE);
    Animate_Play(GetDlgItem(page_, IDC_BACKUP_ANIMATION), 0, -1, -1);
    done_ = false;
    error_ = false;
    countingItems_ = false;
    return S_OK;
}

STDMETHODIMP BackupProgressSink::OnNumItems(long nNumItems) {
    range_ = nNumItems > 0 ? static_cast<uint64_t>(nNumItems) : 0;
    SendDlgItemMessageA(page_, IDC_BACKUP_BAR, PBM_SETRANGE32, 0, kBarSteps);
    SetPosition(0);
    return S_OK;
}

STDMETHODIMP BackupProgressSink::OnNewItem(long nItemSize) {
    itemSize_ = nItemSize > 0 ? static_cast<uint64_t>(nItemSize) : 0;
    return S_OK;
}

STDMETHODIMP BackupProgressSink::OnItemProgress(long nItemProgress) {
    SetPosition(base_ + (nItemProgress > 0 ? static_cast<uint64_t>(nItemProgress) : 0));
    return S_OK;
}

STDMETHODIMP BackupProgressSink::OnItemComplete() {
    base_ += countingItems_ ? 1 : itemSize_;
    SetPosition(base_);
    return S_OK;
}

STDMETHODIMP BackupProgressSink::OnOperComplete() {
    SendDlgItemMessageA(page_, IDC_BACKUP_BAR, PBM_SETPOS, 0, 0);
    return S_OK;
}

STDMETHODIMP BackupProgressSink::OnStatus(BSTR pEventStr) {
    SetDlgItemTextA(page_, IDC_BACKUP_STATUS, com::ToAnsi(pEventStr).c_str());
    return S_OK;
}

STDMETHODIMP BackupProgressSink::OnProcess(BSTR pEventStr) {
    const std::string text = com::ToAnsi(pEventStr);
    countingItems_ = text.find(kCountingStepWords) != std::string::npos;
    ShowWindow(GetDlgItem(page_, IDC_BACKUP_DELETING), countingItems_ ? SW_SHOW : SW_HIDE);
    ShowWindow(GetDlgItem(page_, IDC_BACKUP_BUSY), countingItems_ ? SW_HIDE : SW_SHOW);
    SetDlgItemTextA(page_, IDC_BACKUP_STEP, text.c_str());
    error_ = false;
    for (int id : {IDC_BACKUP_BAR, IDC_BACKUP_STEP, IDC_BACKUP_STATUS})
        ShowWindow(GetDlgItem(page_, id), SW_SHOW);
    return S_OK;
}

void BackupProgressSink::ShowError(const std::string& text) {
    SetDlgItemTextA(page_, IDC_BACKUP_STEP, LoadText(language_, IDS_BACKUP_ERROR_HEADER).c_str());
    SetDlgItemTextA(page_, IDC_BACKUP_STATUS, text.c_str());
    Animate_Stop(GetDlgItem(page_, IDC_BACKUP_ANIMATION));
    SendDlgItemMessageA(page_, IDC_BACKUP_BAR, PBM_SETPOS, 0, 0);
    SetButtons(false, true);
    error_ = true;
}

STDMETHODIMP BackupProgressSink::OnError(BSTR pEventStr) {
    ShowError(com::ToAnsi(pEventStr));
    return S_OK;
}

STDMETHODIMP BackupProgressSink::OnExit() {
    Animate_Stop(GetDlgItem(page_, IDC_BACKUP_ANIMATION));
    SendDlgItemMessageA(page_, IDC_BACKUP_BAR, PBM_SETPOS, 0, 0);
    if (!error_) {
        SetButtons(true, false);
        ShowWindow(GetDlgItem(page_, IDC_BACKUP_BUSY), SW_HIDE);
        ShowWindow(GetDlgItem(page_, IDC_BACKUP_DELETING), SW_HIDE);
        ShowWindow(GetDlgItem(page_, IDC_BACKUP_SUCCESS), SW_SHOW);
    }
    done_ = true;
    return S_OK;
}

} // namespace tv::backup
