// Registration of the test device factory for test programs that load it themselves.
#pragma once
#include "TestDeviceIds.h"
#include <windows.h>
#include <string>

namespace tv::tests {

// Registers the test device factory unless the prefix has it already: registering again
// rewrites its keys, which other test programs running meanwhile may be reading.
inline HRESULT EnsureTestDeviceFactoryRegistered() {
    wchar_t clsid[40] = {};
    StringFromGUID2(CLSID_TestDeviceFactory, clsid, ARRAYSIZE(clsid));
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + clsid + L"\\InprocServer32").c_str(), 0,
                      KEY_READ, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        return S_OK;
    }
    HMODULE factory = LoadLibraryA("tvtestdevice.dll");
    if (!factory)
        return HRESULT_FROM_WIN32(GetLastError());
    auto registerServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(factory, "DllRegisterServer")));
    return registerServer ? registerServer() : E_FAIL;
}

} // namespace tv::tests
