#include "Splash.h"
#include "AppState.h"
#include "MessagePump.h"
#include "ProgramIds.h"
#include "Registration.h"
#include <commctrl.h>
#include <cwctype>
#include <mutex>

namespace tv::app {
namespace {

constexpr wchar_t kSplashClass[] = L"TavrilonSplash";
constexpr wchar_t kLinkTextClass[] = L"TavrilonLinkText";

// ---- splash ----

struct SplashWindow {
    std::mutex lock;
    com::UniqueHandle thread;
    DWORD threadId = 0;
    HBITMAP bitmap = nullptr;
    SIZE size{};
};

SplashWindow& Splash() {
    static SplashWindow splash;
    return splash;
}

LRESULT CALLBACK SplashProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, Splash().bitmap);
        BitBlt(dc, 0, 0, Splash().size.cx, Splash().size.cy, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI SplashThread(void*) {
    SplashWindow& splash = Splash();
    if (!splash.bitmap) {
        splash.bitmap = static_cast<HBITMAP>(
            LoadImageW(App().language, MAKEINTRESOURCEW(IDB_SPLASH), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        BITMAP info{};
        if (splash.bitmap && GetObjectW(splash.bitmap, sizeof(info), &info))
            splash.size = {info.bmWidth, info.bmHeight};
    }
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int left = work.left + (work.right - work.left - splash.size.cx) / 2;
    const int top = work.top + (work.bottom - work.top - splash.size.cy) / 2;
    WNDCLASSW windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = SplashProc;
    windowClass.hInstance = App().instance;
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    windowClass.lpszClassName = kSplashClass;
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, kSplashClass, L"", WS_POPUP, left, top, splash.size.cx,
                                  splash.size.cy, nullptr, nullptr, App().instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    DestroyWindow(window);
    return static_cast<DWORD>(message.wParam);
}

// ---- link text ----

struct LinkText {
    HFONT font = nullptr;
    std::vector<TextPiece> pieces;
    std::vector<HWND> links;
};

void DiscardLinks(LinkText& state) {
    for (HWND link : state.links)
        DestroyWindow(link);
    state.links.clear();
}

int TextWidth(HDC dc, const std::wstring& text) {
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

void LayOut(HWND window, LinkText& state, HDC dc) {
    DiscardLinks(state);
    RECT area;
    GetClientRect(window, &area);
    HGDIOBJ oldFont = SelectObject(dc, state.font ? state.font : GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    const int lineHeight = metrics.tmHeight;
    int x = 0, y = 0;
    SetBkMode(dc, TRANSPARENT);
    for (const TextPiece& piece : state.pieces) {
        if (y >= area.bottom)
            break;
        if (piece.address) {
            const int width = TextWidth(dc, piece.text) + 2;
            if (x > 0 && x + width > area.right) {
                x = 0;
                y += lineHeight;
            }
            if (y >= area.bottom)
                break;
            const std::wstring markup = L"<a href=\"" + piece.text + L"\">" + piece.text + L"</a>";
            HWND link = CreateWindowExW(0, WC_LINK, markup.c_str(), WS_CHILD | WS_VISIBLE, x, y, width, lineHeight,
                                        window, nullptr, App().instance, nullptr);
            if (link) {
                SendMessageW(link, WM_SETFONT, reinterpret_cast<WPARAM>(state.font), FALSE);
                state.links.push_back(link);
            }
            x += width;
            continue;
        }
        std::wstring rest = piece.text;
        while (!rest.empty() && y < area.bottom) {
            int fit = 0;
            SIZE size{};
            GetTextExtentExPointW(dc, rest.c_str(), static_cast<int>(rest.size()), area.right - x, &fit, nullptr,
                                  &size);
            size_t cut = ChunkCut(rest, static_cast<size_t>(fit));
            if (cut == 0 && x == 0)
                cut = fit > 0 ? static_cast<size_t>(fit) : 1;
            const std::wstring chunk = rest.substr(0, cut);
            if (!chunk.empty())
                TextOutW(dc, x, y, chunk.c_str(), static_cast<int>(chunk.size()));
            rest.erase(0, cut);
            if (!rest.empty()) {
                x = 0;
                y += lineHeight;
            } else {
                x += TextWidth(dc, chunk);
            }
        }
    }
    SelectObject(dc, oldFont);
}

LRESULT CALLBACK LinkTextProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<LinkText*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_NCCREATE:
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new LinkText));
        break;
    case WM_NCDESTROY:
        delete state;
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        break;
    case WM_SETFONT:
        if (state)
            state->font = reinterpret_cast<HFONT>(wParam);
        return 0;
    case WM_SETTEXT:
        if (state) {
            state->pieces = SplitLinkText(lParam ? reinterpret_cast<const wchar_t*>(lParam) : L"");
            DiscardLinks(*state);
            InvalidateRect(window, nullptr, TRUE);
        }
        break;
    case WM_ERASEBKGND: {
        HWND parent = GetParent(window);
        auto brush = reinterpret_cast<HBRUSH>(
            SendMessageW(parent, WM_CTLCOLORSTATIC, wParam, reinterpret_cast<LPARAM>(window)));
        RECT area;
        GetClientRect(window, &area);
        FillRect(reinterpret_cast<HDC>(wParam), &area, brush ? brush : GetSysColorBrush(COLOR_BTNFACE));
        return 1;
    }
    case WM_PAINT:
        if (state) {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            LayOut(window, *state, dc);
            EndPaint(window, &paint);
            return 0;
        }
        break;
    case WM_NOTIFY: {
        auto* link = reinterpret_cast<NMLINK*>(lParam);
        if (link->hdr.code == NM_CLICK || link->hdr.code == NM_RETURN)
            ShellExecuteW(window, L"open", link->item.szUrl, nullptr, nullptr, SW_SHOWNORMAL);
        return 0;
    }
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Puts a link-text control in the place of a dialog control.
void ReplaceWithLinkText(HWND dialog, int controlId, const std::wstring& text) {
    HWND placeholder = GetDlgItem(dialog, controlId);
    if (!placeholder)
        return;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = LinkTextProc;
    windowClass.hInstance = App().instance;
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    windowClass.lpszClassName = kLinkTextClass;
    RegisterClassW(&windowClass);
    RECT place;
    GetWindowRect(placeholder, &place);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
    DestroyWindow(placeholder);
    HWND control = CreateWindowExW(0, kLinkTextClass, L"", WS_CHILD | WS_VISIBLE, place.left, place.top,
                                   place.right - place.left, place.bottom - place.top, dialog,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)), App().instance, nullptr);
    if (!control)
        return;
    SendMessageW(control, WM_SETFONT, SendMessageW(dialog, WM_GETFONT, 0, 0), FALSE);
    SetWindowTextW(control, text.c_str());
}

DWORD ReadOptions(HKEY key) {
    DWORD options = 0, size = sizeof(options);
    RegQueryValueExA(key, "TvOptions", nullptr, nullptr, reinterpret_cast<BYTE*>(&options), &size);
    return options;
}

INT_PTR CALLBACK StartupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        SendMessageW(dialog, WM_SETICON, ICON_BIG,
                     reinterpret_cast<LPARAM>(LoadIconW(App().language, MAKEINTRESOURCEW(IDI_PROGRAM))));
        SetWindowTextW(dialog, LoadText(12208).c_str());
        ReplaceWithLinkText(dialog, IDC_STARTUP_TEXT, LoadText(IDS_STARTUP_TEXT_1) + LoadText(IDS_STARTUP_TEXT_2));
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            PostQuitMessage(0);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        PostQuitMessage(0);
        return TRUE;
    default:
        return FALSE;
    }
}

