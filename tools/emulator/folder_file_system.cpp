#include "folder_file_system.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <system_error>

namespace zvemu {
namespace fs = std::filesystem;

namespace {

bool MatchFrom(const char* name, const char* pattern) {
    // Iterative glob with backtracking to the last "*".
    const char* starPattern = nullptr;
    const char* starName = nullptr;
    while (*name) {
        if (*pattern == '*') {
            starPattern = pattern++;
            starName = name;
        } else if (*pattern == '?' || *pattern == *name) {
            ++pattern;
            ++name;
        } else if (starPattern) {
            pattern = starPattern + 1;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == '\0';
}

std::time_t ModifiedTime(const fs::path& path) {
    std::error_code ec;
    const auto written = fs::last_write_time(path, ec);
    if (ec)
        return 0;
    return std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(written));
}

bool IsPlainFolder(const fs::path& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() == fs::file_type::directory;
}

bool IsPlainFile(const fs::path& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() == fs::file_type::regular;
}

std::string LastComponent(const std::string& devicePath) {
    const auto slash = devicePath.rfind('/');
    return slash == std::string::npos ? devicePath : devicePath.substr(slash + 1);
}

uint64_t BlocksFor(uint64_t size, uint32_t blockSize) {
    return (size + blockSize - 1) / blockSize;
}

constexpr uint32_t kBlockSize = 512;

} // namespace

bool MatchesWildcard(const std::string& name, const std::string& pattern) {
    return MatchFrom(name.c_str(), pattern.c_str());
}

bool HasWildcard(const std::string& text) {
    return text.find_first_of("*?") != std::string::npos;
}

FolderFileSystem::FolderFileSystem(fs::path root, uint64_t capacityPerVolume)
    : root_(std::move(root)), capacity_(capacityPerVolume) {}

std::vector<std::string> FolderFileSystem::Volumes() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root_, ec)) {
        const std::string name = entry.path().filename().string();
        if (name != kMainVolume && IsPlainFolder(entry.path()))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    if (IsVolume(kMainVolume))
        names.insert(names.begin(), kMainVolume);
    return names;
}

bool FolderFileSystem::IsVolume(const std::string& name) const {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           IsPlainFolder(root_ / name);
}

std::optional<FolderFileSystem::Resolved> FolderFileSystem::Resolve(const std::string& path,
                                                                    Status& status) const {
    if (path.empty() || path[0] != '/') {
        status = Status::Fail("path must start with /");
        return std::nullopt;
    }
    std::vector<std::string> parts;
    size_t start = 1;
    while (start <= path.size()) {
        const size_t slash = path.find('/', start);
        const size_t end = slash == std::string::npos ? path.size() : slash;
        std::string part = path.substr(start, end - start);
        if (part.empty()) {
            if (end != path.size()) {
                status = Status::Fail("empty path component");
                return std::nullopt;
            }
        } else {
            if (part == "." || part == ".." || part.find('\0') != std::string::npos) {
                status = Status::Fail("bad path component");
                return std::nullopt;
            }
            parts.push_back(std::move(part));
        }
        start = end + 1;
    }
    if (parts.empty() || !IsVolume(parts[0])) {
        status = Status::Fail("no such volume");
        return std::nullopt;
    }
    Resolved r;
    r.volume = parts[0];
    r.host = root_;
    for (const auto& part : parts) {
        r.devicePath += "/" + part;
        r.host /= part;
    }
    r.isVolumeRoot = parts.size() == 1;
    // Refuse paths that pass through a link: everything stays inside the root folder.
    fs::path walk = root_;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        walk /= parts[i];
        if (!IsPlainFolder(walk)) {
            status = Status::Fail("no such folder");
            return std::nullopt;
        }
    }
    status = Status::Ok();
    return r;
}

unsigned FolderFileSystem::AttributesOf(const std::string& devicePath) const {
    const auto it = attributes_.find(devicePath);
    return it == attributes_.end() ? 0 : it->second;
}

