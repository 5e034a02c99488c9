// Feeds arbitrary bytes to the identifier readers: they must never read outside the input.
#include "ItemId.h"
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path;
    tv::shellns::ListToPath(data, size, &path);
    if (size >= 2) {
        size_t cb = tv::shellns::LevelSize(data);
        if (cb <= size)
            tv::shellns::DecodeItem(data, cb, nullptr);
    }
    return 0;
}
