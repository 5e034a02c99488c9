// Whole-file transfers over WinINet: the URL split into server, port, object path and query, a
// GET that reads the whole body into memory, and a POST of a ready body that reads the answer.
#pragma once
#include "Handles.h"
#include <windows.h>
#include <wininet.h>
#include <cstdint>
#include <string>
#include <vector>

namespace tv::http {

struct InternetHandleTraits {
    static HINTERNET Invalid() { return nullptr; }
    static bool IsValid(HINTERNET h) { return h != nullptr; }
    static void Close(HINTERNET h) { ::InternetCloseHandle(h); }
};
using UniqueInternet = com::UniqueResource<HINTERNET, InternetHandleTraits>;

struct HttpTarget {
    std::wstring host;
    INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT; // the URL's port, else the scheme's
    bool secure = false;                             // https
    std::wstring objectPath;
    std::wstring query; // the text after "?", without it
};

// Accepts http and https URLs with at most one "?" in the path.
bool SplitUrl(const std::wstring& url, HttpTarget& target);

// GET of the object path (with the query). Succeeds only for a 2xx status with a
// Content-Length whose bytes all arrive.
bool Download(HINTERNET session, const HttpTarget& target, std::vector<std::uint8_t>& body);

enum class UploadResult {
    Sent,
    ConnectionFailed,
    OpenRequestFailed,
    AddHeadersFailed,
    SendFailed,
    ReceiveFailed,
    ServerError, // a status other than 2xx
};

// POST of `body` with `headers` to the object path; the whole answer is read into `answer`.
UploadResult Upload(HINTERNET session, const HttpTarget& target, const std::string& headers,
                    const std::string& body, std::vector<std::uint8_t>& answer);

} // namespace tv::http
