#include "UiHarness.h"
#include <vector>

namespace tv::test {

bool StartedProcess::Start(const std::wstring& commandLine) {
    Terminate();
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::wstring mutableLine = commandLine;
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    process_.Reset(pi.hProcess);
    id_ = pi.dwProcessId;
    return true;
}

long StartedProcess::WaitForExit(DWORD timeoutMs) {
    if (!process_ || WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.Get(), &code);
    return static_cast<long>(code);
}

void StartedProcess::Terminate() {
    if (!process_)
        return;
    if (WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.Get(), 1);
        WaitForSingleObject(process_.Get(), 5000);
    }
    process_.Reset();
    id_ = 0;
}

std::wstring ExeFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.rfind(L'\\'));
}

HWND WaitForWindow(const wchar_t* className, const wchar_t* title, DWORD timeoutMs) {
    const DWORD started = GetTickCount();
    for (;;) {
        if (HWND found = FindWindowW(className, title))
            return found;
        if (GetTickCount() - started >= timeoutMs)
            return nullptr;
        // Keep this thread's own windows alive while polling.
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(50);
    }
}

bool ClickButton(HWND dialog, int buttonId) {
    HWND button = GetDlgItem(dialog, buttonId);
    if (!button)
        return false;
    // BM_CLICK goes through the button's own press handling, like a mouse click.
    return PostMessageW(button, BM_CLICK, 0, 0) != FALSE;
}

bool SaveScreenshot(const std::wstring& path) {
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    if (width <= 0 || height <= 0)
        return false;
    HDC screen = GetDC(nullptr);
    if (!screen)
        return false;
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool saved = false;
    if (memory && bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, GetSystemMetrics(SM_XVIRTUALSCREEN),
               GetSystemMetrics(SM_YVIRTUALSCREEN), SRCCOPY);
        SelectObject(memory, old);
        const DWORD rowBytes = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
        const DWORD imageBytes = rowBytes * static_cast<DWORD>(height);
        BITMAPFILEHEADER header{};
        header.bfType = 0x4D42;
        header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
        header.bfSize = header.bfOffBits + imageBytes;
        com::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        saved = file && WriteFile(file.Get(), &header, sizeof(header), &written, nullptr) &&
                WriteFile(file.Get(), &info.bmiHeader, sizeof(info.bmiHeader), &written, nullptr) &&
                WriteFile(file.Get(), bits, imageBytes, &written, nullptr) && written == imageBytes;
    }
    if (bitmap)
        DeleteObject(bitmap);
    if (memory)
        DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}

} // namespace tv::test
