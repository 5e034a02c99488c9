// The conflict dialog of the script-hosted synchronizers: two items side by side, each listed
// property by property from its type information, and the user's choice as a code.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <string>

namespace tv::scriptsync {

// The dialog's choices: the first item, the second, leave the pair (also when the session is
// cancelled), and the dialog's Cancel button.
inline constexpr LONG kChoiceFirst = 0;
inline constexpr LONG kChoiceSecond = 1;
inline constexpr LONG kChoiceSkip = 2;
inline constexpr LONG kChoiceCancel = -1;

// Shows the dialog modeless, owned by `owner`, and runs its own message loop until a choice ends
// it. `openDialog` holds the dialog's window while it is open (so that EndConflictDialog can reach
// it) and null again afterwards. E_FAIL when the dialog cannot be made.
HRESULT RunConflictDialog(HWND owner, const std::wstring& caption1, const std::wstring& caption2, IDispatch* item1,
                          IDispatch* item2, HWND* openDialog, LONG* choice);

// Ends an open conflict dialog with `choice`.
void EndConflictDialog(HWND dialog, LONG choice);

// One row per variable of the item's type (names beginning with "_" left out): its name and its
// value read by a property get. E_FAIL for an item without type information; a failed read or
// conversion ends the filling with its error.
HRESULT FillPropertyList(HWND list, IDispatch* item);

} // namespace tv::scriptsync
