#include "LineChannel.h"
#include <algorithm>
#include <cstring>

namespace tv::mail {

void LineConnection::SendLine(std::string_view text) {
    // Text and terminator in one send: two small sends in a row would wait on the peer's
    // delayed acknowledgement before the second one leaves.
    std::string line;
    line.reserve(text.size() + 2);
    line.append(text);
    line.append("\r\n");
    bytes_.SendAll(line.data(), line.size());
}

std::string LineConnection::ReadReply() {
    std::string line = ReadWholeLine();
    if (line.size() > kReplyMax)
        line.resize(kReplyMax);
    return line;
}

void LineConnection::Fill() {
    if (start_ > 0 && start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
        scanned_ = 0;
    } else if (start_ >= kReceiveChunk) {
        buffer_.erase(0, start_);
        scanned_ -= start_;
        start_ = 0;
    }
    size_t held = buffer_.size();
    buffer_.resize(held + kReceiveChunk);
    size_t got = 0;
    try {
        got = bytes_.Receive(buffer_.data() + held, kReceiveChunk);
    } catch (...) {
        buffer_.resize(held);
        throw;
    }
    buffer_.resize(held + got);
    if (got == 0)
        throw ChannelError(kEndOfStream);
}

std::string LineConnection::ReadWholeLine() {
    for (;;) {
        // Search on from where the last search stopped, one byte back for a CR at its end.
        size_t from = std::max(start_, scanned_ > 0 ? scanned_ - 1 : 0);
        size_t end = buffer_.find("\r\n", from);
        if (end != std::string::npos) {
            std::string line = buffer_.substr(start_, end - start_);
            start_ = end + 2;
            scanned_ = start_;
            return line;
        }
        scanned_ = buffer_.size();
        if (buffer_.size() - start_ > kLongestLine)
            throw ChannelError(kLineTooLong);
        Fill();
    }
}

std::string LineConnection::ReceiveSome(size_t max) {
    if (start_ == buffer_.size())
        Fill();
    size_t take = std::min(max, buffer_.size() - start_);
    std::string data = buffer_.substr(start_, take);
    start_ += take;
    scanned_ = std::max(scanned_, start_);
    return data;
}

} // namespace tv::mail
