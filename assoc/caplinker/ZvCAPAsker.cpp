#include "ZvCAPAsker.h"
#include "LangIds.h"
#include "MessagePump.h"

namespace tv::caplinker {

ZvCAPAsker::~ZvCAPAsker() {
    // A question still shown when the script lets go of us: close it and wait for its thread.
    if (thread_ && WaitForSingleObject(thread_.Get(), 0) == WAIT_TIMEOUT) {
        if (dialog_)
            PostMessageW(dialog_, WM_CLOSE, 0, 0);
        WaitWithMessagePump(thread_.Get(), 10000);
    }
}

void* ZvCAPAsker::QueryOtherInterface(REFIID riid) {
    return IsEqualIID(riid, IID_IDispatch) ? static_cast<IZvCAPAsker*>(this) : nullptr;
}

STDMETHODIMP ZvCAPAsker::FlushState() {
    kept_ = Kept::None;
    return S_OK;
}

STDMETHODIMP ZvCAPAsker::AskUser(BSTR strAskCapt, BSTR strAskText, LONG* isYes) {
    if (!isYes)
        return E_POINTER;
    if (kept_ != Kept::None) {
        *isYes = kept_ == Kept::Yes ? 1 : 0;
        return S_OK;
    }
    if (thread_ && WaitForSingleObject(thread_.Get(), 0) == WAIT_TIMEOUT) {
        if (dialog_)
            SetForegroundWindow(dialog_);
        return E_UNEXPECTED;
    }
    caption_ = strAskCapt ? strAskCapt : L"";
    text_ = strAskText ? strAskText : L"";
    answer_ = 0;
    thread_.Reset(CreateThread(nullptr, 0, QuestionThread, this, 0, nullptr));
    if (!thread_)
        return E_FAIL;
    // The user answers in their own time; the caller's windows and COM calls go on meanwhile.
    WaitForThreadWithPump(thread_.Get());
    *isYes = answer_;
    return S_OK;
}

DWORD WINAPI ZvCAPAsker::QuestionThread(void* parameter) {
    auto* self = static_cast<ZvCAPAsker*>(parameter);
    HWND dialog = CreateDialogParamW(self->language_, MAKEINTRESOURCEW(IDD_CAP_ASK), nullptr, DialogProc,
                                     reinterpret_cast<LPARAM>(self));
    if (!dialog)
        return 1;
    ShowWindow(dialog, SW_SHOWNORMAL);
    SetForegroundWindow(dialog);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return 0;
}

INT_PTR CALLBACK ZvCAPAsker::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        auto* self = reinterpret_cast<ZvCAPAsker*>(lParam);
        self->dialog_ = dialog;
        SetWindowTextW(dialog, self->caption_.c_str());
        SetDlgItemTextW(dialog, IDC_CAP_QUESTION, self->text_.c_str());
        return TRUE;
    }
    auto* self = reinterpret_cast<ZvCAPAsker*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (!self)
        return FALSE;
    if (message == WM_CLOSE) {
        self->Answer(dialog, 0, Kept::None);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDYES:
        self->Answer(dialog, 1, Kept::None);
        return TRUE;
    case IDNO:
    case IDCANCEL:
        self->Answer(dialog, 0, Kept::None);
        return TRUE;
    case IDC_CAP_YES_TO_ALL:
        self->Answer(dialog, 1, Kept::Yes);
        return TRUE;
    case IDC_CAP_NO_TO_ALL:
        self->Answer(dialog, 0, Kept::No);
        return TRUE;
    default:
        return FALSE;
    }
}

void ZvCAPAsker::Answer(HWND dialog, LONG answer, Kept keep) {
    answer_ = answer;
    if (keep != Kept::None)
        kept_ = keep;
    dialog_ = nullptr;
    DestroyWindow(dialog);
    PostQuitMessage(0);
}

} // namespace tv::caplinker
