// Class identifiers served by Zelvan15.dll.
#pragma once

#include <windows.h>

namespace devlink15 {

// {E0B5F848-1BA4-44C8-AEC2-EBD617C242CE} "Tavrilon.ZvPort15"
inline constexpr CLSID kClsidZvPort15 = {
    0xe0b5f848, 0x1ba4, 0x44c8, {0xae, 0xc2, 0xeb, 0xd6, 0x17, 0xc2, 0x42, 0xce}};

} // namespace devlink15