std::optional<DeviceItem> FolderFileSystem::ItemAt(const Resolved& where) const {
    DeviceItem item;
    item.path = where.devicePath;
    if (IsPlainFolder(where.host)) {
        item.folder = true;
    } else if (IsPlainFile(where.host)) {
        std::error_code ec;
        item.size = fs::file_size(where.host, ec);
        if (ec)
            return std::nullopt;
    } else {
        return std::nullopt;
    }
    item.modified = ModifiedTime(where.host);
    item.attributes = AttributesOf(where.devicePath);
    return item;
}

std::optional<DeviceItem> FolderFileSystem::Stat(const std::string& path, Status& status) const {
    const auto where = Resolve(path, status);
    if (!where)
        return std::nullopt;
    auto item = ItemAt(*where);
    if (!item)
        status = Status::Fail("not found");
    return item;
}

std::optional<std::vector<DeviceItem>>
FolderFileSystem::ListChildren(const std::string& folder, const std::string& pattern, Status& status) const {
    const auto where = Resolve(folder, status);
    if (!where)
        return std::nullopt;
    if (!IsPlainFolder(where->host)) {
        status = Status::Fail("not a folder");
        return std::nullopt;
    }
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(where->host, ec)) {
        names.push_back(entry.path().filename().string());
    }
    if (ec) {
        status = Status::Fail("cannot read folder");
        return std::nullopt;
    }
    std::sort(names.begin(), names.end());
    std::vector<DeviceItem> items;
    for (const auto& name : names) {
        if (!MatchesWildcard(name, pattern))
            continue;
        Resolved child{where->devicePath + "/" + name, where->volume, where->host / name, false};
        if (auto item = ItemAt(child))
            items.push_back(std::move(*item));
    }
    return items;
}

std::optional<std::vector<DeviceItem>> FolderFileSystem::ListTree(const std::string& folder,
                                                                  const std::string& pattern,
                                                                  bool includeSelf, Status& status) const {
    const auto where = Resolve(folder, status);
    if (!where)
        return std::nullopt;
    const auto self = ItemAt(*where);
    if (!self || !self->folder) {
        status = Status::Fail("not a folder");
        return std::nullopt;
    }
    std::vector<DeviceItem> items;
    if (includeSelf && !where->isVolumeRoot && MatchesWildcard(LastComponent(self->path), pattern)) {
        items.push_back(*self);
    }
    // Depth first: each folder is followed by what lies below it.
    struct Frame {
        std::vector<DeviceItem> children;
        size_t next = 0;
    };
    std::vector<Frame> frames;
    auto children = ListChildren(where->devicePath, "*", status);
    if (!children)
        return std::nullopt;
    frames.push_back({std::move(*children), 0});
    while (!frames.empty()) {
        Frame& top = frames.back();
        if (top.next == top.children.size()) {
            frames.pop_back();
            continue;
        }
        const DeviceItem item = top.children[top.next++];
        if (MatchesWildcard(LastComponent(item.path), pattern))
            items.push_back(item);
        if (item.folder) {
            auto below = ListChildren(item.path, "*", status);
            if (!below)
                return std::nullopt;
            frames.push_back({std::move(*below), 0});
        }
    }
    status = Status::Ok();
    return items;
}

std::string FolderFileSystem::ParentOf(const std::string& devicePath) {
    const auto slash = devicePath.rfind('/');
    return slash == 0 || slash == std::string::npos ? std::string("/") : devicePath.substr(0, slash);
}

Status FolderFileSystem::MakeFolder(const std::string& path) {
    Status status;
    const auto where = Resolve(path, status);
    if (!where)
        return status;
    if (IsPlainFolder(where->host))
        return Status::Ok(); // an existing folder is fine
    std::error_code ec;
    if (fs::symlink_status(where->host, ec).type() != fs::file_type::not_found) {
        return Status::Fail("a file of that name exists");
    }
    if (!IsPlainFolder(where->host.parent_path()))
        return Status::Fail("no such folder");
    if (!fs::create_directory(where->host, ec) || ec)
        return Status::Fail("cannot create folder");
    return Status::Ok();
}

