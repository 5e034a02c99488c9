#include "TrayIcon.h"
#include "AppState.h"
#include "MessagePump.h"
#include "ProgramIds.h"
#include <commctrl.h>
#include <atomic>
#include <memory>

namespace tv::app {
namespace {

constexpr wchar_t kHelperClass[] = L"TavrilonTrayAnimation";

DWORD ReadTvOptions() {
    DWORD options = 0;
    DWORD size = sizeof(options);
    RegGetValueA(HKEY_CURRENT_USER, "Software\\Zelvan\\Tavrilon", "TvOptions", RRF_RT_REG_DWORD, nullptr, &options,
                 &size);
    return options;
}

// One request to the shell's notification area, made on a thread of its own: the shell copies
// the icon, which may need this (the icon's) thread to answer, so the caller keeps dispatching
// its messages while it waits instead of blocking inside the request.
struct NotifyCall {
    DWORD operation;
    NOTIFYICONDATAW record;
    std::atomic<BOOL> result{FALSE};
};

DWORD WINAPI NotifyThread(void* context) {
    std::shared_ptr<NotifyCall> call(*static_cast<std::shared_ptr<NotifyCall>*>(context));
    delete static_cast<std::shared_ptr<NotifyCall>*>(context);
    call->result = Shell_NotifyIconW(call->operation, &call->record);
    return 0;
}

constexpr DWORD kNotifyWaitMs = 10000;

} // namespace

bool TrayIcon::Notify(DWORD operation) {
    auto call = std::make_shared<NotifyCall>();
    call->operation = operation;
    call->record = record_;
    auto* handOver = new std::shared_ptr<NotifyCall>(call);
    com::UniqueHandle thread(CreateThread(nullptr, 0, NotifyThread, handOver, 0, nullptr));
    if (!thread) {
        delete handOver;
        return false;
    }
    if (!WaitWithMessagePump(thread.Get(), kNotifyWaitMs))
        return false;  // the thread finishes on its own; the call record is shared with it
    return call->result.load() != FALSE;
}

bool TrayIcon::Create(HWND owner, UINT bitmapId, int imageWidth, COLORREF mask, UINT frameInterval) {
    Destroy();
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = HelperProc;
    windowClass.hInstance = App().instance;
    windowClass.lpszClassName = kHelperClass;
    RegisterClassW(&windowClass);
    helper_.Reset(CreateWindowExW(0, kHelperClass, L"", 0, 0, 0, 0, 0, nullptr, nullptr, App().instance, this));
    if (!helper_)
        return false;
    SetWindowLongPtrW(helper_.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    HIMAGELIST strip = ImageList_LoadImageW(App().language, MAKEINTRESOURCEW(bitmapId), imageWidth, 0, mask,
                                            IMAGE_BITMAP, LR_CREATEDIBSECTION);
    if (strip) {
        const int count = ImageList_GetImageCount(strip);
        for (int i = 0; i < count; ++i) {
            if (HICON icon = ImageList_GetIcon(strip, i, ILD_TRANSPARENT))
                icons_.push_back(icon);
        }
        ImageList_Destroy(strip);
    }
    if (icons_.empty()) {
        Destroy();
        return false;
    }
    record_ = NOTIFYICONDATAW{};
    record_.cbSize = sizeof(record_);
    record_.hWnd = owner;
    record_.uID = 0;
    record_.uCallbackMessage = kTrayCallbackMessage;
    current_ = 0;
    tip_.clear();
    frameInterval_ = frameInterval ? frameInterval : 1;
    return true;
}

bool TrayIcon::Ready() const {
    return current_ >= 0 && static_cast<size_t>(current_) < icons_.size() && tip_.size() < 64 && helper_;
}

void TrayIcon::FillRecord(UINT flags) {
    record_.uFlags = flags;
    record_.hIcon = icons_[static_cast<size_t>(current_)];
    lstrcpynW(record_.szTip, tip_.c_str(), ARRAYSIZE(record_.szTip));
}

void TrayIcon::Show() {
    if (!Ready() || shown_)
        return;
    FillRecord(NIF_MESSAGE | NIF_ICON | NIF_TIP);
    if (!(ReadTvOptions() & 2)) {
        record_.uFlags |= NIF_INFO;
        record_.dwInfoFlags = NIIF_INFO;
        record_.uTimeout = 5000;
        lstrcpynW(record_.szInfoTitle, LoadText(IDS_BALLOON_TITLE).c_str(), ARRAYSIZE(record_.szInfoTitle));
        lstrcpynW(record_.szInfo, LoadText(IDS_BALLOON_TEXT).c_str(), ARRAYSIZE(record_.szInfo));
    }
    shown_ = Notify(NIM_ADD);
    record_.szInfo[0] = L'\0';
    record_.szInfoTitle[0] = L'\0';
}

void TrayIcon::Hide() {
    if (!Ready() || !shown_)
        return;
    FillRecord(0);
    Notify(NIM_DELETE);
    shown_ = false;
}

void TrayIcon::SetImage(int index) {
    if (!Ready() || index < 0 || static_cast<size_t>(index) >= icons_.size())
        return;
    current_ = index;
    if (shown_) {
        FillRecord(NIF_MESSAGE | NIF_ICON | NIF_TIP);
        Notify(NIM_MODIFY);
    }
}

void TrayIcon::SetTip(const std::wstring& text) {
    if (!Ready())
        return;
    tip_ = text.substr(0, 63);
    SetImage(current_);
}

void TrayIcon::Animate(int first, int last) {
    if (!Ready() || first < 0 || first >= last || static_cast<size_t>(last) >= icons_.size())
        return;
    StopAnimation();
    first_ = first;
    last_ = last;
    frame_ = first;
    timer_ = SetTimer(helper_.Get(), kTimerId, frameInterval_ * kFrameMs, nullptr);
}

void TrayIcon::StopAnimation() {
    if (!helper_ || !timer_)
        return;
    KillTimer(helper_.Get(), timer_);
    timer_ = 0;
    Sleep(300);
    first_ = last_ = frame_ = 0;
}

void TrayIcon::NextFrame() {
    frame_ = frame_ + 1 > last_ ? first_ : frame_ + 1;
    SetImage(frame_ == 0 ? 1 : frame_);
}

void TrayIcon::Destroy() {
    Hide();
    StopAnimation();
    helper_.Reset();
    for (HICON icon : icons_)
        DestroyIcon(icon);
    icons_.clear();
    record_ = NOTIFYICONDATAW{};
    current_ = -1;
    shown_ = false;
}

LRESULT CALLBACK TrayIcon::HelperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kTimerId) {
        if (auto* self = reinterpret_cast<TrayIcon*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
            self->NextFrame();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace tv::app
