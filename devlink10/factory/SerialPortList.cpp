#include "SerialPortList.h"
#include "Handles.h"

#include <windows.h>

#include <cctype>

namespace devlink10 {

int SerialPortNumber(const std::string& deviceName) {
    if (deviceName.size() < 4 || deviceName.size() > 6)
        return 0;
    for (size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(deviceName[i])) != "COM"[i])
            return 0;
    }
    int number = 0;
    for (size_t i = 3; i < deviceName.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(deviceName[i])))
            return 0;
        number = number * 10 + (deviceName[i] - '0');
    }
    return number < 256 ? number : 0;
}

SerialPortSet ExistingSerialPorts() {
    SerialPortSet ports;
    HKEY raw = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &raw) !=
        ERROR_SUCCESS)
        return ports;
    tv::com::UniqueHKey list(raw);
    for (DWORD index = 0;; ++index) {
        char valueName[256];
        DWORD nameLength = sizeof valueName;
        char data[32] = {};
        DWORD type = 0;
        DWORD dataSize = sizeof data - 1;
        const LSTATUS status = ::RegEnumValueA(list.Get(), index, valueName, &nameLength, nullptr, &type,
                                               reinterpret_cast<BYTE*>(data), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS || type != REG_SZ)
            continue;
        if (const int number = SerialPortNumber(data))
            ports.set(static_cast<size_t>(number));
    }
    return ports;
}

} // namespace devlink10
