#include "LogLine.h"
#include "ComPtr.h"
#include "ZvLogger.h"

namespace tv {

void WriteLogLine(const std::string& text) {
    com::ComPtr<IZvLogger> logger;
    if (FAILED(CoCreateInstance(CLSID_ZvLogger, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                __uuidof(IZvLogger), reinterpret_cast<void**>(&logger))))
        return;
    std::string line = text;
    char lineEnd[] = "\r\n";
    if (SUCCEEDED(logger->Write(line.data())))
        logger->Write(lineEnd);
}

} // namespace tv
