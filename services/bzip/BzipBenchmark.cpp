// Compresses one file with the control at block size 9 and prints the seconds it took.
//   ZvBZIP_benchmark <source> <destination>
#include "ComPtr.h"
#include "Handles.h"
#include "ZvBZIP.h"
#include <windows.h>
#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: ZvBZIP_benchmark <source> <destination>\n");
        return 2;
    }
    tv::com::ComApartment apartment;
    tv::com::ComPtr<IZvBZIPC> control;
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(L"Tavrilon.ZvBZIPC", &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&control)))) {
        std::fprintf(stderr, "the control is not registered\n");
        return 1;
    }
    control->put_nBlockSize(9);
    tv::com::UniqueBstr source(SysAllocString(argv[1]));
    tv::com::UniqueBstr destination(SysAllocString(argv[2]));
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    HRESULT hr = control->ZipFile(source.Get(), destination.Get());
    QueryPerformanceCounter(&end);
    if (FAILED(hr)) {
        std::fprintf(stderr, "ZipFile failed: 0x%08lx\n", static_cast<unsigned long>(hr));
        return 1;
    }
    std::printf("%.3f\n",
                static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    return 0;
}
