// Names as the device may report them: an accepted name never holds a component that leaves
// the root, and the helpers stay in bounds on anything.
#include "DeviceNames.h"
#include "PcSafeName.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    filesync::FolderLevels(name);
    filesync::FirstComponent(name);
    filesync::LastComponent(name);
    if (!tv::portable::IsPcSafeRelativePath(name))
        return 0;
    if (name.front() == '\\' || name.back() == '\\' || name.find(':') != std::string_view::npos ||
        name.find("\\\\") != std::string_view::npos || name == ".." || name.starts_with("..\\") ||
        name.find("\\..\\") != std::string_view::npos || name.ends_with("\\.."))
        __builtin_trap();
    return 0;
}
