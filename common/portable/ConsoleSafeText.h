// Texts the PC puts between the quotes of a 1.0 device's console command (paths, medium and file
// names): a quote would end the argument early and add others, a bar would end the tagged request,
// and a control character would end the command line.
#pragma once
#include <string_view>

namespace tv::portable {

bool IsConsoleSafeText(std::string_view text);

} // namespace tv::portable
