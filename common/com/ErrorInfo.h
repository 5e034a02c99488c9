// Raises COM error information for a failing automation call, so that a script sees a text.
#pragma once
#include <windows.h>
#include <oaidl.h>

namespace tv::com {

// The full form. `description` is either a string id of `module` (a value below 0x10000, as
// MAKEINTRESOURCE makes it) or a text. A missing string gives "Unknown Error". When `hr` is 0
// and an id was given, the result is 0x80040000 plus the id; when it is 0 and a text was given,
// DISP_E_EXCEPTION. The source is the ProgID of `clsid` when it has one; the help file and
// context are set when both are given.
HRESULT SetComErrorInfo(REFCLSID clsid, LPCWSTR description, DWORD helpContext, LPCWSTR helpFile, REFIID iid,
                        HRESULT hr, HMODULE module);

// Shortened form with a string id of the language library.
HRESULT SetComErrorInfo(REFCLSID clsid, UINT stringId, REFIID iid, HRESULT hr, HMODULE module);

// Shortened form with an 8-bit text (ANSI code page).
HRESULT SetComErrorInfo(REFCLSID clsid, const char* text, REFIID iid, HRESULT hr);

} // namespace tv::com
