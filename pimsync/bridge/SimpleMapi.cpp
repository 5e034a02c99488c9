#include "SimpleMapi.h"
#include "HResult.h"
#include <cstring>

namespace tv::pimbridge {

namespace {

bool HasAt(const char* address) { return address && std::strchr(address, '@'); }

// Message ids of the long form fit in this buffer.
constexpr size_t kMessageIdSize = 512;

} // namespace

template <class F>
HRESULT SimpleMapi::Function(const char* name, F& function) const {
    function = library_ ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library_.Get(), name))) : nullptr;
    return function ? S_OK : E_FAIL;
}

HRESULT SimpleMapi::Open() {
    library_.Reset(LoadLibraryA("mapi32"));
    if (!library_)
        return HRESULT_FROM_WIN32(GetLastError());
    LPMAPILOGON logon = nullptr;
    HRESULT hr = Function("MAPILogon", logon);
    if (FAILED(hr))
        return hr;
    ULONG rc = logon(0, nullptr, nullptr, MAPI_LOGON_UI, 0, &session_);
    if (rc != SUCCESS_SUCCESS)
        return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, rc);
    loggedOn_ = true;
    return S_OK;
}

SimpleMapi::~SimpleMapi() {
    LPMAPILOGOFF logoff = nullptr;
    if (loggedOn_ && SUCCEEDED(Function("MAPILogoff", logoff)))
        logoff(session_, 0, 0, 0);
}

HRESULT SimpleMapi::FindInNextMessage(const std::string& name, std::string& address, bool& found) {
    LPMAPIFINDNEXT findNext = nullptr;
    LPMAPIREADMAIL readMail = nullptr;
    LPMAPIFREEBUFFER freeBuffer = nullptr;
    TV_RETURN_IF_FAILED(Function("MAPIFindNext", findNext));
    TV_RETURN_IF_FAILED(Function("MAPIReadMail", readMail));
    TV_RETURN_IF_FAILED(Function("MAPIFreeBuffer", freeBuffer));
    char id[kMessageIdSize] = {};
    if (findNext(session_, 0, nullptr, lastMessage_.empty() ? nullptr : const_cast<LPSTR>(lastMessage_.c_str()),
                 MAPI_LONG_MSGID, 0, id) != SUCCESS_SUCCESS)
        return S_FALSE;
    id[kMessageIdSize - 1] = 0;
    lpMapiMessage message = nullptr;
    if (readMail(session_, 0, id, MAPI_PEEK | MAPI_SUPPRESS_ATTACH, 0, &message) != SUCCESS_SUCCESS || !message)
        return S_FALSE;
    lastMessage_ = id;
    const MapiRecipDesc* originator = message->lpOriginator;
    if (originator && originator->lpszName && name == originator->lpszName && HasAt(originator->lpszAddress)) {
        address = originator->lpszAddress;
        found = true;
    }
    for (ULONG i = 0; !found && i < message->nRecipCount; ++i) {
        const MapiRecipDesc& recipient = message->lpRecips[i];
        if (recipient.ulRecipClass == MAPI_TO && recipient.lpszName && name == recipient.lpszName &&
            HasAt(recipient.lpszAddress)) {
            address = recipient.lpszAddress;
            found = true;
        }
    }
    freeBuffer(message);
    return S_OK;
}

HRESULT SimpleMapi::Resolve(const std::string& name, std::string& address) {
    LPMAPIRESOLVENAME resolve = nullptr;
    LPMAPIFREEBUFFER freeBuffer = nullptr;
    HRESULT hr = Function("MAPIResolveName", resolve);
    if (SUCCEEDED(hr))
        hr = Function("MAPIFreeBuffer", freeBuffer);
    if (FAILED(hr))
        return hr;
    lpMapiRecipDesc recipient = nullptr;
    if (resolve(session_, 0, const_cast<LPSTR>(name.c_str()), 0, 0, &recipient) == SUCCESS_SUCCESS && recipient) {
        const bool usable = HasAt(recipient->lpszAddress);
        if (usable)
            address = recipient->lpszAddress;
        freeBuffer(recipient);
        if (usable)
            return S_OK;
    }
    bool found = false;
    while (!found && (hr = FindInNextMessage(name, address, found)) == S_OK) {
    }
    if (FAILED(hr))
        return hr;
    if (!found)
        address = name;
    return S_OK;
}

} // namespace tv::pimbridge
