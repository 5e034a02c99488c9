#include "MailSyncSupport.h"
#include "ComObject.h"
#include "DllModule.h"
#include "Handles.h"
#include "LanguageLibrary.h"
#include "MailConnection.h"
#include "MailText.h"
#include "MessagePump.h"
#include "PrintfText.h"
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include "MailSyncIds.h"

namespace tv::mail {
namespace {

// The sink of one hub operation: keeps the item's error text, signals the end of the item, and
// notes when the operation last reported anything.
class FileOpListener final : public com::ComObject<FileOpListener, IZvFileOperationCallback> {
  public:
    HRESULT FinalConstruct() {
        done_.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        return done_ ? S_OK : HRESULT_FROM_WIN32(GetLastError());
    }
    HANDLE Done() const { return done_.Get(); }
    const std::string& ErrorText() const { return error_; }
    bool Reported() const { return reported_; }
    DWORD LastActivity() const { return lastActivity_; }

    // The end of the operation also ends the wait: an operation that ends without reporting its
    // item did not copy it.
    STDMETHODIMP OnOperationComplete() override {
        TraceLine("Mail sync: copy complete");
        SetEvent(done_.Get());
        return S_OK;
    }
    STDMETHODIMP OnItemComplete(LPSTR item, LPSTR errorText, LONG code) override {
        error_ = errorText ? errorText : "";
        reported_ = true;
        TraceLine(std::string("Mail sync: item ") + (item ? item : "") + " ended (" + std::to_string(code) + ") " +
                  error_);
        SetEvent(done_.Get());
        return S_OK;
    }
    STDMETHODIMP OnItemInit(LPSTR item, LONG size) override {
        lastActivity_ = GetTickCount();
        TraceLine(std::string("Mail sync: item ") + (item ? item : "") + " of " + std::to_string(size) + " bytes");
        return S_OK;
    }
    STDMETHODIMP OnItemProgress(LPSTR, LONG) override {
        lastActivity_ = GetTickCount();
        return S_OK;
    }
    STDMETHODIMP OnItemInfo(LPSTR info) override {
        lastActivity_ = GetTickCount();
        TraceLine(std::string("Mail sync: ") + (info ? info : ""));
        return S_OK;
    }

