// The type text and icon of a file as the association manager describes them.
#pragma once
#include "Handles.h"
#include <windows.h>
#include <string>

namespace tv::pages {

struct IconTraits {
    static HICON Invalid() { return nullptr; }
    static bool IsValid(HICON icon) { return icon != nullptr; }
    static void Close(HICON icon) { DestroyIcon(icon); }
};
using UniqueIcon = com::UniqueResource<HICON, IconTraits>;

struct FileTypeInfo {
    std::string description;
    std::string iconFile;
    long iconIndex = 0;
};

// Asks the association manager about the file `name`; empty texts when it cannot tell.
FileTypeInfo LookUpFileType(const std::string& name);

// The first large icon of the file type; icon 0 of the shell library when none can be had.
HICON LoadFileTypeIcon(const FileTypeInfo& type);

} // namespace tv::pages
