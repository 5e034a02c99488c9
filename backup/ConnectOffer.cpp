#include "ConnectOffer.h"
#include "BackupIds.h"
#include <vector>

namespace tv::backup {

namespace {

struct OfferState {
    IZelvanMgrDisp2* hub;
    std::string deviceName;
    int result = 0;
    bool silence = false;
};

INT_PTR CALLBACK OfferProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<OfferState*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        state = reinterpret_cast<OfferState*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        if (state->hub)
            state->hub->PutBusyUI(static_cast<long>(reinterpret_cast<LONG_PTR>(dialog)), VARIANT_TRUE);
        char pattern[256] = {};
        GetWindowTextA(dialog, pattern, sizeof(pattern));
        std::vector<char> caption(sizeof(pattern) + state->deviceName.size());
        std::snprintf(caption.data(), caption.size(), pattern, state->deviceName.c_str());
        SetWindowTextA(dialog, caption.data());
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            state->silence = IsDlgButtonChecked(dialog, IDC_BACKUP_NO_BACKUP_OFFER) == BST_CHECKED;
            state->result = LOWORD(wParam);
            return TRUE;
        }
        break;
    case WM_CLOSE:
        state->result = IDCANCEL;
        return TRUE;
    default:
        break;
    }
    return FALSE;
}

} // namespace

int ShowConnectOffer(HMODULE language, UINT dialogId, IZelvanMgrDisp2* hub, const std::string& deviceName,
                     bool& silence) {
    OfferState state{hub, deviceName};
    HWND dialog = CreateDialogParamA(language, MAKEINTRESOURCEA(dialogId), nullptr, OfferProc,
                                     reinterpret_cast<LPARAM>(&state));
    if (!dialog)
        return IDCANCEL;
    ShowWindow(dialog, SW_SHOW);
    SetForegroundWindow(dialog);
    MSG msg;
    while (!state.result) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got <= 0) {
            if (got == 0)
                PostQuitMessage(static_cast<int>(msg.wParam));
            state.result = IDCANCEL;
            break;
        }
        if (!IsDialogMessageA(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    DestroyWindow(dialog);
    silence = state.silence;
    return state.result;
}

} // namespace tv::backup
