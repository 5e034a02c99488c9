#include "MailBox15.h"
#include "DeviceTime.h"
#include "MailConnection.h"
#include "MailFields.h"
#include "Device15Ids.h"
#include "MailSyncIds.h"
#include "MailSyncSupport.h"
#include "MimeBody.h"
#include "MimeHeaders.h"
#include <algorithm>
#include <cstdlib>
#include <ctime>

namespace tv::mail {
namespace {

constexpr long kFieldStatus = 0;
constexpr long kFieldTime = 1;
constexpr long kFieldMessageId = 3;
constexpr long kFieldSender = 4;
constexpr long kFieldRecipients = 5;
constexpr long kFieldSubject = 6;
constexpr long kFieldBody = 7;
constexpr long kFieldAttachments = 8;

// The device time of the PC's local time now.
DWORD DeviceTimeNow() {
    SYSTEMTIME local;
    GetLocalTime(&local);
    return portable::DeviceTimeFromCalendar(
        {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond});
}

HRESULT SetText(IZvDBRecord* record, long field, const std::string& value) {
    std::string copy = value;
    return record->SetString(field, copy.data());
}

void DeleteFiles(const std::string& folder, const std::vector<std::pair<std::string, std::string>>& files) {
    for (const auto& file : files)
        DeleteFileA((folder + "\\" + file.first).c_str());
}

} // namespace

STDMETHODIMP ZvMailCondition::IsTrue(IZvDBRecord* record) {
    if (!record)
        return E_FAIL;
    BYTE status = 0;
    HRESULT hr = record->GetByte(kFieldStatus, &status);
    if (FAILED(hr))
        return hr;
    return (status & mask_) ? S_OK : S_FALSE;
}

HRESULT MailBox15::Open(const std::string& pcCatalog) {
    HRESULT hr = CoCreateInstance(CLSID_ZvDatabaseMgr, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvDBEngine),
                                  reinterpret_cast<void**>(&engine_));
    if (FAILED(hr))
        return hr;
    std::string path = pcCatalog;
    hr = engine_->OpenConnection(path.data(), &connection_);
    if (FAILED(hr))
        return hr;
    hr = connection_->GetTableByIdx(0, &table_);
    if (FAILED(hr))
        return hr;
    if (!table_)
        return E_FAIL;
    // Names of stored attachments and of the applications beside them: a new name takes none.
    names_ = {};
    for (const char* pattern : {"*.app", "*.att"}) {
        std::string wildcard = deviceId_ + "\\default/System/EMAIL/" + pattern;
        com::ComPtr<IZvEnumFileItems> items;
        if (SUCCEEDED(hub_->FindItems(wildcard.data(), &items)))
            for (const std::string& name : ListedNames(items.Get()))
                names_.Use(LastPathElement(name));
    }
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    return S_OK;
}

HRESULT MailBox15::ReadString(IZvDBRecord* record, long field, std::string& value) const {
    long size = 0;
    HRESULT hr = record->GetSize(field, &size);
    if (FAILED(hr))
        return hr;
    std::vector<char> buffer(static_cast<size_t>(std::max(size, 0L)) + 1, '\0');
    hr = record->GetString(field, static_cast<long>(buffer.size()), buffer.data());
    if (FAILED(hr))
        return hr;
    value.assign(buffer.data());
    return S_OK;
}

HRESULT MailBox15::MessageText(const std::string& sender, const std::string& recipients, const std::string& subject,
                               const std::string& body, const std::string& descriptor, std::string& text) const {
    ZvMimeBody builder;
    builder.AddPlainText(body);
    for (const AttachmentEntry& entry : ParseAttachmentDescriptor(descriptor)) {
        const std::string device = deviceId_ + "\\" + entry.devicePath.substr(entry.devicePath.empty() ? 0 : 1);
        const std::string pc = workFolder_ + "\\" + LastPathElement(entry.name);
        HRESULT hr = CopyDeviceFile(hub_, device, pc);
        const bool attached = SUCCEEDED(hr) && builder.AttachFile(pc);
        DeleteFileA(pc.c_str());
        if (!attached) {
            TraceLine("Mail sync: attachment " + entry.name + " of a letter to " + recipients + " cannot be read");
            return FAILED(hr) ? hr : E_FAIL;
        }
    }
    text = "From: " + deviceId_ + "<" + sender + ">\r\nTo: " + recipients + "\r\nSubject: " + subject +
           "\r\nDate: " + LetterDateNow() + "\r\n";
    text += builder.Attachments().empty() ? "\r\n" + builder.PlainText() : builder.MultipartText();
    const size_t end = text.find("\r\n.\r\n");
    if (end == std::string::npos || end + 5 != text.size())
        text += "\r\n.\r\n";
    return S_OK;
}

HRESULT MailBox15::OpenOutbox(com::ComPtr<IZvDBCursor>& cursor) const {
    com::ComPtr<ZvMailCondition> outbox;
    HRESULT hr = com::MakeComObject(outbox, kOutboxMask);
    if (FAILED(hr))
        return hr;
    return table_->OpenCursor(outbox.Get(), &cursor);
}

