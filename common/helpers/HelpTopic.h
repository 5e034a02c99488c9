// The suite's help: the help file named by the machine-wide value "HelpRoot" and the HTML help
// viewer that shows its topics. The viewer is loaded when first asked for, so that a computer
// without it still runs everything else.
#pragma once
#include <windows.h>
#include <string>

namespace tv {

// HKLM "Software\Zelvan\Tavrilon" "HelpRoot" (up to 260 characters); empty when it is not set.
std::string HelpRoot();

// Shows a topic ("<help file>::/<page>>window") owned by `owner`; the viewer's window, or null
// when there is no viewer or it shows nothing.
HWND ShowHelpTopic(HWND owner, const char* topic);

} // namespace tv
