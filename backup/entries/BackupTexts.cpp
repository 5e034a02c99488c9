#include "BackupTexts.h"
#include "AnsiText.h"

namespace tv::backup {

std::string LoadText(HMODULE language, UINT id) {
    char text[1024] = {};
    if (!language || LoadStringA(language, id, text, sizeof(text)) <= 0)
        return {};
    return text;
}

BSTR TextBstr(const std::string& text) {
    BSTR out = nullptr;
    com::AnsiToBstr(text, &out);
    return out;
}

} // namespace tv::backup
