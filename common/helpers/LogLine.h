// One line of the suite's log: the text and then "\r\n", written through a logger made for it.
// Without a logger the line is dropped: tracing never fails its caller.
#pragma once
#include <string>

namespace tv {

void WriteLogLine(const std::string& text);

} // namespace tv
