#include "SyncMail10.h"
#include "Crc32.h"
#include "DeviceTime.h"
#include "MailAddress.h"
#include "MailConnection.h"
#include "Devlink10Ids.h"
#include "MailSyncIds.h"
#include "MimeHeaders.h"
#include "ZvLetterEnum.h"
#include "ZvSMTP.h"
#include <algorithm>
#include <ctime>
#include <set>

namespace tv::mail {
namespace {

constexpr GUID kItemTypeMail10 = {0x795B5DBA, 0xE05C, 0x419F, {0x96, 0x31, 0xB4, 0x4C, 0x1A, 0x92, 0x9A, 0x55}};
constexpr char kMailboxName[] = "email.dat";

// Minutes since 2000-01-01 00:00 local time, as a sent record keeps them (24 bits).
uint32_t MinutesSince2000Now() {
    SYSTEMTIME local;
    GetLocalTime(&local);
    const uint32_t now = portable::DeviceTimeFromCalendar(
        {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond});
    const uint32_t base = portable::DeviceTimeFromCalendar({2000, 1, 1, 0, 0, 0});
    if (now == portable::kNoDeviceTime || now < base)
        return 0;
    return ((now - base) / 60) & 0xFFFFFFu;
}

std::string WithoutCr(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// Takes over the three strings of a received letter.
struct OwnedLetter {
    ZVLETTER letter = {};
    ~OwnedLetter() { FreeLetterStrings(letter); }
    static std::string Text(const char* text) { return text ? text : ""; }
};

} // namespace

STDMETHODIMP SyncMail10::GetUserFriendlyName(LONG nMaxLen, unsigned char* name) {
    return CopyFriendlyName(IDS_MAILSYNC_NAME10, nMaxLen, name);
}

STDMETHODIMP SyncMail10::GetItemTypes(LONG nMaxElems, LONG* pnElems, ZVSYNCITEMTYPE* pTypes) {
    return FillMailItemTypes(kItemTypeMail10, IDS_MAILSYNC_TYPE_MAIL10, nMaxElems, pnElems, pTypes);
}

STDMETHODIMP SyncMail10::IsCompatible(LPSTR szDeviceID) { return CheckDeviceModel(hub_.Get(), szDeviceID, 16); }

// The step's own result is returned.
STDMETHODIMP SyncMail10::Synchronize(ZVSYNCPHASE phase) { return RunPhase(phase); }

HRESULT SyncMail10::FetchMailbox(const std::string& folder, std::optional<MailboxFile>& mailbox) {
    mailbox.reset();
    if (FAILED(CopyDeviceFile(hub_.Get(), deviceId_ + "\\" + folder + "\\" + kMailboxName, pcPath_))) {
        reports_.Error(this, SPH_INITIALIZE, LangFormat(IDS_MAILSYNC_FILE_COPY_FAILED, kMailboxName));
        return E_FAIL;
    }
    std::string bytes, reason;
    if (ReadFileContent(pcPath_, bytes))
        mailbox = MailboxFile::Parse({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, &reason);
    if (!mailbox) {
        TraceLine("Mail sync: the mailbox of " + folder + " cannot be used: " + reason);
        reports_.Error(this, SPH_INITIALIZE, LangText(IDS_MAILSYNC_OUTBOX_FAILED));
        return E_FAIL;
    }
    return S_OK;
}

HRESULT SyncMail10::Initialize() {
    mailbox_.reset();
    devicePath_.clear();
    pcPath_ = MailWorkingFolder() + "\\" + kMailboxName;
    if (deviceId_.empty())
        return E_UNEXPECTED;
    const std::string reading = LangText(IDS_MAILSYNC_READING);
    reports_.Custom(this, SPH_INITIALIZE, SST_START, reading, 0, 0);
    std::vector<std::string> folders;
    HRESULT hr = ListRootFolders(hub_.Get(), deviceId_, folders);
    if (FAILED(hr))
        return hr;
    reports_.Custom(this, SPH_INITIALIZE, SST_UPDATE, reading, 1, 4);
    if (folders.empty())
        return E_UNEXPECTED;

    std::optional<MailboxFile> mailbox;
    hr = FetchMailbox(folders[0], mailbox);
    if (FAILED(hr))
        return hr;
    reports_.Custom(this, SPH_INITIALIZE, SST_UPDATE, reading, 2, 4);
    std::string folder = folders[0];
    // A flags byte names the folder that holds the owner's mailbox.
    const UINT folderText = mailbox->Flags() == 1   ? IDS_DEVICE10_PLAYER_MEDIUM
                            : mailbox->Flags() == 2 ? IDS_DEVICE10_CARD_MEDIUM
                                                    : 0;
    if (mailbox->Flags() != 0 && folderText) {
        const std::string ownerFolder = LangText(folderText);
        auto match = std::find_if(folders.begin(), folders.end(), [&](const std::string& name) {
            return !ownerFolder.empty() && lstrcmpiA(name.c_str(), ownerFolder.c_str()) == 0;
        });
        if (match != folders.end()) {
            reports_.Custom(this, SPH_INITIALIZE, SST_UPDATE, reading, 3, 4);
            hr = FetchMailbox(*match, mailbox);
            if (FAILED(hr))
                return hr;
            const uint32_t owner = OwnerNumberFromUserId(UserId());
            if (owner == 0 || mailbox->Owner() != owner) {
                mailbox.reset();
                reports_.Error(this, SPH_INITIALIZE, LangText(IDS_MAILSYNC_OUTBOX_FAILED));
                return E_FAIL;
            }
            folder = *match;
        } else {
            // The first file stays in use: copy it again over the PC copy.
            hr = FetchMailbox(folders[0], mailbox);
            if (FAILED(hr))
                return hr;
        }
    }
    devicePath_ = deviceId_ + "\\" + folder + "\\" + kMailboxName;
    mailbox_ = std::move(mailbox);
    reports_.Custom(this, SPH_INITIALIZE, SST_COMPLETE, reading, 0, 0);
    return S_OK;
}

bool SyncMail10::StoreMailbox() {
    const std::vector<uint8_t> bytes = mailbox_->Serialize();
    if (!ReplaceFileContent(pcPath_, bytes.data(), bytes.size()))
        return false;
    return SUCCEEDED(CopyDeviceFile(hub_.Get(), pcPath_, devicePath_));
}

HRESULT SyncMail10::Transfer() {
    mailboxFull_ = false;
    sent_ = received_ = 0;
    reports_.Custom(this, SPH_SYNCHRONIZE_TRANSFER, SST_START, "", 0, 0);
    if (!mailbox_) {
        reports_.Error(this, SPH_SYNCHRONIZE_TRANSFER, LangText(IDS_MAILSYNC_OUTBOX_FAILED));
        return E_UNEXPECTED;
    }
    com::ComPtr<IZvMailClient> client;
    HRESULT hr = CoCreateInstance(CLSID_ZvSMTP, nullptr, CLSCTX_INPROC_SERVER, IID_IZvMailClient,
                                  reinterpret_cast<void**>(&client));
    if (FAILED(hr))
        return hr;
    reports_.Custom(this, SPH_SYNCHRONIZE_TRANSFER, SST_UPDATE, LangText(IDS_MAILSYNC_PREPARING_SEND), 1, 4);
    unsigned char address[MAX_PATH] = {};
    hr = client->GetAddress(MAX_PATH, address);
    if (FAILED(hr))
        return hr;
    hr = Send(client.Get());
    if (SUCCEEDED(hr))
        hr = Receive(client.Get());
    client->Disconnect();
    if (FAILED(hr))
        return hr;
    if (held_.Any()) {
        // Letters that could not go this time stayed to be sent.
        reports_.Error(this, SPH_SYNCHRONIZE_TRANSFER, HeldLettersText(held_));
        return E_FAIL;
    }
    reports_.Custom(this, SPH_SYNCHRONIZE_TRANSFER, SST_COMPLETE, LangText(IDS_MAILSYNC_RECEIVING), 0, 0);
    return S_OK;
}

std::string SyncMail10::MessageText(const MailboxLetter& letter) const {
    const std::string sender = letter.sender.empty() ? std::string() : letter.sender.substr(1);
    std::string text = "Date: " + LetterDateNow() + "\r\nFrom: " + letter.sender + " <" + sender + "@" +
                       kServiceMailDomain + ">\r\nSubject: " + letter.subject +
                       "\r\nTo: " + letter.recipient + "\r\n\r\n" + letter.body;
    const size_t end = text.find("\r\n.\r\n");
    if (end == std::string::npos || end + 5 != text.size())
        text += "\r\n.\r\n";
    return text;
}

HRESULT SyncMail10::Send(IZvMailClient* client) {
    com::ComPtr<ZvLetterEnum> letters;
    HRESULT hr = ZvLetterEnum::Create(letters);
    std::vector<size_t> outbox;
    held_ = {};
    for (size_t i = 0; SUCCEEDED(hr) && i < mailbox_->Count(); ++i) {
        const MailboxLetter& letter = mailbox_->Letter(i);
        if (letter.status != kMailToSend)
            continue;
        if (!CanSendTo(letter.recipient.c_str())) {
            TraceLine("Mail sync: the recipient " + ShownText(letter.recipient) +
                      " cannot go on a command line");
            held_.unsendable.push_back(letter.recipient); // stays to be sent until the user mends it
            continue;
        }
        hr = letters->Append(letter.sender.c_str(), letter.recipient.c_str(), MessageText(letter).c_str());
        outbox.push_back(i);
    }
    if (FAILED(hr)) {
        reports_.Error(this, SPH_SYNCHRONIZE_TRANSFER, LangText(IDS_MAILSYNC_OUTBOX_FAILED));
        return hr;
    }
    reports_.Custom(this, SPH_SYNCHRONIZE_TRANSFER, SST_UPDATE, LangText(IDS_MAILSYNC_SENDING), 2, 4);
    std::string user = UserId();
    const HRESULT sendResult = client->Send(user.data(), letters.Get());

    // Every letter the server accepted is marked sent, also when a later one failed.
    HRESULT marked = S_OK;
    const uint32_t stamp = MinutesSince2000Now();
    letters->Reset();
    for (size_t index : outbox) {
        ZVLETTER letter = {};
        long fetched = 0;
        if (FAILED(letters->Next(1, &letter, &fetched)) || fetched == 0) {
            marked = E_FAIL;
            break;
        }
        if (!letter.strFrom && !letter.strTo && !letter.strMessage) {
            mailbox_->MarkSent(index, stamp);
            ++sent_;
        } else if (sendResult == E_UNEXPECTED) {
            held_.unsendable.push_back(mailbox_->Letter(index).recipient);
        }
    }
    if (sent_ > 0 && !StoreMailbox()) {
        reports_.Error(this, SPH_SYNCHRONIZE_TRANSFER, LangFormat(IDS_MAILSYNC_FILE_TRANSFER_FAILED, kMailboxName));
        return E_FAIL;
    }
    // Letters the server refused failed alone: they stay to be sent and are named once the
    // receiving is done. Any other failure ends the transfer here.
    if (FAILED(sendResult) && sendResult != E_UNEXPECTED) {
        reports_.Error(this, SPH_SYNCHRONIZE_TRANSFER, SendFailedText(held_.unsendable));
        return sendResult;
    }
    return marked;
}

HRESULT SyncMail10::Receive(IZvMailClient* client) {
    reports_.Custom(this, SPH_SYNCHRONIZE_TRANSFER, SST_UPDATE, LangText(IDS_MAILSYNC_RECEIVING), 3, 4);
    std::string user = UserId();
    std::set<uint32_t> offered; // checksums of this session's letters; each one not accepted ends it
    for (;;) {
        OwnedLetter received;
        HRESULT hr = client->Receive(user.data(), &received.letter);
        if (FAILED(hr)) {
            reports_.Error(this, SPH_SYNCHRONIZE_TRANSFER,
                           WithHeldLetters(held_, LangText(IDS_MAILSYNC_RECEIVE_FAILED)));
            return hr;
        }
        if (hr == S_FALSE)
            return S_OK;
        // A server that delivers an accepted letter again would do so for ever: the letter is on
        // the device, and the receiving ends; the rest waits for the next session.
        const std::string whole = OwnedLetter::Text(received.letter.strFrom) + '\n' +
                                  OwnedLetter::Text(received.letter.strTo) + '\n' +
                                  OwnedLetter::Text(received.letter.strMessage);
        const uint32_t checksum =
            portable::Crc32({reinterpret_cast<const uint8_t*>(whole.data()), whole.size()});
        if (!offered.insert(checksum).second) {
            TraceLine("Mail sync: the server delivers a letter it had accepted again; receiving ends");
            client->EndReceive(0);
            return S_OK;
        }
        const MailHeaders headers = ReadMailHeaders(OwnedLetter::Text(received.letter.strMessage));
        MailboxLetter letter;
        letter.status = kMailReceived;
        letter.sender = OwnedLetter::Text(received.letter.strFrom);
        letter.recipient = OwnedLetter::Text(received.letter.strTo);
        letter.subject = headers.subject;
        letter.body = WithoutCr(headers.body);
        letter.messageId = headers.messageId.empty()
                               ? MakeMessageId(static_cast<uint64_t>(std::time(nullptr)), mailbox_->Owner())
                               : headers.messageId;
        switch (mailbox_->Add(letter)) {
        case MailboxAdd::Added:
            // The device holds the letter before the server may delete it.
            if (!StoreMailbox()) {
                client->EndReceive(1);
                reports_.Error(
                    this, SPH_SYNCHRONIZE_TRANSFER,
                    WithHeldLetters(held_, LangFormat(IDS_MAILSYNC_FILE_TRANSFER_FAILED, kMailboxName)));
                return E_FAIL;
            }
            client->EndReceive(0);
            ++received_;
            break;
        case MailboxAdd::Duplicate:
            client->EndReceive(0);
            break;
        case MailboxAdd::Unbuildable:
            TraceLine("Mail sync: a letter from " + letter.sender + " cannot be stored on the device");
            [[fallthrough]];
        case MailboxAdd::Full:
            // A letter not added stays on the server and ends the receiving, so a server that
            // offers it again finds nobody asking; Finalize reports the full mailbox.
            mailboxFull_ = true;
            client->EndReceive(1);
            return S_OK;
        }
    }
}

HRESULT SyncMail10::Finalize() {
    const std::string finishing = LangText(IDS_MAILSYNC_FINISHING);
    reports_.Custom(this, SPH_FINALIZE, SST_START, finishing, 0, 0);
    reports_.Custom(this, SPH_FINALIZE, SST_UPDATE, finishing, 1, 3);
    if (mailbox_ && !StoreMailbox()) {
        reports_.Error(this, SPH_FINALIZE, LangFormat(IDS_MAILSYNC_FILE_TRANSFER_FAILED, kMailboxName));
        return E_FAIL;
    }
    reports_.Custom(this, SPH_FINALIZE, SST_UPDATE, finishing, 2, 3);
    if (!pcPath_.empty())
        DeleteFileA(pcPath_.c_str());
    mailbox_.reset();
    if (mailboxFull_) {
        reports_.Error(this, SPH_FINALIZE, LangText(IDS_MAILSYNC_MAILBOX_FULL));
        return E_FAIL;
    }
    reports_.Custom(this, SPH_FINALIZE, SST_COMPLETE, LangFormat(IDS_MAILSYNC_DONE, sent_, received_), 0, 0);
    return S_OK;
}

} // namespace tv::mail
