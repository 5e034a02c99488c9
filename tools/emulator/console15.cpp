#include "console15.h"

#include <charconv>
#include <cstdio>

namespace zvemu {
namespace {

constexpr int kReceiveRequestRepeats = 40; // about 12 s of asking before the host opens the pipe

// "$pipe=N" of a line that could not be parsed otherwise, so that even a malformed command is
// answered where the host waits for it.
std::optional<int> FindReplyPipe(const std::string& line) {
    const auto at = line.find("$pipe=");
    if (at == std::string::npos)
        return std::nullopt;
    int value = 0;
    const char* begin = line.data() + at + 6;
    const auto [end, ec] = std::from_chars(begin, line.data() + line.size(), value);
    if (ec != std::errc() || end == begin || value < 1 || value > 125)
        return std::nullopt;
    return value;
}

bool IsReplyPipe(int pipe) {
    return pipe != kConsolePipe && pipe != kKeepAlivePipe;
}

std::string ParentOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string LastOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Splits "X/.../P" into X and P.
bool SplitRecursive(const std::string& path, std::string& folder, std::string& pattern) {
    const auto at = path.rfind("/.../");
    if (at == std::string::npos)
        return false;
    folder = path.substr(0, at);
    pattern = path.substr(at + 5);
    return true;
}

void AppendBigEndian(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

std::vector<uint8_t> ToBytes(const std::string& text, bool terminate) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    if (terminate)
        bytes.push_back(0);
    return bytes;
}

} // namespace

Console15::Console15(FolderFileSystem& files, PipeIo& pipes, const DeviceIdentity& identity,
                     ConsoleOptions options, CommandFaults& faults, CommandObserver observer,
                     RebootRequest reboot)
    : files_(files), pipes_(pipes), identity_(identity), options_(std::move(options)), faults_(faults),
      observer_(std::move(observer)), reboot_(std::move(reboot)) {}

std::string Console15::FormatListingLine(const DeviceItem& item) {
    std::string letters;
    if (item.folder)
        letters += 'D';
    if (item.attributes & kAttrHidden)
        letters += 'H';
    if (item.attributes & kAttrReadOnly)
        letters += 'R';
    if (item.attributes & kAttrSystem)
        letters += 's';
    if (letters.empty())
        letters = "-";
    std::tm local{};
    localtime_r(&item.modified, &local);
    char when[32];
    std::snprintf(when, sizeof when, "%02d.%02d.%04d %02d:%02d", local.tm_mday, local.tm_mon + 1,
                  local.tm_year + 1900, local.tm_hour, local.tm_min);
    return "1  " + letters + " " + when + " " + std::to_string(item.folder ? 0 : item.size) + " " +
           item.path + "\n";
}

void Console15::OnConsoleBytes(std::span<const uint8_t> bytes) {
    for (uint8_t b : bytes) {
        if (b != 0) {
            partialLine_ += static_cast<char>(b);
            continue;
        }
        observer_(partialLine_);
        queue_.push_back({std::move(partialLine_), std::nullopt});
        partialLine_.clear();
    }
}

void Console15::OnConsoleReset() {
    partialLine_.clear();
}

void Console15::Restart() {
    partialLine_.clear();
    queue_.clear();
    receives_.clear();
    uploads_.clear();
    pcMode_ = false;
}

void Console15::Tick(Clock::time_point now) {
    while (!queue_.empty()) {
        Pending& head = queue_.front();
        if (!head.notBefore)
            head.notBefore = now + faults_.TakeCommandDelay();
        if (now < *head.notBefore)
            break;
        const std::string line = std::move(head.line);
        queue_.pop_front();
        Execute(line, now);
    }
    for (auto it = receives_.begin(); it != receives_.end();) {
        if (now - it->second.lastData < kReceiveIdleLimit) {
            ++it;
            continue;
        }
        const int pipe = it->first;
        it = receives_.erase(it);
        pipes_.ClosePipe(pipe);
        ShowOnConsole("\nfail\n" + std::string(kPrompt));
    }
}

std::optional<Clock::time_point> Console15::NextDeadline() const {
    std::optional<Clock::time_point> next;
    if (!queue_.empty()) {
        // A head without its time yet must be looked at now.
        next = queue_.front().notBefore.value_or(Clock::time_point{});
    }
    for (const auto& [pipe, receive] : receives_) {
        const auto limit = receive.lastData + kReceiveIdleLimit;
        if (!next || limit < *next)
            next = limit;
    }
    return next;
}

void Console15::ShowOnConsole(const std::string& text) {
    const auto bytes = ToBytes(text, true);
    pipes_.WritePipe(kConsolePipe, bytes);
}

void Console15::Answer(const ConsoleCommand* command, const Reply& reply) {
    const std::string text = "\n" + reply.lines + (reply.ok ? "done\n" : "fail\n");
    if (command && command->replyPipe && IsReplyPipe(*command->replyPipe)) {
        const int pipe = *command->replyPipe;
        pipes_.StartOutput(pipe);
        pipes_.WritePipe(pipe, ToBytes(text, true));
        pipes_.FinishPipe(pipe);
        ShowOnConsole(kPrompt);
    } else {
        ShowOnConsole(text + kPrompt);
    }
}

void Console15::Execute(const std::string& line, Clock::time_point now) {
    std::string error;
    const auto command = ParseConsoleCommand(line, error);
    if (!command) {
        ConsoleCommand fallback;
        fallback.replyPipe = FindReplyPipe(line);
        Answer(&fallback, Reply::Fail(error));
        return;
    }
    if (command->word == "reboot") {
        // The device goes away at once; the host does not wait for an answer.
        queue_.clear();
        reboot_();
        return;
    }
    if (faults_.TakeRefusal()) {
        if (command->word == "rcv" && command->dataPipe) {
            pipes_.ClosePipe(*command->dataPipe);
        } else if (command->word == "upl" && command->dataPipe) {
            std::vector<uint8_t> status;
            AppendBigEndian(status, 1, 2);
            pipes_.StartOutput(*command->dataPipe);
            pipes_.WritePipe(*command->dataPipe, status);
            pipes_.FinishPipe(*command->dataPipe);
        }
        Answer(&*command, Reply::Fail("refused"));
        return;
    }
    if (command->word == "rcv") {
        StartReceive(*command, now);
    } else if (command->word == "upl") {
        StartUpload(*command);
    } else {
        Answer(&*command, RunSimple(*command));
    }
}

Console15::Reply Console15::RunSimple(const ConsoleCommand& command) {
    const std::string& word = command.word;
    if (word == "ls")
        return List(command);
    if (word == "rm")
        return RemoveItems(command);
    if (word == "cp")
        return CopyItem(command);
    if (word == "mkdir")
        return MakeFolder(command);
    if (word == "chmod")
        return ChangeAttributes(command);
    if (word == "sysinfo")
        return SystemInfo(command);
    if (word == "id") {
        // The last line, "@" and the short id, is what a PC polls for after a copy.
        return {true, std::string("type: ") + identity_.type + "\ndevice_id: " + identity_.deviceId +
                          "\nshort_id: " + identity_.shortId + "\n@" + identity_.shortId + "\n"};
    }
    if (word == "ver")
        return {true, "Zelvan OS v. " + identity_.version + " built 01.01.2003\n"};
    if (word == "pc") {
        if (command.args.size() != 1)
            return Reply::Fail("bad arguments");
        const std::string& mode = command.args[0];
        if (mode == "on") {
            pcMode_ = true;
            return {true, "pc mode on\n"};
        }
        if (mode == "off" || mode == "root") {
            pcMode_ = false;
            return {true, "pc mode off\n"};
        }
        return Reply::Fail("bad arguments");
    }
    return Reply::Fail("unknown command");
}

std::string Console15::LabelOf(const std::string& volume) const {
    const auto it = options_.volumeLabels.find(volume);
    return it == options_.volumeLabels.end() ? volume : it->second;
}

Console15::Reply Console15::VolumeList() const {
    // Each line is "/name label" and one blank before its line feed.
    Reply reply{true, "/default main_flash \n"};
    for (const auto& volume : files_.Volumes()) {
        if (volume == FolderFileSystem::kMainVolume)
            continue;
        reply.lines += "/" + volume + " " + LabelOf(volume) + " \n";
    }
    return reply;
}

Console15::Reply Console15::List(const ConsoleCommand& command) {
    if (command.args.size() != 1)
        return Reply::Fail("bad arguments");
    const std::string& path = command.args[0];
    if (path == "/" || (path.rfind('/') == 0 && HasWildcard(path)))
        return VolumeList();
    Status status;
    std::optional<std::vector<DeviceItem>> items;
    std::string folder;
    std::string pattern;
    if (SplitRecursive(path, folder, pattern)) {
        if (pattern.find('/') != std::string::npos)
            return Reply::Fail("bad pattern");
        items = files_.ListTree(folder, pattern, options_.listingNamesFolder, status);
    } else if (HasWildcard(LastOf(path))) {
        items = files_.ListChildren(ParentOf(path), LastOf(path), status);
    } else if (auto item = files_.Stat(path, status)) {
        items.emplace(1, std::move(*item));
    }
    if (!items)
        return Reply::Fail(status.reason);
    Reply reply;
    for (const auto& item : *items)
        reply.lines += FormatListingLine(item);
    return reply;
}

Console15::Reply Console15::SystemInfo(const ConsoleCommand& command) const {
    if (command.args.size() > 1)
        return Reply::Fail("bad arguments");
    std::string volume = FolderFileSystem::kMainVolume;
    Reply reply;
    if (command.args.empty()) {
        reply.lines = "device_id: " + identity_.deviceId + "\nshort_id: " + identity_.shortId +
                      "\nversion: " + identity_.version + "\n";
    } else {
        const std::string& path = command.args[0];
        volume = path.starts_with("/") ? path.substr(1) : path;
    }
    const auto stats = files_.Stats(volume);
    if (!stats)
        return Reply::Fail("no such volume");
    reply.lines += "block_size(bytes): " + std::to_string(stats->blockSize) +
                   "\nblocks_total: " + std::to_string(stats->totalBlocks) +
                   "\nfree_blocks: " + std::to_string(stats->freeBlocks) + "\n";
    return reply;
}

Console15::Reply Console15::RemoveItems(const ConsoleCommand& command) {
    if (command.args.size() != 1)
        return Reply::Fail("bad arguments");
    const std::string& path = command.args[0];
    const bool force = command.HasOption('f');
    Status status;
    std::string folder;
    std::string pattern;
    std::optional<std::vector<DeviceItem>> items;
    if (SplitRecursive(path, folder, pattern)) {
        items = files_.ListTree(folder, pattern, options_.listingNamesFolder, status);
    } else if (HasWildcard(LastOf(path))) {
        items = files_.ListChildren(ParentOf(path), LastOf(path), status);
    } else {
        status = files_.Remove(path, force);
        return status.ok ? Reply{} : Reply::Fail(status.reason);
    }
    if (!items)
        return Reply::Fail(status.reason);
    // Deepest first, so that every folder is empty by the time its turn comes.
    for (auto it = items->rbegin(); it != items->rend(); ++it) {
        Status gone;
        if (!files_.Stat(it->path, gone))
            continue;
        status = files_.Remove(it->path, force);
        if (!status.ok)
            return Reply::Fail(status.reason);
    }
    return {};
}

Console15::Reply Console15::CopyItem(const ConsoleCommand& command) {
    if (command.args.size() != 2)
        return Reply::Fail("bad arguments");
    const bool overwrite = command.HasOption('f');
    const Status status = command.HasOption('m') ? files_.Move(command.args[0], command.args[1], overwrite)
                                                 : files_.Copy(command.args[0], command.args[1], overwrite,
                                                               command.HasOption('p'));
    return status.ok ? Reply{} : Reply::Fail(status.reason);
}

Console15::Reply Console15::MakeFolder(const ConsoleCommand& command) {
    if (command.args.size() != 1)
        return Reply::Fail("bad arguments");
    const Status status = files_.MakeFolder(command.args[0]);
    return status.ok ? Reply{} : Reply::Fail(status.reason);
}

Console15::Reply Console15::ChangeAttributes(const ConsoleCommand& command) {
    if (command.args.size() != 1)
        return Reply::Fail("bad arguments");
    unsigned clear = 0;
    unsigned set = 0;
    for (const auto& option : command.options) {
        unsigned& target = option[0] == '-' ? clear : set;
        for (size_t i = 1; i < option.size(); ++i) {
            switch (option[i]) {
            case 'R':
                target |= kAttrReadOnly;
                break;
            case 'H':
                target |= kAttrHidden;
                break;
            case 's':
                target |= kAttrSystem;
                break;
            default:
                return Reply::Fail("bad attribute");
            }
        }
    }
    const Status status = files_.ChangeAttributes(command.args[0], clear, set);
    return status.ok ? Reply{} : Reply::Fail(status.reason);
}

void Console15::StartReceive(const ConsoleCommand& command, Clock::time_point now) {
    uint64_t size = 0;
    bool sized = command.args.size() == 2;
    if (sized) {
        const std::string& text = command.args[1];
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), size);
        sized = ec == std::errc() && end == text.data() + text.size();
    }
    if (!command.dataPipe || !sized) {
        if (command.dataPipe)
            pipes_.ClosePipe(*command.dataPipe);
        Answer(&command, Reply::Fail("bad arguments"));
        return;
    }
    const int pipe = *command.dataPipe;
    const std::string& path = command.args[0];
    if (const Status can = files_.CanWriteFile(path, size); !can.ok) {
        pipes_.ClosePipe(pipe);
        Answer(&command, Reply::Fail(can.reason));
        return;
    }
    if (size == 0) {
        const Status written = files_.WriteFile(path, {});
        Answer(&command, written.ok ? Reply{} : Reply::Fail(written.reason));
        return;
    }
    Receive receive;
    receive.path = path;
    receive.size = size;
    receive.lastData = now;
    receives_[pipe] = std::move(receive);
    pipes_.AcceptInput(pipe, true, kReceiveRequestRepeats);
}

