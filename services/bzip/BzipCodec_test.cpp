#include "BzipCodec.h"
#include <bzlib.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <vector>

namespace tv::bzip {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Text-like data with long repeats and some noise, so every work factor path gets exercised.
Bytes SampleData(std::size_t size, std::uint32_t seed = 1) {
    Bytes data(size);
    std::uint32_t state = seed;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        data[i] = (i / 512) % 3 == 0 ? static_cast<std::uint8_t>('a' + (i % 7))
                                     : static_cast<std::uint8_t>(state >> 24);
    }
    return data;
}

// Hands out its bytes in pieces of a chosen size.
class MemorySource final : public ByteSource {
  public:
    MemorySource(const Bytes& data, std::size_t piece = kStreamPiece) : data_(data), piece_(piece) {}
    bool Read(std::uint8_t* buffer, std::size_t capacity, std::size_t& got) override {
        got = std::min({capacity, piece_, data_.size() - offset_});
        std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(offset_), got, buffer);
        offset_ += got;
        return true;
    }

  private:
    const Bytes& data_;
    std::size_t piece_;
    std::size_t offset_ = 0;
};

class MemorySink final : public ByteSink {
  public:
    explicit MemorySink(std::size_t failAfter = SIZE_MAX) : failAfter_(failAfter) {}
    bool Write(const std::uint8_t* data, std::size_t length) override {
        if (bytes.size() + length > failAfter_)
            return false;
        bytes.insert(bytes.end(), data, data + length);
        return true;
    }
    Bytes bytes;

  private:
    std::size_t failAfter_;
};

Bytes Compress(const Bytes& data, CodecSettings settings = {}) {
    MemorySource source(data);
    MemorySink sink;
    EXPECT_EQ(CompressStream(settings, source, sink), BZ_OK);
    return sink.bytes;
}

TEST(BzipCodec, StreamsRoundTripWhateverTheReadPieces) {
    const Bytes data = SampleData(100000);
    for (int blockSize : {1, 5, 9}) {
        CodecSettings settings;
        settings.blockSize = blockSize;
        const Bytes packed = Compress(data, settings);
        for (std::size_t piece : {std::size_t{1}, std::size_t{7}, kStreamPiece}) {
            for (bool small : {false, true}) {
                settings.smallMemory = small;
                MemorySource source(packed, piece);
                MemorySink sink;
                ASSERT_EQ(ExpandStream(settings, source, sink), BZ_OK) << blockSize << " " << piece;
                EXPECT_EQ(sink.bytes, data);
            }
        }
    }
}

TEST(BzipCodec, EmptySourceGivesAValidEmptyStream) {
    const Bytes packed = Compress({});
    ASSERT_FALSE(packed.empty());
    MemorySource source(packed);
    MemorySink sink;
    EXPECT_EQ(ExpandStream({}, source, sink), BZ_OK);
    EXPECT_TRUE(sink.bytes.empty());
}

TEST(BzipCodec, ExpansionRequiresTheStreamEndAndIgnoresWhatFollows) {
    const Bytes data = SampleData(50000);
    const Bytes packed = Compress(data);

    for (std::size_t cut : {std::size_t{0}, std::size_t{3}, packed.size() / 2, packed.size() - 1}) {
        const Bytes truncated(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(cut));
        MemorySource source(truncated);
        MemorySink sink;
        EXPECT_EQ(ExpandStream({}, source, sink), BZ_UNEXPECTED_EOF) << cut;
    }

    Bytes trailed = packed;
    const Bytes garbage = SampleData(9000, 7);
    trailed.insert(trailed.end(), garbage.begin(), garbage.end());
    MemorySource source(trailed);
    MemorySink sink;
    EXPECT_EQ(ExpandStream({}, source, sink), BZ_OK);
    EXPECT_EQ(sink.bytes, data);
}

TEST(BzipCodec, ReportsLibraryAndWriteFailures) {
    const Bytes notBzip = SampleData(1000);
    MemorySource source(notBzip);
    MemorySink sink;
    EXPECT_EQ(ExpandStream({}, source, sink), BZ_DATA_ERROR_MAGIC);

    Bytes corrupt = Compress(SampleData(50000));
    corrupt[corrupt.size() / 2] ^= 0x55;
    MemorySource corruptSource(corrupt);
    MemorySink corruptSink;
    EXPECT_EQ(ExpandStream({}, corruptSource, corruptSink), BZ_DATA_ERROR);

    const Bytes data = SampleData(50000);
    MemorySource dataSource(data);
    MemorySink fullSink(100);
    EXPECT_EQ(CompressStream({}, dataSource, fullSink), BZ_IO_ERROR);

    CodecSettings wrong;
    wrong.blockSize = 10;
    MemorySource again(data);
    MemorySink unused;
    EXPECT_EQ(CompressStream(wrong, again, unused), BZ_PARAM_ERROR);
}

TEST(BzipCodec, BufferLengthIsCapacityInAndProducedLengthOut) {
    const Bytes data = SampleData(20000);
    Bytes packed(data.size() + 1000);
    unsigned int length = static_cast<unsigned int>(packed.size());
    ASSERT_EQ(CompressBuffer({}, data.data(), data.size(), packed.data(), &length), BZ_OK);
    ASSERT_LT(length, packed.size());
    packed.resize(length);

    Bytes out(data.size());
    unsigned int small = static_cast<unsigned int>(data.size() - 1);
    EXPECT_EQ(ExpandBuffer({}, packed.data(), packed.size(), out.data(), &small), BZ_OUTBUFF_FULL);
    EXPECT_EQ(small, 0u);
    unsigned int exact = static_cast<unsigned int>(data.size());
    ASSERT_EQ(ExpandBuffer({}, packed.data(), packed.size(), out.data(), &exact), BZ_OK);
    EXPECT_EQ(exact, data.size());
    EXPECT_EQ(out, data);

    unsigned int some = 10;
    EXPECT_EQ(CompressBuffer({}, data.data(), data.size(), nullptr, &some), BZ_PARAM_ERROR);
    EXPECT_EQ(CompressBuffer({}, data.data(), data.size(), out.data(), nullptr), BZ_PARAM_ERROR);
}

} // namespace
} // namespace tv::bzip
