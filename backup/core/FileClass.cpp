#include "FileClass.h"
#include <array>

namespace tv::backup {

namespace {

constexpr std::array<std::string_view, 2> kApplicationSuffixes = {".app", ".dl"};
constexpr std::array<std::string_view, 5> kSystemSuffixes = {".db", ".t", ".dat", ".cfg", ".boot"};
// The five applications and the command file of the device's own software.
constexpr std::array<std::string_view, 6> kBuiltInSystemFiles = {
    "launcher.app", "settings.app", "phonebook.app", "organizer.app", "mailbox.app", "startup.cmd"};
// The libraries of the device's own software.
constexpr std::array<std::string_view, 10> kDeviceLibraries = {
    "zvkernel.dl", "zvgraph.dl", "zvwindow.dl", "zvfiles.dl", "zvcomm.dl",
    "zvsound.dl",  "zvfonts.dl", "zvinput.dl", "zvtable.dl", "zvmime.dl"};

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

template <size_t N>
bool EndsWithAny(std::string_view name, const std::array<std::string_view, N>& suffixes) {
    for (std::string_view suffix : suffixes)
        if (EndsWithNoCase(name, suffix))
            return true;
    return false;
}

} // namespace

bool EndsWithNoCase(std::string_view name, std::string_view suffix) {
    if (suffix.size() > name.size())
        return false;
    const std::string_view tail = name.substr(name.size() - suffix.size());
    for (size_t i = 0; i < suffix.size(); ++i)
        if (LowerAscii(tail[i]) != LowerAscii(suffix[i]))
            return false;
    return true;
}

uint32_t FileClassOf(std::string_view name, uint32_t attributes) {
    const bool isProtected = (attributes & kProtectedAttribute) != 0;
    if (EndsWithAny(name, kApplicationSuffixes) && !isProtected)
        return kApplications;
    if (EndsWithAny(name, kSystemSuffixes) || EndsWithAny(name, kBuiltInSystemFiles))
        return kSystemFiles;
    if (EndsWithNoCase(name, ".mp3") && !isProtected)
        return kMusic;
    return isProtected ? 0u : static_cast<uint32_t>(kOtherFiles);
}

bool IsFileInBackupSet(std::string_view name, uint32_t flags, uint32_t attributes) {
    return (FileClassOf(name, attributes) & flags) != 0;
}

bool IsDeviceLibrary(std::string_view name) { return EndsWithAny(name, kDeviceLibraries); }

} // namespace tv::backup
