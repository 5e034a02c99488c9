#include "ConsoleSafeText.h"

namespace tv::portable {

bool IsConsoleSafeText(std::string_view text) {
    for (char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x20 || byte == 0x7F || ch == '"' || ch == '|')
            return false;
    }
    return true;
}

} // namespace tv::portable
