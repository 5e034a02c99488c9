#include "HttpTransfer.h"

namespace tv::http {

namespace {

constexpr DWORD kReadPiece = 16384;

UniqueInternet Connect(HINTERNET session, const HttpTarget& target) {
    return UniqueInternet(InternetConnectW(session, target.host.c_str(), target.port, nullptr, nullptr,
                                           INTERNET_SERVICE_HTTP, 0, 0));
}

bool StatusIsSuccess(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return false;
    return status >= 200 && status <= 299;
}

// Reads until the server ends the answer.
bool ReadToEnd(HINTERNET request, std::vector<std::uint8_t>& body) {
    body.clear();
    for (;;) {
        const std::size_t used = body.size();
        body.resize(used + kReadPiece);
        DWORD read = 0;
        if (!InternetReadFile(request, body.data() + used, kReadPiece, &read)) {
            body.resize(used);
            return false;
        }
        body.resize(used + read);
        if (read == 0)
            return true;
    }
}

// Reads exactly `length` bytes; fewer (the server closed early) is a failure.
bool ReadExactly(HINTERNET request, DWORD length, std::vector<std::uint8_t>& body) {
    body.assign(length, 0);
    DWORD total = 0;
    while (total < length) {
        DWORD read = 0;
        if (!InternetReadFile(request, body.data() + total, length - total, &read) || read == 0)
            return false;
        total += read;
    }
    return true;
}

} // namespace

bool SplitUrl(const std::wstring& url, HttpTarget& target) {
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = 1;
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    if (url.empty() || !InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
        return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return false;
    if (!parts.lpszHostName || parts.dwHostNameLength == 0)
        return false;
    target.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    target.port = parts.nPort;
    target.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    // The path and the query, which the platform may hand out as one piece or as two.
    std::wstring path;
    if (parts.lpszUrlPath)
        path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo)
        path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (const std::size_t hash = path.find(L'#'); hash != std::wstring::npos)
        path.resize(hash);
    const std::size_t question = path.find(L'?');
    if (question != std::wstring::npos && path.find(L'?', question + 1) != std::wstring::npos)
        return false;
    target.objectPath = path.substr(0, question);
    target.query = question == std::wstring::npos ? std::wstring() : path.substr(question + 1);
    if (target.objectPath.empty())
        target.objectPath = L"/";
    return true;
}

bool Download(HINTERNET session, const HttpTarget& target, std::vector<std::uint8_t>& body) {
    UniqueInternet connection = Connect(session, target);
    if (!connection)
        return false;
    std::wstring object = target.objectPath;
    if (!target.query.empty())
        object += L"?" + target.query;
    DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | (target.secure ? INTERNET_FLAG_SECURE : 0);
    UniqueInternet request(
        HttpOpenRequestW(connection.Get(), L"GET", object.c_str(), L"HTTP/1.0", nullptr, nullptr, flags, 0));
    if (!request || !HttpSendRequestW(request.Get(), nullptr, 0, nullptr, 0))
        return false;
    if (!StatusIsSuccess(request.Get()))
        return false;
    DWORD length = 0;
    DWORD size = sizeof(length);
    if (!HttpQueryInfoW(request.Get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size,
                        nullptr))
        return false;
    return ReadExactly(request.Get(), length, body);
}

UploadResult Upload(HINTERNET session, const HttpTarget& target, const std::string& headers,
                    const std::string& body, std::vector<std::uint8_t>& answer) {
    UniqueInternet connection = Connect(session, target);
    if (!connection)
        return UploadResult::ConnectionFailed;
    const wchar_t* acceptTypes[] = {L"*/*", nullptr};
    DWORD flags = INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_CACHE_WRITE |
                  (target.secure ? INTERNET_FLAG_SECURE : 0);
    UniqueInternet request(HttpOpenRequestW(connection.Get(), L"POST", target.objectPath.c_str(), L"HTTP/1.1",
                                            nullptr, acceptTypes, flags, 0));
    if (!request)
        return UploadResult::OpenRequestFailed;
    if (!HttpAddRequestHeadersA(request.Get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                                HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE))
        return UploadResult::AddHeadersFailed;
    if (!HttpSendRequestW(request.Get(), nullptr, 0, const_cast<char*>(body.data()),
                          static_cast<DWORD>(body.size())))
        return UploadResult::SendFailed;
    const bool success = StatusIsSuccess(request.Get());
    if (!ReadToEnd(request.Get(), answer))
        return UploadResult::ReceiveFailed;
    return success ? UploadResult::Sent : UploadResult::ServerError;
}

} // namespace tv::http
