// The splash window shown while the program starts, the start-up dialog that greets the user
// afterwards, and the link-text control that draws the dialog's text with clickable addresses.
#pragma once
#include "Handles.h"
#include <windows.h>
#include <string>
#include <vector>

namespace tv::app {

// Starts the splash thread unless it runs already.
void ShowSplash();
// Ends the splash window (posts a quit message to its thread).
void EndSplash();
// At process end: ends the splash and waits for its thread.
void CloseSplash();

class StartupDialog {
public:
    StartupDialog() = default;
    StartupDialog(const StartupDialog&) = delete;
    StartupDialog& operator=(const StartupDialog&) = delete;
    ~StartupDialog() { Wait(); }

    void Start();
    // Waits for the dialog's thread, dispatching the caller's messages.
    void Wait();

private:
    com::UniqueHandle thread_;
};

// One piece of a link text: plain text or a web address.
struct TextPiece {
    std::wstring text;
    bool address = false;
};

// Splits a text at every "http://" address; an address runs to the first blank, tab, line feed
// or comma, or to the end.
std::vector<TextPiece> SplitLinkText(const std::wstring& text);

// Where a plain chunk that does not fit is cut: `fits` characters fit; when the character after
// the cut is a letter or digit, the cut moves back before that run (at most 5 characters).
size_t ChunkCut(const std::wstring& text, size_t fits);

} // namespace tv::app
