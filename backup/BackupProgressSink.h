// The progress page's sink: the backuper's reports shown on the page (bar, step and status
// texts, animation, wizard buttons).
#pragma once
#include "ComObject.h"
#include "ZvBackupMgr.h"
#include <windows.h>
#include <atomic>
#include <cstdint>

namespace tv::backup {

class BackupProgressSink : public com::ComObject<BackupProgressSink, IZvBackupProgress> {
public:
    BackupProgressSink(HWND page, HMODULE language);

    bool Done() const { return done_; }
    bool ErrorShown() const { return error_; }
    // Shows an error text the way a backuper's OnError does.
    void ShowError(const std::string& text);

    STDMETHODIMP OnNumItems(long nNumItems) override;
    STDMETHODIMP OnItemComplete() override;
    STDMETHODIMP OnNewItem(long nItemSize) override;
    STDMETHODIMP OnItemProgress(long nItemProgress) override;
    STDMETHODIMP OnOperComplete() override;
    STDMETHODIMP OnStatus(BSTR pEventStr) override;
    STDMETHODIMP OnProcess(BSTR pEventStr) override;
    STDMETHODIMP OnError(BSTR pEventStr) override;
    STDMETHODIMP OnExit() override;
    STDMETHODIMP OnStart() override;

    // The bar's fixed range; positions are scaled to it so that any byte count fits.
    static constexpr int kBarSteps = 10000;
    static int ScaledPosition(uint64_t position, uint64_t range);

private:
    void SetPosition(uint64_t position);
    void SetButtons(bool finishAndBack, bool cancel);
    HWND Sheet() const { return GetParent(page_); }

    HWND page_;
    HMODULE language_;
    uint64_t range_ = 0;
    uint64_t base_ = 0;
    uint64_t itemSize_ = 0;
    bool countingItems_ = false;
    std::atomic<bool> error_{false};
    std::atomic<bool> done_{false};
};

} // namespace tv::backup
