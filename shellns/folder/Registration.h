// The registry entries of the folder: its class with the shell-folder attributes, its ProgIDs,
// the approval of the extension and the junction under My Computer.
#pragma once
#include "RegistryScript.h"
#include <windows.h>

namespace tv::shellns {

com::RegistryScript ClassesScript(HMODULE module);
com::RegistryScript MachineScript();

HRESULT RegisterFolder(HMODULE module);
HRESULT UnregisterFolder(HMODULE module);

} // namespace tv::shellns
