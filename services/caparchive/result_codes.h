// Result codes of the package code: Win32 error numbers, so that the Windows side can hand them
// on unchanged (HRESULT_FROM_WIN32) and the linkers can return them as they stand.
#pragma once

namespace caparchive {

inline constexpr int kSuccess = 0;
inline constexpr int kErrorFileNotFound = 2;
inline constexpr int kErrorPathNotFound = 3;
inline constexpr int kErrorAccessDenied = 5;
inline constexpr int kErrorNotEnoughMemory = 8;
inline constexpr int kErrorInvalidData = 13;
inline constexpr int kErrorWriteFault = 29;
inline constexpr int kErrorReadFault = 30;
inline constexpr int kErrorInvalidParameter = 87;
// More items, or longer names, than a package file's 16-bit directory can list.
inline constexpr int kErrorPackageTooLarge = 223;
inline constexpr int kErrorNotFound = 1168;

} // namespace caparchive
