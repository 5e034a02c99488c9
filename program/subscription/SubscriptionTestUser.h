// The user's side of a subscription update for the tests: answers to the first dialog, the
// package question and the message boxes, given through the UI harness from a thread of its own.
#pragma once
#include "UiHarness.h"
#include <windows.h>
#include <functional>
#include <optional>
#include <string>

namespace tv::test {

// A Linux path as Wine sees it (drive Z: maps the root).
std::wstring WinePath(const char* unixPath);
std::string ReadFile(const std::wstring& path);
// A text of the language library beside the test program.
std::wstring Text(UINT id);
// The visible top-level windows, for a report of a run that did not end.
std::string OpenWindows();

inline constexpr wchar_t kFirstDialogCaption[] = L"Update subscription";

struct SubscriptionUser {
    // Answers the first dialog with OK or Cancel; false when it did not appear or stayed.
    static bool AnswerFirstDialog(int button);
    // Names the package in the open-file question, or cancels it when `path` is empty.
    static bool ChoosePackage(const std::wstring& path);
    // Closes the message box with that caption; its text (none when it did not appear).
    static std::optional<std::wstring> CloseMessageBox(const std::wstring& caption);
};

} // namespace tv::test
