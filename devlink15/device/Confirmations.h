// The questions asked before a device item is replaced, or a read-only one deleted: modal dialogs
// from the language library, shown on the thread of the file operation.
#pragma once

#include <windows.h>

#include <string>

namespace devlink15 {

// What the user chose. `result` is 0 for button 1 (replace, delete), 1 for button 2 (keep) or
// the close box, and -1 when the dialog could not be shown; `forAll` is the check box's state
// on closing (unchecked when the dialog never opened).
struct ConfirmAnswer {
    INT_PTR result = -1;
    bool forAll = false;
};

// One question: the detail text, the item's path for the label and the operation's item count
// (the for-all box is enabled only for two items or more).
struct ConfirmQuestion {
    std::string details;
    std::string itemPath;
    long itemCount = 0;
};

// The dialog behind all three questions; the derived classes fix the template and its parts.
class ConfirmDialog {
  public:
    ConfirmAnswer Show(const ConfirmQuestion& question);

  protected:
    ConfirmDialog(UINT templateId, int collapsedHeight, bool warningIcon, bool hasDetails)
        : templateId_(templateId), collapsedHeight_(collapsedHeight), warningIcon_(warningIcon),
          hasDetails_(hasDetails) {}

  private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    void OnInit(HWND dialog);
    void ToggleDetails(HWND dialog);
    void Close(HWND dialog, INT_PTR result);

    UINT templateId_;
    int collapsedHeight_;
    bool warningIcon_;
    bool hasDetails_;
    const ConfirmQuestion* question_ = nullptr;
    ConfirmAnswer answer_;
    SIZE fullSize_{};
    bool expanded_ = false;
    std::string showDetailsText_;
    std::string hideDetailsText_;
};

// An ordinary device item is about to be replaced.
class OverwriteDlg : public ConfirmDialog {
  public:
    OverwriteDlg();
};

// A device item with the system attribute is about to be replaced.
class SystemOverwriteDlg : public ConfirmDialog {
  public:
    SystemOverwriteDlg();
};

// A read-only device item is about to be deleted.
class ReadOnlyDeleteDlg : public ConfirmDialog {
  public:
    ReadOnlyDeleteDlg();
};

} // namespace devlink15
