#include "entry_codec.h"

#include "package_container.h"
#include "result_codes.h"
#include "test_data.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace caparchive {
namespace {

// Packs a hand-made stream the way the format fixes it, independently of the encoder.
class StreamBuilder {
  public:
    StreamBuilder& Field(unsigned value, unsigned bits) {
        while (bits-- > 0) {
            if (count_ % 8 == 0)
                bytes_.push_back(0);
            bytes_.back() |= static_cast<uint8_t>(((value >> bits) & 1u) << (count_ % 8));
            ++count_;
        }
        return *this;
    }
    StreamBuilder& Literal(uint8_t byte) { return Field(0, 1).Field(byte, 8); }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
    size_t count_ = 0;
};

std::vector<uint8_t> Compress(const std::vector<uint8_t>& input) {
    std::vector<uint8_t> stream(input.size());
    const std::ptrdiff_t length = CompressEntry(stream, input);
    stream.resize(length < 0 ? 0 : static_cast<size_t>(length));
    return stream;
}

int Expand(const std::vector<uint8_t>& stream, size_t capacity, std::vector<uint8_t>& output) {
    output.assign(capacity, 0);
    size_t produced = 0;
    const int result = ExpandEntry(output, stream, produced);
    output.resize(produced);
    return result;
}

// Round trip through the entry body, which is stored whenever compressing does not pay.
void ExpectBodyRoundTrip(const std::vector<uint8_t>& input) {
    std::vector<uint8_t> body;
    ASSERT_EQ(BuildEntryBody(input, body), kSuccess);
    MemorySource source(body);
    EntryLayout layout;
    ASSERT_EQ(ReadEntryLayout(source, {0, 0, static_cast<uint32_t>(body.size())}, layout), kSuccess);
    ASSERT_EQ(layout.size, input.size());
    std::vector<uint8_t> output(layout.size);
    ASSERT_EQ(ReadEntryData(source, layout, output), kSuccess);
    ASSERT_TRUE(output == input) << "size " << input.size();
}

TEST(EntryCodecTest, DecodesHandMadeStreamsBitForBit) {
    std::vector<uint8_t> output;
    // Literal 0xFF: flag in bit 0 of the first byte, value in its bits 1..7 and bit 0 of the next.
    EXPECT_EQ(Expand({0xFE, 0x01}, 16, output), kSuccess);
    EXPECT_EQ(output, std::vector<uint8_t>{0xFF});

    // "ab", then a match of length 2 with D = 0 (the two bytes ending where the output stands),
    // then length 2 with D = 1: "ab" + "ab" + "ba".
    StreamBuilder stream;
    stream.Literal('a').Literal('b');
    stream.Field(0b10, 2).Field(0, 1).Field(0b11100, 5).Field(0, 1);
    stream.Field(0b10, 2).Field(0, 1).Field(0b11100, 5).Field(1, 1);
    EXPECT_EQ(Expand(stream.Bytes(), 64, output), kSuccess);
    EXPECT_EQ(std::string(output.begin(), output.end()), "ababba");

    // Length 256 (eleven ones) with D = 3 (1111110) after 259 literals, and length 40 (111111100
    // and 5 extra bits 01000) with D = 4096 (1011 and 12 zero bits).
    StreamBuilder longMatch;
    for (int i = 0; i < 259; ++i)
        longMatch.Literal(static_cast<uint8_t>(i * 7));
    longMatch.Field(0b11111111111, 11).Field(0b1111110, 7);
    for (int i = 0; i < 4096; ++i)
        longMatch.Literal(static_cast<uint8_t>(i));
    longMatch.Field(0b111111100, 9).Field(8, 5).Field(0b1011, 4).Field(0, 12);
    ASSERT_EQ(Expand(longMatch.Bytes(), 8192, output), kSuccess);
    ASSERT_EQ(output.size(), 259u + 256 + 4096 + 40);
    EXPECT_TRUE(std::equal(output.begin(), output.begin() + 256, output.begin() + 259));
    const auto tail = output.end() - 40;
    EXPECT_TRUE(std::equal(tail, output.end(), tail - 40 - 4096));
}

TEST(EntryCodecTest, EncoderPacksTheFirstLiteralIntoTheFirstTwoBytes) {
    std::vector<uint8_t> input(64, 0xFF);
    const std::vector<uint8_t> stream = Compress(input);
    ASSERT_GE(stream.size(), 2u);
    EXPECT_EQ(stream[0], 0xFE);
    EXPECT_EQ(stream[1] & 1, 1);
}

TEST(EntryCodecTest, RefusesEmptyAndTooSmallInputs) {
    std::vector<uint8_t> output(8);
    EXPECT_EQ(CompressEntry(output, std::vector<uint8_t>{}), -1);
    EXPECT_EQ(CompressEntry(output, std::vector<uint8_t>{'a'}), -1);
    EXPECT_EQ(CompressEntry(output, testdata::MakeRandom(4096, 9)), -1);
    // A stream must also fit the caller's buffer.
    const std::vector<uint8_t> zeros(4096, 0);
    std::vector<uint8_t> tiny(4);
    EXPECT_EQ(CompressEntry(tiny, zeros), -1);
}

// Text, random bytes, zeros and small alphabets of one size.
std::vector<std::vector<uint8_t>> Samples(size_t size) {
    const auto seed = static_cast<uint32_t>(size);
    std::vector<std::vector<uint8_t>> samples{testdata::MakeText(size, seed), testdata::MakeRandom(size, seed),
                                              std::vector<uint8_t>(size, 0)};
    for (unsigned alphabet : {2u, 3u, 5u})
        samples.push_back(testdata::MakeSmallAlphabet(size, alphabet, seed));
    return samples;
}

// A random block of `period` bytes repeated over five periods and more.
std::vector<uint8_t> Repeats(size_t period) {
    const std::vector<uint8_t> block = testdata::MakeRandom(period, static_cast<uint32_t>(period));
    std::vector<uint8_t> input;
    while (input.size() < 5 * period + 1000)
        input.insert(input.end(), block.begin(), block.end());
    return input;
}

TEST(EntryCodecTest, RoundTripsTextRandomAndPatternsOfManySizes) {
    const std::vector<size_t> sizes{0,   1,    2,    3,    4,    9,    17,    64,    255,    256,   257,
                                    511, 1000, 4095, 8191, 8192, 8193, 16385, 65536, 100000, 262143};
    for (size_t size : sizes)
        for (const std::vector<uint8_t>& input : Samples(size))
            ExpectBodyRoundTrip(input);
}

TEST(EntryCodecTest, RoundTripsRepeatsAtTheEdgesOfTheWindow) {
    for (size_t period : {1u, 2u, 3u, 255u, 256u, 257u, 300u, 8000u, 8189u, 8190u, 8191u, 8192u, 8193u})
        ExpectBodyRoundTrip(Repeats(period));
}

TEST(EntryCodecTest, RoundTripsSeveralMebibytes) {
    const std::vector<uint8_t> text = testdata::MakeText(3 << 20, 1);
    const std::vector<uint8_t> stream = Compress(text);
    ASSERT_FALSE(stream.empty());
    EXPECT_LT(stream.size(), text.size() * 6 / 10);
    std::vector<uint8_t> output;
    ASSERT_EQ(Expand(stream, text.size(), output), kSuccess);
    EXPECT_TRUE(output == text);

    ExpectBodyRoundTrip(testdata::MakeRandom(3 << 20, 2));
    ExpectBodyRoundTrip(testdata::MakeSmallAlphabet(2 << 20, 4, 3));
}

// The quick encoder's streams decode to their input with the same decoder.
void ExpectFastRoundTrip(const std::vector<uint8_t>& input) {
    std::vector<uint8_t> stream(input.size());
    const std::ptrdiff_t length = CompressEntryFast(stream, input);
    if (length < 0)
        return; // not smaller: the caller stores the bytes
    ASSERT_LT(static_cast<size_t>(length), input.size());
    stream.resize(static_cast<size_t>(length));
    std::vector<uint8_t> output;
    ASSERT_EQ(Expand(stream, input.size(), output), kSuccess) << "size " << input.size();
    ASSERT_TRUE(output == input) << "size " << input.size();
}

TEST(EntryCodecTest, TheQuickEncoderWritesStreamsTheDecoderReads) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, size_t{17}, size_t{256}, size_t{257},
                        size_t{8191}, size_t{8192}, size_t{8449}, size_t{65536}, size_t{262143}})
        for (const std::vector<uint8_t>& input : Samples(size))
            ExpectFastRoundTrip(input);
    // Repeats of every period around the window's edge, where matches must come from far back.
    for (size_t period : {1u, 2u, 3u, 255u, 256u, 257u, 8000u, 8191u, 8192u, 8193u, 8447u, 8448u, 8449u})
        ExpectFastRoundTrip(Repeats(period));
    std::vector<uint8_t> output(8);
    EXPECT_EQ(CompressEntryFast(output, std::vector<uint8_t>{}), -1);
    EXPECT_EQ(CompressEntryFast(output, std::vector<uint8_t>{'a'}), -1);
    std::vector<uint8_t> random(4096);
    EXPECT_EQ(CompressEntryFast(random, testdata::MakeRandom(4096, 9)), -1);
    std::vector<uint8_t> tiny(4);
    EXPECT_EQ(CompressEntryFast(tiny, std::vector<uint8_t>(4096, 0)), -1);
    // Text still shrinks well.
    const std::vector<uint8_t> text = testdata::MakeText(1 << 20, 4);
    std::vector<uint8_t> stream(text.size());
    EXPECT_LT(CompressEntryFast(stream, text), static_cast<std::ptrdiff_t>(text.size() * 6 / 10));
}

