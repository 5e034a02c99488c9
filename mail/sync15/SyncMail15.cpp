#include "SyncMail15.h"
#include "MailConnection.h"
#include "MailFields.h"
#include "MailSyncIds.h"
#include "ZvPOP3.h"
#include "ZvSMTP.h"
#include <algorithm>

namespace tv::mail {
namespace {

constexpr GUID kItemTypeMail15 = {0x2C56C408, 0x1EB3, 0x4B53, {0xA7, 0xC4, 0x9B, 0xA3, 0xDA, 0x12, 0xDD, 0xC9}};
constexpr char kCatalogName[] = "email.db";

bool IsMailFile(const std::string& path) {
    const std::string name = LastPathElement(path);
    return lstrcmpiA(name.c_str(), "email.app") == 0 || lstrcmpiA(name.c_str(), "email.db") == 0;
}

} // namespace

STDMETHODIMP SyncMail15::GetUserFriendlyName(LONG nMaxLen, unsigned char* name) {
    return CopyFriendlyName(IDS_MAILSYNC_NAME15, nMaxLen, name);
}

STDMETHODIMP SyncMail15::GetItemTypes(LONG nMaxElems, LONG* pnElems, ZVSYNCITEMTYPE* pTypes) {
    return FillMailItemTypes(kItemTypeMail15, IDS_MAILSYNC_TYPE_MAIL15, nMaxElems, pnElems, pTypes);
}

STDMETHODIMP SyncMail15::IsCompatible(LPSTR szDeviceID) { return CheckDeviceModel(hub_.Get(), szDeviceID, 21); }

STDMETHODIMP SyncMail15::GetIcon(int* nResourceID) {
    if (!nResourceID)
        return E_POINTER;
    *nResourceID = IDI_MAILSYNC;
    return S_OK;
}

// Failures travel only as reports.
STDMETHODIMP SyncMail15::Synchronize(ZVSYNCPHASE phase) {
    const HRESULT hr = RunPhase(phase);
    return hr == E_INVALIDARG && (phase < SPH_INITIALIZE || phase > SPH_FINALIZE) ? hr : S_OK;
}

HRESULT SyncMail15::Initialize() {
    ready_ = false;
    lastResult_ = StoreResult::Stored;
    if (deviceId_.empty())
        return E_UNEXPECTED;
    const std::string reading = LangText(IDS_MAILSYNC_READING);
    reports_.Custom(this, SPH_INITIALIZE, SST_START, reading, 0, 0);

    // The mail application: its program and its database.
    std::string pattern = deviceId_ + "\\default/email.*";
    com::ComPtr<IZvEnumFileItems> found;
    HRESULT hr = hub_->FindItems(pattern.data(), &found);
    if (FAILED(hr))
        return hr;
    const std::vector<std::string> names = ListedNames(found.Get());
    const auto mailFiles = std::count_if(names.begin(), names.end(), [](const std::string& name) { return IsMailFile(name); });
    if (mailFiles != 2) {
        reports_.Error(this, SPH_INITIALIZE, LangText(IDS_MAILSYNC_NO_MAIL_APP));
        return E_FAIL;
    }

    std::vector<std::string> folders;
    hr = ListRootFolders(hub_.Get(), deviceId_, folders);
    if (FAILED(hr))
        return hr;
    reports_.Custom(this, SPH_INITIALIZE, SST_UPDATE, reading, 1, 3);
    if (folders.empty())
        return E_UNEXPECTED;
    const std::string work = MailWorkingFolder();
    deviceCatalog_ = deviceId_ + "\\" + folders[0] + "\\" + kCatalogName;
    pcCatalog_ = work + "\\" + kCatalogName;
    const std::string copyFailed = LangFormat(IDS_MAILSYNC_FILE_TRANSFER_FAILED, kCatalogName);
    if (FAILED(CopyDeviceFile(hub_.Get(), deviceCatalog_, pcCatalog_))) {
        reports_.Error(this, SPH_INITIALIZE, copyFailed);
        return E_FAIL;
    }
    reports_.Custom(this, SPH_INITIALIZE, SST_UPDATE, reading, 2, 3);
    // An unreadable catalog names no table: never copy a path that ends at the folder.
    std::string catalog;
    std::optional<std::string> table;
    if (ReadFileContent(pcCatalog_, catalog))
        table = FirstTableFileName({reinterpret_cast<const uint8_t*>(catalog.data()), catalog.size()});
    if (!table) {
        TraceLine("Mail sync: the catalog " + deviceCatalog_ + " names no table");
        reports_.Error(this, SPH_INITIALIZE, copyFailed);
        return E_FAIL;
    }
    deviceTable_ = deviceId_ + "\\" + folders[0] + "\\" + *table;
    pcTable_ = work + "\\" + *table;
    if (FAILED(CopyDeviceFile(hub_.Get(), deviceTable_, pcTable_))) {
        reports_.Error(this, SPH_INITIALIZE, copyFailed);
        return E_FAIL;
    }
    ready_ = true;
    reports_.Custom(this, SPH_INITIALIZE, SST_COMPLETE, reading, 0, 0);
    return S_OK;
}

bool SyncMail15::CopyTableBack() { return SUCCEEDED(CopyDeviceFile(hub_.Get(), pcTable_, deviceTable_)); }

HRESULT SyncMail15::Transfer() {
    reports_.Custom(this, SPH_SYNCHRONIZE_TRANSFER, SST_START, "", 0, 0);
    if (!ready_)
        return E_UNEXPECTED;
    tableChanged_ = false;
    failure_.clear();
    HRESULT hr = Send();
    if (SUCCEEDED(hr)) {
        hr = Receive();
        if (FAILED(hr) && !failure_.empty())
            failure_ = WithHeldLetters(held_, failure_);
    }
    if (FAILED(hr)) {
        // Letters marked sent or stored are on the device before the error is reported.
        if (tableChanged_ && !CopyTableBack())
            TraceLine("Mail sync: the table could not go back to the device after a failed transfer");
        if (!failure_.empty())
            reports_.Error(this, SPH_SYNCHRONIZE_TRANSFER, failure_);
        return hr;
    }
    if (held_.Any()) {
        // Letters that could not go this time stayed in the outbox.
        reports_.Error(this, SPH_SYNCHRONIZE_TRANSFER, HeldLettersText(held_));
        return E_FAIL;
    }
    reports_.Custom(this, SPH_SYNCHRONIZE_TRANSFER, SST_COMPLETE, LangText(IDS_MAILSYNC_TRANSFERRED), 0, 0);
    return S_OK;
}

HRESULT SyncMail15::Send() {
    sent_ = 0;
    held_ = {};
    MailBox15 mailbox(hub_.Get(), deviceId_, MailWorkingFolder());
    HRESULT hr = mailbox.Open(pcCatalog_);
    if (FAILED(hr))
        return hr;
    com::ComPtr<IZvMailClient> client;
    hr = CoCreateInstance(CLSID_ZvSMTP, nullptr, CLSCTX_INPROC_SERVER, IID_IZvMailClient,
                          reinterpret_cast<void**>(&client));
    if (FAILED(hr))
        return hr;
    reports_.Custom(this, SPH_SYNCHRONIZE_TRANSFER, SST_UPDATE, LangText(IDS_MAILSYNC_PREPARING_SEND), 1, 4);
    com::ComPtr<ZvLetterEnum> letters;
    std::vector<long> keys;
    hr = mailbox.BuildOutbox(letters, keys, held_);
    if (FAILED(hr)) {
        failure_ = LangText(IDS_MAILSYNC_OUTBOX_FAILED);
        return hr;
    }
    reports_.Custom(this, SPH_SYNCHRONIZE_TRANSFER, SST_UPDATE, LangText(IDS_MAILSYNC_SENDING), 2, 4);
    std::string user = UserId();
    const HRESULT sendResult = client->Send(user.data(), letters.Get());
    // The letters the server accepted are marked, also when a later one failed.
    std::vector<std::string> unsent;
    const HRESULT marked = mailbox.MarkSent(letters.Get(), keys, sent_, unsent);
    tableChanged_ = tableChanged_ || sent_ > 0;
    client->Disconnect();
    if (sendResult == E_UNEXPECTED) {
        // Letters the server refused failed alone: they stay in the outbox and are named once
        // the receiving is done.
        held_.unsendable.insert(held_.unsendable.end(), unsent.begin(), unsent.end());
        return marked;
    }
    if (FAILED(sendResult)) {
        failure_ = SendFailedText(held_.unsendable);
        return sendResult;
    }
    return marked;
}

HRESULT SyncMail15::Receive() {
    received_ = 0;
    com::ComPtr<IZvMailClient> client;
    HRESULT hr = S_OK;
    {
        MailBox15 mailbox(hub_.Get(), deviceId_, MailWorkingFolder());
        hr = mailbox.Open(pcCatalog_);
        if (FAILED(hr))
            return hr;
        hr = CoCreateInstance(CLSID_ZvPOP3, nullptr, CLSCTX_INPROC_SERVER, IID_IZvMailClient,
                              reinterpret_cast<void**>(&client));
        if (FAILED(hr))
            return hr;
        reports_.Custom(this, SPH_SYNCHRONIZE_TRANSFER, SST_UPDATE, LangText(IDS_MAILSYNC_RECEIVING), 3, 4);
        std::string user = UserId();
        for (;;) {
            ZVLETTER letter = {};
            hr = client->Receive(user.data(), &letter);
            if (FAILED(hr) || hr == S_FALSE) {
                FreeLetterStrings(letter);
                break;
            }
            const std::string text = letter.strMessage ? letter.strMessage : "";
            FreeLetterStrings(letter);
            StoreResult result = StoreResult::Stored;
            hr = mailbox.Store(text, result);
            if (FAILED(hr)) {
                client->EndReceive(1);
                break;
            }
            if (result == StoreResult::Duplicate) {
                // On the device already: the server may delete it.
                if (FAILED(client->EndReceive(0)))
                    TraceLine("Mail sync: the server keeps a letter it was asked to delete");
                continue;
            }
            lastResult_ = result;
            if (result != StoreResult::Stored) {
                client->EndReceive(1); // the server keeps the letter
                break;
            }
            tableChanged_ = true;
            // A refused DELE leaves the letter on the server; the client has passed over it, so
            // it is not stored twice in this session.
            if (FAILED(client->EndReceive(0)))
                TraceLine("Mail sync: the server keeps a letter it was asked to delete");
        }
        received_ = mailbox.Stored();
    }
    // The device holds the table before the server may delete what was fetched; without it the
    // connection closes without ending the POP3 session, and the server keeps every letter.
    if (!CopyTableBack()) {
        client->Reconnect(nullptr, 0);
        tableChanged_ = false; // reported here; a second attempt would fail alike
        failure_ = LangFormat(IDS_MAILSYNC_FILE_COPY_FAILED, kCatalogName);
        return E_FAIL;
    }
    tableChanged_ = false;
    client->Disconnect();
    if (FAILED(hr)) {
        failure_ = LangText(IDS_MAILSYNC_RECEIVE_FAILED);
        return hr;
    }
    return S_OK;
}

HRESULT SyncMail15::Finalize() {
    const std::string finishing = LangText(IDS_MAILSYNC_FINISHING);
    reports_.Custom(this, SPH_FINALIZE, SST_START, finishing, 0, 0);
    if (ready_ && !CopyTableBack()) {
        reports_.Error(this, SPH_FINALIZE, LangFormat(IDS_MAILSYNC_FILE_COPY_FAILED, kCatalogName));
        return E_FAIL;
    }
    reports_.Custom(this, SPH_FINALIZE, SST_UPDATE, finishing, 1, 2);
    if (!pcCatalog_.empty())
        DeleteFileA(pcCatalog_.c_str());
    if (!pcTable_.empty())
        DeleteFileA(pcTable_.c_str());
    ready_ = false;
    if (lastResult_ == StoreResult::NoSpace) {
        reports_.Error(this, SPH_FINALIZE, LangText(IDS_MAILSYNC_NO_SPACE));
        return E_FAIL;
    }
    if (lastResult_ == StoreResult::Refused) {
        reports_.Error(this, SPH_FINALIZE, LangText(IDS_MAILSYNC_MAILBOX_FULL));
        return E_FAIL;
    }
    reports_.Custom(this, SPH_FINALIZE, SST_COMPLETE, LangFormat(IDS_MAILSYNC_DONE, sent_, received_), 0, 0);
    return S_OK;
}

} // namespace tv::mail