HRESULT MailBox15::BuildOutbox(com::ComPtr<ZvLetterEnum>& letters, std::vector<long>& keys,
                               HeldLetters& held) {
    keys.clear();
    held = {};
    HRESULT hr = ZvLetterEnum::Create(letters);
    if (FAILED(hr))
        return hr;
    com::ComPtr<IZvDBCursor> cursor;
    hr = OpenOutbox(cursor);
    if (FAILED(hr))
        return hr;
    long count = 0;
    hr = cursor->GetRecordCount(&count);
    if (FAILED(hr))
        return hr;
    for (long i = 0; i < count; ++i) {
        com::ComPtr<IZvDBRecord> record;
        hr = cursor->GetAt(i, &record);
        if (FAILED(hr))
            return hr;
        DWORD time = 0;
        long key = 0;
        std::string sender, recipients, subject, body, descriptor;
        if (FAILED(hr = record->GetKey(&key)) || FAILED(hr = record->GetDword(kFieldTime, &time)) ||
            FAILED(hr = ReadString(record.Get(), kFieldSender, sender)) ||
            FAILED(hr = ReadString(record.Get(), kFieldRecipients, recipients)) ||
            FAILED(hr = ReadString(record.Get(), kFieldSubject, subject)) ||
            FAILED(hr = ReadString(record.Get(), kFieldBody, body)) ||
            FAILED(hr = ReadString(record.Get(), kFieldAttachments, descriptor)))
            return hr;
        if (!CanSendTo(recipients.c_str())) {
            TraceLine("Mail sync: a recipient of the letter to " + ShownText(recipients) +
                      " cannot go on a command line");
            held.unsendable.push_back(recipients); // stays in the outbox until the user mends it
            continue;
        }
        std::string text;
        if (FAILED(MessageText(sender, recipients, subject, body, descriptor, text))) {
            ++held.unreadable; // stays in the outbox for the next session
            continue;
        }
        hr = letters->Append(sender.c_str(), recipients.c_str(), text.c_str());
        if (FAILED(hr))
            return hr;
        keys.push_back(key);
    }
    return S_OK;
}

HRESULT MailBox15::MarkSent(IZvEnumLetters* letters, const std::vector<long>& keys, long& marked,
                            std::vector<std::string>& unsent) {
    marked = 0;
    unsent.clear();
    com::ComPtr<IZvDBCursor> cursor;
    HRESULT hr = OpenOutbox(cursor);
    if (FAILED(hr))
        return hr;
    letters->Reset();
    for (long key : keys) {
        ZVLETTER letter = {};
        long fetched = 0;
        if (FAILED(letters->Next(1, &letter, &fetched)) || fetched == 0)
            return E_FAIL;
        if (letter.strFrom || letter.strTo || letter.strMessage) {
            unsent.emplace_back(letter.strTo ? letter.strTo : "");
            continue;
        }
        long index = 0;
        com::ComPtr<IZvDBRecord> record;
        if (FAILED(hr = cursor->GetIndexByKey(key, &index)) || FAILED(hr = cursor->EditAt(index, &record)) ||
            FAILED(hr = record->SetByte(kFieldStatus, kStatusSent)) || FAILED(hr = record->Commit()))
            return hr;
        ++marked;
    }
    return S_OK;
}

void MailBox15::RemoveFromDevice(const std::vector<std::string>& stored) {
    for (const std::string& name : stored) {
        const std::string path = deviceId_ + "\\default/System/EMAIL/" + name;
        if (FAILED(DeleteDeviceFile(hub_, path)))
            TraceLine("Mail sync: " + path + " of a letter that was not stored could not be deleted");
    }
}

HRESULT MailBox15::CopyAttachmentsToDevice(const std::vector<std::pair<std::string, std::string>>& files,
                                           std::string& descriptor) {
    if (files.empty())
        return S_OK;
    std::string folder = deviceId_ + "\\default/System/EMAIL";
    hub_->CreateFolder(folder.data());
    std::vector<std::string> copied;
    for (const auto& [stored, name] : files) {
        const std::string pc = workFolder_ + "\\" + stored;
        HRESULT hr = CopyDeviceFile(hub_, pc, deviceId_ + "\\default/System/EMAIL/" + stored);
        if (FAILED(hr)) {
            RemoveFromDevice(copied); // no record will name them
            return hr;
        }
        copied.push_back(stored);
        DeleteFileA(pc.c_str());
        AppendAttachmentEntry(descriptor, name, stored);
    }
    return S_OK;
}

