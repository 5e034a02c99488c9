// The registry keys that bind a file extension to the suite: the extension's key names the
// ProgID "Tavrilon.Association<ext>", whose keys hold the type's description, icon and the open
// command that starts the program with the file.
#pragma once
#include "AssociationRecord.h"
#include <windows.h>
#include <string>

namespace tv::assoc {

inline constexpr char kAssociationPrefix[] = "Tavrilon.Association";

// The program's path: "Image" under HKLM "Software\Zelvan\Tavrilon", empty when missing.
std::string ProgramImagePath();

// The default value of `root\<subKey>`; false when the key or value cannot be read as a string.
bool ReadDefaultValue(HKEY root, const std::string& subKey, std::string& value);

// What the keys of one association hold.
struct AssociationBinding {
    Association type;
    std::string openCommand; // the shell's open command
    bool withDde = false;    // the open verb's DDE keys too, with these two texts
    std::string ddeApplication;
    std::string ddeTopic;
};

// The open command of the association manager's repair: "<program>" "%1" (the file travels by DDE).
std::string ManagerOpenCommand(const std::string& programPath);
// The open command the handlers register: "<program>" "/FileOpen %1".
std::string HandlerOpenCommand(const std::string& programPath);

// Writes the extension key and the ProgID keys under `root`; E_FAIL at the first failure.
HRESULT WriteAssociationKeys(HKEY root, const AssociationBinding& binding);

// Whether the extension's key under `root` still names a ProgID of the suite. A missing key, an
// unreadable default value or another program's ProgID is a lost association; the value read
// goes to `value`.
bool IsBoundToSuite(HKEY root, const std::string& extension, std::string* value = nullptr);

// Removes the suite's own ProgID key of `extension` and, while its default value still names
// that ProgID, the extension's key. Another program's association is left as it is. S_OK when
// none of our keys is left.
HRESULT RemoveAssociationKeys(HKEY root, const std::string& extension);

} // namespace tv::assoc
