// The manager's side of the set storage: a backup set written from a consumer's entries through
// the package-archive component, read back into memory-held entries, and recognised by the
// entry named with the device's string id.
#pragma once
#include "ZvBackupMgr.h"
#include <windows.h>

namespace tv::backup {

// `language` gives the set's title and description texts.
HRESULT StoreBackupSet(HMODULE language, IZvCAPConsumer* consumer, BSTR deviceId, BSTR fileName, long flags);
HRESULT RestoreBackupSet(IZvCAPConsumer* consumer, BSTR deviceId, BSTR fileName, long flags);
// S_OK when the set in the file was made from the device, S_FALSE when not.
HRESULT IsSetOfDevice(BSTR deviceId, BSTR fileName);

// The error a failed save of a set becomes (file name too long).
inline constexpr HRESULT kSetNotWritten = static_cast<HRESULT>(0x800700CE);

} // namespace tv::backup
