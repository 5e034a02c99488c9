#include "NotificationWindow.h"

#include <dbt.h>

namespace devlink15 {
namespace {

constexpr wchar_t kWindowClass[] = L"TavrilonZvFactory15Window";
// {B66756D6-C253-43B1-A065-80913EC5AC72}
constexpr GUID kDeviceInterfaceClass = {
    0xb66756d6, 0xc253, 0x43b1, {0xa0, 0x65, 0x80, 0x91, 0x3e, 0xc5, 0xac, 0x72}};

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

} // namespace

NotificationWindow::~NotificationWindow() {
    Destroy();
}

bool NotificationWindow::Create(Handler handler) {
    handler_ = std::move(handler);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &NotificationWindow::WindowProc;
    windowClass.hInstance = ThisModule();
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return false;
    window_ = CreateWindowExW(0, kWindowClass, L"", WS_CHILD, 10, 10, 90, 90, GetDesktopWindow(), nullptr,
                              ThisModule(), this);
    if (!window_)
        return false;
    // Registered as wide: the interface path then arrives in one known form on every system.
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = 32;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kDeviceInterfaceClass;
    notification_ = RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    return notification_ != nullptr;
}

void NotificationWindow::Destroy() {
    if (notification_)
        UnregisterDeviceNotification(notification_);
    notification_ = nullptr;
    if (window_)
        DestroyWindow(window_);
    window_ = nullptr;
}

std::string NotificationWindow::InterfacePathOf(LPARAM lParam) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
        return {};
    const auto* data = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
    const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    if (header->dbch_size <= nameOffset)
        return {};
    const size_t maxChars = (header->dbch_size - nameOffset) / sizeof(wchar_t);
    std::string path;
    for (size_t i = 0; i < maxChars && data->dbcc_name[i]; ++i)
        path.push_back(data->dbcc_name[i] < 0x80 ? static_cast<char>(data->dbcc_name[i]) : '?');
    return path;
}

LRESULT CALLBACK NotificationWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<NotificationWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    LRESULT result = 0;
    if (self && self->window_ == window && self->handler_ && self->handler_(message, wParam, lParam, result))
        return result;
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace devlink15
