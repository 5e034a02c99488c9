#include "LineReader.h"
#include <algorithm>

namespace tv::mail {

namespace {

constexpr size_t kLookAhead = 256;

struct LineEndFound {
    bool found = false;
    size_t lineLength = 0;     // bytes of the line within the peeked bytes
    size_t terminatorLength = 0;
};

LineEndFound FindLineEnd(const char* bytes, size_t count, LineEnd mode) {
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] != '\n')
            continue;
        bool afterCr = i > 0 && bytes[i - 1] == '\r';
        switch (mode) {
        case LineEnd::CrLf:
            if (afterCr)
                return {true, i - 1, 2};
            break;
        case LineEnd::Lf:
            return {true, i, 1};
        case LineEnd::CrLfOrLf:
            return afterCr ? LineEndFound{true, i - 1, 2} : LineEndFound{true, i, 1};
        }
    }
    return {};
}

} // namespace

void ReceiveExactly(ByteSource& source, char* buffer, size_t length) {
    while (length > 0) {
        size_t got = source.Receive(buffer, length);
        if (got == 0)
            throw ChannelError(kEndOfStream);
        buffer += got;
        length -= got;
    }
}

LineRead ReadLine(ByteSource& source, LineEnd mode, char* buffer, size_t max) {
    char look[kLookAhead];
    size_t total = 0;
    for (;;) {
        size_t room = max - total;
        if (room == 0)
            return {total, false};
        size_t peeked = source.Peek(look, kLookAhead);
        if (peeked == 0)
            throw ChannelError(kEndOfStream);
        // A CR already stored and an LF arriving in this peek end the line together.
        if (mode != LineEnd::Lf && look[0] == '\n' && total > 0 && buffer[total - 1] == '\r') {
            char lf;
            ReceiveExactly(source, &lf, 1);
            return {total - 1, true};
        }
        LineEndFound end = FindLineEnd(look, peeked, mode);
        if (!end.found) {
            size_t take = std::min(peeked, room);
            ReceiveExactly(source, buffer + total, take);
            total += take;
            continue;
        }
        if (end.lineLength > room) {
            ReceiveExactly(source, buffer + total, room);
            return {max, false};
        }
        ReceiveExactly(source, buffer + total, end.lineLength);
        total += end.lineLength;
        char terminator[2];
        ReceiveExactly(source, terminator, end.terminatorLength);
        return {total, true};
    }
}

} // namespace tv::mail
