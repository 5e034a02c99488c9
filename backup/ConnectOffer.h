// The connect-time offer of a backup or a restore: a modeless dialog with its own message loop.
#pragma once
#include "ZelvanMgr.h"
#include <windows.h>
#include <string>

namespace tv::backup {

// Shows dialog `dialogId` with the device's name put into its caption; the dialog owns the
// hub's busy flag while it is open. IDOK or IDCANCEL; `silence` tells whether the user asked
// not to be offered this again.
int ShowConnectOffer(HMODULE language, UINT dialogId, IZelvanMgrDisp2* hub, const std::string& deviceName,
                     bool& silence);

} // namespace tv::backup
