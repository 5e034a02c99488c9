#include "console10.h"

#include <charconv>
#include <cstdio>

#include "serial10_wire.h"

namespace zvemu {
namespace {

constexpr const char* kPrompt = "Ready >\r\n";
constexpr const char* kWakeUpCode = "58204617";
constexpr const char* kListingRule = "---------------------------"; // 27 dashes
constexpr size_t kLongestFrameText = 300;

std::string NameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

std::string MediumOf(const std::string& path) {
    return path.substr(1, path.find('/', 1) - 1);
}

std::string Failure(const std::string& word, const std::string& why) {
    return word + ": " + why + "\r\nfail\r\n";
}

std::string FormatListingLine(const DeviceItem& item, bool mainMedium) {
    std::tm local{};
    localtime_r(&item.modified, &local);
    char when[40];
    std::snprintf(when, sizeof when, "%02d.%02d.%04d %02d:%02d", local.tm_mday, local.tm_mon + 1,
                  local.tm_year + 1900, local.tm_hour, local.tm_min);
    // Files of the main medium are listed by name, those of the other media by full path.
    return std::string(when) + "   " + std::to_string(item.size) + " " +
           (mainMedium ? NameOf(item.path) : item.path) + "\r\n";
}

} // namespace

bool IsFlatDevicePath(const std::string& path) {
    if (path.size() < 4 || path[0] != '/')
        return false;
    const auto slash = path.find('/', 1);
    return slash != std::string::npos && slash > 1 && slash + 1 < path.size() &&
           path.find('/', slash + 1) == std::string::npos;
}

Console10::Console10(FolderFileSystem& files, const Device10Identity& identity, Console10Options options,
                     Serial10Faults& faults, CommandObserver observer)
    : files_(files), identity_(identity), options_(std::move(options)), faults_(faults),
      observer_(std::move(observer)) {}

std::vector<uint8_t> Console10::TakeOutput() {
    std::vector<uint8_t> out;
    out.swap(output_);
    return out;
}

void Console10::SendBytes(std::span<const uint8_t> bytes) {
    if (!faults_.silent)
        output_.insert(output_.end(), bytes.begin(), bytes.end());
}

void Console10::Send(std::string_view text) {
    SendBytes(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void Console10::SendDeviceBlock(uint8_t tag, uint8_t sequence, std::span<const uint8_t> data) {
    auto block = EncodeDeviceBlock(tag, sequence, data);
    if (faults_.badCrc > 0) {
        --faults_.badCrc;
        block.back() ^= 0x01;
    }
    SendBytes(block);
}

void Console10::OnBytes(std::span<const uint8_t> bytes, Clock::time_point now) {
    if (!input_.empty() && now - lastInput_ > kStaleInput)
        input_.clear(); // the rest of a frame or packet that never came
    lastInput_ = now;
    input_.insert(input_.end(), bytes.begin(), bytes.end());
    ProcessInput(now);
}

void Console10::ProcessInput(Clock::time_point now) {
    while (!input_.empty()) {
        const std::span<const uint8_t> in(input_);
        size_t used = 0;
        if (mode_ == Mode::Receiving && in[0] == kPacketTag) {
            const auto size = DataPacketSize(in);
            if (!size || in.size() < *size)
                return;
            lastTransferActivity_ = now;
            used = *size;
            OnPacket(in.first(used));
        } else if (mode_ == Mode::Uploading && in[0] == kDeviceCommandBlock) {
            if (in.size() < kCommandBlockSize)
                return;
            lastTransferActivity_ = now;
            used = kCommandBlockSize;
            OnCommandBlock(in.first(used));
        } else {
            size_t lf = 0;
            while (lf < in.size() && in[lf] != '\n')
                ++lf;
            if (lf == in.size()) {
                if (in.size() > kLongestFrameText)
                    input_.clear(); // no line end in sight: noise
                return;
            }
            if (in.size() < lf + 3)
                return;
            std::string text(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(lf));
            const uint16_t checksum = static_cast<uint16_t>(in[lf + 1] | (in[lf + 2] << 8));
            used = lf + 3;
            input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(used));
            OnFrame(std::move(text), checksum);
            continue;
        }
        input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(used));
    }
}

void Console10::Tick(Clock::time_point now) {
    if (!input_.empty() && now - lastInput_ > kStaleInput) {
        input_.clear();
        if (mode_ == Mode::Receiving)
            Send("nack\r\n"); // a packet broke off: ask for it again
    }
    if (mode_ != Mode::Console && now - lastTransferActivity_ > kTransferIdleLimit) {
        EndTransfer();
        Send(kPrompt);
    }
}

std::optional<Clock::time_point> Console10::NextDeadline() const {
    std::optional<Clock::time_point> next;
    if (!input_.empty())
        next = lastInput_ + kStaleInput + Millis{1};
    if (mode_ != Mode::Console) {
        const auto idle = lastTransferActivity_ + kTransferIdleLimit + Millis{1};
        if (!next || idle < *next)
            next = idle;
    }
    return next;
}

void Console10::EndTransfer() {
    mode_ = Mode::Console;
    receive_.reset();
    upload_.reset();
}

void Console10::OnFrame(std::string text, uint16_t checksum) {
    // The start line of a transfer carries CR LF; the checksum never covers the CR.
    while (!text.empty() && text.back() == '\r')
        text.pop_back();
    if (faults_.noConfirm > 0) {
        --faults_.noConfirm;
        return;
    }
    if (faults_.refuse > 0 || ConsoleChecksum(text) != checksum) {
        if (faults_.refuse > 0)
            --faults_.refuse;
        Send(std::string(1, static_cast<char>(kConfirmRefused)));
        return;
    }
    observer_(text);
    if (mode_ != Mode::Console) {
        // Any console line ends a transfer; "can" or "cancel" is only that.
        EndTransfer();
        if (text == "can" || text == "cancel") {
            Send(std::string(1, static_cast<char>(kConfirmAccepted)));
            Send(kPrompt);
            return;
        }
    }
    Execute(text);
}

void Console10::Execute(const std::string& text) {
    std::string error;
    const auto command = ParseConsoleCommand(text, error);
    if (command && command->word == "rcv") {
        // A start line that the device cannot take is refused like a bad frame.
        if (!StartReceive(*command))
            Send(std::string(1, static_cast<char>(kConfirmRefused)));
        return;
    }
    Send(std::string(1, static_cast<char>(kConfirmAccepted)));
    if (options_.echo && !text.empty())
        Send(text + "\r\n");
    if (!command) {
        if (!text.empty())
            Send(Failure("console", error));
        Send(kPrompt);
        return;
    }
    if (command->word == "upl") {
        StartUpload(*command);
        return;
    }
    const Reply reply = Run(*command);
    Send(reply.lines);
    Send(kPrompt);
}

bool Console10::NeedsPcMode(const std::string& word) const {
    return options_.pcModeRequired && !pcMode_ &&
           (word == "ls" || word == "rm" || word == "cp" || word == "rcv" || word == "upl");
}

Console10::Reply Console10::Run(const ConsoleCommand& command) {
    const std::string& word = command.word;
    if (NeedsPcMode(word))
        return {false, Failure(word, "not in pc mode")};
    if (word == kWakeUpCode)
        return {true, "ZvOS console\r\n"};
    if (word == "3" && command.args.empty())
        return {true, "console mode\r\n"};
    if (word == "id" && command.args.empty())
        return {true, "device_id: " + identity_.id + "\r\n"};
    if (word == "ver" && command.args.empty())
        return {true, "ZvOS v. " + identity_.version + " built 15.03.2001\r\n"};
    if (word == "cfg" && command.args.empty()) {
        return {true, "model: 7\r\nhardware version: " + identity_.hardware +
                          "\r\nrf channel: " + std::to_string(identity_.rfChannel) + "\r\n"};
    }
    if (word == "pc" && command.args.size() == 1) {
        const std::string& mode = command.args[0];
        if (mode == "on" && faults_.pcUnconfirmed)
            return {true, ""};
        if (mode == "on" || mode == "off" || mode == "root") {
            pcMode_ = mode == "on";
            return {true, pcMode_ ? "pc mode on\r\n" : "pc mode off\r\n"};
        }
    }
    if (word == "boot" && command.args.size() == 1)
        return {true, "booting " + command.args[0] + "\r\n"};
    if (word == "sysinfo")
        return SystemInfo(command);
    if (word == "ls")
        return List(command);
    if (word == "rm")
        return Remove(command);
    if (word == "cp")
        return Copy(command);
    if (word == "pc" || word == "id" || word == "ver" || word == "cfg" || word == "3" || word == "boot")
        return {false, Failure(word, "bad arguments")};
    return {false, Failure(word, "unknown command")};
}

Console10::Reply Console10::VolumeList() const {
    Reply reply{true, "/default main_flash\r\n"};
    for (const auto& volume : files_.Volumes()) {
        if (volume == FolderFileSystem::kMainVolume)
            continue;
        const auto label = options_.volumeLabels.find(volume);
        reply.lines += "/" + volume + " " + (label == options_.volumeLabels.end() ? volume : label->second) + "\r\n";
    }
    return reply;
}

Console10::Reply Console10::List(const ConsoleCommand& command) const {
    if (command.args.size() != 1)
        return {false, Failure("ls", "bad arguments")};
    const std::string& path = command.args[0];
    if (path == "/" || path == "/*")
        return VolumeList();
    if (!IsFlatDevicePath(path) || !files_.IsVolume(MediumOf(path)))
        return {false, Failure("ls", "no such medium")};
    const std::string medium = MediumOf(path);
    const std::string name = NameOf(path);
    Status status;
    std::vector<DeviceItem> items;
    if (HasWildcard(name)) {
        auto children = files_.ListChildren("/" + medium, name, status);
        if (!children)
            return {false, Failure("ls", status.reason)};
        items = std::move(*children);
    } else if (auto item = files_.Stat(path, status)) {
        items.push_back(std::move(*item));
    }
    Reply reply{true, "/" + medium + " on flash\r\n"};
    size_t count = 0;
    for (const auto& item : items) {
        if (item.folder)
            continue; // the device keeps no folders; a PC folder inside a medium stays unseen
        reply.lines += FormatListingLine(item, medium == FolderFileSystem::kMainVolume);
        ++count;
    }
    reply.lines += std::string(kListingRule) + "\r\n" + std::to_string(count) + " file(s)\r\n";
    return reply;
}

Console10::Reply Console10::SystemInfo(const ConsoleCommand& command) const {
    if (command.args.size() > 1)
        return {false, Failure("sysinfo", "bad arguments")};
    std::string medium = FolderFileSystem::kMainVolume;
    if (!command.args.empty()) {
        const std::string& path = command.args[0];
        medium = path.starts_with("/") ? path.substr(1) : path;
    }
    const auto stats = files_.Stats(medium);
    if (!stats)
        return {false, Failure("sysinfo", "no such medium")};
    char lines[256];
    std::snprintf(lines, sizeof lines,
                  "sysinfo : block_size(bytes):%u\r\nsysinfo : blocks_total     :%llu\r\n"
                  "sysinfo : free_blocks      :%llu\r\n",
                  stats->blockSize, static_cast<unsigned long long>(stats->totalBlocks),
                  static_cast<unsigned long long>(stats->freeBlocks));
    return {true, lines};
}

Console10::Reply Console10::Remove(const ConsoleCommand& command) {
    if (command.args.size() != 1 || !IsFlatDevicePath(command.args[0]))
        return {false, Failure("rm", "bad arguments")};
    Status status;
    const auto item = files_.Stat(command.args[0], status);
    if (!item || item->folder)
        return {false, Failure("rm", item ? "not a file" : status.reason)};
    status = files_.Remove(command.args[0], command.HasOption('f'));
    return status.ok ? Reply{} : Reply{false, Failure("rm", status.reason)};
}

Console10::Reply Console10::Copy(const ConsoleCommand& command) {
    if (command.args.size() != 2 || !IsFlatDevicePath(command.args[0]) || !IsFlatDevicePath(command.args[1]))
        return {false, Failure("cp", "bad arguments")};
    const Status status = files_.Copy(command.args[0], command.args[1], command.HasOption('f'), false);
    return status.ok ? Reply{} : Reply{false, Failure("cp", status.reason)};
}

bool Console10::StartReceive(const ConsoleCommand& command) {
    // "rcv <name> <size>"; a name sent without quotation marks may hold blanks.
    if (command.args.size() < 2 || NeedsPcMode("rcv"))
        return false;
    uint64_t size = 0;
    const std::string& sizeText = command.args.back();
    const auto [end, ec] = std::from_chars(sizeText.data(), sizeText.data() + sizeText.size(), size);
    std::string path = command.args[0];
    for (size_t i = 1; i + 1 < command.args.size(); ++i)
        path += " " + command.args[i];
    if (ec != std::errc() || end != sizeText.data() + sizeText.size() || !IsFlatDevicePath(path) ||
        !files_.CanWriteFile(path, size).ok) {
        return false;
    }
    Send(std::string(1, static_cast<char>(kConfirmAccepted)));
    if (size == 0) {
        const Status written = files_.WriteFile(path, {});
        Send(written.ok ? "done\r\n" : "cancel\r\n");
        Send(kPrompt);
        return true;
    }
    receive_ = Receive{path, size, {}, 0};
    mode_ = Mode::Receiving;
    lastTransferActivity_ = lastInput_;
    Send("ack\r\n");
    return true;
}

void Console10::OnPacket(std::span<const uint8_t> bytes) {
    const DataPacket packet = DecodeDataPacket(bytes);
    Receive& receive = *receive_;
    if (!packet.crcOk || faults_.nack > 0) {
        if (packet.crcOk)
            --faults_.nack;
        Send("nack\r\n");
        return;
    }
    if (packet.block != receive.nextBlock) {
        Send("send" + std::to_string(receive.nextBlock) + "\r\n");
        return;
    }
    const uint64_t room = receive.size - receive.data.size();
    if (packet.data.empty() || packet.data.size() > room) {
        Send("cancel\r\n");
        EndTransfer();
        Send(kPrompt);
        return;
    }
    receive.data.insert(receive.data.end(), packet.data.begin(), packet.data.end());
    ++receive.nextBlock;
    if (faults_.cancelAfter && static_cast<int>(receive.nextBlock) >= *faults_.cancelAfter) {
        faults_.cancelAfter.reset();
        Send("cancel\r\n");
        EndTransfer();
        Send(kPrompt);
        return;
    }
    if (receive.data.size() < receive.size) {
        Send("ack\r\n");
        return;
    }
    const Status written = files_.WriteFile(receive.path, receive.data);
    EndTransfer();
    Send(written.ok ? "done\r\n" : "cancel\r\n");
    Send(kPrompt);
}

void Console10::StartUpload(const ConsoleCommand& command) {
    // "upl <name>"; a name sent without quotation marks may hold blanks.
    Upload upload;
    std::string path;
    for (const auto& arg : command.args)
        path += (path.empty() ? "" : " ") + arg;
    if (!command.args.empty() && IsFlatDevicePath(path) && !NeedsPcMode("upl")) {
        Status status;
        upload.bytes = files_.ReadFile(path, status);
    }
    // A file that cannot be read is refused when the PC asks to start.
    upload_ = std::move(upload);
    mode_ = Mode::Uploading;
    lastTransferActivity_ = lastInput_;
}

void Console10::OnCommandBlock(std::span<const uint8_t> bytes) {
    const auto block = DecodeCommandBlock(bytes);
    if (!block)
        return; // a damaged request goes unanswered; the PC asks again
    Upload& upload = *upload_;
    switch (static_cast<BlockCommand>(block->code)) {
    case BlockCommand::Start: {
        const uint8_t answer[] = {static_cast<uint8_t>(block->code), upload.bytes ? uint8_t{1} : uint8_t{0}};
        SendDeviceBlock(kDeviceCommandBlock, 0, answer);
        break;
    }
    case BlockCommand::SendBlock: {
        const bool cancel = faults_.cancelAfter && upload.blocksSent >= *faults_.cancelAfter;
        if (!upload.bytes || cancel) {
            if (cancel)
                faults_.cancelAfter.reset();
            const uint8_t answer[] = {static_cast<uint8_t>(block->code), 0};
            SendDeviceBlock(kDeviceCommandBlock, 0, answer);
            break;
        }
        const std::vector<uint8_t>& file = *upload.bytes;
        const uint64_t offset = uint64_t{block->argument} * kUploadBlockSize;
        std::span<const uint8_t> data;
        if (offset < file.size())
            data = std::span(file).subspan(offset, std::min<uint64_t>(kUploadBlockSize, file.size() - offset));
        SendDeviceBlock(kDeviceDataBlock, static_cast<uint8_t>(block->argument), data);
        ++upload.blocksSent;
        if (data.empty() && faults_.earlyPrompt && !upload.prompted) {
            upload.prompted = true;
            Send(kPrompt);
        }
        break;
    }
    case BlockCommand::Stop: {
        const bool prompted = upload.prompted;
        EndTransfer();
        if (!prompted)
            Send(kPrompt);
        break;
    }
    default:
        break;
    }
}

} // namespace zvemu