TEST(EntryCodecTest, TruncatedStreamsAreRefused) {
    const std::vector<uint8_t> text = testdata::MakeText(20000, 5);
    const std::vector<uint8_t> stream = Compress(text);
    ASSERT_FALSE(stream.empty());
    std::vector<uint8_t> body{kMethodCompressed, 0, 0, 0x4E, 0x20};
    body.insert(body.end(), stream.begin(), stream.end());
    for (size_t cut = 1; cut < body.size(); ++cut) {
        const std::vector<uint8_t> truncated(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(cut));
        MemorySource source(truncated);
        EntryLayout layout;
        int result = ReadEntryLayout(source, {0, 0, static_cast<uint32_t>(cut)}, layout);
        if (result == kSuccess) {
            std::vector<uint8_t> output(layout.size);
            result = ReadEntryData(source, layout, output);
        }
        ASSERT_EQ(result, kErrorInvalidData) << "cut at " << cut;
    }
}

TEST(EntryCodecTest, MalformedStreamsAreRefused) {
    std::vector<uint8_t> output;
    // A match reaching before the start of the output.
    StreamBuilder early;
    early.Literal('a').Field(0b10, 2).Field(0, 1).Field(0b11100, 5).Field(0, 1);
    EXPECT_EQ(Expand(early.Bytes(), 64, output), kErrorInvalidData);
    // A stream that decodes past the space given.
    StreamBuilder longer;
    longer.Literal('a').Literal('b').Literal('c');
    EXPECT_EQ(Expand(longer.Bytes(), 2, output), kErrorInvalidData);
    // A match whose distance code would run past the end of the stream.
    EXPECT_EQ(Expand({0xFF, 0x01}, 64, output), kErrorInvalidData);

    // An unpacked size beyond what the stream could possibly produce is refused before any
    // allocation; one that the stream does not reach exactly is refused after decoding.
    std::vector<uint8_t> body{kMethodCompressed, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0x01};
    MemorySource source(body);
    EntryLayout layout;
    EXPECT_EQ(ReadEntryLayout(source, {0, 0, 7}, layout), kErrorInvalidData);
    body[1] = body[2] = body[3] = 0;
    body[4] = 2;
    ASSERT_EQ(ReadEntryLayout(source, {0, 0, 7}, layout), kSuccess);
    std::vector<uint8_t> data(layout.size);
    EXPECT_EQ(ReadEntryData(source, layout, data), kErrorInvalidData);
    // A compressed body too short to hold its unpacked size.
    EXPECT_EQ(ReadEntryLayout(source, {0, 0, 4}, layout), kErrorInvalidData);
}

TEST(EntryCodecTest, CorruptedStreamsNeverOverrunTheirBuffers) {
    const std::vector<uint8_t> text = testdata::MakeText(30000, 6);
    const std::vector<uint8_t> stream = Compress(text);
    std::mt19937 random(7);
    size_t refused = 0;
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> corrupted = stream;
        for (int flips = 0; flips < 3; ++flips)
            corrupted[random() % corrupted.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
        std::vector<uint8_t> output;
        const int result = Expand(corrupted, text.size(), output);
        if (result != kSuccess || output.size() != text.size())
            ++refused;
    }
    // Most bit flips change the token boundaries and are caught.
    EXPECT_GT(refused, 1000u);
}

} // namespace
} // namespace caparchive
