// The serial ports the system knows of (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, where serial port
// drivers list the ports they created). Detection looks here first, so that a round over the
// port numbers opens no port that does not exist.
#pragma once
#include <bitset>
#include <string>

namespace devlink10 {

// Port numbers 0..255; bit n is set when "COMn" is in the system's list.
using SerialPortSet = std::bitset<256>;

// The port number a device name such as "COM4" names (case-insensitive); 0 when it names none.
int SerialPortNumber(const std::string& deviceName);

// The ports in the system's list now; an empty set when the list is missing.
SerialPortSet ExistingSerialPorts();

} // namespace devlink10
