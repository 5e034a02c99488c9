// The mail filter dialog of the bridge: days with their spin control, the size limit and the body
// cut, each number beside the check box that enables it.
#include "DllModule.h"
#include "LangIds.h"
#include "PimBridgeObject.h"
#include <commctrl.h>
#include <cctype>
#include <cstdlib>
#include <string>

namespace tv::pimbridge {

namespace {

constexpr int kMaxDays = 730;
constexpr int kNumberLength = 19;

class FilterDialog {
  public:
    explicit FilterDialog(FilterSettings& settings) : settings_(settings) {}

    static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG)
            SetWindowLongPtrW(window, DWLP_USER, static_cast<LONG_PTR>(lParam));
        auto* self = reinterpret_cast<FilterDialog*>(GetWindowLongPtrW(window, DWLP_USER));
        return self ? self->Handle(window, message, wParam) : FALSE;
    }

  private:
    INT_PTR Handle(HWND window, UINT message, WPARAM wParam) {
        switch (message) {
        case WM_INITDIALOG:
            Init(window);
            return TRUE;
        case WM_VSCROLL: {
            // The spin's position goes into the days edit.
            const int position = static_cast<int>(SendDlgItemMessageW(window, IDC_PIMBRIDGE_DAYS_SPIN, UDM_GETPOS32, 0, 0));
            SetDlgItemInt(window, IDC_PIMBRIDGE_DAYS, static_cast<UINT>(position), FALSE);
            return TRUE;
        }
        case WM_COMMAND:
            return Command(window, LOWORD(wParam), HIWORD(wParam));
        default:
            return FALSE;
        }
    }

    void Init(HWND window) {
        SendDlgItemMessageW(window, IDC_PIMBRIDGE_DAYS_SPIN, UDM_SETBUDDY,
                            reinterpret_cast<WPARAM>(GetDlgItem(window, IDC_PIMBRIDGE_DAYS)), 0);
        SendDlgItemMessageW(window, IDC_PIMBRIDGE_DAYS_SPIN, UDM_SETRANGE32, 0, kMaxDays);
        SendDlgItemMessageW(window, IDC_PIMBRIDGE_DAYS_SPIN, UDM_SETPOS32, 0, static_cast<LPARAM>(settings_.days));
        initialising_ = true;
        SetDlgItemInt(window, IDC_PIMBRIDGE_DAYS, settings_.days, FALSE);
        SetDlgItemInt(window, IDC_PIMBRIDGE_MAIL_SIZE, settings_.mailSize, FALSE);
        SetDlgItemInt(window, IDC_PIMBRIDGE_CUT_SIZE, settings_.cutMessageSize, FALSE);
        initialising_ = false;
        CheckDlgButton(window, IDC_PIMBRIDGE_LIMIT_SIZE, (settings_.attributes & kLimitSize) ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(window, IDC_PIMBRIDGE_CUT, (settings_.attributes & kCutBodies) ? BST_CHECKED : BST_UNCHECKED);
        EnableEdits(window);
    }

    void EnableEdits(HWND window) {
        EnableWindow(GetDlgItem(window, IDC_PIMBRIDGE_MAIL_SIZE), IsDlgButtonChecked(window, IDC_PIMBRIDGE_LIMIT_SIZE));
        EnableWindow(GetDlgItem(window, IDC_PIMBRIDGE_CUT_SIZE), IsDlgButtonChecked(window, IDC_PIMBRIDGE_CUT));
    }

    static std::string Text(HWND window, int id) {
        char text[kNumberLength + 1] = {};
        GetDlgItemTextA(window, id, text, sizeof(text));
        return text;
    }

    static bool AllDigits(std::string text) {
        const auto first = text.find_first_not_of(" \t");
        const auto last = text.find_last_not_of(" \t");
        if (first == std::string::npos)
            return false;
        text = text.substr(first, last - first + 1);
        for (char c : text)
            if (!std::isdigit(static_cast<unsigned char>(c)))
                return false;
        return true;
    }

    // A days text that is not a number is refused with a warning and the edit's change undone.
    void CheckDays(HWND window) {
        if (initialising_ || checking_ || AllDigits(Text(window, IDC_PIMBRIDGE_DAYS)))
            return;
        checking_ = true;
        char text[512] = {}, caption[256] = {};
        LoadStringA(dll::LanguageLibrary(), IDS_PIMBRIDGE_DAYS_NOT_NUMBER, text, sizeof(text));
        LoadStringA(dll::LanguageLibrary(), IDS_PIMBRIDGE_CAPTION, caption, sizeof(caption));
        MessageBoxA(window, text, caption, MB_OK | MB_ICONWARNING);
        SendDlgItemMessageW(window, IDC_PIMBRIDGE_DAYS, EM_UNDO, 0, 0);
        checking_ = false;
    }

    INT_PTR Command(HWND window, int id, int code) {
        switch (id) {
        case IDC_PIMBRIDGE_DAYS:
            if (code == EN_CHANGE)
                CheckDays(window);
            return TRUE;
        case IDC_PIMBRIDGE_LIMIT_SIZE:
        case IDC_PIMBRIDGE_CUT:
            EnableEdits(window);
            return TRUE;
        case IDOK: {
            settings_.days = static_cast<uint32_t>(std::strtoul(Text(window, IDC_PIMBRIDGE_DAYS).c_str(), nullptr, 10));
            settings_.mailSize =
                static_cast<uint32_t>(std::strtoul(Text(window, IDC_PIMBRIDGE_MAIL_SIZE).c_str(), nullptr, 10));
            settings_.cutMessageSize =
                static_cast<uint32_t>(std::strtoul(Text(window, IDC_PIMBRIDGE_CUT_SIZE).c_str(), nullptr, 10));
            settings_.attributes &= ~(kLimitSize | kCutBodies);
            if (IsDlgButtonChecked(window, IDC_PIMBRIDGE_LIMIT_SIZE))
                settings_.attributes |= kLimitSize;
            if (IsDlgButtonChecked(window, IDC_PIMBRIDGE_CUT))
                settings_.attributes |= kCutBodies;
            EndDialog(window, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(window, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
        }
    }

    FilterSettings& settings_;
    bool initialising_ = false;
    bool checking_ = false;
};

} // namespace

bool RunFilterDialog(HWND owner, FilterSettings& settings) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
    FilterSettings edited = settings;
    FilterDialog dialog(edited);
    const INT_PTR result = DialogBoxParamW(dll::LanguageLibrary(), MAKEINTRESOURCEW(IDD_PIMBRIDGE_FILTER), owner,
                                           FilterDialog::Proc, reinterpret_cast<LPARAM>(&dialog));
    if (result != IDOK)
        return false;
    settings = edited;
    return true;
}

} // namespace tv::pimbridge
