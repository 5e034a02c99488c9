// The device's storage, backed by a folder of the PC: each sub-folder of the root is one volume
// ("default" is the main volume), and device paths look like /default/Games/x.app. Attribute
// letters that a PC folder cannot hold (hidden, read-only, system) are kept in memory.
// Symbolic links are neither listed nor followed, so nothing outside the root is reachable.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zvemu {

constexpr unsigned kAttrHidden = 1;
constexpr unsigned kAttrReadOnly = 4;
constexpr unsigned kAttrSystem = 8;
constexpr unsigned kAttrMask = kAttrHidden | kAttrReadOnly | kAttrSystem;

struct Status {
    bool ok = true;
    std::string reason; // never holds a path
    static Status Ok() { return {}; }
    static Status Fail(std::string why) { return {false, std::move(why)}; }
};

struct DeviceItem {
    std::string path; // full device path, for example /default/docs/a.txt
    bool folder = false;
    uint64_t size = 0;
    std::time_t modified = 0;
    unsigned attributes = 0;
};

struct VolumeStats {
    uint32_t blockSize = 512;
    uint64_t totalBlocks = 0;
    uint64_t freeBlocks = 0;
};

// Matches a name against a pattern with "*" (any run) and "?" (one character); case matters.
bool MatchesWildcard(const std::string& name, const std::string& pattern);
bool HasWildcard(const std::string& text);

class FolderFileSystem {
  public:
    FolderFileSystem(std::filesystem::path root, uint64_t capacityPerVolume);

    const std::filesystem::path& root() const { return root_; }
    static constexpr const char* kMainVolume = "default";

    // Volumes in the order the device lists them: the main volume first, then the others by name.
    std::vector<std::string> Volumes() const;
    bool IsVolume(const std::string& name) const;

    std::optional<DeviceItem> Stat(const std::string& path, Status& status) const;
    // Items directly in `folder` whose names match `pattern`, sorted by name.
    std::optional<std::vector<DeviceItem>> ListChildren(const std::string& folder, const std::string& pattern,
                                                        Status& status) const;
    // Items at any depth below `folder` matching `pattern`, depth first, each folder's items by
    // name; with `includeSelf` the folder itself comes first (never a volume itself).
    std::optional<std::vector<DeviceItem>> ListTree(const std::string& folder, const std::string& pattern,
                                                    bool includeSelf, Status& status) const;

    Status MakeFolder(const std::string& path);
    Status Remove(const std::string& path, bool force);
    Status Copy(const std::string& from, const std::string& to, bool overwrite, bool preserve);
    Status Move(const std::string& from, const std::string& to, bool overwrite);
    Status ChangeAttributes(const std::string& path, unsigned clear, unsigned set);
    Status SetAttributesForTest(const std::string& path, unsigned attributes);

    std::optional<std::vector<uint8_t>> ReadFile(const std::string& path, Status& status) const;
    Status WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
    // Whether a file of `size` bytes can be written at `path` (parent, kind, attributes, room).
    Status CanWriteFile(const std::string& path, uint64_t size) const;

    std::optional<VolumeStats> Stats(const std::string& volume) const;

  private:
    struct Resolved {
        std::string devicePath; // normalised
        std::string volume;
        std::filesystem::path host;
        bool isVolumeRoot = false;
    };
    std::optional<Resolved> Resolve(const std::string& path, Status& status) const;
    std::optional<DeviceItem> ItemAt(const Resolved& where) const;
    static std::string ParentOf(const std::string& devicePath);
    void ForgetAttributes(const std::string& devicePath);
    void MoveAttributes(const std::string& from, const std::string& to);
    unsigned AttributesOf(const std::string& devicePath) const;
    uint64_t UsedBlocks(const std::string& volume) const;

    std::filesystem::path root_;
    uint64_t capacity_;
    std::map<std::string, unsigned> attributes_;
};

} // namespace zvemu
