#include "BzipCodec.h"
#include <bzlib.h>
#include <climits>

namespace tv::bzip {

namespace {

// Ends a library stream on every path.
class CompressionStream {
  public:
    explicit CompressionStream(const CodecSettings& settings) {
        init_ = BZ2_bzCompressInit(&stream_, settings.blockSize, 0, settings.workFactor);
    }
    CompressionStream(const CompressionStream&) = delete;
    CompressionStream& operator=(const CompressionStream&) = delete;
    ~CompressionStream() {
        if (init_ == BZ_OK)
            BZ2_bzCompressEnd(&stream_);
    }
    int InitResult() const { return init_; }
    bz_stream& Get() { return stream_; }

  private:
    bz_stream stream_{};
    int init_;
};

class ExpansionStream {
  public:
    explicit ExpansionStream(const CodecSettings& settings) {
        init_ = BZ2_bzDecompressInit(&stream_, 0, settings.smallMemory ? 1 : 0);
    }
    ExpansionStream(const ExpansionStream&) = delete;
    ExpansionStream& operator=(const ExpansionStream&) = delete;
    ~ExpansionStream() {
        if (init_ == BZ_OK)
            BZ2_bzDecompressEnd(&stream_);
    }
    int InitResult() const { return init_; }
    bz_stream& Get() { return stream_; }

  private:
    bz_stream stream_{};
    int init_;
};

// Runs one library call into the output buffer and hands what it produced to the sink.
template <class Step>
int StepAndFlush(bz_stream& stream, std::uint8_t (&out)[kStreamPiece], ByteSink& sink, Step step) {
    stream.next_out = reinterpret_cast<char*>(out);
    stream.avail_out = kStreamPiece;
    int result = step();
    std::size_t produced = kStreamPiece - stream.avail_out;
    if (produced > 0 && !sink.Write(out, produced))
        return BZ_IO_ERROR;
    return result;
}

bool FitsLibrary(std::size_t length) {
    return length <= UINT_MAX;
}

// Checks the buffers, runs one library call over them and leaves no length behind on failure.
template <typename LibraryCall>
int RunOnBuffers(const std::uint8_t* source, std::size_t sourceLength, std::uint8_t* dest, unsigned int* destLength,
                 LibraryCall call) {
    if (!dest || !destLength || (!source && sourceLength > 0) || !FitsLibrary(sourceLength)) {
        if (destLength)
            *destLength = 0;
        return BZ_PARAM_ERROR;
    }
    int result = call(reinterpret_cast<char*>(dest), const_cast<char*>(reinterpret_cast<const char*>(source)),
                      static_cast<unsigned int>(sourceLength));
    if (result != BZ_OK)
        *destLength = 0;
    return result;
}

} // namespace

int CompressBuffer(const CodecSettings& settings, const std::uint8_t* source, std::size_t sourceLength,
                   std::uint8_t* dest, unsigned int* destLength) {
    return RunOnBuffers(source, sourceLength, dest, destLength, [&](char* out, char* in, unsigned int inLength) {
        return BZ2_bzBuffToBuffCompress(out, destLength, in, inLength, settings.blockSize, 0, settings.workFactor);
    });
}

int ExpandBuffer(const CodecSettings& settings, const std::uint8_t* source, std::size_t sourceLength,
                 std::uint8_t* dest, unsigned int* destLength) {
    return RunOnBuffers(source, sourceLength, dest, destLength, [&](char* out, char* in, unsigned int inLength) {
        return BZ2_bzBuffToBuffDecompress(out, destLength, in, inLength, settings.smallMemory ? 1 : 0, 0);
    });
}

int CompressStream(const CodecSettings& settings, ByteSource& source, ByteSink& sink) {
    CompressionStream compression(settings);
    if (compression.InitResult() != BZ_OK)
        return compression.InitResult();
    bz_stream& stream = compression.Get();
    std::uint8_t in[kStreamPiece];
    std::uint8_t out[kStreamPiece];
    for (;;) {
        std::size_t got = 0;
        if (!source.Read(in, kStreamPiece, got))
            return BZ_IO_ERROR;
        if (got == 0)
            break;
        stream.next_in = reinterpret_cast<char*>(in);
        stream.avail_in = static_cast<unsigned int>(got);
        while (stream.avail_in > 0) {
            int result = StepAndFlush(stream, out, sink, [&] { return BZ2_bzCompress(&stream, BZ_RUN); });
            if (result != BZ_RUN_OK)
                return result;
        }
    }
    for (;;) {
        int result = StepAndFlush(stream, out, sink, [&] { return BZ2_bzCompress(&stream, BZ_FINISH); });
        if (result == BZ_STREAM_END)
            return BZ_OK;
        if (result != BZ_FINISH_OK)
            return result;
    }
}

int ExpandStream(const CodecSettings& settings, ByteSource& source, ByteSink& sink) {
    ExpansionStream expansion(settings);
    if (expansion.InitResult() != BZ_OK)
        return expansion.InitResult();
    bz_stream& stream = expansion.Get();
    std::uint8_t in[kStreamPiece];
    std::uint8_t out[kStreamPiece];
    for (;;) {
        std::size_t got = 0;
        if (!source.Read(in, kStreamPiece, got))
            return BZ_IO_ERROR;
        if (got == 0)
            return BZ_UNEXPECTED_EOF; // the source ended before the stream's end marker
        stream.next_in = reinterpret_cast<char*>(in);
        stream.avail_in = static_cast<unsigned int>(got);
        do {
            int result = StepAndFlush(stream, out, sink, [&] { return BZ2_bzDecompress(&stream); });
            if (result == BZ_STREAM_END)
                return BZ_OK; // anything after the end marker is not part of this stream
            if (result != BZ_OK)
                return result;
            // The library may hold back output while input remains; keep going until the piece
            // is used up and the output buffer was not filled completely.
        } while (stream.avail_in > 0 || stream.avail_out == 0);
    }
}

} // namespace tv::bzip
