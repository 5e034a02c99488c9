#include "Progress.h"
#include "MessagePump.h"
#include "Seams.h"
#include "ShellnsIds.h"
#include <commctrl.h>
#include <shlwapi.h>
#include <climits>
#include <vector>

namespace tv::shellns {
namespace {

constexpr UINT kRestoreSizeMessage = 32778;
constexpr DWORD kCloseGuardMs = 500;
constexpr DWORD kCompleteLingerMs = 501;
constexpr UINT kRestoreAgainMs = 500;
constexpr size_t kInfoWidth = 45;

// Timers of the window.
constexpr UINT_PTR kCloseGuardTimer = 1;
constexpr UINT_PTR kRestoreTimer = 2;
constexpr UINT_PTR kProbeTimer = 3;
constexpr UINT_PTR kCancelGraceTimer = 4;

// The layout in client pixels: 280 wide; the copy window has its item bar above the total bar.
constexpr int kClientWidth = 280;
constexpr int kFullClientHeight = 230;
constexpr int kBarLeft = 5;
constexpr int kBarWidth = 270;
constexpr int kBarHeight = 10;
constexpr int kButtonRight = 270;

// The bars take 32-bit positions: larger totals are scaled down.
unsigned long long BarScale(unsigned long long total) { return total > INT_MAX ? total / INT_MAX + 1 : 1; }

void SetBar(HWND window, int id, unsigned long long position, unsigned long long total) {
    const unsigned long long scale = BarScale(total);
    SendDlgItemMessageA(window, id, PBM_SETPOS, static_cast<WPARAM>(position / scale), 0);
}

void SetBarRange(HWND window, int id, unsigned long long total) {
    SendDlgItemMessageA(window, id, PBM_SETRANGE32, 0, static_cast<LPARAM>(total / BarScale(total)));
}

void PlaceButton(HWND window, int id, int top) {
    HWND button = GetDlgItem(window, id);
    RECT rect{};
    GetWindowRect(button, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    MoveWindow(button, kButtonRight - width, top, width, height, FALSE);
}

// The window as it opens: only as high as its bars and Cancel need; the size with the error text
// and Close is kept for when errors are shown.
void LayOut(HWND window, ProgressState& state) {
    const int d = state.kind == ProgressKind::Copy ? 20 : 0;
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrA(window, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrA(window, GWL_EXSTYLE));
    RECT full{0, 0, kClientWidth, kFullClientHeight};
    AdjustWindowRectEx(&full, style, FALSE, exStyle);
    state.fullSize = {full.right - full.left, full.bottom - full.top};
    const int frame = state.fullSize.cy - kFullClientHeight;
    SetWindowPos(window, nullptr, 0, 0, state.fullSize.cx, frame + d + 121, SWP_NOMOVE | SWP_NOZORDER);
    MoveWindow(GetDlgItem(window, IDC_NS_TOTAL_BAR), kBarLeft, d + 70, kBarWidth, kBarHeight, FALSE);
    if (state.kind == ProgressKind::Copy)
        MoveWindow(GetDlgItem(window, IDC_NS_ITEM_BAR), kBarLeft, 70, kBarWidth, kBarHeight, FALSE);
    MoveWindow(GetDlgItem(window, IDC_NS_ERRORS), kBarLeft, 90, kBarWidth, 100, FALSE);
    PlaceButton(window, IDC_NS_CLOSE, 200);
    PlaceButton(window, IDCANCEL, d + 90);
}

void RestoreFullSize(HWND window, const ProgressState& state) {
    SetWindowPos(window, nullptr, 0, 0, state.fullSize.cx, state.fullSize.cy, SWP_NOMOVE | SWP_NOZORDER);
    InvalidateRect(window, nullptr, TRUE);
}

void ShowErrors(HWND window, ProgressState& state) {
    SendDlgItemMessageA(window, IDC_NS_ANIMATION, ACM_STOP, 0, 0);
    SetDlgItemTextA(window, IDC_NS_ERRORS, state.errors.c_str());
    ShowWindow(GetDlgItem(window, IDC_NS_ERRORS), SW_SHOW);
    ShowWindow(GetDlgItem(window, IDC_NS_CLOSE), SW_SHOW);
    ShowWindow(GetDlgItem(window, IDCANCEL), SW_HIDE);
    PostMessageA(window, kRestoreSizeMessage, 0, 0);
    // Once more a little later, after whatever the first resize met on its way.
    SetTimer(window, kRestoreTimer, kRestoreAgainMs, nullptr);
}

void Completed(ProgressState& state) {
    state.complete = true;
    HWND window = state.window;
    if (!window)
        return;
    KillTimer(window, kProbeTimer);
    KillTimer(window, kCancelGraceTimer);
    SetBar(window, IDC_NS_TOTAL_BAR, state.total, state.total);
    if ((state.cancelled && !state.hubLost) || state.errors.empty())
        PostMessageA(window, WM_COMMAND, IDC_NS_CLOSE, 0);
    else
        ShowErrors(window, state);
}

// The program stopped answering, or refused the cancel and never ended the operation: no end
// will be reported. The window says so and can be closed.
void EndWithoutResult(ProgressState& state) {
    if (state.complete)
        return;
    state.hubLost = true;
    state.errors += LangString(IDS_NS_PROGRAM_GONE);
    Completed(state);
}

// Whether the program still answers; a call into another process, made once at a time.
bool HubAnswers(ProgressState& state) {
    if (!state.hub || state.probing)
        return state.hub.Get() != nullptr;
    state.probing = true;
    LONG enabled = 0;
    const bool answers = SUCCEEDED(state.hub->get_EnableUI(&enabled));
    state.probing = false;
    return answers;
}

void Cancel(HWND window, ProgressState& state) {
    state.cancelled = true;
    if (state.complete) {
        PostMessageA(window, WM_COMMAND, IDC_NS_CLOSE, 0);
        return;
    }
    if (state.hub && SUCCEEDED(state.hub->CancelFileOperation(const_cast<LPSTR>(state.deviceName.c_str()))))
        return;
    // A refused cancel: the operation may just have ended, and its end is on its way; without
    // an answer at all, or without that end in time, the window ends here.
    if (!HubAnswers(state))
        EndWithoutResult(state);
    else if (!state.complete)
        SetTimer(window, kCancelGraceTimer, kRefusedCancelGraceMs, nullptr);
}

INT_PTR CALLBACK ProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<ProgressState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_INITDIALOG: {
        state = reinterpret_cast<ProgressState*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, lParam);
        state->window = window;
        state->openedAt = GetTickCount();
        const bool copy = state->kind == ProgressKind::Copy;
        LayOut(window, *state);
        SendDlgItemMessageA(window, IDC_NS_ANIMATION, ACM_OPENA, reinterpret_cast<WPARAM>(LanguageModule()),
                            copy ? IDR_NS_COPY_ANIMATION : IDR_NS_DELETE_ANIMATION);
        SendDlgItemMessageA(window, IDC_NS_ANIMATION, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF));
        SetBarRange(window, IDC_NS_TOTAL_BAR, state->total);
        if (!copy)
            SendDlgItemMessageA(window, IDC_NS_TOTAL_BAR, PBM_SETSTEP,
                                static_cast<WPARAM>(state->total / (state->steps > 0 ? state->steps : 1)), 0);
        SetBar(window, IDC_NS_TOTAL_BAR, state->finished, state->total);
        SetTimer(window, kProbeTimer, kHubProbeMs, nullptr);
        // Callbacks that came before the window are shown now.
        if (state->complete)
            Completed(*state);
        return TRUE;
    }
    case kRestoreSizeMessage:
        if (state)
            RestoreFullSize(window, *state);
        return TRUE;
    case WM_COMMAND:
        if (!state)
            break;
        switch (LOWORD(wParam)) {
        case IDC_NS_CLOSE:
        case IDOK:
            if (state->complete && GetTickCount() - state->openedAt >= kCloseGuardMs) {
                state->window = nullptr;
                EndDialog(window, state->cancelled ? IDCANCEL : IDOK);
            } else if (state->complete) {
                SetTimer(window, kCloseGuardTimer, kCloseGuardMs, nullptr);
            }
            return TRUE;
        case IDCANCEL:
            Cancel(window, *state);
            return TRUE;
        }
        break;
    case WM_TIMER:
        if (!state)
            break;
        switch (wParam) {
        case kCloseGuardTimer:
            KillTimer(window, kCloseGuardTimer);
            PostMessageA(window, WM_COMMAND, IDC_NS_CLOSE, 0);
            return TRUE;
        case kRestoreTimer:
            KillTimer(window, kRestoreTimer);
            PostMessageA(window, kRestoreSizeMessage, 0, 0);
            return TRUE;
        case kProbeTimer:
            if (!state->complete && !HubAnswers(*state))
                EndWithoutResult(*state);
            return TRUE;
        case kCancelGraceTimer:
            KillTimer(window, kCancelGraceTimer);
            EndWithoutResult(*state);
            return TRUE;
        }
        break;
    case WM_CLOSE:
        PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    }
    return FALSE;
}

} // namespace

