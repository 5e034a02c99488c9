// tvbench_program.exe: the timing steps of tools/bench/hub_latency.sh.
//   start  starts "Tavrilon.exe /NoSplash" and prints the milliseconds until its main dialog,
//          which owns the tray icon, has finished its set-up; the program keeps running.
//   calls  prints the mean time of 1000 cross-process calls of a cheap hub query (the device
//          count over the custom interface).
//   stop   ends the running program and waits for it.
#include "ComPtr.h"
#include "E2eSupport.h"
#include "Handles.h"
#include "ZelvanMgr.h"
#include <cstdio>
#include <cstring>

namespace {

using namespace tv;

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int Start() {
    LARGE_INTEGER begin, end;
    QueryPerformanceCounter(&begin);
    // Started directly: the program is to outlive this step.
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    std::wstring commandLine = L"\"" + e2e::ProgramPath() + L"\" /NoSplash";
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started))
        return 2;
    com::UniqueHandle process(started.hProcess), thread(started.hThread);
    HWND dialog = e2e::FindMainDialog(started.dwProcessId, 60000);
    // The dialog answers only after its set-up (tray icon included) has returned.
    DWORD_PTR ignored = 0;
    if (!dialog || !SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored))
        return 3;
    QueryPerformanceCounter(&end);
    std::printf("start to tray icon: %.0f ms\n", Milliseconds(begin, end));
    return 0;
}

int Calls() {
    com::ComPtr<IZelvanMgrZvWig> hub;
    if (FAILED(CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(IZelvanMgrZvWig),
                                reinterpret_cast<void**>(&hub))))
        return 2;
    constexpr int kCalls = 1000;
    LONG count = 0;
    hub->GetZelvanCount(&count);
    LARGE_INTEGER begin, end;
    QueryPerformanceCounter(&begin);
    for (int i = 0; i < kCalls; ++i)
        if (FAILED(hub->GetZelvanCount(&count)))
            return 3;
    QueryPerformanceCounter(&end);
    const double total = Milliseconds(begin, end);
    std::printf("C++ client, GetZelvanCount x%d: %.0f ms, %.3f ms per call (%ld devices)\n", kCalls, total,
                total / kCalls, static_cast<long>(count));
    return 0;
}

int Stop() {
    for (HWND window = FindWindowExW(nullptr, nullptr, L"#32770", L"Tavrilon"); window;
         window = FindWindowExW(nullptr, window, L"#32770", L"Tavrilon")) {
        if (IsWindowVisible(window))
            continue;  // the program's main dialog stays hidden
        DWORD id = 0;
        GetWindowThreadProcessId(window, &id);
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
        PostMessageW(window, WM_COMMAND, 57665, 0);  // exit without questions
        if (process) {
            WaitForSingleObject(process, 30000);
            CloseHandle(process);
        }
        return 0;
    }
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    const char* step = argc > 1 ? argv[1] : "";
    com::ComApartment apartment;
    if (!std::strcmp(step, "start"))
        return Start();
    if (!std::strcmp(step, "calls"))
        return Calls();
    if (!std::strcmp(step, "stop"))
        return Stop();
    std::fprintf(stderr, "usage: tvbench_program start|calls|stop\n");
    return 1;
}
