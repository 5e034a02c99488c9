#include "DialogChoice.h"

namespace tv {

void DialogChoice::End(int choice) {
    if (ended_)
        return;
    ended_ = true;
    choice_ = choice;
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