void FolderFileSystem::ForgetAttributes(const std::string& devicePath) {
    const std::string prefix = devicePath + "/";
    for (auto it = attributes_.begin(); it != attributes_.end();) {
        if (it->first == devicePath || it->first.starts_with(prefix)) {
            it = attributes_.erase(it);
        } else {
            ++it;
        }
    }
}

void FolderFileSystem::MoveAttributes(const std::string& from, const std::string& to) {
    const std::string prefix = from + "/";
    std::map<std::string, unsigned> moved;
    for (auto it = attributes_.begin(); it != attributes_.end();) {
        if (it->first == from || it->first.starts_with(prefix)) {
            moved[to + it->first.substr(from.size())] = it->second;
            it = attributes_.erase(it);
        } else {
            ++it;
        }
    }
    ForgetAttributes(to);
    attributes_.insert(moved.begin(), moved.end());
}

Status FolderFileSystem::Remove(const std::string& path, bool force) {
    Status status;
    const auto where = Resolve(path, status);
    if (!where)
        return status;
    if (where->isVolumeRoot)
        return Status::Fail("a volume cannot be removed");
    const auto item = ItemAt(*where);
    if (!item)
        return Status::Fail("not found");
    if ((item->attributes & kAttrReadOnly) && !force)
        return Status::Fail("read-only");
    std::error_code ec;
    if (item->folder) {
        if (force) {
            fs::remove_all(where->host, ec);
        } else if (!fs::is_empty(where->host, ec) || ec) {
            return Status::Fail("folder not empty");
        } else {
            fs::remove(where->host, ec);
        }
    } else {
        fs::remove(where->host, ec);
    }
    if (ec)
        return Status::Fail("cannot remove");
    ForgetAttributes(where->devicePath);
    return Status::Ok();
}

Status FolderFileSystem::Copy(const std::string& from, const std::string& to, bool overwrite, bool preserve) {
    Status status;
    const auto src = Resolve(from, status);
    if (!src)
        return status;
    const auto dst = Resolve(to, status);
    if (!dst)
        return status;
    const auto item = ItemAt(*src);
    if (!item)
        return Status::Fail("not found");
    if (item->folder)
        return Status::Fail("cannot copy a folder");
    if (src->devicePath == dst->devicePath)
        return Status::Ok();
    if (!IsPlainFolder(dst->host.parent_path()))
        return Status::Fail("no such folder");
    if (const auto existing = ItemAt(*dst)) {
        if (existing->folder)
            return Status::Fail("a folder of that name exists");
        if (!overwrite)
            return Status::Fail("exists");
    }
    if (Status room = CanWriteFile(dst->devicePath, item->size); !room.ok && room.reason == "no room")
        return room;
    std::error_code ec;
    fs::copy_file(src->host, dst->host, fs::copy_options::overwrite_existing, ec);
    if (ec)
        return Status::Fail("cannot copy");
    ForgetAttributes(dst->devicePath);
    if (preserve) {
        if (item->attributes)
            attributes_[dst->devicePath] = item->attributes;
        fs::last_write_time(dst->host, fs::last_write_time(src->host, ec), ec);
    }
    return Status::Ok();
}

