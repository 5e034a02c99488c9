#include "SimpleHttpClient.h"
#include "AnsiText.h"
#include "ErrorInfo.h"
#include "MultipartForm.h"

namespace tv::http {

namespace {

constexpr wchar_t kSettingsKey[] = L"Software\\Zelvan\\Tavrilon\\HTTP";
constexpr wchar_t kInternetSettingsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr wchar_t kDefaultAgent[] = L"Mozilla/4.0";

VARIANT_BOOL ToVariantBool(bool value) {
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}

std::wstring FromBstr(BSTR text) {
    return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

// 8-bit text in the system's code page, as the form and the server see it.
std::string ToAnsi(const std::wstring& text) {
    return com::ToAnsi(text.data(), text.size());
}

// The agent text from the settings (the key's default value, up to 260 bytes), else the default.
std::wstring ReadAgent() {
    com::UniqueHKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, key.Put()) == ERROR_SUCCESS) {
        wchar_t text[261] = {};
        DWORD size = 260;
        DWORD type = 0;
        if (RegQueryValueExW(key.Get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) ==
                ERROR_SUCCESS &&
            type == REG_SZ && text[0] != L'\0')
            return text;
    }
    return kDefaultAgent;
}

// Direct connections only when the system's proxy is switched off explicitly.
DWORD ReadAccessType() {
    com::UniqueHKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kInternetSettingsKey, 0, KEY_READ, key.Put()) == ERROR_SUCCESS) {
        DWORD enabled = 1;
        DWORD size = sizeof(enabled);
        DWORD type = 0;
        if (RegQueryValueExW(key.Get(), L"ProxyEnable", nullptr, &type, reinterpret_cast<BYTE*>(&enabled),
                             &size) == ERROR_SUCCESS &&
            type == REG_DWORD && enabled == 0)
            return INTERNET_OPEN_TYPE_DIRECT;
    }
    return INTERNET_OPEN_TYPE_PRECONFIG;
}

bool ReadWholeFile(const std::wstring& path, bool& opened, std::string& bytes) {
    com::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    opened = static_cast<bool>(file);
    if (!opened)
        return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > 0x7fffffff)
        return false;
    bytes.assign(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    return bytes.empty() ||
           (ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
            read == bytes.size());
}

bool WriteWholeFile(const std::wstring& path, const std::uint8_t* data, std::size_t length) {
    com::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    return length == 0 ||
           (WriteFile(file.Get(), data, static_cast<DWORD>(length), &written, nullptr) && written == length);
}

} // namespace

HRESULT ZvSimpleHTTP::FinalConstruct() {
    agent_ = ReadAgent();
    session_.Reset(InternetOpenW(agent_.c_str(), ReadAccessType(), nullptr, nullptr, 0));
    if (!session_)
        return E_FAIL;
    autoDial_ = true;
    return S_OK;
}

void* ZvSimpleHTTP::QueryOtherInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IDispatch))
        return static_cast<IZvSimpleHTTP*>(this);
    return nullptr;
}

bool ZvSimpleHTTP::MayTransfer() const {
    DWORD flags = 0;
    return InternetGetConnectedState(&flags, 0) || autoDial_;
}

HRESULT ZvSimpleHTTP::UploadError(const char* text) {
    return com::SetComErrorInfo(CLSID_ZvSimpleHTTP, text, IID_IZvSimpleHTTP, 0);
}

STDMETHODIMP ZvSimpleHTTP::get_IsOnline(VARIANT_BOOL* bRes) {
    if (!bRes)
        return E_POINTER;
    DWORD flags = 0;
    *bRes = ToVariantBool(InternetGetConnectedState(&flags, 0));
    return S_OK;
}

STDMETHODIMP ZvSimpleHTTP::get_IsDialup(VARIANT_BOOL* bRes) {
    if (!bRes)
        return E_POINTER;
    DWORD flags = 0;
    *bRes = ToVariantBool(InternetGetConnectedState(&flags, 0) && (flags & INTERNET_CONNECTION_MODEM));
    return S_OK;
}

STDMETHODIMP ZvSimpleHTTP::get_AutoDialup(VARIANT_BOOL* bRes) {
    if (!bRes)
        return E_POINTER;
    *bRes = ToVariantBool(autoDial_);
    return S_OK;
}

STDMETHODIMP ZvSimpleHTTP::put_AutoDialup(VARIANT_BOOL bRes) {
    autoDial_ = bRes == VARIANT_TRUE;
    return S_OK;
}

