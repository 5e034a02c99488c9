#include "loader15.h"

#include <charconv>
#include <cstdio>
#include <fstream>

#include "device15.h"
#include "mcp_frame.h"

namespace zvemu {
namespace {

template <typename T> bool ParseNumber(const std::string& text, T& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

} // namespace

std::string ImageRecord::Describe() const {
    char crcText[9];
    std::snprintf(crcText, sizeof crcText, "%08X", crc);
    return "slot=" + std::to_string(slot) + " length=" + std::to_string(length) + " crc=" + crcText +
           (refused ? " refused" : " accepted=" + std::to_string(accepted)) +
           (booted.empty() ? "" : " booted=" + booted);
}

bool ParseLoaderFaults(const std::map<std::string, std::string>& keys, LoaderFaults& faults, std::string& error) {
    for (const auto& [key, value] : keys) {
        if (key == "refuse") {
            faults.refuse = value != "0";
        } else if (key == "noreboot") {
            faults.noReboot = value != "0";
        } else if (key == "shortby") {
            if (!ParseNumber(value, faults.shortBy)) {
                error = "bad shortby";
                return false;
            }
        } else if (key == "delay") {
            long ms = 0;
            if (!ParseNumber(value, ms) || ms < 0) {
                error = "bad delay";
                return false;
            }
            faults.answerDelay = Millis{ms};
        }
    }
    return true;
}

bool ParseLoaderConfig(const std::map<std::string, std::string>& keys, LoaderConfig& config, std::string& error) {
    static const char* const kBootKeys[] = {"id", "short", "root", "version", "type", "capacity", "reboot_ms"};
    for (const auto& [key, value] : keys) {
        if (key == "slot" || key == "refuse" || key == "noreboot" || key == "shortby" || key == "delay")
            continue;
        bool boot = false;
        for (const char* name : kBootKeys)
            boot = boot || key == name;
        if (boot) {
            config.bootKeys[key] = value;
        } else if (key == "boot") {
            if (!ParseNumber(value, config.bootSlot) || config.bootSlot < 0) {
                error = "bad boot";
                return false;
            }
        } else if (key == "out") {
            config.imageOut = value;
        } else if (key == "restart_ms") {
            long ms = 0;
            if (!ParseNumber(value, ms) || ms < 0) {
                error = "bad restart_ms";
                return false;
            }
            config.rebootTime = Millis{ms};
        } else {
            error = "unknown key " + key;
            return false;
        }
    }
    return ParseLoaderFaults(keys, config.faults, error);
}

Loader15::Loader15(int slot, LoaderConfig config) : slot_(slot), config_(std::move(config)) {}

void Loader15::OnHostAttached(Clock::time_point now) {
    DeviceIdentity identity;
    identity.type = 'T';
    identity.deviceId = "LOADER000000";
    identity.shortId = "LOADER0";
    Queue(LoaderEvent::Kind::Plug, DeviceInfoRecord(identity), now);
}

ImageRecord Loader15::OnImage(std::span<const uint8_t> image, Clock::time_point now) {
    ImageRecord record;
    record.slot = slot_;
    record.length = image.size();
    record.crc = Crc32(image);
    record.refused = config_.faults.refuse;
    if (!config_.imageOut.empty()) {
        std::ofstream out(config_.imageOut, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }
    const auto answerAt = now + config_.faults.answerDelay;
    std::vector<uint8_t> answer;
    if (record.refused) {
        PutU32(answer, 1);
        PutU32(answer, 0);
    } else {
        const auto length = static_cast<uint32_t>(image.size());
        record.accepted = config_.faults.shortBy < length ? length - config_.faults.shortBy : 0;
        PutU32(answer, 0);
        PutU32(answer, record.accepted);
    }
    Queue(LoaderEvent::Kind::Answer, std::move(answer), answerAt);
    // Only an image taken whole is booted.
    if (!record.refused && record.accepted == image.size() && !config_.faults.noReboot && !rebooting_) {
        rebooting_ = true;
        Queue(LoaderEvent::Kind::Unplug, {}, answerAt + config_.rebootTime);
        Queue(LoaderEvent::Kind::Boot, {}, answerAt + config_.rebootTime + config_.bootTime);
    }
    return record;
}

std::optional<Clock::time_point> Loader15::NextDeadline() const {
    std::optional<Clock::time_point> next;
    for (const auto& event : outgoing_)
        if (!next || event.due < *next)
            next = event.due;
    return next;
}

std::vector<LoaderEvent> Loader15::TakeDueEvents(Clock::time_point now) {
    std::vector<LoaderEvent> due;
    while (!outgoing_.empty() && outgoing_.front().due <= now) {
        due.push_back(std::move(outgoing_.front()));
        outgoing_.pop_front();
    }
    return due;
}

void Loader15::Queue(LoaderEvent::Kind kind, std::vector<uint8_t> bytes, Clock::time_point due) {
    // Events keep their order; a later event is never due before an earlier one.
    if (!outgoing_.empty() && due < outgoing_.back().due)
        due = outgoing_.back().due;
    outgoing_.push_back({kind, std::move(bytes), due});
}

} // namespace zvemu
