// Reading one line from a connection without taking anything beyond its end: the bytes are
// first peeked, and only the line and its terminator are received, so that a raw receive after
// a line read continues exactly after the terminator.
#pragma once
#include "ChannelError.h"
#include <cstddef>

namespace tv::mail {

// What a line reader needs of a connection. Both calls return 0 only when the peer closed.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Copies up to `length` waiting bytes into `buffer` without taking them.
    virtual size_t Peek(char* buffer, size_t length) = 0;
    // Takes up to `length` bytes into `buffer`.
    virtual size_t Receive(char* buffer, size_t length) = 0;
};

// How a line ends: CR LF only, LF only, or either CR LF or a bare LF.
enum class LineEnd { CrLf = 0, Lf = 1, CrLfOrLf = 2 };

struct LineRead {
    size_t length = 0;     // bytes stored, terminator excluded
    bool complete = false; // the terminator was reached (and taken); else the room ran out
};

// Reads one line into `buffer` (room for `max` bytes; the caller adds a terminating zero). A
// line longer than the room fills it and the rest stays for the next read. The peer closing
// before the line end raises ChannelError(kEndOfStream).
LineRead ReadLine(ByteSource& source, LineEnd mode, char* buffer, size_t max);

// Takes exactly `length` bytes (ChannelError(kEndOfStream) when the peer closes first).
void ReceiveExactly(ByteSource& source, char* buffer, size_t length);

} // namespace tv::mail
