// The dialogs of the contacts and tasks synchronizers: the conflict dialog of each kind, which
// shows a device record beside the desktop application's version, and the options dialog, which
// chooses the device folder of the synchronized file.
#pragma once
#include "SyncRecords.h"
#include "ZelvanMgr.h"

#include <windows.h>

#include <string>

namespace tv::pimsync {

struct SyncKind;

// Shows the kind's conflict dialog, owned by `parent`, and runs its own message loop until it
// ends; `slot` holds its window meanwhile. The choice: 1 take the computer's version, 2 take the
// device's, 3 skip the pair, 4 end resolving (also when the dialog cannot be made).
int RunConflictDialog(const SyncKind& kind, HWND parent, HWND& slot, const ::pimsync::ZvSyncRecord& device,
                      const ::pimsync::ZvSyncRecord& pc);
// Ends an open conflict dialog with `choice` (from a call served while it runs).
void EndConflictDialog(HWND dialog, int choice);

// The modal options dialog: which of the device's first two top-level folders holds the file.
// The choice is stored under the device's key as the value named by `clsid`.
void RunOptionsDialog(HWND parent, IZelvanMgr* hub, const std::string& deviceId, const CLSID& clsid,
                      const std::string& storedFolder);

// A text of the language library (empty when missing).
std::string LangText(UINT id);

// The registry form of a CLSID ("{...}", capitals).
std::string ClsidText(const CLSID& clsid);
// "Software\Zelvan\Tavrilon\DeviceList\" and the device id.
std::string DeviceKeyPath(const std::string& deviceId);

// The texts the task conflict dialog shows.
std::string TaskDateText(const ::pimsync::DeviceDate& date);
const char* PriorityText(uint8_t priority);
const char* ReminderText(uint8_t reminder);

} // namespace tv::pimsync
