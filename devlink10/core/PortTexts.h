// The texts the port hands to its clients: progress messages for advised sinks, the status text
// of GetInfo, and the names of the request kinds.
#pragma once
#include "PortProtocol.h"
#include <string>
#include <string_view>

namespace zvport {

const char* RequestKindName(int kind);

// Progress of a request for the sink at position cookie. Console requests carry -1 for both
// counts; boot requests use the element form.
std::string FormatUpdateMessage(long cookie, const PortRequestData& request);

std::string FormatInfo(int openPort, int freePort, int kind, long timeoutMs, uint32_t receiveQueueSize);

// A device file name may not carry characters that would break the device's command line.
bool IsSafeDeviceName(std::string_view name);

} // namespace zvport
