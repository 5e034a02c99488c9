// The hidden window through which a device factory hears of the device's interface arriving and
// going away (and, for the Windows Me factory, its own private messages).
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace devlink15 {

class NotificationWindow {
  public:
    // Answers one message; returns false to leave it to the default handling.
    using Handler = std::function<bool(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)>;

    NotificationWindow() = default;
    ~NotificationWindow();
    NotificationWindow(const NotificationWindow&) = delete;
    NotificationWindow& operator=(const NotificationWindow&) = delete;

    // Creates the window (a never-shown child of the desktop) and registers it for the
    // notifications of the device's interface class.
    bool Create(Handler handler);
    void Destroy();
    HWND Handle() const { return window_; }

    // The interface path a WM_DEVICECHANGE message carries; empty when it carries none.
    static std::string InterfacePathOf(LPARAM lParam);

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    Handler handler_;
    HWND window_ = nullptr;
    HDEVNOTIFY notification_ = nullptr;
};

} // namespace devlink15
