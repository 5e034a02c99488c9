// Random masks against random names: the matcher must stay in bounds, and a mask made of the
// name itself, or of "*", always matches.
#include "MaskMatch.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\n');
    const std::string_view mask = input.substr(0, split);
    const std::string_view name = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
    filesync::MatchMask(mask, name);
    if (name.find_first_of("*?") == std::string_view::npos && !filesync::MatchMask(name, name))
        __builtin_trap();
    if (!filesync::MatchMask("*", name))
        __builtin_trap();
    return 0;
}