std::string ShortenInfo(const std::string& text) {
    size_t blank = text.find(' ');
    if (blank == std::string::npos)
        return text;
    const std::string first = text.substr(0, blank);
    std::string rest = text.substr(blank + 1);
    // Never less than a few characters, whatever the first word's length.
    const size_t room = first.size() + 4 < kInfoWidth ? kInfoWidth - first.size() : 4;
    std::vector<char> shortened(room + 1, '\0');
    if (!PathCompactPathExA(shortened.data(), rest.c_str(), static_cast<UINT>(room), 0))
        rest = rest.substr(0, room - 1);
    else
        rest = shortened.data();
    return first + " " + rest;
}

STDMETHODIMP ZvNSCopyCallback::OnOperationComplete() {
    if (state_->complete)
        return S_OK; // the window had given up on the program
    Sleep(kCompleteLingerMs);
    Completed(*state_);
    return S_OK;
}

STDMETHODIMP ZvNSCopyCallback::OnItemComplete(LPSTR strItem, LPSTR strErrorDescription, LONG nErrorCode) {
    const std::string item = strItem ? strItem : "";
    const std::string error = strErrorDescription ? strErrorDescription : "";
    ProgressState& state = *state_;
    // The hub names a device item without its device part.
    std::string source = item;
    if (!state.sources.count(source))
        source = state.deviceName + "\\" + item;
    if (state.sources.count(source) && error.empty() && nErrorCode == 0)
        state.succeeded.insert(source);
    if (state.kind == ProgressKind::Copy) {
        state.finished += static_cast<unsigned long>(state.currentSize);
        state.currentSize = 0;
        if (state.window) {
            SendDlgItemMessageA(state.window, IDC_NS_ITEM_BAR, PBM_SETPOS, 0, 0);
            SetBar(state.window, IDC_NS_TOTAL_BAR, state.finished, state.total);
        }
    } else if (state.window) {
        SendDlgItemMessageA(state.window, IDC_NS_TOTAL_BAR, PBM_STEPIT, 0, 0);
    }
    if (!error.empty())
        state.errors += item + ": " + error;
    return S_OK;
}

