// Test support: the files below a folder as a test reads them from the PC side (a device's
// folder through drive Z:, a synchronized folder), and the differences between two such trees.
#pragma once
#include <windows.h>
#include <cstdint>
#include <map>
#include <string>

namespace tv::test {

// A file of a device folder: its bytes and its last write time in whole seconds.
struct FileState {
    std::string bytes;
    uint64_t seconds = 0;
    bool operator==(const FileState& other) const { return bytes == other.bytes && seconds == other.seconds; }
};
// The files below a folder by their paths relative to it ("docs\a.txt").
using FileTree = std::map<std::string, FileState>;

inline FileTree ReadFileTree(const std::string& folder, const std::string& prefix = {}) {
    FileTree tree;
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return tree;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        const std::string path = folder + "\\" + name, relative = prefix + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            for (auto& entry : ReadFileTree(path, relative + "\\"))
                tree.insert(std::move(entry));
            continue;
        }
        FileState state;
        state.seconds = ((static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                         found.ftLastWriteTime.dwLowDateTime) /
                        10000000;
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            char buffer[65536];
            DWORD read = 0;
            while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read)
                state.bytes.append(buffer, read);
            CloseHandle(file);
        }
        tree[relative] = std::move(state);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return tree;
}

// Writes a file with that last write time (seconds since 1970).
inline bool WriteTimedFile(const std::string& path, const std::string& bytes, uint64_t unixSeconds) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const uint64_t ticks = unixSeconds * 10000000 + 116444736000000000ull;
    const FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size() && SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
    return ok;
}

// The tree with its times left out: a device takes no file time from the PC (a file written to it
// has the time of its writing), so a restore gives back names and bytes.
inline FileTree BytesOnly(FileTree tree) {
    for (auto& entry : tree)
        entry.second.seconds = 0;
    return tree;
}

// The names of the differing entries of two trees (missing, extra, other bytes or time).
inline std::string TreeDifferences(const FileTree& expected, const FileTree& actual) {
    std::string text;
    for (const auto& [name, state] : expected) {
        auto other = actual.find(name);
        if (other == actual.end())
            text += "missing " + name + "\n";
        else if (other->second.bytes != state.bytes)
            text += "other bytes " + name + "\n";
        else if (other->second.seconds != state.seconds)
            text += "other time " + name + " " + std::to_string(other->second.seconds) + " instead of " +
                    std::to_string(state.seconds) + "\n";
    }
    for (const auto& entry : actual)
        if (!expected.count(entry.first))
            text += "extra " + entry.first + "\n";
    return text;
}

} // namespace tv::test
