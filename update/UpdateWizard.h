// The update wizard's window and its seven pages. Everything here lives on the wizard thread:
// the window, the pages' state and their controls. The object's methods reach it only through
// RunOnWizardThread, which sends the work to that thread and waits for it.
#pragma once

#include "Handles.h"
#include "UpdateRules.h"

#include <windows.h>

#include <commctrl.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace tv::update {

// Page numbers as the script passes them (ZUP_00 .. ZUP_06).
inline constexpr int kFirstPage = 1;
inline constexpr int kPageCount = 7;

// The button configuration rule: flag 1 sets the text, 2 the enabled state, 4 the visibility.
void ConfigureControl(HWND control, const std::wstring& text, long isEnabled, long isVisible, long flags);

struct FilePageState {
    zvupdate::FilePage kind = zvupdate::FilePage::Simple;
    std::vector<zvupdate::UpdateFile> updates;
    std::vector<zvupdate::DeviceFile> devices;
    bool selectAll = false;
    bool formatFlash = false;
    int64_t freeSpace = 0;
    int64_t totalSpace = 0;
    long requiredSpace = 0;
    bool overflow = false;
    bool filling = false;
    zvupdate::FileSortOrder order;
};

struct DeviceRow {
    std::wstring name, sysPackVersion, zvId, description;
};

class UpdateWizard {
  public:
    UpdateWizard(std::wstring sysPackVersion, std::wstring zvId);
    ~UpdateWizard();
    UpdateWizard(const UpdateWizard&) = delete;
    UpdateWizard& operator=(const UpdateWizard&) = delete;

    // Creates the window (hidden); null when it cannot be made.
    HWND Create();
    HWND Window() const { return window_; }
    HANDLE ButtonEvent() const { return buttonEvent_.Get(); }
    int PressedButton() const { return pressed_; }

    // Runs `work` on the wizard thread (sent to the window) and returns its result.
    HRESULT RunOnWizardThread(const std::function<HRESULT()>& work);

    // Everything below runs on the wizard thread.
    void SetTitle(const std::wstring& title);
    void SetHeader(const std::wstring* text, const std::wstring* subtext);
    void SetLabel(long label);
    void ConfigButton(int id, const std::wstring& text, long isEnabled, long isVisible, long flags);

    // Page data (indexes: ZUP_00 = 0 .. ZUP_06 = 6).
    HWND Page(int index) const { return pages_[index]; }
    void SetPageText(int index, int control, const std::wstring& text);

    // Update level page
    long level = 1;
    long recommendedLevel = 1;
    std::array<std::wstring, 3> levelNames, levelDescriptions;
    void RedrawLevelPage();

    // File pages (ZUP_01 and ZUP_06)
    FilePageState& Files(bool advanced) { return advanced ? advanced_ : files_; }
    void RefillFiles(bool advanced);
    void RecomputeSpace(bool advanced);
    void ApplySelectAll(bool advanced);
    void ApplyFormatFlash(bool advanced);
    // A page that holds the wizard sets Next from its own state.
    void HandPageTheWizard(int index);

    // Progress page
    long range = 100, position = 0, rangeEx = 100, positionEx = 0;
    void SetRange(bool ex, long value);
    void SetPosition(bool ex, long value);
    void EnableProgressEx(bool enabled);
    void SetProgressText(bool ex, const std::wstring& text);
    void AutoProgressStart(long totalMs, long count);
    void AutoProgressWait();
    void AutoProgressResume();
    void AutoProgressStop();
    void ShowAnimation(int number);
    void HideAnimation();

    // Device page
    std::vector<DeviceRow> deviceRows;
    bool unknownDevice = false;
    std::wstring selectedDeviceId;
    void AddDeviceRow(DeviceRow row);
    void RemoveDeviceRows();
    void SetUnknownDevice(bool unknown);
    void SelectDeviceId(const std::wstring& id);

  private:
    static INT_PTR CALLBACK WizardProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleWizard(UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandlePage(int index, UINT message, WPARAM wParam, LPARAM lParam);
    void Start();
    void CreatePages();
    void ShowPage(int number, bool show);
    void CommitPage(int index);
    void DrawHeader(const DRAWITEMSTRUCT& item);
    void OnButton(int id);
    void OnFileListChange(bool advanced, const NMLISTVIEW& change);
    void ShowFileDescription(bool advanced);
    void OnDeviceListChange();
    void UpdateNextForDevices();
    void UpdateBar(bool ex);
    void OnAutoProgressTick();
    int SelectedDeviceRow() const;

    std::wstring sysPackVersion_, zvId_;
    HWND window_ = nullptr;
    std::wstring title_, headerText_, headerSubtext_;
    int pressed_ = 0;
    com::UniqueHandle buttonEvent_;
    HFONT boldFont_ = nullptr;
    std::array<HWND, kPageCount> pages_{};
    std::array<bool, kPageCount> pageHasWizard_{};
    FilePageState files_;
    FilePageState advanced_;
    std::wstring progressText_, progressTextEx_;
    long autoCount_ = 0, autoStep_ = 0;
    UINT autoInterval_ = 0;
    bool autoRunning_ = false;
};

} // namespace tv::update
