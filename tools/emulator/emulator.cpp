#include "emulator.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <filesystem>

namespace zvemu {
namespace {

constexpr Millis kLongestPollWait{500};

template <typename T> bool ParseNumber(const std::string& text, T& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

std::string Escape(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c >= 0x7F) {
            static const char* hex = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// "name:label;name:label..."
bool ParseVolumeLabels(const std::string& value, std::map<std::string, std::string>& labels) {
    size_t start = 0;
    while (start < value.size()) {
        const size_t end = std::min(value.find(';', start), value.size());
        const std::string pair = value.substr(start, end - start);
        const auto colon = pair.find(':');
        if (colon == std::string::npos || colon == 0)
            return false;
        labels[pair.substr(0, colon)] = pair.substr(colon + 1);
        start = end + 1;
    }
    return true;
}

std::string Error(const std::string& why) {
    return "error " + why + "\n";
}

const char* kHelp[] = {
    "plug <slot> id=<12 chars> short=<7 chars> root=<folder> [type=T|C] [capacity=<bytes>] [self=1|0]"
    " [labels=<name>:<label>;...] [version=<a.b.c>] [reboot_ms=<ms>]",
    "unplug <slot>",
    "reset <slot> [id=<12 chars>] [short=<7 chars>]",
    "fault <slot> [crc=<n>] [drop=<n>] [channel=<c>] [kind=data|control] [split=<n>,<n>...|off] [gap=<ms>]"
    " [delay=<ms>] [count=<n>] [refuse=<n>] [silent=on|off]",
    "clear <slot>",
    "log <slot> [from=<index>]",
    "clearlog <slot>",
    "attr <slot> path=<device path> letters=<HRs or ->",
    "send <slot> channel=<c> code=<2..5> [seq=<n>]",
    "plug com=<n> root=<folder> [id=@<7 chars>] [prefix=<wine prefix>] [version=<a.b.c>] [hardware=<text>]"
    " [rf=<n>] [capacity=<bytes>] [labels=<name>:<label>;...] [echo=1|0] [pc_required=0|1]",
    "unplug com=<n>",
    "fault com=<n> [crc=<n>] [refuse=<n>] [noconfirm=<n>] [nack=<n>] [cancel=<n>] [silent=on|off] "
    "[early_prompt=on|off] [pc_unconfirmed=on|off]",
    "clear com=<n> | log com=<n> [from=<index>] | clearlog com=<n>",
    "loader <slot> boot=<slot> id=<12 chars> short=<7 chars> root=<folder> [version=<a.b.c>] [out=<file>]"
    " [restart_ms=<ms>] [refuse=1] [shortby=<n>] [delay=<ms>] [noreboot=1]",
    "images",
    "status",
    "help",
};

} // namespace

std::vector<std::string> SplitControlWords(const std::string& line) {
    std::vector<std::string> words;
    std::string current;
    bool inWord = false;
    bool inQuotes = false;
    for (char c : line) {
        if (c == '"') {
            inQuotes = !inQuotes;
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !inQuotes) {
            if (inWord)
                words.push_back(current);
            current.clear();
            inWord = false;
        } else {
            current += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(current);
    return words;
}

// The device's own "System" folder in every volume, where the restore markers live.
void CreateSystemFolders(const std::filesystem::path& root) {
    std::error_code ec;
    std::filesystem::create_directory(root / FolderFileSystem::kMainVolume, ec);
    for (const auto& entry : std::filesystem::directory_iterator(root, ec))
        if (entry.is_directory(ec) && !entry.is_symlink(ec))
            std::filesystem::create_directory(entry.path() / "System", ec);
}

bool ParseDeviceConfig(const std::map<std::string, std::string>& keys, DeviceConfig& config,
                       std::string& error) {
    for (const auto& [key, value] : keys) {
        if (key == "slot") {
            continue;
        } else if (key == "id") {
            config.identity.deviceId = value;
        } else if (key == "short") {
            config.identity.shortId = value;
        } else if (key == "type") {
            config.identity.type = value.size() == 1 ? value[0] : '?';
        } else if (key == "root") {
            config.root = value;
        } else if (key == "capacity") {
            if (!ParseNumber(value, config.capacity)) {
                error = "bad capacity";
                return false;
            }
        } else if (key == "self") {
            config.console.listingNamesFolder = value != "0";
        } else if (key == "version") {
            config.identity.version = value;
        } else if (key == "reboot_ms") {
            long ms = 0;
            if (!ParseNumber(value, ms)) {
                error = "bad reboot_ms";
                return false;
            }
            config.rebootTime = Millis{ms};
        } else if (key == "labels") {
            if (!ParseVolumeLabels(value, config.console.volumeLabels)) {
                error = "bad labels";
                return false;
            }
        } else if (key == "system") {
            continue; // applied once the root is known
        } else {
            error = "unknown key " + key;
            return false;
        }
    }
    if (!IsValidIdentity(config.identity, error))
        return false;
    std::error_code ec;
    if (config.root.empty() || !std::filesystem::is_directory(config.root, ec)) {
        error = "root must be an existing folder";
        return false;
    }
    // The main volume always exists.
    std::filesystem::create_directory(config.root / FolderFileSystem::kMainVolume, ec);
    if (auto system = keys.find("system"); system != keys.end() && system->second == "1")
        CreateSystemFolders(config.root);
    return true;
}

Emulator::Emulator(EmulatorOptions options)
    : options_(std::move(options)), usb_(*this),
      control_([this](const std::string& line) { return HandleControlLine(line); }) {}

Emulator::~Emulator() {
    if (wakeRead_ >= 0)
        ::close(wakeRead_);
    if (wakeWrite_ >= 0)
        ::close(wakeWrite_);
}

bool Emulator::Start(std::string& error) {
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
        error = "cannot make the wake-up pipe";
        return false;
    }
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
    if (!options_.commandLogFile.empty()) {
        commandLog_.open(options_.commandLogFile, std::ios::app);
        if (!commandLog_) {
            error = "cannot open " + options_.commandLogFile;
            return false;
        }
    }
    if (!usb_.Listen(options_.usbPort, error) || !control_.Listen(options_.controlPort, error))
        return false;
    for (const auto& spec : options_.deviceSpecs) {
        std::string line = "plug";
        size_t start = 0;
        while (start <= spec.size()) {
            const size_t end = std::min(spec.find(',', start), spec.size());
            line += " \"" + spec.substr(start, end - start) + "\"";
            start = end + 1;
        }
        const std::string answer = HandleControlLine(line);
        if (!answer.starts_with("ok")) {
            error = "--device " + spec + ": " + answer.substr(0, answer.size() - 1);
            return false;
        }
    }
    return true;
}

void Emulator::Stop() {
    stopping_ = true;
    if (wakeWrite_ >= 0) {
        const char byte = 1;
        [[maybe_unused]] const auto n = ::write(wakeWrite_, &byte, 1);
    }
}

void Emulator::Run() {
    std::vector<PollEntry> entries;
    std::vector<pollfd> fds;
    while (!stopping_) {
        const auto now = Clock::now();
        for (auto& [slot, device] : slots_)
            device->Tick(now);
        for (auto& [port, device] : serial_)
            device->Tick(now);
        DeliverDueEvents(now);
        DeliverDueLoaderEvents(now);

        auto wait = kLongestPollWait;
        for (const auto& [slot, loader] : loaders_) {
            if (const auto deadline = loader->NextDeadline()) {
                wait = std::min(wait, std::chrono::duration_cast<Millis>(*deadline - now) + Millis{1});
            }
        }
        for (const auto& [slot, device] : slots_) {
            if (const auto deadline = device->NextDeadline()) {
                wait = std::min(wait, std::chrono::duration_cast<Millis>(*deadline - now) + Millis{1});
            }
        }
        for (const auto& [port, device] : serial_) {
            if (const auto deadline = device->NextDeadline()) {
                wait = std::min(wait, std::chrono::duration_cast<Millis>(*deadline - now) + Millis{1});
            }
        }
        wait = std::max(wait, Millis{0});

        entries.clear();
        entries.push_back({wakeRead_, POLLIN, [this](short) {
                               char buffer[64];
                               while (::read(wakeRead_, buffer, sizeof buffer) > 0) {
                               }
                           }});
        usb_.AddPollEntries(entries);
        control_.AddPollEntries(entries);
        if (options_.exitWithControl && control_.ClientsGone())
            break;
        for (auto& [port, device] : serial_)
            device->AddPollEntries(entries);
        fds.clear();
        for (const auto& entry : entries)
            fds.push_back({entry.fd, entry.events, 0});
        if (::poll(fds.data(), fds.size(), static_cast<int>(wait.count())) <= 0)
            continue;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents)
                entries[i].onReady(fds[i].revents);
        }
    }
}

void Emulator::DeliverDueEvents(Clock::time_point now) {
    for (auto& [slot, device] : slots_) {
        for (auto& event : device->TakeDueEvents(now)) {
            switch (event.kind) {
            case UsbEvent::Kind::Plug:
                usb_.Send(slot, UsbMessage::Plug, event.bytes);
                break;
            case UsbEvent::Kind::Unplug:
                usb_.Send(slot, UsbMessage::Unplug);
                break;
            case UsbEvent::Kind::Data:
                usb_.Send(slot, UsbMessage::Data, event.bytes);
                break;
            case UsbEvent::Kind::FailRead:
                usb_.Send(slot, UsbMessage::FailRead);
                break;
            }
        }
    }
}

void Emulator::OnSlotAttached(int slot, int /*kind*/) {
    if (const auto loader = loaders_.find(slot); loader != loaders_.end()) {
        const auto now = Clock::now();
        loader->second->OnHostAttached(now);
        DeliverDueLoaderEvents(now);
        return;
    }
    const auto it = slots_.find(slot);
    if (it == slots_.end())
        return;
    const auto now = Clock::now();
    it->second->OnHostAttached(now);
    DeliverDueEvents(now);
}

void Emulator::OnSlotWrite(int slot, std::span<const uint8_t> bytes) {
    const auto it = slots_.find(slot);
    if (it == slots_.end())
        return;
    const auto now = Clock::now();
    it->second->OnHostBytes(bytes, now);
    DeliverDueEvents(now);
}

void Emulator::OnSlotDetached(int /*slot*/) {}

std::string Emulator::Plug(int slot, const std::map<std::string, std::string>& keys) {
    if (slots_.count(slot) || loaders_.count(slot))
        return Error("slot " + std::to_string(slot) + " is in use");
    DeviceConfig config;
    std::string error;
    if (!ParseDeviceConfig(keys, config, error))
        return Error(error);
    auto device = std::make_unique<Device15>(std::move(config), [this, slot](const std::string& line) {
        if (commandLog_.is_open())
            commandLog_ << "slot=" << slot << " " << line << std::endl;
    });
    Device15& plugged = *device;
    slots_[slot] = std::move(device);
    if (usb_.IsAttached(slot)) {
        const auto now = Clock::now();
        plugged.OnHostAttached(now);
        DeliverDueEvents(now);
    }
    return "ok\n";
}

std::string Emulator::Unplug(int slot) {
    if (!slots_.erase(slot))
        return Error("slot " + std::to_string(slot) + " is empty");
    usb_.Send(slot, UsbMessage::Unplug);
    return "ok\n";
}

std::string Emulator::ConfigureFaults(Device15& device, const std::map<std::string, std::string>& keys) {
    FaultPlan& plan = device.faults();
    int channel = -1;
    int kind = 0;
    int count = 1;
    if (auto it = keys.find("channel");
        it != keys.end() && (!ParseNumber(it->second, channel) || channel > 255)) {
        return Error("bad channel");
    }
    if (auto it = keys.find("kind"); it != keys.end()) {
        kind = it->second == "data" ? kMcpDataFrame : it->second == "control" ? kMcpControlFrame : -1;
        if (kind < 0)
            return Error("bad kind");
    }
    if (auto it = keys.find("count"); it != keys.end() && !ParseNumber(it->second, count))
        return Error("bad count");
    for (const auto& [key, value] : keys) {
        if (key == "channel" || key == "kind" || key == "count")
            continue;
        if (key == "crc" || key == "drop") {
            int n = 0;
            if (!ParseNumber(value, n) || n < 1)
                return Error("bad " + key);
            plan.frameFaults.push_back(
                {key == "crc" ? FrameFault::Action::CorruptCrc : FrameFault::Action::Drop, n, channel, kind});
        } else if (key == "split") {
            plan.splitSizes.clear();
            if (value == "off")
                continue;
            size_t start = 0;
            while (start < value.size()) {
                const size_t end = std::min(value.find(',', start), value.size());
                size_t size = 0;
                if (!ParseNumber(value.substr(start, end - start), size) || size == 0)
                    return Error("bad split");
                plan.splitSizes.push_back(size);
                start = end + 1;
            }
        } else if (key == "gap") {
            long ms = 0;
            if (!ParseNumber(value, ms))
                return Error("bad gap");
            plan.splitGap = Millis{ms};
        } else if (key == "delay") {
            long ms = 0;
            if (!ParseNumber(value, ms))
                return Error("bad delay");
            plan.commandDelay = Millis{ms};
            plan.delayedCommands = count;
        } else if (key == "refuse") {
            if (!ParseNumber(value, plan.refusals))
                return Error("bad refuse");
        } else if (key == "silent") {
            if (value != "on" && value != "off")
                return Error("bad silent");
            plan.silent = value == "on";
        } else {
            return Error("unknown key " + key);
        }
    }
    return "ok\n";
}

std::string Emulator::DescribeLog(const CommandLog& log, size_t from) const {
    std::string lines;
    size_t count = 0;
    for (size_t i = 0; i < log.Lines().size(); ++i) {
        const size_t index = log.FirstIndex() + i;
        if (index < from)
            continue;
        lines += std::to_string(index) + " " + Escape(log.Lines()[i]) + "\n";
        ++count;
    }
    return "ok " + std::to_string(count) + "\n" + lines;
}

std::string Emulator::Status() const {
    std::string lines;
    for (const auto& [slot, device] : slots_) {
        const auto& identity = device->config().identity;
        lines += "slot=" + std::to_string(slot) + " id=" + identity.deviceId + " short=" + identity.shortId +
                 " attached=" + (usb_.IsAttached(slot) ? "1" : "0") +
                 " present=" + (device->present() ? "1" : "0") + " root=" + device->config().root.string() +
                 "\n";
    }
    for (const auto& [port, device] : serial_) {
        lines += "com=" + std::to_string(port) + " id=" + device->config().identity.id + " pty=" + device->ptyName() +
                 " link=" + device->config().link.string() + " root=" + device->config().root.string() + "\n";
    }
    return "ok " + std::to_string(slots_.size() + serial_.size()) + "\n" + lines;
}

std::string Emulator::HandleControlLine(const std::string& line) {
    const auto words = SplitControlWords(line);
    if (words.empty())
        return Error("empty request");
    const std::string& verb = words[0];
    if (verb == "help") {
        std::string text = "ok " + std::to_string(std::size(kHelp)) + "\n";
        for (const char* entry : kHelp)
            text += std::string(entry) + "\n";
        return text;
    }
    if (verb == "status")
        return Status();
    if (verb == "images")
        return DescribeImages();

    std::map<std::string, std::string> keys;
    int slot = -1;
    for (size_t i = 1; i < words.size(); ++i) {
        const auto equals = words[i].find('=');
        if (equals == std::string::npos) {
            if (i != 1 || !ParseNumber(words[i], slot))
                return Error("bad word " + words[i]);
            continue;
        }
        keys[words[i].substr(0, equals)] = words[i].substr(equals + 1);
    }
    if (auto it = keys.find("com"); it != keys.end()) {
        int port = 0;
        if (!ParseNumber(it->second, port) || port < 1 || port > kHighestComPort)
            return Error("bad com");
        return HandleSerialRequest(verb, port, keys);
    }
    if (auto it = keys.find("slot"); it != keys.end() && !ParseNumber(it->second, slot))
        return Error("bad slot");
    if (slot < 0 || slot >= kSlotCount)
        return Error("a slot 0.." + std::to_string(kSlotCount - 1) + " is needed");

    if (verb == "loader")
        return PlugLoader(slot, keys);
    if (loaders_.count(slot))
        return HandleLoaderRequest(verb, slot, keys);
    if (verb == "plug")
        return Plug(slot, keys);
    if (verb == "unplug")
        return Unplug(slot);
    const auto it = slots_.find(slot);
    if (it == slots_.end())
        return Error("slot " + std::to_string(slot) + " is empty");
    Device15& device = *it->second;
    const auto now = Clock::now();

    if (verb == "reset") {
        std::optional<std::string> id;
        std::optional<std::string> shortId;
        if (auto k = keys.find("id"); k != keys.end())
            id = k->second;
        if (auto k = keys.find("short"); k != keys.end())
            shortId = k->second;
        DeviceIdentity check = device.config().identity;
        if (id)
            check.deviceId = *id;
        if (shortId)
            check.shortId = *shortId;
        std::string error;
        if (!IsValidIdentity(check, error))
            return Error(error);
        device.Restart(id, shortId, now);
        DeliverDueEvents(now);
        return "ok\n";
    }
    if (verb == "fault")
        return ConfigureFaults(device, keys);
    if (verb == "clear") {
        device.faults() = FaultPlan{};
        return "ok\n";
    }
    if (verb == "log") {
        size_t from = 0;
        if (auto k = keys.find("from"); k != keys.end() && !ParseNumber(k->second, from))
            return Error("bad from");
        return DescribeLog(device.log(), from);
    }
    if (verb == "clearlog") {
        device.log().Clear();
        return "ok\n";
    }
    if (verb == "attr") {
        const auto path = keys.find("path");
        const auto letters = keys.find("letters");
        if (path == keys.end() || letters == keys.end())
            return Error("path and letters are needed");
        unsigned bits = 0;
        for (char c : letters->second) {
            if (c == 'H')
                bits |= kAttrHidden;
            else if (c == 'R')
                bits |= kAttrReadOnly;
            else if (c == 's')
                bits |= kAttrSystem;
            else if (c != '-')
                return Error("bad letters");
        }
        const zvemu::Status status = device.files().SetAttributesForTest(path->second, bits);
        return status.ok ? "ok\n" : Error(status.reason);
    }
    if (verb == "send") {
        int channel = -1;
        int code = -1;
        int seq = 0;
        auto get = [&keys](const char* key, int& value) {
            const auto k = keys.find(key);
            return k == keys.end() || ParseNumber(k->second, value);
        };
        if (!keys.count("channel") || !keys.count("code") || !get("channel", channel) || !get("code", code) ||
            !get("seq", seq) || channel < 0 || channel > 255 || code < 0 || code > 255 || seq < 0 ||
            seq > 255) {
            return Error("channel and code are needed");
        }
        device.SendControl(static_cast<uint8_t>(channel), static_cast<uint8_t>(code),
                           static_cast<uint8_t>(seq));
        DeliverDueEvents(now);
        return "ok\n";
    }
    return Error("unknown request " + verb);
}

std::string Emulator::HandleSerialRequest(const std::string& verb, int port,
                                          const std::map<std::string, std::string>& keys) {
    if (verb == "plug")
        return PlugSerial(port, keys);
    const auto it = serial_.find(port);
    if (it == serial_.end())
        return Error("com" + std::to_string(port) + " is empty");
    Device10& device = *it->second;
    if (verb == "unplug") {
        serial_.erase(it);
        return "ok\n";
    }
    if (verb == "fault")
        return ConfigureSerialFaults(device, keys);
    if (verb == "clear") {
        device.faults() = Serial10Faults{};
        return "ok\n";
    }
    if (verb == "log") {
        size_t from = 0;
        if (auto k = keys.find("from"); k != keys.end() && !ParseNumber(k->second, from))
            return Error("bad from");
        return DescribeLog(device.log(), from);
    }
    if (verb == "clearlog") {
        device.log().Clear();
        return "ok\n";
    }
    return Error("unknown request " + verb + " for a serial device");
}

std::string Emulator::PlugSerial(int port, const std::map<std::string, std::string>& keys) {
    if (serial_.count(port))
        return Error("com" + std::to_string(port) + " is in use");
    Device10Config config;
    config.port = port;
    std::filesystem::path prefix;
    if (const char* env = std::getenv("WINEPREFIX"))
        prefix = env;
    for (const auto& [key, value] : keys) {
        if (key == "com") {
            continue;
        } else if (key == "root") {
            config.root = value;
        } else if (key == "prefix") {
            prefix = value;
        } else if (key == "id") {
            const bool plain = std::all_of(value.begin(), value.end(), [](char c) { return c > 0x20 && c < 0x7F; });
            if (value.size() != 8 || value[0] != '@' || !plain)
                return Error("id must be @ and 7 printable characters");
            config.identity.id = value;
        } else if (key == "version") {
            config.identity.version = value;
        } else if (key == "hardware") {
            config.identity.hardware = value;
        } else if (key == "rf") {
            if (!ParseNumber(value, config.identity.rfChannel))
                return Error("bad rf");
        } else if (key == "capacity") {
            if (!ParseNumber(value, config.capacity))
                return Error("bad capacity");
        } else if (key == "echo") {
            config.console.echo = value != "0";
        } else if (key == "pc_required") {
            config.console.pcModeRequired = value == "1";
        } else if (key == "system") {
            continue; // applied once the root is known
        } else if (key == "labels") {
            if (!ParseVolumeLabels(value, config.console.volumeLabels))
                return Error("bad labels");
        } else {
            return Error("unknown key " + key);
        }
    }
    std::error_code ec;
    if (config.root.empty() || !std::filesystem::is_directory(config.root, ec))
        return Error("root must be an existing folder");
    if (prefix.empty() || !std::filesystem::is_directory(prefix, ec))
        return Error("prefix= (or WINEPREFIX) must name an existing Wine prefix");
    std::filesystem::create_directory(config.root / FolderFileSystem::kMainVolume, ec);
    if (auto system = keys.find("system"); system != keys.end() && system->second == "1")
        CreateSystemFolders(config.root);
    config.link = prefix / "dosdevices" / ("com" + std::to_string(port));
    std::string error;
    auto device = Device10::Create(std::move(config), [this, port](const std::string& line) {
        if (commandLog_.is_open())
            commandLog_ << "com=" << port << " " << line << std::endl;
    }, error);
    if (!device)
        return Error(error);
    serial_[port] = std::move(device);
    return "ok\n";
}

std::string Emulator::ConfigureSerialFaults(Device10& device, const std::map<std::string, std::string>& keys) {
    Serial10Faults& faults = device.faults();
    for (const auto& [key, value] : keys) {
        if (key == "com")
            continue;
        if (key == "silent") {
            if (value != "on" && value != "off")
                return Error("bad silent");
            faults.silent = value == "on";
            continue;
        }
        if (key == "early_prompt" || key == "pc_unconfirmed") {
            if (value != "on" && value != "off")
                return Error("bad " + key);
            (key == "early_prompt" ? faults.earlyPrompt : faults.pcUnconfirmed) = value == "on";
            continue;
        }
        int n = 0;
        if (!ParseNumber(value, n) || n < 0)
            return Error("bad " + key);
        if (key == "crc")
            faults.badCrc = n;
        else if (key == "refuse")
            faults.refuse = n;
        else if (key == "noconfirm")
            faults.noConfirm = n;
        else if (key == "nack")
            faults.nack = n;
        else if (key == "cancel")
            faults.cancelAfter = n;
        else
            return Error("unknown key " + key);
    }
    return "ok\n";
}

std::string Emulator::PlugLoader(int slot, const std::map<std::string, std::string>& keys) {
    if (slots_.count(slot) || loaders_.count(slot))
        return Error("slot " + std::to_string(slot) + " is in use");
    LoaderConfig config;
    std::string error;
    if (!ParseLoaderConfig(keys, config, error))
        return Error(error);
    // The booted device's keys are checked now, so that a bad one does not wait for the reboot.
    DeviceConfig boot;
    if (!ParseDeviceConfig(config.bootKeys, boot, error))
        return Error("boot device: " + error);
    if (config.bootSlot < 0 || config.bootSlot >= kSlotCount || config.bootSlot == slot)
        return Error("bad boot");
    auto& loader = loaders_[slot] = std::make_unique<Loader15>(slot, std::move(config));
    if (usb_.IsAttached(slot)) {
        const auto now = Clock::now();
        loader->OnHostAttached(now);
        DeliverDueLoaderEvents(now);
    }
    return "ok\n";
}

std::string Emulator::HandleLoaderRequest(const std::string& verb, int slot,
                                          const std::map<std::string, std::string>& keys) {
    Loader15& loader = *loaders_.at(slot);
    if (verb == "unplug") {
        loaders_.erase(slot);
        usb_.Send(slot, UsbMessage::Unplug);
        return "ok\n";
    }
    if (verb == "fault") {
        std::string error;
        return ParseLoaderFaults(keys, loader.faults(), error) ? "ok\n" : Error(error);
    }
    if (verb == "clear") {
        loader.faults() = LoaderFaults{};
        return "ok\n";
    }
    return Error("unknown request " + verb + " for a loader");
}

std::string Emulator::DescribeImages() const {
    std::string lines;
    for (const auto& image : images_)
        lines += image.Describe() + "\n";
    return "ok " + std::to_string(images_.size()) + "\n" + lines;
}

void Emulator::OnSlotImage(int slot, std::span<const uint8_t> image) {
    const auto it = loaders_.find(slot);
    const auto now = Clock::now();
    if (it == loaders_.end()) {
        // Nothing takes it: the request fails at once.
        const std::vector<uint8_t> refused = {1, 0, 0, 0, 0, 0, 0, 0};
        usb_.Send(slot, UsbMessage::ImageDone, refused);
        return;
    }
    images_.push_back(it->second->OnImage(image, now));
    if (commandLog_.is_open())
        commandLog_ << "image " << images_.back().Describe() << std::endl;
    DeliverDueLoaderEvents(now);
}

void Emulator::DeliverDueLoaderEvents(Clock::time_point now) {
    std::vector<int> booted;
    for (auto& [slot, loader] : loaders_) {
        for (auto& event : loader->TakeDueEvents(now)) {
            switch (event.kind) {
            case LoaderEvent::Kind::Plug:
                usb_.Send(slot, UsbMessage::Plug, event.bytes);
                break;
            case LoaderEvent::Kind::Answer:
                usb_.Send(slot, UsbMessage::ImageDone, event.bytes);
                break;
            case LoaderEvent::Kind::Unplug:
                usb_.Send(slot, UsbMessage::Unplug);
                break;
            case LoaderEvent::Kind::Boot:
                booted.push_back(slot);
                break;
            }
        }
    }
    for (int slot : booted) {
        const LoaderConfig config = loaders_.at(slot)->config();
        loaders_.erase(slot);
        const std::string answer = Plug(config.bootSlot, config.bootKeys);
        const auto version = config.bootKeys.find("version");
        for (auto image = images_.rbegin(); image != images_.rend(); ++image) {
            if (image->slot == slot) {
                image->booted = std::to_string(config.bootSlot) + "," +
                                (version == config.bootKeys.end() ? std::string("-") : version->second);
                break;
            }
        }
        if (commandLog_.is_open())
            commandLog_ << "slot=" << config.bootSlot << " booted: " << answer;
    }
}

} // namespace zvemu
