// tvhubprocess.exe <device root> <event base>: serves a hub over the test devices of that folder
// in a process of its own, as Tavrilon.exe does, until it is ended. A test ends it when it wants
// to see what the hub's clients do when the program dies under them. The events "<base>ready"
// (set once it serves), "<base>withdraw" (the test asks it to take its class back from COM, so
// that no later client is sent to a process that is about to die) and "<base>withdrawn" (done)
// are the test's.
#include "ServedHub.h"
#include "Handles.h"
#include <string>

namespace {

tv::com::UniqueHandle OpenTestEvent(const std::string& name) {
    return tv::com::UniqueHandle(OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name.c_str()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    if (FAILED(OleInitialize(nullptr)))
        return 3;
    int result = 0;
    {
        tv::test::ServedHub served;
        const std::string base = argv[2];
        tv::com::UniqueHandle withdraw = OpenTestEvent(base + "withdraw");
        if (FAILED(served.Start(argv[1])) || !withdraw) {
            result = 4;
        } else {
            if (tv::com::UniqueHandle ready = OpenTestEvent(base + "ready"))
                SetEvent(ready.Get());
            for (;;) {
                HANDLE waited = withdraw.Get();
                const DWORD woken =
                    MsgWaitForMultipleObjects(waited ? 1 : 0, &waited, FALSE, INFINITE, QS_ALLINPUT);
                if (waited && woken == WAIT_OBJECT_0) {
                    served.WithdrawClass();
                    withdraw.Reset();
                    if (tv::com::UniqueHandle withdrawn = OpenTestEvent(base + "withdrawn"))
                        SetEvent(withdrawn.Get());
                    continue;
                }
                MSG message;
                bool quit = false;
                while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                    if (message.message == WM_QUIT)
                        quit = true;
                    TranslateMessage(&message);
                    DispatchMessageA(&message);
                }
                if (quit)
                    break;
            }
        }
    }
    OleUninitialize();
    return result;
}
