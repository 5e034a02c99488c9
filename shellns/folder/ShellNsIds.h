// Identity of the device folder and the interface ids the toolkit needs declared.
#pragma once
#include <windows.h>
#include <shlobj.h>

namespace tv::shellns {

// {183249DD-9B44-4B4E-88FB-FA55F948649C}
inline constexpr CLSID CLSID_ZelvanNS = {0x183249dd, 0x9b44, 0x4b4e, {0x88, 0xfb, 0xfa, 0x55, 0xf9, 0x48, 0x64, 0x9c}};

inline constexpr char kMyZelvanName[] = "My Zelvan";

} // namespace tv::shellns

#ifndef TV_IEXTRACTICONA_UUID
#define TV_IEXTRACTICONA_UUID
__CRT_UUID_DECL(IExtractIconA, 0x000214eb, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
#endif
