#include "ZvCAPAsker.h"
#include "LangIds.h"
#include "MessagePump.h"

namespace tv::caplinker {
namespace {

// The question thread's exit codes.
constexpr DWORD kQuestionAnswered = 0;
constexpr DWORD kQuestionNotShown = 1;
// How often a question to be closed is asked again (its window may not be made yet).
constexpr DWORD kCloseRetryMs = 50;

} // namespace

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
        if (HWND dialog = dialog_.load())
            SetForegroundWindow(dialog);
        return E_UNEXPECTED;
    }
    // The question's thread uses this object's texts and answer: the object lives until the
    // thread has ended, also when the caller lets go of it while the question is shown.
    const com::ComPtr<ZvCAPAsker> alive(this);
    caption_ = strAskCapt ? strAskCapt : L"";
    text_ = strAskText ? strAskText : L"";
    answer_ = 0;
    thread_.Reset(CreateThread(nullptr, 0, QuestionThread, this, 0, nullptr));
    if (!thread_)
        return E_FAIL;
    // The user answers in their own time; the caller's windows and COM calls go on meanwhile. A
    // quit meant for this thread (the program ends) closes the question unanswered and is passed
    // on to the thread's own loop; the question's thread, which uses this object, is awaited.
    if (!WaitWithMessagePump(thread_.Get(), INFINITE)) {
        while (WaitForSingleObject(thread_.Get(), kCloseRetryMs) == WAIT_TIMEOUT)
            if (HWND dialog = dialog_.load())
                PostMessageW(dialog, WM_CLOSE, 0, 0);
        return E_ABORT;
    }
    DWORD asked = kQuestionNotShown;
    if (!GetExitCodeThread(thread_.Get(), &asked) || asked != kQuestionAnswered)
        return E_FAIL;
    *isYes = answer_;
    return S_OK;
}

DWORD WINAPI ZvCAPAsker::QuestionThread(void* parameter) {
    auto* self = static_cast<ZvCAPAsker*>(parameter);
    HWND dialog = CreateDialogParamW(self->language_, MAKEINTRESOURCEW(IDD_CAP_ASK), nullptr, DialogProc,
                                     reinterpret_cast<LPARAM>(self));
    if (!dialog)
        return kQuestionNotShown;
    ShowWindow(dialog, SW_SHOWNORMAL);
    SetForegroundWindow(dialog);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return kQuestionAnswered;
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
