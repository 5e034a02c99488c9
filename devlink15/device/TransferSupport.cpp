#include "TransferSupport.h"

#include "AnsiText.h"
#include "ZvDevice15.h"

#include <algorithm>

namespace devlink15::transfer {

HRESULT Report(const Outcome& outcome, long nMaxLen, unsigned char* buffer) {
    if (buffer && nMaxLen > 0)
        ZvDevice15::CopyErrorText(outcome.text, nMaxLen, buffer);
    return outcome.code;
}

std::string Text(UINT id, const std::string& argument) {
    std::string text = ZvDevice15::LangString(id);
    // The argument is put in by hand: a path may hold "%" and must never act as a format.
    const size_t at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, argument);
    return text;
}

AdvisedSink::~AdvisedSink() {
    if (cookie_ >= 0)
        port_->UnAdvise(cookie_);
    if (sink_)
        sink_->Release();
}

long AdvisedSink::Start(IZvFileOperationCallback* callback) {
    if (FAILED(callback->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&sink_))) || !sink_) {
        sink_ = nullptr;
        return 4;
    }
    long cookie = -1;
    if (FAILED(port_->Advise(sink_, &cookie)))
        return 20;
    cookie_ = cookie;
    return 0;
}

tv::com::UniqueBstr Wide(const std::string& text) {
    BSTR out = nullptr;
    tv::com::AnsiToBstr(text, &out);
    return tv::com::UniqueBstr(out);
}

bool BeforeLast(const std::string& text, char separator, std::string& head) {
    const size_t at = text.rfind(separator);
    if (at == std::string::npos)
        return false;
    head = text.substr(0, at);
    return true;
}

std::string AfterLast(const std::string& text, char separator) {
    const size_t at = text.rfind(separator);
    return at == std::string::npos ? text : text.substr(at + 1);
}

std::string WithoutLeadingSlash(const std::string& path) {
    return !path.empty() && path[0] == '/' ? path.substr(1) : path;
}

void HandCancelToPort(IZvPort15* port, HANDLE* cancelReference) {
    port->Cancel(reinterpret_cast<LONG_PTR>(cancelReference));
}

bool CancelRequested(HANDLE* cancelReference) {
    return cancelReference && *cancelReference && WaitForSingleObject(*cancelReference, 0) == WAIT_OBJECT_0;
}

bool ReadPcFileSize(const std::string& path, unsigned long long& size) {
    tv::com::UniqueFileHandle file(
        CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER length{};
    if (!file || !GetFileSizeEx(file.Get(), &length))
        return false;
    size = static_cast<unsigned long long>(length.QuadPart);
    return true;
}

void SortByDepth(std::vector<std::string>& paths) {
    std::stable_sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) {
        return std::count(a.begin(), a.end(), '/') < std::count(b.begin(), b.end(), '/');
    });
}

} // namespace devlink15::transfer
