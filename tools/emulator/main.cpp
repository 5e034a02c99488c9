// zvemu: emulates Zelvan devices of the 1.5 and 1.0 generations for tests. See README.md.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "emulator.h"

namespace {

zvemu::Emulator* g_emulator = nullptr;

void OnSignal(int) {
    if (g_emulator)
        g_emulator->Stop();
}

void Usage() {
    std::fprintf(stderr, "usage: zvemu [--usb-port N] [--control-port N] [--log-file PATH] [--exit-with-control]\n"
                         "             [--device slot=S,id=ID,short=SHORT,root=FOLDER[,key=value...]]...\n"
                         "             [--device com=N,root=FOLDER[,prefix=WINEPREFIX][,key=value...]]...\n");
}

bool ParsePort(const char* text, uint16_t& port) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (!end || *end || value < 0 || value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    zvemu::EmulatorOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--usb-port" && hasValue) {
            if (!ParsePort(argv[++i], options.usbPort))
                return Usage(), 2;
        } else if (arg == "--control-port" && hasValue) {
            if (!ParsePort(argv[++i], options.controlPort))
                return Usage(), 2;
        } else if (arg == "--log-file" && hasValue) {
            options.commandLogFile = argv[++i];
        } else if (arg == "--exit-with-control") {
            options.exitWithControl = true;
        } else if (arg == "--device" && hasValue) {
            options.deviceSpecs.push_back(argv[++i]);
        } else {
            Usage();
            return arg == "--help" ? 0 : 2;
        }
    }
    zvemu::Emulator emulator(options);
    std::string error;
    if (!emulator.Start(error)) {
        std::fprintf(stderr, "zvemu: %s\n", error.c_str());
        return 1;
    }
    g_emulator = &emulator;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);
    std::printf("zvemu: usb port %u, control port %u\n", emulator.usbPort(), emulator.controlPort());
    std::fflush(stdout);
    emulator.Run();
    g_emulator = nullptr;
    return 0;
}
