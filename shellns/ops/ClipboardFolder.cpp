#include "ClipboardFolder.h"
#include "DevicePath.h"
#include "PcSafeName.h"
#include <windows.h>
#include <shellapi.h>
#include <vector>

namespace tv::shellns {
namespace {

std::string TempPath() {
    char path[MAX_PATH + 1] = {};
    DWORD length = GetTempPathA(sizeof(path), path);
    if (length == 0 || length >= sizeof(path))
        return {};
    std::string text(path, length);
    if (text.back() != '\\')
        text += '\\';
    DWORD attributes = GetFileAttributesA(text.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return {};
    return text;
}

bool IsFolder(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsClipboardFolder(const std::string& folder) {
    const std::string suffix = "\\Zelvan\\Clipboard";
    return folder.size() > suffix.size() &&
           folder.compare(folder.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Deletes a file or a folder with everything in it, quietly; false when it is still there.
bool DeleteQuietly(const std::string& path) {
    std::vector<char> from(path.begin(), path.end());
    from.push_back('\0');
    from.push_back('\0');
    SHFILEOPSTRUCTA operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.data();
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    return SHFileOperationA(&operation) == 0 || GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

} // namespace

std::string GetTempZelvanFolder() {
    std::string temp = TempPath();
    if (temp.empty())
        return {};
    std::string folder = temp + "Zelvan";
    CreateDirectoryA(folder.c_str(), nullptr);
    return IsFolder(folder) ? folder : std::string();
}

std::string GetClipboardFolder() {
    std::string zelvan = GetTempZelvanFolder();
    if (zelvan.empty())
        return {};
    std::string folder = zelvan + "\\Clipboard";
    CreateDirectoryA(folder.c_str(), nullptr);
    return IsFolder(folder) ? folder : std::string();
}

std::string GetClipboardPathFor(const std::string& path) {
    std::string folder = GetClipboardFolder();
    if (folder.empty())
        return {};
    return folder + "\\" + LastComponent(path);
}

bool ClearClipboardFolder() {
    const std::string folder = GetClipboardFolder();
    // Only the verified "<temp>Zelvan\Clipboard" is ever handed to the deletion.
    if (!IsClipboardFolder(folder))
        return false;
    if (!DeleteQuietly(folder) && IsFolder(folder))
        return false;
    CreateDirectoryA(folder.c_str(), nullptr);
    return IsFolder(folder);
}

void RemoveFromClipboardFolder(const std::string& path) {
    const std::string folder = GetClipboardFolder();
    const std::string name = path.size() > folder.size() + 1 ? path.substr(folder.size() + 1) : std::string();
    if (!IsClipboardFolder(folder) || path.compare(0, folder.size() + 1, folder + "\\") != 0 ||
        !portable::IsPcSafeComponent(name))
        return;
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        DeleteQuietly(path);
}

} // namespace tv::shellns