STDMETHODIMP ZvSimpleHTTP::GoOnline(BSTR bsURL, VARIANT_BOOL* bRes) {
    if (!bRes)
        return E_POINTER;
    std::wstring url = FromBstr(bsURL);
    *bRes = ToVariantBool(InternetGoOnlineW(url.data(), nullptr, 0));
    return S_OK;
}

STDMETHODIMP ZvSimpleHTTP::Dial(VARIANT_BOOL* bRes) {
    if (!bRes)
        return E_POINTER;
    *bRes = ToVariantBool(InternetAutodial(INTERNET_AUTODIAL_FORCE_ONLINE, nullptr));
    return S_OK;
}

STDMETHODIMP ZvSimpleHTTP::Hangup(VARIANT_BOOL* bRes) {
    if (!bRes)
        return E_POINTER;
    *bRes = ToVariantBool(InternetAutodialHangup(0));
    return S_OK;
}

STDMETHODIMP ZvSimpleHTTP::ImportFile(BSTR bsURL, BSTR bsFile, VARIANT_BOOL bZvRequest) {
    if (!MayTransfer())
        return E_FAIL;
    HttpTarget target;
    if (!SplitUrl(FromBstr(bsURL), target))
        return E_FAIL;
    std::vector<std::uint8_t> reply;
    if (!Download(session_.Get(), target, reply))
        return E_FAIL;
    std::size_t skip = 0;
    if (bZvRequest) {
        if (!IsOkReply(reply.data(), reply.size()))
            return E_FAIL;
        skip = kReplyHeaderLength;
    }
    if (!WriteWholeFile(FromBstr(bsFile), reply.data() + skip, reply.size() - skip))
        return E_FAIL;
    return S_OK;
}

STDMETHODIMP ZvSimpleHTTP::ExportFile(BSTR bsFile, BSTR bsURL, VARIANT_BOOL bZvRequest) {
    if (!MayTransfer())
        return E_FAIL;
    HttpTarget target;
    if (!SplitUrl(FromBstr(bsURL), target))
        return UploadError("Invalid URL format");

    const std::wstring localPath = FromBstr(bsFile);
    bool opened = false;
    std::string fileBytes;
    if (!ReadWholeFile(localPath, opened, fileBytes))
        return UploadError(opened ? "Failed to read local file" : "Failed to open local file");

    const std::string body =
        BuildMultipartBody(ParseFormFields(ToAnsi(target.query)), ToAnsi(localPath), fileBytes);
    std::vector<std::uint8_t> answer;
    switch (Upload(session_.Get(), target, MultipartRequestHeaders(body.size()), body, answer)) {
    case UploadResult::ConnectionFailed:
        return UploadError("Failed to open HTTP connection");
    case UploadResult::OpenRequestFailed:
        return UploadError("HttpOpenRequest failed");
    case UploadResult::AddHeadersFailed:
        return UploadError("HttpAddRequestHeaders failed");
    case UploadResult::SendFailed:
        return UploadError("HttpSendRequest failed");
    case UploadResult::ReceiveFailed:
        return UploadError("Failed to receive HTTP response");
    case UploadResult::ServerError:
        return UploadError("HTTP server sent error");
    case UploadResult::Sent:
        break;
    }
    if (bZvRequest && !IsOkReply(answer.data(), answer.size()))
        return UploadError("HTTP server sent error");
    return S_OK;
}

STDMETHODIMP ZvSimpleHTTP::ImportString(BSTR, VARIANT_BOOL, BSTR*) {
    return E_NOTIMPL;
}

STDMETHODIMP ZvSimpleHTTP::ExportString(BSTR, BSTR, VARIANT_BOOL) {
    return E_NOTIMPL;
}

STDMETHODIMP ZvSimpleHTTP::get_BrowserType(BSTR* bsType) {
    if (!bsType)
        return E_POINTER;
    *bsType = SysAllocString(agent_.c_str());
    return *bsType ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP ZvSimpleHTTP::put_BrowserType(BSTR bsType) {
    agent_ = FromBstr(bsType); // the open session keeps the agent it was opened with
    return S_OK;
}

STDMETHODIMP ZvSimpleHTTP::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsEqualIID(riid, IID_IZvSimpleHTTP) ? S_OK : S_FALSE;
}

} // namespace tv::http
