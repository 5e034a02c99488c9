// One-shot script runs: the program's event scripts ("Autostart", "DeviceEvents", ...) are
// script items of the item store, run in JScript by a fresh Script Control each time.
#pragma once
#include <windows.h>
#include <oaidl.h>

namespace tv {

// Runs `functionName` of `scriptText` with the given arguments and named objects. Creation,
// setup, object and code failures (a syntax error among them) return quietly; a failure of the
// run itself is returned and, with `showErrors`, reported in a message box with the program's
// title first.
HRESULT RunScript(BSTR scriptText, BSTR functionName, long argumentCount, const VARIANT* arguments,
                  long objectCount, IDispatch* const* objects, const BSTR* objectNames, VARIANT* result,
                  bool showErrors);

// Fetches the script item `itemName` from the item store and runs it as RunScript does; a
// missing item returns the store's failure without any message.
HRESULT RunNamedScript(BSTR itemName, BSTR functionName, long argumentCount, const VARIANT* arguments,
                       long objectCount, IDispatch* const* objects, const BSTR* objectNames, VARIANT* result,
                       bool showErrors);

// Runs one of the program's event scripts: `functionName` of the script item `itemName` with
// one argument (or none when null), no named objects, and a failed run reported in a message
// box. `result` is initialised here; the caller clears it.
HRESULT RunEventScript(const wchar_t* itemName, const wchar_t* functionName, const VARIANT* argument,
                       VARIANT* result);

// True only for a result of type VT_BOOL whose value is false: the one result by which an
// event script stops what its caller was going to do.
bool IsBooleanFalse(const VARIANT& result);

} // namespace tv