DWORD WINAPI StartupThread(void*) {
    com::ComApartment apartment;
    com::UniqueHKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_ALL_ACCESS, key.Put()) != ERROR_SUCCESS)
        return 0;
    const DWORD options = ReadOptions(key.Get());
    if (options & 1)
        return 0;
    HWND dialog = CreateDialogParamW(App().language, MAKEINTRESOURCEW(IDD_STARTUP), nullptr, StartupProc, 0);
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
    if (IsDlgButtonChecked(dialog, IDC_STARTUP_DONT_SHOW) == BST_CHECKED) {
        const DWORD updated = ReadOptions(key.Get()) | 1;
        RegSetValueExA(key.Get(), "TvOptions", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&updated),
                       sizeof(updated));
    }
    DestroyWindow(dialog);
    return static_cast<DWORD>(message.wParam);
}

} // namespace

std::vector<TextPiece> SplitLinkText(const std::wstring& text) {
    std::vector<TextPiece> pieces;
    static constexpr wchar_t kScheme[] = L"http://";
    size_t at = 0;
    for (;;) {
        const size_t address = text.find(kScheme, at);
        if (address == std::wstring::npos)
            break;
        if (address > at)
            pieces.push_back({text.substr(at, address - at), false});
        size_t end = text.find_first_of(L" \t\n,", address);
        if (end == std::wstring::npos)
            end = text.size();
        pieces.push_back({text.substr(address, end - address), true});
        at = end;
    }
    if (at < text.size())
        pieces.push_back({text.substr(at), false});
    return pieces;
}

size_t ChunkCut(const std::wstring& text, size_t fits) {
    if (fits >= text.size() || !std::iswalnum(text[fits]))
        return fits;
    size_t run = 0;
    while (run < fits && std::iswalnum(text[fits - run - 1]))
        ++run;
    return run <= 5 ? fits - run : fits;
}

void ShowSplash() {
    SplashWindow& splash = Splash();
    std::lock_guard<std::mutex> guard(splash.lock);
    if (splash.thread && WaitForSingleObject(splash.thread.Get(), 0) == WAIT_TIMEOUT)
        return;
    splash.thread.Reset(CreateThread(nullptr, 0, SplashThread, nullptr, 0, &splash.threadId));
}

void EndSplash() {
    SplashWindow& splash = Splash();
    std::lock_guard<std::mutex> guard(splash.lock);
    // The thread may not have its message queue yet: retry briefly while it runs.
    for (int attempt = 0; splash.threadId && attempt < 100; ++attempt) {
        if (PostThreadMessageW(splash.threadId, WM_QUIT, 0, 0) ||
            WaitForSingleObject(splash.thread.Get(), 20) != WAIT_TIMEOUT)
            break;
    }
    splash.threadId = 0;
}

void CloseSplash() {
    EndSplash();
    SplashWindow& splash = Splash();
    if (splash.thread)
        WaitForSingleObject(splash.thread.Get(), 30000);
    splash.thread.Reset();
    if (splash.bitmap)
        DeleteObject(splash.bitmap);
    splash.bitmap = nullptr;
}

void StartupDialog::Start() {
    if (thread_ && WaitForSingleObject(thread_.Get(), 0) == WAIT_TIMEOUT)
        return;
    thread_.Reset(CreateThread(nullptr, 0, StartupThread, nullptr, 0, nullptr));
}

void StartupDialog::Wait() {
    if (thread_)
        WaitForThreadWithPump(thread_.Get());
    thread_.Reset();
}

} // namespace tv::app
