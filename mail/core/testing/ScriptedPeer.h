// Test-only: a peer at the far end of a byte channel. Every line sent to it (CR LF ended) goes
// to a handler whose answer is queued for reading; incoming bytes are handed out in pieces of a
// chosen size. When nothing is queued the peer counts as closed, so a dialogue that waits for
// an answer the script does not give fails instead of hanging.
#pragma once
#include "LineChannel.h"
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace tv::mail::testing {

class ScriptedPeer final : public ByteChannel {
  public:
    using Handler = std::function<std::string(const std::string& line)>;

    explicit ScriptedPeer(std::string opening = {}, Handler handler = {})
        : inbound_(std::move(opening)), handler_(std::move(handler)) {}

    void SetHandler(Handler handler) { handler_ = std::move(handler); }
    void SetPieceSize(size_t size) { piece_ = size; }
    void Queue(const std::string& bytes) { inbound_ += bytes; }

    size_t Peek(char* buffer, size_t length) override {
        size_t n = std::min({length, piece_, inbound_.size() - read_});
        std::memcpy(buffer, inbound_.data() + read_, n);
        return n;
    }
    size_t Receive(char* buffer, size_t length) override {
        size_t n = Peek(buffer, length);
        read_ += n;
        return n;
    }
    void SendAll(const char* data, size_t length) override {
        sent_.append(data, length);
        pending_.append(data, length);
        size_t end;
        while ((end = pending_.find("\r\n")) != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 2);
            lines_.push_back(line);
            if (handler_)
                inbound_ += handler_(line);
        }
    }
    void SetTimeout(TimeValue timeout) override {
        timeout_ = timeout;
        timeouts_.push_back(timeout);
    }
    TimeValue Timeout() const override { return timeout_; }

    const std::string& Sent() const { return sent_; }
    const std::vector<std::string>& Lines() const { return lines_; }
    const std::vector<TimeValue>& Timeouts() const { return timeouts_; }
    std::string Unread() const { return inbound_.substr(read_); }

  private:
    std::string inbound_;
    size_t read_ = 0;
    Handler handler_;
    size_t piece_ = 1u << 20;
    std::string sent_;
    std::string pending_;
    std::vector<std::string> lines_;
    TimeValue timeout_{30, 0};
    std::vector<TimeValue> timeouts_;
};

} // namespace tv::mail::testing
