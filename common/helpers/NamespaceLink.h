// What the program knows of the Explorer folder "My Zelvan": the view window's class, the two
// window messages both sides register, and the folder's item identifiers, which the program
// only reads (a 16-bit byte count at 0, the signature "ZVL" at 2, the item's name at 38).
#pragma once
#include <windows.h>
#include <shlobj.h>
#include <string>

namespace tv {

inline constexpr char kNamespaceViewClass[] = "ZelvanNS::ZvMyView";
inline constexpr char kMyZelvanFolderName[] = "My Zelvan";
inline constexpr char kNamespaceItemSignature[] = "ZVL";
inline constexpr size_t kNamespaceItemNameOffset = 38;

// The refresh and update messages, registered under the texts of language strings 12211 and
// 12470 of `languageLibrary`; 0 when the text or the registration is missing.
UINT RegisterRefreshMessage(HMODULE languageLibrary);
UINT RegisterUpdateMessage(HMODULE languageLibrary);

// Whether one item identifier belongs to the device namespace (byte count above 5, "ZVL").
bool IsNamespaceItem(const SHITEMID* item);

// Absolute item-identifier list of "My Zelvan" in My Computer (shell allocator; the caller
// frees it), or null.
PIDLIST_ABSOLUTE FindMyZelvanPidl();
// Absolute list of the index-th item of "My Zelvan", or null.
PIDLIST_ABSOLUTE FindDeviceFolderPidl(int index);

// Device path of a list: namespace names joined by backslashes. PidlToPath stops at the first
// item that is not of the namespace; PidlToPathSkipping skips such items and stops at the end.
std::string PidlToPath(PCUIDLIST_RELATIVE list);
std::string PidlToPathSkipping(PCUIDLIST_RELATIVE list);

} // namespace tv