  private:
    com::UniqueHandle done_;
    std::string error_;
    bool reported_ = false;
    DWORD lastActivity_ = GetTickCount();
};

// Waits for the end of the listener's operation while dispatching messages: every report of the
// operation starts the allowed silence anew. False after `silenceMs` without a report, or when
// the wait ends for the thread's quit message.
bool WaitWhileReporting(const FileOpListener& listener, DWORD silenceMs) {
    for (;;) {
        const DWORD activity = listener.LastActivity();
        const DWORD quiet = GetTickCount() - activity;
        if (quiet >= silenceMs)
            return false;
        const DWORD started = GetTickCount();
        if (WaitWithMessagePump(listener.Done(), silenceMs - quiet))
            return true;
        // Ended early without a report meanwhile: the quit message, not the time limit.
        if (GetTickCount() - started < silenceMs - quiet && listener.LastActivity() == activity)
            return false;
    }
}

// Starts one hub operation on one item with a listener and waits for its end.
template <class Start> HRESULT RunDeviceOperation(const std::string& what, DWORD silenceMs, Start start) {
    com::ComPtr<FileOpListener> listener;
    HRESULT hr = com::MakeComObject<FileOpListener>(listener);
    if (FAILED(hr))
        return hr;
    TraceLine("Mail sync: " + what);
    hr = start(listener.Get());
    if (FAILED(hr))
        return hr;
    if (!WaitWhileReporting(*listener.Get(), silenceMs)) {
        TraceLine("Mail sync: the device fell silent: " + what);
        return E_FAIL;
    }
    return listener->Reported() && listener->ErrorText().empty() ? S_OK : E_FAIL;
}

} // namespace

HRESULT SyncReports::Advise(IZvSyncCallback* sink, LONG* cookie) { return sinks_.Advise(sink, cookie); }

HRESULT SyncReports::Unadvise(LONG cookie) { return sinks_.Unadvise(cookie); }

void SyncReports::Update(IZvSynchronizer* self, ZVSYNCPHASE phase, ZVSYNCSTATUS status, ULONG done, ULONG total) {
    errorReported_ = false;
    completionReported_ = completionReported_ || status == SST_COMPLETE;
    for (auto& sink : sinks_.Snapshot())
        sink->OnUpdate(self, phase, status, done, total);
}

void SyncReports::Custom(IZvSynchronizer* self, ZVSYNCPHASE phase, ZVSYNCSTATUS status, const std::string& text,
                         ULONG done, ULONG total) {
    errorReported_ = false;
    completionReported_ = completionReported_ || status == SST_COMPLETE;
    TraceLine("Mail sync: phase " + std::to_string(phase) + " status " + std::to_string(status) + " " + text);
    std::string copy = text;
    for (auto& sink : sinks_.Snapshot())
        sink->OnCustomUpdate(self, phase, status, copy.data(), done, total);
}

void SyncReports::Error(IZvSynchronizer* self, ZVSYNCPHASE phase, const std::string& text) {
    errorReported_ = true;
    TraceLine("Mail sync: phase " + std::to_string(phase) + " error " + text);
    std::string copy = text;
    for (auto& sink : sinks_.Snapshot())
        sink->OnError(self, phase, copy.data());
}

void SyncReports::EndStep(IZvSynchronizer* self, ZVSYNCPHASE phase, HRESULT result) {
    if (FAILED(result) && !errorReported_)
        Error(self, phase, "");
    else if (SUCCEEDED(result) && !completionReported_)
        Update(self, phase, SST_COMPLETE, 100, 100);
}

std::string LangText(UINT id) {
    HMODULE language = dll::LanguageLibrary();
    return language ? LoadLanguageString(language, id) : std::string();
}

std::string LangFormat(UINT id, const char* argument) {
    return FormatPrintf(LangText(id), argument);
}

std::string LangFormat(UINT id, long first, long second) {
    return FormatPrintf(LangText(id), first, second);
}

std::string MailWorkingFolder() {
    char temp[MAX_PATH + 1] = {};
    DWORD length = GetTempPathA(sizeof(temp), temp);
    std::string folder(temp, length > 0 && length < sizeof(temp) ? length : 0);
    if (!folder.empty() && folder.back() != '\\')
        folder += '\\';
    folder += "Zelvan";
    CreateDirectoryA(folder.c_str(), nullptr);
    folder += "\\Sync";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

HRESULT CreateHub(com::ComPtr<IZelvanMgr>& hub) {
    // The program registers the hub's class object for the local server; a COM runtime that does
    // not hand that registration to in-process requests is asked for the local server too.
    HRESULT hr = CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                  __uuidof(IZelvanMgr), reinterpret_cast<void**>(&hub));
    if (FAILED(hr))
        hr = CoCreateInstance(CLSID_ZelvanMgr, nullptr, CLSCTX_LOCAL_SERVER, __uuidof(IZelvanMgr),
                              reinterpret_cast<void**>(&hub));
    return hr;
}

HRESULT CopyDeviceFile(IZelvanMgr* hub, const std::string& source, const std::string& destination,
                       DWORD silenceMs) {
    return RunDeviceOperation("copy " + source + " to " + destination, silenceMs,
                              [&](FileOpListener* listener) {
                                  std::string from = source, to = destination;
                                  LPSTR sources[] = {from.data()};
                                  LPSTR destinations[] = {to.data()};
                                  return hub->CopyFileItems(1, MAX_PATH, sources, destinations, listener);
                              });
}

HRESULT DeleteDeviceFile(IZelvanMgr* hub, const std::string& path) {
    return RunDeviceOperation("delete " + path, kCopySilenceMs, [&](FileOpListener* listener) {
        std::string item = path;
        LPSTR items[] = {item.data()};
        return hub->DeleteFileItems(1, MAX_PATH, items, listener);
    });
}

bool CanSendTo(const char* recipients) {
    return recipients && SplitRecipients(recipients).has_value();
}

std::string SendFailedText(const std::vector<std::string>& unsendable) {
    std::string text = LangText(IDS_MAILSYNC_SEND_FAILED);
    if (unsendable.empty())
        return text;
    std::string names;
    for (const std::string& recipients : unsendable)
        names += (names.empty() ? "" : "; ") + ShownText(recipients);
    return text + " (" + names + ")";
}

std::string ShownText(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20)
            c = ' '; // shown, never obeyed
    return text;
}

std::string HeldLettersText(const HeldLetters& held) {
    std::string text;
    if (!held.unsendable.empty())
        text = SendFailedText(held.unsendable);
    if (held.unreadable > 0)
        text += (text.empty() ? "" : " ") + LangText(IDS_MAILSYNC_OUTBOX_FAILED);
    return text;
}

std::string WithHeldLetters(const HeldLetters& held, const std::string& failure) {
    return held.Any() ? HeldLettersText(held) + " " + failure : failure;
}

std::vector<std::string> ListedNames(IZvEnumFileItems* items) {
    std::vector<std::string> names;
    if (!items)
        return names;
    items->Reset();
    for (;;) {
        ZVFILEITEM item = {};
        long fetched = 0;
        if (FAILED(items->Next(1, &item, &fetched)) || fetched == 0)
            break;
        if (item.strName)
            names.emplace_back(item.strName);
        CoTaskMemFree(item.strName);
        CoTaskMemFree(item.strDesc);
        CoTaskMemFree(item.strIconFile);
    }
    return names;
}

