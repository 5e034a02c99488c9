// ZvSyncProgressDlg: the window of one synchronization session. It lists the synchronizers
// compatible with the device (checked when scheduled), steps the checked ones one after the other
// through the phases with the manager's SyncStep, takes their progress as their IZvSyncCallback
// sink and lets the user start, stop and close. It lives on the session thread, which runs its
// message loop.
#pragma once
#include "ComObject.h"
#include "ZelvanMgr.h"
#include "ZvSyncMgr.h"
#include <commctrl.h>
#include <string>
#include <vector>

namespace tv::sync {

// Creates, initialises and shows the dialog, presses Start when `autoStart`, runs the loop until
// the dialog quits and destroys it. E_FAIL when the dialog cannot be made.
HRESULT RunSessionDialog(IZvSyncMgr* manager, const std::string& deviceId, const std::string& deviceName,
                         bool autoStart);

// The message a finished step posts: wParam is the kind, lParam packs the row and the phase.
inline constexpr UINT kStepEndMessage = WM_APP + 100;

class SyncProgressDialog : public com::ComObject<SyncProgressDialog, IZvSyncCallback> {
  public:
    SyncProgressDialog() = default;
    ~SyncProgressDialog() override;

    // Makes the window (hidden) from the language library; E_FAIL when it cannot be made.
    HRESULT Create();
    HRESULT Initialise(IZvSyncMgr* manager, const std::string& deviceId, const std::string& deviceName);
    HWND Window() const { return window_; }

    // IZvSyncCallback
    STDMETHODIMP OnUpdate(IZvSynchronizer* pSource, ZVSYNCPHASE phase, ZVSYNCSTATUS status, ULONG nDone,
                          ULONG nTotal) override;
    STDMETHODIMP OnCustomUpdate(IZvSynchronizer* pSource, ZVSYNCPHASE phase, ZVSYNCSTATUS status,
                                LPSTR description, ULONG nDone, ULONG nTotal) override;
    STDMETHODIMP OnError(IZvSynchronizer* pSource, ZVSYNCPHASE phase, LPSTR description) override;

  private:
    enum StepEnd : WPARAM { kStopped = 1, kFailed = 2, kCompleted = 4 };
    struct Row {
        com::ComPtr<IZvSynchronizer> synchronizer;
        com::ComPtr<IUnknown> identity;
        long cookie = 0;
        bool advised = false;
        int lastPhase = 0;
        std::string name;
    };

    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    HRESULT AddRow(IZvSynchronizer* synchronizer, bool scheduled);
    int FindRow(IZvSynchronizer* source) const;
    // The row a report is about: E_INVALIDARG without a source, E_FAIL for an unknown one,
    // S_FALSE when the report is not about the running phase.
    HRESULT ReportedRow(IZvSynchronizer* source, int phase, int& row) const;
    bool IsRunning(int row, int phase) const {
        return row >= 0 && row == runningRow_ && phase == runningPhase_;
    }

    void ResetSession();
    void StepNext();
    void Stop();
    void Close();
    void OnStepEnd(WPARAM kind, int row, int phase);
    void EndStep(int lastPhase, UINT statusId);
    void UnadviseAll();
    void PostStepEnd(StepEnd kind, int row, int phase);

    std::string Text(UINT id) const;
    void SetStatus(UINT id);
    void SetRowStatus(int row, const std::string& text);
    bool IsChecked(int row) const;
    void SetButtons(bool running);
    void ResetProgress();

    HWND window_ = nullptr;
    HWND list_ = nullptr;
    HWND progress_ = nullptr;
    HIMAGELIST images_ = nullptr;
    HFONT boldFont_ = nullptr;
    com::ComPtr<IZvSyncMgr> manager_;
    com::ComPtr<IZelvanMgrDisp2> hub_;
    std::string deviceId_;
    std::string deviceName_;
    std::vector<Row> rows_;
    int runningRow_ = -1;
    int runningPhase_ = 0;
    bool stopped_ = false;
    bool closing_ = false;
};

} // namespace tv::sync
