// Measures the entry codec on a few MiB of text and of random data, next to bzip2 -9 and gzip -6
// run on the same input. One run each; the numbers are for reading, not for asserting.
#include "entry_codec.h"
#include "test_data.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Measurement {
    bool stored = false; // the codec found nothing to gain: the entry would be stored
    size_t packedSize = 0;
    double compressSeconds = 0;
    double expandSeconds = 0;
    bool ok = false;
};

Measurement MeasureEntryCodec(const std::vector<uint8_t>& input) {
    Measurement m;
    std::vector<uint8_t> packed(input.size());
    auto start = Clock::now();
    const std::ptrdiff_t length = caparchive::CompressEntry(packed, input);
    m.compressSeconds = SecondsSince(start);
    if (length < 0) {
        // Not smaller than the input: the entry would be stored as it is.
        m.stored = true;
        m.packedSize = input.size();
        m.ok = true;
        return m;
    }
    m.packedSize = static_cast<size_t>(length);
    std::vector<uint8_t> unpacked(input.size());
    size_t produced = 0;
    start = Clock::now();
    const int result = caparchive::ExpandEntry(unpacked, std::span(packed).first(m.packedSize), produced);
    m.expandSeconds = SecondsSince(start);
    m.ok = result == 0 && produced == input.size() && unpacked == input;
    return m;
}

bool Run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// Runs "<tool> <level> -c" on the input file and "<tool> -dc" on its output, timing each.
Measurement MeasureTool(const std::string& tool, const std::string& level, const std::filesystem::path& input,
                        size_t inputSize) {
    Measurement m;
    const std::filesystem::path packed = input.string() + "." + tool;
    const std::filesystem::path unpacked = input.string() + ".out";
    auto start = Clock::now();
    if (!Run(tool + " " + level + " -c '" + input.string() + "' > '" + packed.string() + "'"))
        return m;
    m.compressSeconds = SecondsSince(start);
    m.packedSize = static_cast<size_t>(std::filesystem::file_size(packed));
    start = Clock::now();
    if (!Run(tool + " -dc '" + packed.string() + "' > '" + unpacked.string() + "'"))
        return m;
    m.expandSeconds = SecondsSince(start);
    m.ok = std::filesystem::file_size(unpacked) == inputSize &&
           Run("cmp -s '" + input.string() + "' '" + unpacked.string() + "'");
    std::filesystem::remove(packed);
    std::filesystem::remove(unpacked);
    return m;
}

void Print(const char* name, size_t inputSize, const Measurement& m) {
    auto rate = [&](double seconds) { return seconds > 0 ? inputSize / seconds / 1e6 : 0.0; };
    std::printf("  %-12s %10zu bytes  ratio %6.2f%%  compress %8.2f MB/s  ", name, m.packedSize,
                100.0 * m.packedSize / inputSize, rate(m.compressSeconds));
    if (m.stored)
        std::printf("expand   (stored, nothing to expand)");
    else
        std::printf("expand %8.2f MB/s", rate(m.expandSeconds));
    std::printf("%s\n", m.ok ? "" : "  FAILED");
}

} // namespace

int main(int argc, char** argv) {
    size_t size = 4u << 20;
    if (argc > 1)
        size = static_cast<size_t>(std::strtoull(argv[1], nullptr, 10)) << 20;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("capbench_" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);

    struct Input {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    const Input inputs[] = {{"text", caparchive::testdata::MakeText(size, 1)},
                            {"random", caparchive::testdata::MakeRandom(size, 2)}};
    bool allOk = true;
    for (const Input& input : inputs) {
        const std::filesystem::path file = folder / input.name;
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(input.bytes.data()), static_cast<std::streamsize>(size));
        std::printf("%s, %zu bytes (MB/s of input bytes; ratio = output / input)\n", input.name, size);
        const Measurement codec = MeasureEntryCodec(input.bytes);
        Print("entry codec", size, codec);
        const Measurement bzip2 = MeasureTool("bzip2", "-9", file, size);
        Print("bzip2 -9", size, bzip2);
        const Measurement gzip = MeasureTool("gzip", "-6", file, size);
        Print("gzip -6", size, gzip);
        allOk = allOk && codec.ok && bzip2.ok && gzip.ok;
    }
    std::filesystem::remove_all(folder);
    return allOk ? 0 : 1;
}
