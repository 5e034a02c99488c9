#include "AppState.h"
#include "ComPtr.h"
#include "ZvLogger.h"

namespace tv::app {

AppState& App() {
    static AppState state;
    return state;
}

std::wstring LoadText(UINT id) {
    wchar_t buffer[1024] = {};
    if (!App().language || LoadStringW(App().language, id, buffer, ARRAYSIZE(buffer)) <= 0)
        return {};
    return buffer;
}

void WriteLog(const std::string& line) {
    com::ComPtr<IZvLogger> logger;
    if (FAILED(CoCreateInstance(CLSID_ZvLogger, nullptr, CLSCTX_INPROC_SERVER, IID_IZvLogger,
                                reinterpret_cast<void**>(&logger))))
        return;
    std::string text = line;
    logger->Write(text.data());
}

} // namespace tv::app
