#include "PortTexts.h"
#include "ConsoleSafeText.h"
#include <cstdio>

namespace zvport {
namespace {

constexpr const char* kMistakeText = "Error occured!!!";

} // namespace

const char* RequestKindName(int kind) {
    switch (kind) {
    case 0:
        return "UNDEFINED REQUEST";
    case 1:
        return "CONSOLE COMMAND";
    case 2:
        return "SEND FILE REQUEST";
    case 3:
        return "BOOT OS IMAGE";
    case 4:
        return "WRITE IMAGE TO FLASH";
    case 5:
        return "RECEIVE FILE FROM FLASH";
    default:
        return "I DO NOT KNOW!!!";
    }
}

std::string FormatUpdateMessage(long cookie, const PortRequestData& request) {
    long long total = -1;
    long long done = -1;
    if (request.kind == RequestKind::ReceiveFile) {
        total = done = request.bytesDone;
    } else if (request.kind != RequestKind::Console) {
        total = request.totalBytes;
        done = request.bytesDone;
    }
    char text[512];
    if (request.kind == RequestKind::Boot) {
        std::snprintf(text, sizeof text,
                      "<UPDATEMSG>\n<COOKIE>%ld</COOKIE>\n<TYPE>%d</TYPE>\n<STATUS>%d</STATUS>\n"
                      "<MISTAKEMSG>%s</MISTAKEMSG>\n<TOTALPROGRESS>%lld</TOTALPROGRESS>\n"
                      "<PROGRESSDONE>%lld</PROGRESSDONE>\n</UPDATEMSG>",
                      cookie, static_cast<int>(request.kind), static_cast<int>(request.resultClass), kMistakeText,
                      total, done);
    } else {
        std::snprintf(text, sizeof text, "<UPDATEMSG>\n|%ld|%d|%d|%d|%s|%lld|%lld|", cookie,
                      static_cast<int>(request.kind), static_cast<int>(request.resultClass),
                      static_cast<int>(request.state), kMistakeText, total, done);
    }
    return text;
}

std::string FormatInfo(int openPort, int freePort, int kind, long timeoutMs, uint32_t receiveQueueSize) {
    char text[256];
    std::snprintf(text, sizeof text, "<GETINFODATA>|%d|%d|%s|%d|%ld|%u", openPort, freePort, RequestKindName(kind),
                  kind, timeoutMs, receiveQueueSize);
    return text;
}

bool IsSafeDeviceName(std::string_view name) { return tv::portable::IsConsoleSafeText(name); }

} // namespace zvport
