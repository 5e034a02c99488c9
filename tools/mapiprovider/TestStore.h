// The test provider's message store: one store with the folders a mail client's default store
// has, messages as property maps with their recipients, and an address list. It is read from a
// text file when the first session of the process opens and written back after every change,
// so a test prepares the file and reads it back for its assertions.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tv::mapitest {

// One property value; which member counts follows from the tag's type.
struct Value {
    unsigned long tag = 0;
    long number = 0;            // PT_LONG, PT_BOOLEAN
    std::string text;           // PT_STRING8
    std::vector<uint8_t> bytes; // PT_BINARY
    uint64_t time = 0;          // PT_SYSTIME, as a file time
};
using PropMap = std::map<unsigned long, Value>;

struct StoredMessage {
    uint32_t id = 0;
    int folder = 0;
    PropMap props;
    std::vector<PropMap> recipients;
};

struct FolderDef {
    int id;
    int parent;
    const char* name;
};

// Folder ids: the store's root, its "Top of Information Store" and the four mail folders.
enum FolderId { kRoot = 1, kTop = 2, kInbox = 3, kOutbox = 4, kSentItems = 5, kDrafts = 6 };
const std::vector<FolderDef>& Folders();

struct Store {
    std::map<uint32_t, StoredMessage> messages;
    std::vector<std::pair<std::string, std::string>> addresses; // display name, address
    uint32_t nextId = 100;
};

// Parses the file's text; false with a reason on a malformed line.
bool ParseStore(const std::string& text, Store& store, std::string& error);
std::string FormatStore(const Store& store);

// Entry ids: "TV", a kind byte, a zero byte and the little-endian 32-bit id.
enum class EntryKind : uint8_t { Folder = 1, Message = 2, Store = 3 };
std::vector<uint8_t> MakeEntryId(EntryKind kind, uint32_t id);
bool ReadEntryId(const void* data, size_t size, EntryKind kind, uint32_t& id);

} // namespace tv::mapitest