Status FolderFileSystem::Move(const std::string& from, const std::string& to, bool overwrite) {
    Status status;
    const auto src = Resolve(from, status);
    if (!src)
        return status;
    const auto dst = Resolve(to, status);
    if (!dst)
        return status;
    if (src->isVolumeRoot || dst->isVolumeRoot)
        return Status::Fail("a volume cannot be moved");
    const auto item = ItemAt(*src);
    if (!item)
        return Status::Fail("not found");
    if (src->devicePath == dst->devicePath)
        return Status::Ok();
    if (dst->devicePath.starts_with(src->devicePath + "/"))
        return Status::Fail("cannot move a folder into itself");
    if (!IsPlainFolder(dst->host.parent_path()))
        return Status::Fail("no such folder");
    if (const auto existing = ItemAt(*dst)) {
        if (existing->folder || item->folder)
            return Status::Fail("exists");
        if (!overwrite)
            return Status::Fail("exists");
    }
    std::error_code ec;
    fs::rename(src->host, dst->host, ec);
    if (ec)
        return Status::Fail("cannot move");
    MoveAttributes(src->devicePath, dst->devicePath);
    return Status::Ok();
}

Status FolderFileSystem::ChangeAttributes(const std::string& path, unsigned clear, unsigned set) {
    Status status;
    const auto where = Resolve(path, status);
    if (!where)
        return status;
    if (!ItemAt(*where))
        return Status::Fail("not found");
    const unsigned value = ((AttributesOf(where->devicePath) & ~clear) | set) & kAttrMask;
    if (value) {
        attributes_[where->devicePath] = value;
    } else {
        attributes_.erase(where->devicePath);
    }
    return Status::Ok();
}

Status FolderFileSystem::SetAttributesForTest(const std::string& path, unsigned attributes) {
    return ChangeAttributes(path, kAttrMask, attributes);
}

std::optional<std::vector<uint8_t>> FolderFileSystem::ReadFile(const std::string& path,
                                                               Status& status) const {
    const auto where = Resolve(path, status);
    if (!where)
        return std::nullopt;
    if (!IsPlainFile(where->host)) {
        status = Status::Fail("no such file");
        return std::nullopt;
    }
    std::ifstream in(where->host, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        status = Status::Fail("cannot read");
        return std::nullopt;
    }
    return bytes;
}

Status FolderFileSystem::CanWriteFile(const std::string& path, uint64_t size) const {
    Status status;
    const auto where = Resolve(path, status);
    if (!where)
        return status;
    if (where->isVolumeRoot)
        return Status::Fail("a volume is not a file");
    if (!IsPlainFolder(where->host.parent_path()))
        return Status::Fail("no such folder");
    uint64_t replaced = 0;
    if (const auto existing = ItemAt(*where)) {
        if (existing->folder)
            return Status::Fail("a folder of that name exists");
        if (existing->attributes & kAttrReadOnly)
            return Status::Fail("read-only");
        replaced = BlocksFor(existing->size, kBlockSize);
    }
    const auto stats = Stats(where->volume);
    if (!stats || BlocksFor(size, kBlockSize) > stats->freeBlocks + replaced)
        return Status::Fail("no room");
    return Status::Ok();
}

Status FolderFileSystem::WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    if (Status can = CanWriteFile(path, bytes.size()); !can.ok)
        return can;
    Status status;
    const auto where = Resolve(path, status);
    if (!where)
        return status;
    {
        std::ofstream out(where->host, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out)
            return Status::Fail("cannot write");
    }
    ForgetAttributes(where->devicePath);
    return Status::Ok();
}

uint64_t FolderFileSystem::UsedBlocks(const std::string& volume) const {
    uint64_t blocks = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root_ / volume, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_symlink(ec)) {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file(ec))
            blocks += BlocksFor(it->file_size(ec), kBlockSize);
    }
    return blocks;
}

std::optional<VolumeStats> FolderFileSystem::Stats(const std::string& volume) const {
    if (!IsVolume(volume))
        return std::nullopt;
    VolumeStats stats;
    stats.blockSize = kBlockSize;
    stats.totalBlocks = capacity_ / kBlockSize;
    const uint64_t used = UsedBlocks(volume);
    stats.freeBlocks = used >= stats.totalBlocks ? 0 : stats.totalBlocks - used;
    return stats;
}

} // namespace zvemu
