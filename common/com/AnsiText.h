// Conversions between UTF-16 texts and 8-bit texts in the ANSI code page, which the 8-bit
// interfaces and the automation faces of the suite exchange.
#pragma once
#include "Handles.h"
#include <windows.h>
#include <oleauto.h>
#include <string>
#include <cwchar>
#include <string_view>

namespace tv::com {

// Characters the ANSI code page cannot hold become its default character.
std::string ToAnsi(const wchar_t* text, size_t length);
inline std::string ToAnsi(BSTR text) { return ToAnsi(text, text ? SysStringLen(text) : 0); }
// The text up to its terminating null character (null gives an empty text).
inline std::string TerminatedToAnsi(const wchar_t* text) { return ToAnsi(text, text ? std::wcslen(text) : 0); }
std::wstring FromAnsi(std::string_view text);
// A new BSTR of an ANSI text; E_OUTOFMEMORY when it cannot be had.
HRESULT AnsiToBstr(std::string_view text, BSTR* out);
// The same, owned; null when it cannot be had.
inline UniqueBstr AnsiToUniqueBstr(std::string_view text) {
    UniqueBstr out;
    AnsiToBstr(text, out.Put());
    return out;
}

// A copy of an 8-bit text in task memory, for [out] strings the receiver frees with
// CoTaskMemFree; null when memory runs out.
LPSTR TaskTextCopy(std::string_view text);

} // namespace tv::com
