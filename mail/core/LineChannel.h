// The line channel the mail dialogues speak over: lines out with CR LF, reply lines in (short
// ones for status replies, whole ones for message text), raw bytes in, and the time-out that
// every wait of the channel obeys.
#pragma once
#include "LineReader.h"
#include "TimeValue.h"
#include <string>
#include <string_view>

namespace tv::mail {

class LineChannel {
  public:
    virtual ~LineChannel() = default;
    // Sends `text` followed by CR LF.
    virtual void SendLine(std::string_view text) = 0;
    // One reply line, cut to its first 255 bytes (a longer line is still read to its end, so the
    // next read starts with the next line).
    virtual std::string ReadReply() = 0;
    // One line to its end, up to kLongestLine bytes (ChannelError(kLineTooLong) beyond).
    virtual std::string ReadWholeLine() = 0;
    // Whatever arrives next, 1 to `max` bytes.
    virtual std::string ReceiveSome(size_t max) = 0;
    virtual void SetTimeout(TimeValue timeout) = 0;
    virtual TimeValue Timeout() const = 0;
};

// What a line connection needs of the transport below it.
class ByteChannel : public ByteSource {
  public:
    // Sends every byte (ChannelError on failure or time-out).
    virtual void SendAll(const char* data, size_t length) = 0;
    virtual void SetTimeout(TimeValue timeout) = 0;
    virtual TimeValue Timeout() const = 0;
};

// A line channel over a byte channel, lines ending in CR LF. What arrives is read in large
// chunks into one buffer that lines, replies and raw receives all take from, so a raw receive
// after a line still continues exactly after its terminator.
class LineConnection final : public LineChannel {
  public:
    explicit LineConnection(ByteChannel& bytes) : bytes_(bytes) {}

    void SendLine(std::string_view text) override;
    std::string ReadReply() override;
    std::string ReadWholeLine() override;
    std::string ReceiveSome(size_t max) override;
    void SetTimeout(TimeValue timeout) override { bytes_.SetTimeout(timeout); }
    TimeValue Timeout() const override { return bytes_.Timeout(); }

    // The longest reply line: a 256-byte buffer less its terminating zero.
    static constexpr size_t kReplyMax = 255;
    static constexpr size_t kLongestLine = 16u * 1024 * 1024;

  private:
    static constexpr size_t kReceiveChunk = 64u * 1024;

    // Appends whatever arrives next (ChannelError(kEndOfStream) when the peer closed).
    void Fill();

    ByteChannel& bytes_;
    std::string buffer_;
    size_t start_ = 0;   // the first byte not yet handed out
    size_t scanned_ = 0; // bytes up to here hold no line end after start_
};

} // namespace tv::mail
