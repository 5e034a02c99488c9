// The file synchronizer's dialogs: the settings dialog (the synchronized PC folder), the mask
// dialog (masks and folder) and the conflict dialog of the resolve phase.
#pragma once
#include "SyncTypes.h"
#include "TransferRules.h"

#include <windows.h>
#include <string>

namespace tv::filesync {

// End code of the settings dialog that opens the mask dialog next.
inline constexpr INT_PTR kOpenMaskDialog = 255;

// Runs the generation's settings dialog, then (on kOpenMaskDialog) its mask dialog, modally.
void RunSettingsDialogs(HWND owner, ::filesync::Generation generation, const std::string& deviceId);

// Shows the conflict dialog for `item` owned by `owner` and dispatches messages until it closes.
// `window` holds the dialog while it is open (so that a cancel can post it the skip command).
// False when the dialog could not be created; `skipped` tells a skip from a choice, which the
// dialog has written into `item`.
bool RunConflictDialog(HWND owner, ::filesync::SyncItem& item, HWND& window, bool& skipped);

} // namespace tv::filesync