void Console15::OnDataBytes(int pipe, std::span<const uint8_t> bytes, Clock::time_point now) {
    const auto it = receives_.find(pipe);
    if (it == receives_.end())
        return;
    Receive& receive = it->second;
    receive.lastData = now;
    const size_t wanted = static_cast<size_t>(receive.size - receive.data.size());
    receive.data.insert(receive.data.end(), bytes.begin(), bytes.begin() + std::min(wanted, bytes.size()));
    if (receive.data.size() < receive.size)
        return;
    const Status written = files_.WriteFile(receive.path, receive.data);
    receives_.erase(it);
    if (written.ok) {
        pipes_.AcceptInput(pipe, false, 0); // the last frame gets the final acknowledgement
    } else {
        pipes_.ClosePipe(pipe); // the host's last flush fails instead of reporting success
    }
    ShowOnConsole("\n" + (written.ok ? std::string() : written.reason + "\n") +
                  (written.ok ? "done\n" : "fail\n") + kPrompt);
}

void Console15::StartUpload(const ConsoleCommand& command) {
    if (!command.dataPipe || command.args.size() != 1) {
        Answer(&command, Reply::Fail("bad arguments"));
        return;
    }
    const int pipe = *command.dataPipe;
    Status status;
    const auto bytes = files_.ReadFile(command.args[0], status);
    std::vector<uint8_t> stream;
    if (!bytes || bytes->size() > 0xFFFFFFFFu) {
        AppendBigEndian(stream, 1, 2);
    } else {
        AppendBigEndian(stream, 0, 2);
        AppendBigEndian(stream, bytes->size(), 4);
        stream.insert(stream.end(), bytes->begin(), bytes->end());
    }
    pipes_.StartOutput(pipe);
    pipes_.WritePipe(pipe, stream);
    pipes_.FinishPipe(pipe);
    if (!bytes) {
        Answer(&command, Reply::Fail(status.reason));
        return;
    }
    uploads_[pipe] = true;
}

void Console15::OnPipeFinished(int pipe) {
    if (uploads_.erase(pipe))
        ShowOnConsole("\ndone\n" + std::string(kPrompt));
}

void Console15::OnPipeClosedByHost(int pipe) {
    if (uploads_.erase(pipe))
        ShowOnConsole("\nfail\n" + std::string(kPrompt));
    if (receives_.erase(pipe)) {
        pipes_.AcceptInput(pipe, false, 0);
        ShowOnConsole("\nfail\n" + std::string(kPrompt));
    }
}

} // namespace zvemu
