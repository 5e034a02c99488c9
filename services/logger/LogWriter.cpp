// Test helper: writes numbered lines through "Tavrilon.Logger".
//   zvlogger_writer <tag> <count> <start event name>
// Waits (at most 10 s) for the named event so that several writers start together; each line
// is "<tag> <n> " followed by a long run of the tag's first letter. Exits 0 when every write
// succeeded.
#include "ZvLogger.h"
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4)
        return 2;
    const std::string tag = argv[1];
    const int count = std::atoi(argv[2]);
    HANDLE start = OpenEventA(SYNCHRONIZE, FALSE, argv[3]);
    if (!start)
        return 3;
    const bool started = WaitForSingleObject(start, 10000) == WAIT_OBJECT_0;
    CloseHandle(start);
    if (!started)
        return 4;
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 5;
    int exitCode = 0;
    IZvLogger* logger = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ZvLogger, nullptr, CLSCTX_INPROC_SERVER, IID_IZvLogger,
                                reinterpret_cast<void**>(&logger)))) {
        exitCode = 6;
    } else {
        const std::string padding(300, tag[0]);
        for (int i = 0; i < count && exitCode == 0; ++i) {
            std::string line = tag + " " + std::to_string(i) + " " + padding + "\n";
            if (FAILED(logger->Write(line.data())))
                exitCode = 7;
        }
        logger->Release();
    }
    CoUninitialize();
    return exitCode;
}
