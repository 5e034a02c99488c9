#include "device10.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace zvemu {

Device10::Device10(Device10Config config, LogSink logSink)
    : config_(std::move(config)), logSink_(std::move(logSink)), files_(config_.root, config_.capacity),
      console_(files_, config_.identity, config_.console, faults_, [this](const std::string& line) {
          log_.Add(line);
          logSink_(line);
      }) {}

std::unique_ptr<Device10> Device10::Create(Device10Config config, LogSink logSink, std::string& error) {
    std::unique_ptr<Device10> device(new Device10(std::move(config), std::move(logSink)));
    if (!device->Open(error))
        return nullptr;
    return device;
}

bool Device10::Open(std::string& error) {
    master_ = UniqueFd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master_.valid() || ::grantpt(master_.get()) != 0 || ::unlockpt(master_.get()) != 0) {
        error = std::string("cannot make a pty: ") + std::strerror(errno);
        return false;
    }
    char name[128];
    if (::ptsname_r(master_.get(), name, sizeof name) != 0) {
        error = "cannot name the pty";
        return false;
    }
    ptyName_ = name;
    slave_ = UniqueFd(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    termios raw{};
    if (!slave_.valid() || ::tcgetattr(slave_.get(), &raw) != 0) {
        error = "cannot open the pty's slave end";
        return false;
    }
    ::cfmakeraw(&raw);
    ::tcsetattr(slave_.get(), TCSANOW, &raw);
    ::fcntl(master_.get(), F_SETFL, ::fcntl(master_.get(), F_GETFL) | O_NONBLOCK);

    std::error_code ec;
    std::filesystem::create_directories(config_.link.parent_path(), ec);
    if (std::filesystem::is_symlink(config_.link, ec) || std::filesystem::exists(config_.link, ec))
        std::filesystem::remove(config_.link, ec);
    std::filesystem::create_symlink(ptyName_, config_.link, ec);
    if (ec) {
        error = "cannot link " + config_.link.string() + ": " + ec.message();
        return false;
    }
    return true;
}

Device10::~Device10() {
    // The link goes only while it still names this pty.
    std::error_code ec;
    if (!ptyName_.empty() && std::filesystem::read_symlink(config_.link, ec) == ptyName_)
        std::filesystem::remove(config_.link, ec);
}

void Device10::AddPollEntries(std::vector<PollEntry>& entries) {
    short events = POLLIN;
    if (!pending_.empty())
        events |= POLLOUT;
    entries.push_back({master_.get(), events, [this](short revents) {
                           if (revents & (POLLIN | POLLHUP | POLLERR))
                               OnReadable();
                           if (revents & POLLOUT)
                               Flush();
                       }});
}

void Device10::OnReadable() {
    uint8_t buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master_.get(), buffer, sizeof buffer);
        if (n <= 0)
            break;
        console_.OnBytes(std::span(buffer, static_cast<size_t>(n)), Clock::now());
    }
    Flush();
}

void Device10::Tick(Clock::time_point now) {
    console_.Tick(now);
    Flush();
}

std::optional<Clock::time_point> Device10::NextDeadline() const {
    return console_.NextDeadline();
}

void Device10::Flush() {
    auto more = console_.TakeOutput();
    pending_.insert(pending_.end(), more.begin(), more.end());
    while (!pending_.empty()) {
        const ssize_t n = ::write(master_.get(), pending_.data(), pending_.size());
        if (n <= 0)
            break; // the slave's queue is full: POLLOUT brings us back
        pending_.erase(pending_.begin(), pending_.begin() + n);
    }
}

} // namespace zvemu
