// The questions asked before a device item is replaced or a read-only one deleted, shared by the
// device objects of both generations: modal dialogs from the language library, shown on the
// thread of the file operation, and the "for all" answers that hold for the rest of one hub
// operation.
#pragma once

#include <windows.h>

#include <string>

namespace tv {

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

// The answers given "for all items", kept by a device object from one hub operation's reset to
// the next.
struct ForAllAnswers {
    bool replaceAll = false;
    bool keepAll = false;
    bool replaceAllSystem = false;
    bool keepAllSystem = false;
    bool deleteAllReadOnly = false;
    bool keepAllReadOnly = false;
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

// The detail text of the overwrite question: the existing item (path, size, day, month, year,
// hour and minute), then the one that would replace it. Empty without the language text.
std::string OverwriteDetails(const std::string& existing, unsigned long existingSize, const SYSTEMTIME& existingTime,
                             const std::string& replacing, unsigned long long replacingSize,
                             const SYSTEMTIME& replacingTime);

// Asks whether an existing item is replaced, or answers from an earlier "for all" choice: 1
// replace, 0 keep. A system item is asked about with the system dialog first; when that cannot
// be shown, the ordinary question follows.
HRESULT AskOverwrite(ForAllAnswers& answers, bool systemItem, const ConfirmQuestion& question);

} // namespace tv
