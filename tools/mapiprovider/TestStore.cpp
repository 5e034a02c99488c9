#include "TestStore.h"
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace tv::mapitest {

namespace {

constexpr unsigned long kTypeMask = 0xFFFF;

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            char next = text[++i];
            out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string FormatTime(uint64_t time) {
    FILETIME file{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    SYSTEMTIME system{};
    if (!FileTimeToSystemTime(&file, &system))
        return "0000-00-00 00:00:00";
    char text[32];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u", system.wYear, system.wMonth, system.wDay,
                  system.wHour, system.wMinute, system.wSecond);
    return text;
}

bool ParseTime(const std::string& text, uint64_t& time) {
    SYSTEMTIME system{};
    unsigned year, month, day, hour, minute, second;
    if (std::sscanf(text.c_str(), "%u-%u-%u %u:%u:%u", &year, &month, &day, &hour, &minute, &second) != 6)
        return false;
    system.wYear = static_cast<WORD>(year);
    system.wMonth = static_cast<WORD>(month);
    system.wDay = static_cast<WORD>(day);
    system.wHour = static_cast<WORD>(hour);
    system.wMinute = static_cast<WORD>(minute);
    system.wSecond = static_cast<WORD>(second);
    FILETIME file{};
    if (!SystemTimeToFileTime(&system, &file))
        return false;
    time = (static_cast<uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    return true;
}

std::string FormatValue(const Value& value) {
    char hex[3];
    switch (value.tag & kTypeMask) {
    case 0x0003:
    case 0x000B:
        return std::to_string(value.number);
    case 0x001E:
        return Escape(value.text);
    case 0x0040:
        return FormatTime(value.time);
    default: {
        std::string out;
        for (uint8_t b : value.bytes) {
            std::snprintf(hex, sizeof(hex), "%02X", b);
            out += hex;
        }
        return out;
    }
    }
}

bool ParseValue(unsigned long tag, const std::string& text, Value& value) {
    value = Value{};
    value.tag = tag;
    switch (tag & kTypeMask) {
    case 0x0003:
    case 0x000B:
        value.number = std::strtol(text.c_str(), nullptr, 10);
        return true;
    case 0x001E:
        value.text = Unescape(text);
        return true;
    case 0x0040:
        return ParseTime(text, value.time);
    case 0x0102:
        if (text.size() % 2)
            return false;
        for (size_t i = 0; i < text.size(); i += 2)
            value.bytes.push_back(static_cast<uint8_t>(std::strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
        return true;
    default:
        return false;
    }
}

// "TTTTTTTT value" into a map entry.
bool ParseProp(const std::string& rest, PropMap& props) {
    if (rest.size() < 8)
        return false;
    unsigned long tag = std::strtoul(rest.substr(0, 8).c_str(), nullptr, 16);
    Value value;
    if (!ParseValue(tag, rest.size() > 9 ? rest.substr(9) : std::string(), value))
        return false;
    props[tag] = value;
    return true;
}

std::vector<std::string> SplitBars(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t bar = text.find('|', start);
        parts.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos)
            return parts;
        start = bar + 1;
    }
}

void FormatProps(std::ostringstream& out, const char* keyword, const PropMap& props) {
    for (const auto& [tag, value] : props) {
        char head[16];
        std::snprintf(head, sizeof(head), "%08lX", tag);
        out << keyword << ' ' << head << ' ' << FormatValue(value) << '\n';
    }
}

} // namespace

const std::vector<FolderDef>& Folders() {
    static const std::vector<FolderDef> folders = {
        {kRoot, 0, ""},           {kTop, kRoot, "Top of Information Store"}, {kInbox, kTop, "Inbox"},
        {kOutbox, kTop, "Outbox"}, {kSentItems, kTop, "Sent Items"},          {kDrafts, kTop, "Drafts"}};
    return folders;
}

bool ParseStore(const std::string& text, Store& store, std::string& error) {
    store = Store{};
    std::istringstream in(text);
    std::string line;
    int folder = kInbox;
    StoredMessage* message = nullptr;
    PropMap* recipient = nullptr;
    int number = 0;
    auto fail = [&](const char* why) {
        error = "line " + std::to_string(number) + ": " + why;
        return false;
    };
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const size_t space = line.find(' ');
        const std::string word = line.substr(0, space);
        const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
        if (word == "address") {
            auto parts = SplitBars(rest);
            if (parts.size() != 2)
                return fail("address needs name|address");
            store.addresses.emplace_back(parts[0], parts[1]);
        } else if (word == "folder") {
            folder = 0;
            for (const auto& def : Folders())
                if (def.parent == kTop && rest == def.name)
                    folder = def.id;
            if (!folder)
                return fail("unknown folder");
        } else if (word == "message") {
            StoredMessage fresh;
            fresh.id = store.nextId++;
            fresh.folder = folder;
            message = &store.messages.emplace(fresh.id, fresh).first->second;
            recipient = nullptr;
        } else if (!message) {
            return fail("property outside a message");
        } else if (word == "id") {
            StoredMessage moved = *message;
            store.messages.erase(moved.id);
            moved.id = static_cast<uint32_t>(std::strtoul(rest.c_str(), nullptr, 10));
            if (moved.id >= store.nextId)
                store.nextId = moved.id + 1;
            message = &store.messages.emplace(moved.id, moved).first->second;
        } else if (word == "prop") {
            if (!ParseProp(rest, message->props))
                return fail("bad property");
        } else if (word == "recipient") {
            message->recipients.emplace_back();
            recipient = &message->recipients.back();
        } else if (word == "rprop") {
            if (!recipient || !ParseProp(rest, *recipient))
                return fail("bad recipient property");
        } else if (word == "end") {
            message = nullptr;
        } else {
            return fail("unknown keyword");
        }
    }
    return true;
}

std::string FormatStore(const Store& store) {
    std::ostringstream out;
    for (const auto& [name, address] : store.addresses)
        out << "address " << name << '|' << address << '\n';
    for (const auto& def : Folders()) {
        if (def.parent != kTop)
            continue;
        out << "folder " << def.name << '\n';
        for (const auto& [id, message] : store.messages) {
            if (message.folder != def.id)
                continue;
            out << "message\nid " << id << '\n';
            FormatProps(out, "prop", message.props);
            for (const auto& recipient : message.recipients) {
                out << "recipient\n";
                FormatProps(out, "rprop", recipient);
            }
            out << "end\n";
        }
    }
    return out.str();
}

std::vector<uint8_t> MakeEntryId(EntryKind kind, uint32_t id) {
    return {'T', 'V', static_cast<uint8_t>(kind), 0, static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8),
            static_cast<uint8_t>(id >> 16), static_cast<uint8_t>(id >> 24)};
}

bool ReadEntryId(const void* data, size_t size, EntryKind kind, uint32_t& id) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (!bytes || size != 8 || bytes[0] != 'T' || bytes[1] != 'V' || bytes[2] != static_cast<uint8_t>(kind))
        return false;
    id = bytes[4] | (bytes[5] << 8) | (bytes[6] << 16) | (static_cast<uint32_t>(bytes[7]) << 24);
    return true;
}

} // namespace tv::mapitest
