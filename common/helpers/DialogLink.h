// Hyperlinks in dialogs: a static label of a template becomes a link control at the same place,
// and a click on a link opens its address with the shell.
#pragma once
#include <windows.h>
#include <string>

namespace tv {

// Replaces the label `controlId` of `dialog` by a link control with the same id, place, text
// and font, pointing to `address`; the label is destroyed. Null when the link cannot be made
// (the label then stays).
HWND ReplaceLabelWithLink(HWND dialog, int controlId, const std::wstring& address);

// For a dialog's WM_NOTIFY: when it is a click (or Enter) on the link `controlId`, opens the
// link's address with the shell's "open" verb and returns true.
bool OpenClickedLink(HWND dialog, int controlId, LPARAM notification);

} // namespace tv
