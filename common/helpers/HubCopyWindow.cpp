#include "HubCopyWindow.h"

namespace tv {

void HubCopyWindow::SetCopy(IZelvanMgr* hub, std::string device) {
    hub_ = hub;
    device_ = std::move(device);
}

void HubCopyWindow::ResetCopyState() {
    done_ = false;
    errorShown_ = false;
    interrupted_ = false;
}

HWND HubCopyWindow::CreateCopyWindow(HMODULE language, UINT dialogId) {
    return CreateDialogParamW(language, MAKEINTRESOURCEW(dialogId), nullptr, DialogProc,
                              reinterpret_cast<LPARAM>(this));
}

void HubCopyWindow::DestroyCopyWindow() {
    if (window_)
        DestroyWindow(window_);
    window_ = nullptr;
}

int HubCopyWindow::RunCopyLoop() {
    MSG message;
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            // A quit meant for the thread (the program ends) while the hub still copies: the
            // copy is cancelled and awaited, since the caller may delete what the hub reads, and
            // the quit is posted again for the thread's own loop.
            const int code = static_cast<int>(message.wParam);
            if (!done_) {
                interrupted_ = true;
                CancelAndAwaitCopy();
                PostQuitMessage(code);
            }
            return code;
        }
        if (got < 0)
            return 0;
        if (!IsDialogMessageW(window_, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

void HubCopyWindow::CancelAndAwaitCopy() {
    if (hub_)
        hub_->CancelFileOperation(device_.data());
    const ULONGLONG deadline = GetTickCount64() + kCancelWaitMs;
    while (!done_) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return;
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG message;
        while (!done_ && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                continue; // the quit being served already
            if (!IsDialogMessageW(window_, &message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
    }
}

void HubCopyWindow::MarkCopyDone() {
    done_ = true;
    if (!errorShown_ && window_)
        PostMessageW(window_, WM_CLOSE, 0, 0);
}

INT_PTR CALLBACK HubCopyWindow::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        auto* self = reinterpret_cast<HubCopyWindow*>(lParam);
        self->window_ = dialog;
        com::ComPtr<IZelvanMgrDisp2> face;
        if (self->hub_ && SUCCEEDED(self->hub_.As(&face)))
            face->PutBusyUI(static_cast<LONG>(reinterpret_cast<LONG_PTR>(dialog)), VARIANT_TRUE);
        self->OnCopyWindowMade(dialog);
        return TRUE;
    }
    auto* self = reinterpret_cast<HubCopyWindow*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (!self)
        return FALSE;
    switch (message) {
    case WM_CLOSE:
        self->OnCloseRequest();
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            self->OnCancel();
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        self->window_ = nullptr;
        return FALSE;
    default:
        return self->OnCopyWindowMessage(message, wParam, lParam) ? TRUE : FALSE;
    }
}

void HubCopyWindow::OnCloseRequest() {
    if (done_)
        PostQuitMessage(0);
    else
        OnCancel();
}

void HubCopyWindow::OnCancel() {
    if (done_)
        PostMessageW(window_, WM_CLOSE, 0, 0);
    else if (hub_)
        hub_->CancelFileOperation(device_.data());
}

} // namespace tv
