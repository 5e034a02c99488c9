#include "AnsiText.h"

#include <cstring>

namespace tv::com {

std::string ToAnsi(const wchar_t* text, size_t length) {
    if (!text || length == 0)
        return {};
    int size = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring FromAnsi(std::string_view text) {
    if (text.empty())
        return {};
    int size = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(size > 0 ? size : 0, L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

HRESULT AnsiToBstr(std::string_view text, BSTR* out) {
    if (!out)
        return E_POINTER;
    std::wstring wide = FromAnsi(text);
    *out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

LPSTR TaskTextCopy(std::string_view text) {
    auto* copy = static_cast<char*>(::CoTaskMemAlloc(text.size() + 1));
    if (copy) {
        std::memcpy(copy, text.data(), text.size());
        copy[text.size()] = 0;
    }
    return copy;
}

} // namespace tv::com
