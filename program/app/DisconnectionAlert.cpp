#include "DisconnectionAlert.h"
#include "AnsiText.h"
#include "AppState.h"
#include "HelpTopic.h"
#include "ProgramIds.h"
#include <cstdio>

namespace tv::app {

struct DisconnectionAlerts::Alert {
    std::string strId;
    std::string name;
    HWND owner = nullptr;
    com::UniqueHandle thread;
    std::mutex* lock = nullptr;  // the owner's lock; guards window and closeRequested
    HWND window = nullptr;
    bool closeRequested = false;
};

namespace {

constexpr DWORD kCloseWaitMs = 5000;
constexpr char kDeviceListKey[] = "Software\\Zelvan\\Tavrilon\\DeviceList\\";

void TurnAlertOff(const std::string& strId) {
    const DWORD off = 0;
    RegSetKeyValueA(HKEY_CURRENT_USER, (kDeviceListKey + strId).c_str(), "DisconnectionAlert", REG_DWORD, &off,
                    sizeof(off));
}

void ShowAlertHelp(HWND dialog, const std::string& strId) {
    const std::string root = HelpRoot();
    if (root.empty())
        return;
    char topic[400] = {};
    snprintf(topic, sizeof(topic), "%s::/error298%04x.html>error_window", root.c_str(),
             DisconnectionAlertHelpLanguage(strId));
    ShowHelpTopic(dialog, topic);
}

INT_PTR CALLBACK AlertProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* alert = reinterpret_cast<DisconnectionAlerts::Alert*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        alert = reinterpret_cast<DisconnectionAlerts::Alert*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        SetForegroundWindow(dialog);
        SetDlgItemTextW(dialog, IDC_ALERT_LABEL, DisconnectionAlertLabel(alert->name, alert->strId).c_str());
        std::lock_guard guard(*alert->lock);
        alert->window = dialog;
        // The device came back before the dialog existed.
        if (alert->closeRequested)
            PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        return TRUE;
    }
    case WM_COMMAND:
        if (!alert)
            return FALSE;
        switch (LOWORD(wParam)) {
        case IDC_ALERT_HELP:
            ShowAlertHelp(dialog, alert->strId);
            return TRUE;
        case IDOK:
            if (IsDlgButtonChecked(dialog, IDC_ALERT_DONT_SHOW) == BST_CHECKED)
                TurnAlertOff(alert->strId);
            EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_CLOSE:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    case WM_DESTROY:
        if (alert) {
            std::lock_guard guard(*alert->lock);
            alert->window = nullptr;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

DWORD WINAPI AlertThread(void* context) {
    auto* alert = static_cast<DisconnectionAlerts::Alert*>(context);
    DialogBoxParamW(App().language, MAKEINTRESOURCEW(IDD_DISCONNECTION_ALERT), alert->owner, AlertProc,
                    reinterpret_cast<LPARAM>(alert));
    return 0;
}

bool Ended(const DisconnectionAlerts::Alert& alert) {
    return !alert.thread || WaitForSingleObject(alert.thread.Get(), 0) != WAIT_TIMEOUT;
}

} // namespace

std::wstring DisconnectionAlertLabel(const std::string& name, const std::string& strId) {
    if (name != strId && name.size() + strId.size() < 25)
        return com::FromAnsi(name) + L"(" + com::FromAnsi(strId) + L")";
    return com::FromAnsi(strId);
}

int DisconnectionAlertHelpLanguage(const std::string& strId) {
    const bool british = strId.rfind("@XE", 0) == 0 || (strId.rfind("@A", 0) == 0 && strId.rfind("@AA", 0) != 0);
    return british ? 2057 : 1033;
}

void DisconnectionAlerts::ReapEnded() {
    alerts_.remove_if([](const std::shared_ptr<Alert>& alert) { return Ended(*alert); });
}

void DisconnectionAlerts::Show(const std::string& strId, const std::string& name) {
    auto alert = std::make_shared<Alert>();
    alert->strId = strId;
    alert->name = name;
    alert->owner = GetActiveWindow();
    alert->lock = &lock_;
    std::lock_guard guard(lock_);
    ReapEnded();
    alert->thread.Reset(CreateThread(nullptr, 0, AlertThread, alert.get(), 0, nullptr));
    if (alert->thread)
        alerts_.push_back(std::move(alert));
}

void DisconnectionAlerts::CloseFor(const std::string& strId) {
    std::lock_guard guard(lock_);
    for (const auto& alert : alerts_) {
        if (alert->strId != strId || Ended(*alert))
            continue;
        if (alert->window)
            PostMessageW(alert->window, WM_COMMAND, IDOK, 0);
        else
            alert->closeRequested = true;
    }
}

void DisconnectionAlerts::CloseAll() {
    std::list<std::shared_ptr<Alert>> closing;
    {
        std::lock_guard guard(lock_);
        for (const auto& alert : alerts_) {
            alert->closeRequested = true;
            if (alert->window)
                PostMessageW(alert->window, WM_CLOSE, 0, 0);
        }
        closing.swap(alerts_);
    }
    for (const auto& alert : closing) {
        if (!alert->thread)
            continue;
        if (WaitForSingleObject(alert->thread.Get(), kCloseWaitMs) == WAIT_TIMEOUT) {
            // Still starting: its dialog appeared after the close above.
            std::lock_guard guard(lock_);
            if (alert->window)
                PostMessageW(alert->window, WM_CLOSE, 0, 0);
        }
        if (WaitForSingleObject(alert->thread.Get(), kCloseWaitMs) == WAIT_TIMEOUT)
            // A thread that cannot be stopped keeps its record alive rather than free it under it.
            new std::shared_ptr<Alert>(alert);
    }
}

} // namespace tv::app
