// The records of the file synchronization engine: one file of a listing and one item of the
// merged result. Times are 64-bit local file times; sizes are 32-bit as the stored state keeps
// them (larger PC files are refused before they get here).
#pragma once
#include <cstdint>
#include <string>

namespace filesync {

struct FileEntry {
    std::string name; // relative to the synchronization root, components separated by "\"
    uint64_t time = 0;
    uint32_t flags = 0;
    uint32_t size = 0;
};

constexpr uint32_t kOnPc = 0x40;
constexpr uint32_t kOnDevice = 0x20;
constexpr uint32_t kConflict = 0x10;
constexpr uint32_t kSynchronized = 0x08;

struct SyncItem {
    std::string pcName;
    std::string deviceName;
    std::string storedName;
    uint32_t flags = 0;
    uint64_t pcTime = 0;
    uint64_t deviceTime = 0;
    uint64_t storedTime = 0;
    uint32_t pcSize = 0;
    uint32_t deviceSize = 0;
    uint32_t storedSize = 0;
    uint32_t index = 0;
};

inline uint32_t TimeLow(uint64_t time) { return static_cast<uint32_t>(time); }
inline uint32_t TimeHigh(uint64_t time) { return static_cast<uint32_t>(time >> 32); }
inline uint64_t MakeTime(uint32_t low, uint32_t high) { return (static_cast<uint64_t>(high) << 32) | low; }

} // namespace filesync
