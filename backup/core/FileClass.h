// Which device files a backup flag word selects. The same rule decides what a backup takes
// from the device and what a restore puts back.
#pragma once
#include <cstdint>
#include <string_view>

namespace tv::backup {

// The flag word of a backup or restore: bits 0-3 select file classes, bits 4-6 are switches.
enum BackupFlag : uint32_t {
    kApplications = 0x01,
    kMusic = 0x02,
    kOtherFiles = 0x04,
    kSystemFiles = 0x08,
    kNoBackupOffer = 0x10,
    kNoRestoreOffer = 0x20,
    kRemoveLibraries = 0x40,
    kFileClasses = kApplications | kMusic | kOtherFiles | kSystemFiles,
};

// A device attribute bit: the entry is protected (part of the device's own software).
inline constexpr uint32_t kProtectedAttribute = 0x08;

// Whether `name` ends in `suffix`, compared without regard to ASCII case.
bool EndsWithNoCase(std::string_view name, std::string_view suffix);

// The class bit (one of kApplications, kMusic, kOtherFiles, kSystemFiles) of a device file, or
// 0 when the file belongs to no class (an "other" file that is protected).
uint32_t FileClassOf(std::string_view name, uint32_t attributes);

// Whether the flag word selects the file.
bool IsFileInBackupSet(std::string_view name, uint32_t flags, uint32_t attributes);

// Whether the name ends in one of the device's own library files, which a restore never writes
// back and the library removal deletes.
bool IsDeviceLibrary(std::string_view name);

} // namespace tv::backup
