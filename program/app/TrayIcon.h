// The program's icon in the notification area: an image strip turned into icons, a tip, an
// optional balloon when it appears, and an animation driven by a helper window's timer.
#pragma once
#include "Handles.h"
#include <windows.h>
#include <shellapi.h>
#include <string>
#include <vector>

namespace tv::app {

inline constexpr UINT kTrayCallbackMessage = 2724;

class TrayIcon {
public:
    TrayIcon() = default;
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;
    ~TrayIcon() { Destroy(); }

    bool Create(HWND owner, UINT bitmapId, int imageWidth, COLORREF mask, UINT frameInterval);
    void Show();
    void Hide();
    void SetImage(int index);
    void SetTip(const std::wstring& text);
    void Animate(int first, int last);
    void StopAnimation();
    void Destroy();

    bool Ready() const;
    bool Shown() const { return shown_; }
    int CurrentImage() const { return current_; }
    size_t ImageCount() const { return icons_.size(); }

private:
    static LRESULT CALLBACK HelperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void NextFrame();
    void FillRecord(UINT flags);
    bool Notify(DWORD operation);

    static constexpr UINT_PTR kTimerId = 1700;
    static constexpr UINT kFrameMs = 17;

    com::UniqueWindow helper_;
    NOTIFYICONDATAW record_{};
    std::vector<HICON> icons_;
    int current_ = -1;
    bool shown_ = false;
    std::wstring tip_;
    UINT_PTR timer_ = 0;
    UINT frameInterval_ = 1;
    int first_ = 0;
    int last_ = 0;
    int frame_ = 0;
};

} // namespace tv::app
