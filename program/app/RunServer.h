// The program's working life: the long-lived components in their fixed order, the UI thread,
// and the file-open hand-over.
#pragma once
#include "ZelvanMgr.h"
#include <optional>
#include <string>

namespace tv::app {

// Exit codes of a start that could not bring up a component.
enum StartFailure : int {
    kNoUiEvent = 1,   // also: no logger
    kNoAssocManager = 2,
    kNoHub = 3,
    kNoSyncManager = 4,
    kNoBackupManager = 5,
    kNoItemStore = 6,
};

// `hubFactory` makes the hub of this process (the class object served to other processes).
int RunServer(IClassFactory* hubFactory, const std::optional<std::string>& fileOpenArguments);

// Hands the file named by a file-open command line to the hub.
HRESULT ForwardFileOpen(const std::string& arguments, IZelvanMgr* hub);

// Opens a file with the handler its association names; false when it was not handled.
bool OpenFileWithAssociation(const std::string& path);

} // namespace tv::app
