// The three entry lookups the linkers use to read one named entry ("root.inf", "root.ico")
// straight from a package file on disk. Each call reads the whole file, takes the first directory
// record whose name equals the wanted name (case-sensitive) and returns a Win32 result code:
// 0, 8 out of memory, 13 invalid data, 87 invalid parameter, 1168 entry not found, or the error of
// the failing file call.
#pragma once

#include "package_container.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace caparchive {

inline constexpr std::string_view kRootInfName = "root.inf";
inline constexpr std::string_view kRootIconName = "root.ico";

// Finds the entry in a whole package file held in memory.
int FindPackageEntry(std::span<const uint8_t> image, std::string_view entryName, EntryLayout& layout);

// `size` becomes 0, then the entry size.
int GetPackageEntrySize(const std::string& fileName, std::string_view entryName, uint32_t& size);

// `size` becomes 0, then the entry's bytes are written into `buffer` and `size` is their count.
// An entry larger than the buffer is refused with 13.
int ReadPackageEntry(const std::string& fileName, std::string_view entryName, std::span<uint8_t> buffer,
                     uint32_t& size);

// The "root.inf" entry as text (up to its first zero byte).
int ReadRootInf(const std::string& fileName, std::string& text);

} // namespace caparchive
