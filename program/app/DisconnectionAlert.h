// The alert shown when a device goes away: one modal dialog per device, each on a thread of
// its own, closed by the device's return or by the program's end.
#pragma once
#include "Handles.h"
#include <windows.h>
#include <list>
#include <memory>
#include <mutex>
#include <string>

namespace tv::app {

// The dialog's label: "name(strID)" when the two differ and are short together, else the strID.
std::wstring DisconnectionAlertLabel(const std::string& name, const std::string& strId);
// The number of the help topic: 2057 for the device families whose help is British English.
int DisconnectionAlertHelpLanguage(const std::string& strId);

class DisconnectionAlerts {
public:
    DisconnectionAlerts() = default;
    DisconnectionAlerts(const DisconnectionAlerts&) = delete;
    DisconnectionAlerts& operator=(const DisconnectionAlerts&) = delete;
    ~DisconnectionAlerts() { CloseAll(); }

    // Starts the alert of a device that was lost.
    void Show(const std::string& strId, const std::string& name);
    // The device is back: its open alerts close as their OK button closes them.
    void CloseFor(const std::string& strId);
    // Closes every alert and waits for their threads (bounded).
    void CloseAll();

    struct Alert;

private:
    void ReapEnded();

    std::mutex lock_;
    std::list<std::shared_ptr<Alert>> alerts_;
};

} // namespace tv::app
