#include "RefusedDialogs.h"
#include <atomic>

namespace tv::test {
namespace {

std::atomic<int> g_refusing{0};

bool IsDialogClass(LPCWSTR className) {
    constexpr ULONG_PTR kDialogAtom = 32770;
    if (IS_INTRESOURCE(className))
        return reinterpret_cast<ULONG_PTR>(className) == kDialogAtom;
    return lstrcmpiW(className, L"#32770") == 0;
}

// A window-creation hook of one thread: refuses dialogs while any RefusedDialogs lives (hooks of
// threads started meanwhile outlive it and then let everything through).
LRESULT CALLBACK RefuseDialogs(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && g_refusing.load() > 0 &&
        IsDialogClass(reinterpret_cast<const CBT_CREATEWNDW*>(lParam)->lpcs->lpszClass))
        return 1;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

HHOOK HookThisThread() {
    return SetWindowsHookExW(WH_CBT, RefuseDialogs, nullptr, GetCurrentThreadId());
}

// Runs on every thread of the program as it starts, before its own code: threads that start while
// dialogs are refused get the hook too. (A hook ends with its thread.)
void NTAPI OnThreadStart(PVOID, DWORD reason, PVOID) {
    if (reason == DLL_THREAD_ATTACH && g_refusing.load() > 0)
        HookThisThread();
}

} // namespace

RefusedDialogs::RefusedDialogs() {
    ++g_refusing;
    hook_ = HookThisThread();
}

RefusedDialogs::~RefusedDialogs() {
    if (hook_)
        UnhookWindowsHookEx(hook_);
    --g_refusing;
}

} // namespace tv::test

// The program's thread-start callbacks (the PE image's TLS callback list) take this one in.
extern "C" {
__attribute__((section(".CRT$XLY"), used)) PIMAGE_TLS_CALLBACK tv_refuse_dialogs_on_thread_start =
    tv::test::OnThreadStart;
}
