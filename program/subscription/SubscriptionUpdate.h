// The tray's two subscription commands for a device: running a subscription update package
// (".csu", whose script "update.js" brings the update onto the device) and opening the page
// where the device's subscription is customised.
#pragma once
#include <windows.h>
#include <string>

namespace tv::subscription {

// Results of RunSubscriptionUpdate.
enum UpdateResult : DWORD {
    kHubUnavailable = 0, // the hub could not be reached, or it was busy
    kUpdateRan = 1,      // the update ran, failed with a report, or the package question was cancelled
    kUserCancelled = 2,  // the user cancelled the first dialog
};

// Runs a subscription update for the device with that string ID: asks the user, lets them pick
// the package and runs its "update.js" main(path, deviceId). Call it on a thread of its own with
// a single-threaded apartment; `language` holds the dialogs and texts.
UpdateResult RunSubscriptionUpdate(const std::wstring& deviceId, HMODULE language);

// What the update thread is started with; allocated by the starter, owned by the thread.
struct UpdateRequest {
    std::wstring deviceId;
    HMODULE language = nullptr;
};

// Thread procedure: initialises COM (single-threaded apartment), runs RunSubscriptionUpdate
// for the UpdateRequest it owns and ends with its result.
DWORD WINAPI SubscriptionUpdateThread(void* request);

// Asks the event script "CustomizeSubscription" for the page of the device's subscription and
// opens a text result with the shell; any other result does nothing.
void CustomizeSubscription(const std::wstring& deviceId);

// The file's own name: the text after the last "/", or else after the last "\", or the path.
std::wstring PackageFileName(const std::wstring& path);

// `pattern` with its first "%s" replaced by `text` ("%%" stands for "%").
std::wstring FormatWithText(const std::wstring& pattern, const std::wstring& text);

} // namespace tv::subscription
