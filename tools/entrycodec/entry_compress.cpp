// The suite's entry compressor on one file, for the comparison with the reference compressor:
//     entry_compress INPUT OUTPUT
// writes the compressed stream to OUTPUT (empty when the compressor gives -1) and prints the
// compressor's result.
#include "entry_codec.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: entry_compress INPUT OUTPUT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "entry_compress: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::vector<uint8_t> input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<uint8_t> output(input.size());
    const std::ptrdiff_t written = caparchive::CompressEntry(output, input);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    if (written > 0)
        out.write(reinterpret_cast<const char*>(output.data()), written);
    if (!out) {
        std::fprintf(stderr, "entry_compress: cannot write %s\n", argv[2]);
        return 1;
    }
    std::printf("%td\n", written);
    return 0;
}
