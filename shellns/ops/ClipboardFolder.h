// The temporary folder that device files are downloaded into when a PC program needs real
// files: "<temp>\Zelvan\Clipboard". Every name is built only under a temporary path that exists.
#pragma once
#include <string>

namespace tv::shellns {

// "<temp>Zelvan", created; empty when there is no temporary path.
std::string GetTempZelvanFolder();
// "<temp>Zelvan\Clipboard", created; empty when there is no temporary path.
std::string GetClipboardFolder();
// The clipboard folder + "\" + the last component of `path`; empty without a clipboard folder.
std::string GetClipboardPathFor(const std::string& path);
// Deletes what the clipboard folder holds and makes it again; false when there is no verified
// clipboard folder (nothing outside it is ever deleted).
bool ClearClipboardFolder();
// Deletes one file or folder directly inside the clipboard folder (anything else is left alone).
void RemoveFromClipboardFolder(const std::string& path);

} // namespace tv::shellns