HRESULT MailBox15::HoldsMessageId(const std::string& id, bool& held) {
    held = false;
    if (id.empty())
        return S_OK;
    if (!messageIds_) {
        com::ComPtr<IZvDBCursor> cursor;
        long count = 0;
        HRESULT hr = table_->OpenWideCursor(&cursor);
        if (FAILED(hr) || FAILED(hr = cursor->GetRecordCount(&count)))
            return hr;
        std::set<std::string> ids;
        for (long i = 0; i < count; ++i) {
            com::ComPtr<IZvDBRecord> record;
            std::string value;
            if (FAILED(hr = cursor->GetAt(i, &record)) ||
                FAILED(hr = ReadString(record.Get(), kFieldMessageId, value)))
                return hr;
            if (!value.empty())
                ids.insert(std::move(value));
        }
        messageIds_ = std::move(ids);
    }
    held = messageIds_->count(id) > 0;
    return S_OK;
}

HRESULT MailBox15::Store(const std::string& text, StoreResult& result) {
    result = StoreResult::Stored;
    const MailHeaders headers = ReadMailHeaders(text);
    // A session cut off before its end leaves the letters it stored on the server: they come
    // again, and the server may delete them now.
    bool held = false;
    HRESULT hr = HoldsMessageId(headers.messageId, held);
    if (FAILED(hr))
        return hr;
    if (held) {
        result = StoreResult::Duplicate;
        return S_OK;
    }

    VOLUMEINFO volume = {};
    std::string volumePath = deviceId_ + "\\" + LangText(IDS_DEVICE15_MAIN_LABEL);
    hr = hub_->GetVolumeInfo(volumePath.data(), &volume);
    if (FAILED(hr))
        return hr;
    const uint64_t freeBytes = uint64_t{static_cast<uint32_t>(volume.nFreeBlocks)} *
                               static_cast<uint32_t>(volume.nBlockSize);

    std::string body = headers.body;
    std::vector<std::pair<std::string, std::string>> files; // stored name, attachment name
    if (headers.mime) {
        ZvMimeBody mime;
        mime.Parse(headers.body);
        body = mime.PlainText();
        uint64_t sum = 0;
        for (size_t i = 0; i < mime.Attachments().size(); ++i) {
            if (mime.Attachments()[i].data.empty())
                continue;
            const std::optional<std::string> stored = names_.Draw(std::rand);
            if (!stored) {
                TraceLine("Mail sync: no free name for attachment " + mime.Attachments()[i].name +
                          "; the server keeps the letter");
                DeleteFiles(workFolder_, files);
                return E_FAIL;
            }
            const std::string pc = workFolder_ + "\\" + *stored;
            if (!mime.StoreAttachment(i, pc)) {
                TraceLine("Mail sync: attachment " + mime.Attachments()[i].name + " cannot be written to " +
                          pc + "; the server keeps the letter");
                DeleteFileA(pc.c_str());
                DeleteFiles(workFolder_, files);
                return E_FAIL;
            }
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (GetFileAttributesExA(pc.c_str(), GetFileExInfoStandard, &data))
                sum += (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
            files.emplace_back(*stored, mime.Attachments()[i].name);
        }
        if (sum > freeBytes) {
            DeleteFiles(workFolder_, files);
            result = StoreResult::NoSpace;
            return S_OK;
        }
    } else {
        plainTotal_ += text.size();
        if (plainTotal_ >= freeBytes) {
            result = StoreResult::NoSpace;
            return S_OK;
        }
    }
    const std::string sender = AngleAddress(headers.from);
    body.erase(std::remove(body.begin(), body.end(), '\r'), body.end());

    com::ComPtr<IZvDBCursor> cursor;
    hr = table_->OpenNullCursor(&cursor);
    std::string descriptor;
    if (SUCCEEDED(hr))
        hr = CopyAttachmentsToDevice(files, descriptor);
    if (FAILED(hr)) {
        DeleteFiles(workFolder_, files);
        return hr; // the server keeps the letter
    }
    com::ComPtr<IZvDBRecord> record;
    if (FAILED(cursor->Add(&record)) || FAILED(record->SetByte(kFieldStatus, kStatusReceived)) ||
        FAILED(record->SetDword(kFieldTime, DeviceTimeNow())) || FAILED(SetText(record.Get(), kFieldSender, sender)) ||
        FAILED(SetText(record.Get(), kFieldRecipients, headers.to)) ||
        FAILED(SetText(record.Get(), kFieldSubject, headers.subject)) ||
        FAILED(SetText(record.Get(), kFieldBody, body)) ||
        FAILED(SetText(record.Get(), kFieldMessageId, headers.messageId)) ||
        (!descriptor.empty() && FAILED(SetText(record.Get(), kFieldAttachments, descriptor))) ||
        FAILED(record->Commit())) {
        std::vector<std::string> copied;
        for (const auto& file : files)
            copied.push_back(file.first);
        RemoveFromDevice(copied); // no record names them
        result = StoreResult::Refused;
        return S_OK;
    }
    ++stored_;
    if (messageIds_ && !headers.messageId.empty())
        messageIds_->insert(headers.messageId);
    return S_OK;
}

} // namespace tv::mail
