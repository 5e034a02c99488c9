#include "LineChannel.h"

namespace tv::mail {

void LineConnection::SendLine(std::string_view text) {
    bytes_.SendAll(text.data(), text.size());
    bytes_.SendAll("\r\n", 2);
}

std::string LineConnection::ReadReply() {
    std::string line = ReadWholeLine();
    if (line.size() > kReplyMax)
        line.resize(kReplyMax);
    return line;
}

std::string LineConnection::ReadWholeLine() {
    std::string line;
    char buffer[kReplyMax + 1];
    for (;;) {
        LineRead read = ReadLine(bytes_, LineEnd::CrLf, buffer, kReplyMax);
        line.append(buffer, read.length);
        if (read.complete)
            return line;
        if (line.size() > kLongestLine)
            throw ChannelError(kLineTooLong);
        // A chunk that ended on the CR of the terminator: its LF ends the line.
        if (!line.empty() && line.back() == '\r') {
            char next;
            if (bytes_.Peek(&next, 1) == 0)
                throw ChannelError(kEndOfStream);
            if (next == '\n') {
                ReceiveExactly(bytes_, &next, 1);
                line.pop_back();
                return line;
            }
        }
    }
}

std::string LineConnection::ReceiveSome(size_t max) {
    std::string data(max, '\0');
    size_t got = bytes_.Receive(data.data(), max);
    if (got == 0)
        throw ChannelError(kEndOfStream);
    data.resize(got);
    return data;
}

} // namespace tv::mail
