#include "DialogChoice.h"

namespace tv {

void DialogChoice::End(int choice) {
    if (ended_)
        return;
    ended_ = true;
    choice_ = choice;
    // An answer given while a message sent from another thread is handled (a click sent to a
    // button) leaves the loop waiting for a posted message: this one wakes it.
    PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
}

int DialogChoice::Run(HWND dialog, int otherwise) {
    while (!ended_) {
        MSG msg;
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return otherwise;
        }
        if (got < 0)
            return otherwise;
        if (!IsDialogMessageW(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return choice_;
}

} // namespace tv
