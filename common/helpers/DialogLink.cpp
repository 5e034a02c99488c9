#include "DialogLink.h"
#include <commctrl.h>
#include <shellapi.h>

namespace tv {

HWND ReplaceLabelWithLink(HWND dialog, int controlId, const std::wstring& address) {
    HWND label = GetDlgItem(dialog, controlId);
    if (!label)
        return nullptr;
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_LINK_CLASS};
    InitCommonControlsEx(&classes);
    RECT place;
    GetWindowRect(label, &place);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
    wchar_t caption[256] = {};
    GetWindowTextW(label, caption, ARRAYSIZE(caption));
    const std::wstring markup = L"<a href=\"" + address + L"\">" + caption + L"</a>";
    HWND link =
        CreateWindowExW(0, WC_LINK, markup.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP, place.left, place.top,
                        place.right - place.left, place.bottom - place.top, dialog,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)),
                        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE)), nullptr);
    if (!link)
        return nullptr;
    SendMessageW(link, WM_SETFONT, SendMessageW(dialog, WM_GETFONT, 0, 0), FALSE);
    DestroyWindow(label);
    return link;
}

bool OpenClickedLink(HWND dialog, int controlId, LPARAM notification) {
    const auto* link = reinterpret_cast<const NMLINK*>(notification);
    if (!link || link->hdr.idFrom != static_cast<UINT_PTR>(controlId) ||
        (link->hdr.code != NM_CLICK && link->hdr.code != NM_RETURN))
        return false;
    ShellExecuteW(dialog, L"open", link->item.szUrl, nullptr, nullptr, SW_SHOWNORMAL);
    return true;
}

} // namespace tv