STDMETHODIMP ZvNSCopyCallback::OnItemInit(LPSTR, LONG nSize) {
    state_->currentSize = nSize;
    if (state_->kind == ProgressKind::Copy && state_->window)
        SendDlgItemMessageA(state_->window, IDC_NS_ITEM_BAR, PBM_SETRANGE32, 0, nSize);
    return S_OK;
}

STDMETHODIMP ZvNSCopyCallback::OnItemProgress(LPSTR, LONG nProgress) {
    if (state_->kind == ProgressKind::Copy && state_->window) {
        SendDlgItemMessageA(state_->window, IDC_NS_ITEM_BAR, PBM_SETPOS, static_cast<WPARAM>(nProgress), 0);
        SetBar(state_->window, IDC_NS_TOTAL_BAR, state_->finished + static_cast<unsigned long>(nProgress),
               state_->total);
    }
    return S_OK;
}

STDMETHODIMP ZvNSCopyCallback::OnItemInfo(LPSTR strInfo) {
    if (state_->window && strInfo) {
        const int control = state_->kind == ProgressKind::Copy ? IDC_NS_COPY_INFO : IDC_NS_DELETE_INFO;
        SetDlgItemTextA(state_->window, control, ShortenInfo(strInfo).c_str());
    }
    return S_OK;
}

ItemsInfoSink::ItemsInfoSink() : done_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

STDMETHODIMP ItemsInfoSink::OnOperationProgress(ITEMSINFO info) {
    totals_ = info;
    return S_OK;
}

STDMETHODIMP ItemsInfoSink::OnOperationComplete(LPSTR strErrorDescription) {
    if (strErrorDescription && strErrorDescription[0])
        failed_ = true;
    SetEvent(done_.Get());
    return S_OK;
}

bool ItemsInfoSink::Wait(DWORD timeoutMs) {
    return done_ && WaitWithMessagePump(done_.Get(), timeoutMs) && !failed_;
}

bool RunProgressDialog(const std::shared_ptr<ProgressState>& state) {
    const int dialog = state->kind == ProgressKind::Copy ? IDD_NS_COPY_PROGRESS : IDD_NS_DELETE_PROGRESS;
    INT_PTR result = DialogBoxParamA(LanguageModule(), MAKEINTRESOURCEA(dialog), nullptr, ProgressProc,
                                     reinterpret_cast<LPARAM>(state.get()));
    state->window = nullptr;
    // The callback may live on in the hub's hands: the hub pointer of this thread goes here.
    state->hub.Reset();
    return result != -1 && !state->cancelled && !state->hubLost;
}

} // namespace tv::shellns