HRESULT ListRootFolders(IZelvanMgr* hub, const std::string& deviceId, std::vector<std::string>& names) {
    names.clear();
    com::ComPtr<IZvEnumFileItems> items;
    std::string path = deviceId;
    HRESULT hr = hub->EnumFileItems(path.data(), 2, &items);
    if (FAILED(hr))
        return hr;
    if (!items)
        return E_UNEXPECTED;
    names = ListedNames(items.Get());
    return S_OK;
}

std::string LetterDateNow() {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    SYSTEMTIME now;
    GetSystemTime(&now);
    char text[64];
    std::snprintf(text, sizeof(text), "%02d %s %02d %02d:%02d:%02d", now.wDay, kMonths[(now.wMonth + 11) % 12],
                  now.wYear, now.wHour, now.wMinute, now.wSecond);
    return text;
}

bool ReplaceFileContent(const std::string& path, const void* data, size_t size) {
    const std::string temporary = path + ".new";
    {
        com::UniqueFileHandle file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return false;
        const char* bytes = static_cast<const char*>(data);
        while (size > 0) {
            DWORD written = 0;
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1 << 20));
            if (!WriteFile(file.Get(), bytes, chunk, &written, nullptr) || written != chunk) {
                file.Reset();
                DeleteFileA(temporary.c_str());
                return false;
            }
            bytes += chunk;
            size -= chunk;
        }
        if (!FlushFileBuffers(file.Get())) {
            file.Reset();
            DeleteFileA(temporary.c_str());
            return false;
        }
    }
    if (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

bool ReadFileContent(const std::string& path, std::string& data) {
    data.clear();
    com::UniqueFileHandle file(
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > (64 << 20))
        return false;
    data.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    return data.empty() || (ReadFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &read, nullptr) &&
                            read == data.size());
}

std::string LastChars(const std::string& text, size_t count) {
    return text.size() <= count ? text : text.substr(text.size() - count);
}

} // namespace tv::mail

namespace tv::mail {

HRESULT CopyFriendlyName(UINT id, LONG nMaxLen, unsigned char* name) {
    if (!name)
        return E_POINTER;
    const std::string text = LangText(id);
    if (text.empty())
        return E_FAIL;
    if (nMaxLen <= 0)
        return E_INVALIDARG;
    const size_t length = std::min(text.size(), static_cast<size_t>(nMaxLen - 1));
    std::memcpy(name, text.data(), length);
    name[length] = 0;
    return S_OK;
}

HRESULT FillMailItemTypes(const GUID& mailType, UINT mailName, LONG nMaxElems, LONG* pnElems, ZVSYNCITEMTYPE* pTypes) {
    static constexpr GUID kAttachments = {0xD5A54839, 0xFBCE, 0x4FAB, {0xAE, 0x59, 0xCB, 0x03, 0x84, 0x16, 0xBD, 0x9B}};
    if (!pnElems || !pTypes)
        return E_POINTER;
    if (nMaxElems < 2)
        return E_FAIL;
    const std::pair<const GUID*, UINT> types[] = {{&mailType, mailName}, {&kAttachments, IDS_MAILSYNC_TYPE_ATTACHMENTS}};
    for (int i = 0; i < 2; ++i) {
        const std::string name = LangText(types[i].second);
        pTypes[i].guid = *types[i].first;
        pTypes[i].flags = 3;
        pTypes[i].name = static_cast<LPSTR>(CoTaskMemAlloc(name.size() + 1));
        if (!pTypes[i].name) {
            if (i == 1)
                CoTaskMemFree(pTypes[0].name);
            return E_OUTOFMEMORY;
        }
        std::memcpy(pTypes[i].name, name.c_str(), name.size() + 1);
    }
    *pnElems = 2;
    return S_OK;
}

HRESULT CheckDeviceModel(IZelvanMgr* hub, LPSTR deviceId, LONG model) {
    LONG version = 0, submodel = 0;
    HRESULT hr = hub->GetDeviceVersion(deviceId, &version, &submodel);
    if (FAILED(hr))
        return hr;
    return version == model ? S_OK : S_FALSE;
}

HRESULT StoreDeviceId(LPSTR deviceId, std::string& stored) {
    if (!deviceId)
        return E_POINTER;
    if (std::strlen(deviceId) != 8 || deviceId[0] != '@')
        return E_UNEXPECTED;
    stored = deviceId;
    return S_OK;
}

} // namespace tv::mail
