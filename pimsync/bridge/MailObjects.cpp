#include "MailObjects.h"
#include "AnsiText.h"
#include "BridgeFormats.h"
#include "ErrorInfo.h"
#include <oleauto.h>

namespace tv::pimbridge {

namespace {

using com::ComPtr;

// MAPI's result when a folder's contents were never counted.
constexpr HRESULT kRowsNotRead = static_cast<HRESULT>(0x8001013F);

// Property tags of the fields a message object reads and writes.
constexpr ULONG kSenderName = 0x0C1A001E, kSenderAddress = 0x0C1F001E, kSenderAddressType = 0x0C1E001E;
constexpr ULONG kSentRepresentingName = 0x0042001E, kSentRepresentingAddress = 0x0065001E,
                kSentRepresentingAddressType = 0x0064001E;
constexpr ULONG kSenderSearchName = 0x005D001E, kSenderSearchAddress = 0x0069001E,
                kSenderSearchAddressType = 0x0068001E;
constexpr ULONG kRecipientType = 0x0C150003, kDisplayName = 0x3001001E, kAddressType = 0x3002001E,
                kEmailAddress = 0x3003001E;
constexpr ULONG kImportance = 0x00170003, kLastModification = 0x30080040, kDeliveryTime = 0x0E060040,
                kClientSubmitTime = 0x004E0040, kBody = 0x1000001E, kSubject = 0x0037001E, kFlags = 0x0E070003,
                kEntryId = 0x0FFF0102;
constexpr ULONG kReadBit = 0x1;

HRESULT NewBstr(const std::string& text, BSTR* out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    return com::AnsiToBstr(text, out);
}

SPropValue TextProp(ULONG tag, const std::string& text) {
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.lpszA = const_cast<LPSTR>(text.c_str());
    return value;
}

HRESULT SetProps(IMessage* message, std::vector<SPropValue> values) {
    return message->SetProps(static_cast<ULONG>(values.size()), values.data(), nullptr);
}

// A missing property reads as an empty text.
HRESULT ReadTextProp(IMessage* message, ULONG tag, std::string& text) {
    text.clear();
    MapiBuffer<SPropValue> value;
    HRESULT hr = GetOneProp(message, tag, value);
    if (hr == MAPI_E_NOT_FOUND)
        return S_OK;
    if (SUCCEEDED(hr) && value->Value.lpszA)
        text = value->Value.lpszA;
    return hr;
}

HRESULT FileTimeToDate(const FILETIME& time, DATE* date) {
    SYSTEMTIME system{};
    if (!FileTimeToSystemTime(&time, &system) || !SystemTimeToVariantTime(&system, date))
        return E_FAIL;
    return S_OK;
}

HRESULT DateToFileTime(DATE date, FILETIME& time) {
    SYSTEMTIME system{};
    if (!VariantTimeToSystemTime(date, &system) || !SystemTimeToFileTime(&system, &time))
        return E_FAIL;
    return S_OK;
}

// The sender as it is written into a message: name, address and address type, each under the
// sender's, the sent-representing and the search-key properties.
HRESULT WriteSender(IMessage* message, const RecipientData& sender) {
    if (sender.name.empty() || sender.address.empty())
        return E_FAIL;
    const std::string smtp = "SMTP";
    return SetProps(message, {TextProp(kSenderName, sender.name), TextProp(kSenderSearchName, sender.name),
                              TextProp(kSentRepresentingName, sender.name), TextProp(kSenderAddress, sender.address),
                              TextProp(kSenderSearchAddress, sender.address),
                              TextProp(kSentRepresentingAddress, sender.address),
                              TextProp(kSenderAddressType, smtp), TextProp(kSenderSearchAddressType, smtp),
                              TextProp(kSentRepresentingAddressType, smtp)});
}

struct AdrListFree {
    void operator()(ADRLIST* list) const {
        if (list)
            FreePadrlist(list);
    }
};

HRESULT CopyText(const std::string& text, void* base, LPSTR& out) {
    void* copy = nullptr;
    HRESULT hr = MAPIAllocateMore(static_cast<ULONG>(text.size() + 1), base, &copy);
    if (SUCCEEDED(hr)) {
        memcpy(copy, text.c_str(), text.size() + 1);
        out = static_cast<LPSTR>(copy);
    }
    return hr;
}

// Replaces all recipients of the message with `list` (address type "SMTP").
HRESULT WriteRecipients(IMessage* message, const std::vector<RecipientData>& list) {
    void* block = nullptr;
    HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(list.size())), &block);
    if (FAILED(hr))
        return hr;
    std::unique_ptr<ADRLIST, AdrListFree> entries(static_cast<ADRLIST*>(block));
    entries->cEntries = 0;
    for (const RecipientData& recipient : list) {
        void* props = nullptr;
        hr = MAPIAllocateBuffer(4 * sizeof(SPropValue), &props);
        if (FAILED(hr))
            return hr;
        ADRENTRY& entry = entries->aEntries[entries->cEntries++];
        entry.ulReserved1 = 0;
        entry.cValues = 4;
        entry.rgPropVals = static_cast<SPropValue*>(props);
        SPropValue* values = entry.rgPropVals;
        values[0] = SPropValue{};
        values[0].ulPropTag = kRecipientType;
        values[0].Value.l = recipient.type;
        values[1].ulPropTag = kDisplayName;
        values[2].ulPropTag = kEmailAddress;
        values[3].ulPropTag = kAddressType;
        hr = CopyText(recipient.name, props, values[1].Value.lpszA);
        if (SUCCEEDED(hr))
            hr = CopyText(recipient.address, props, values[2].Value.lpszA);
        if (SUCCEEDED(hr))
            hr = CopyText("SMTP", props, values[3].Value.lpszA);
        if (FAILED(hr))
            return hr;
    }
    return message->ModifyRecipients(0, entries.get());
}

bool ValidRecipientType(long type) { return type >= 1 && type <= 3; }

HRESULT ReadRecipientObject(IUnknown* object, RecipientData& data) {
    ComPtr<IZvRecipient> recipient;
    if (!object || FAILED(object->QueryInterface(IID_IZvRecipient, reinterpret_cast<void**>(&recipient))))
        return E_FAIL;
    com::UniqueBstr name, address;
    HRESULT hr = recipient->GetRecipientName(name.Put());
    if (SUCCEEDED(hr))
        hr = recipient->GetRecipientEmailAddress(address.Put());
    if (SUCCEEDED(hr))
        hr = recipient->GetRecipientType(&data.type);
    data.name = com::ToAnsi(name.Get());
    data.address = com::ToAnsi(address.Get());
    return hr;
}

HRESULT ReadRecipientList(IUnknown* object, std::vector<RecipientData>& list) {
    list.clear();
    ComPtr<IZvRecipients> recipients;
    if (!object || FAILED(object->QueryInterface(IID_IZvRecipients, reinterpret_cast<void**>(&recipients))))
        return E_FAIL;
    long count = 0;
    HRESULT hr = recipients->Count(&count);
    for (long i = 0; SUCCEEDED(hr) && i < count; ++i) {
        ComPtr<IZvRecipient> recipient;
        hr = recipients->GetRecipient(i, &recipient);
        RecipientData data;
        if (SUCCEEDED(hr))
            hr = ReadRecipientObject(recipient.Get(), data);
        list.push_back(data);
    }
    return hr;
}

template <class T, class I, class... Args>
HRESULT Hand(I** out, Args&&... args) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    com::ComPtr<T> object;
    HRESULT hr = com::MakeComObject(object, std::forward<Args>(args)...);
    if (SUCCEEDED(hr))
        hr = object->QueryInterface(__uuidof(I), reinterpret_cast<void**>(out));
    return hr;
}

} // namespace

void ReportFailure(REFCLSID clsid, REFIID iid, HRESULT hr) {
    wchar_t text[512] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(hr), 0, text, 512, nullptr);
    com::SetComErrorInfo(clsid, length ? text : L"Unknown Error", 0, nullptr, iid, hr, nullptr);
}

// ---- Recipient ----

STDMETHODIMP ZvRecipient::GetRecipientName(BSTR* name) { return Done(NewBstr(data_.name, name)); }
STDMETHODIMP ZvRecipient::GetRecipientEmailAddress(BSTR* address) { return Done(NewBstr(data_.address, address)); }
STDMETHODIMP ZvRecipient::SetRecipient(BSTR name, BSTR address, long type) {
    data_ = {com::ToAnsi(name), com::ToAnsi(address), type};
    return S_OK;
}
STDMETHODIMP ZvRecipient::GetRecipientType(long* type) {
    if (!type)
        return Done(E_POINTER);
    *type = data_.type;
    return S_OK;
}

// ---- Recipient list ----

STDMETHODIMP ZvRecipients::Count(long* count) {
    if (!count)
        return Done(E_POINTER);
    *count = static_cast<long>(list_.size());
    return S_OK;
}
STDMETHODIMP ZvRecipients::ResetRecipients() {
    list_.clear();
    return S_OK;
}
STDMETHODIMP ZvRecipients::GetRecipient(long index, IZvRecipient** recipient) {
    if (!recipient)
        return Done(E_POINTER);
    *recipient = nullptr;
    if (index < 0 || static_cast<size_t>(index) >= list_.size())
        return Done(E_INVALIDARG);
    if (list_[index].type == 0)
        return Done(E_FAIL);
    return Done(Hand<ZvRecipient>(recipient, list_[index]));
}
STDMETHODIMP ZvRecipients::AddRecipient(IDispatch* recipient) {
    RecipientData data;
    HRESULT hr = ReadRecipientObject(recipient, data);
    if (SUCCEEDED(hr) && data.type != 0)
        list_.push_back(data);
    return Done(hr);
}

// ---- Message ----

HRESULT ZvMailMessage::ReadSender(RecipientData& sender) {
    if (!message_) {
        sender = sender_;
        return S_OK;
    }
    sender = RecipientData{};
    HRESULT hr = ReadTextProp(message_.Get(), kSenderName, sender.name);
    if (SUCCEEDED(hr))
        hr = ReadTextProp(message_.Get(), kSenderAddress, sender.address);
    if (sender.address.find('@') == std::string::npos)
        sender.address = sender.name;
    return hr;
}

STDMETHODIMP ZvMailMessage::get_Sender(IZvRecipient** sender) {
    if (!sender)
        return Done(E_POINTER);
    *sender = nullptr;
    RecipientData data;
    HRESULT hr = ReadSender(data);
    if (SUCCEEDED(hr))
        hr = Hand<ZvRecipient>(sender, data);
    return Done(hr);
}

STDMETHODIMP ZvMailMessage::put_Sender(IDispatch* sender) {
    RecipientData data;
    HRESULT hr = ReadRecipientObject(sender, data);
    if (FAILED(hr))
        return Done(hr);
    sender_ = data;
    if (message_ && (folderType_ == kInbox || folderType_ == kDrafts))
        hr = WriteSender(message_.Get(), data);
    return Done(hr);
}

HRESULT ZvMailMessage::ReadRecipients(std::vector<RecipientData>& list) {
    if (!message_) {
        list = recipients_;
        return S_OK;
    }
    list.clear();
    ComPtr<IMAPITable> table;
    HRESULT hr = message_->GetRecipientTable(0, &table);
    RowSet rows;
    if (SUCCEEDED(hr))
        hr = QueryAllRows(table.Get(), {kRecipientType, kDisplayName, kEmailAddress}, rows);
    for (ULONG i = 0; SUCCEEDED(hr) && i < rows->cRows; ++i) {
        const SPropValue* type = FindColumn(rows->aRow[i], kRecipientType);
        const SPropValue* name = FindColumn(rows->aRow[i], kDisplayName);
        const SPropValue* address = FindColumn(rows->aRow[i], kEmailAddress);
        if (!type || !ValidRecipientType(type->Value.l))
            return E_FAIL;
        list.push_back({name && name->Value.lpszA ? name->Value.lpszA : "",
                        address && address->Value.lpszA ? address->Value.lpszA : "", type->Value.l});
    }
    return hr;
}

STDMETHODIMP ZvMailMessage::get_Recipients(IZvRecipients** recipients) {
    if (!recipients)
        return Done(E_POINTER);
    *recipients = nullptr;
    std::vector<RecipientData> list;
    HRESULT hr = ReadRecipients(list);
    if (SUCCEEDED(hr))
        hr = Hand<ZvRecipients>(recipients, std::move(list));
    return Done(hr);
}

STDMETHODIMP ZvMailMessage::put_Recipients(IDispatch* recipients) {
    std::vector<RecipientData> list;
    HRESULT hr = ReadRecipientList(recipients, list);
    if (FAILED(hr))
        return Done(hr);
    if (list.empty())
        return Done(E_INVALIDARG);
    for (const RecipientData& recipient : list)
        if (!ValidRecipientType(recipient.type))
            return Done(E_FAIL);
    recipients_ = list;
    if (message_)
        hr = WriteRecipients(message_.Get(), list);
    return Done(hr);
}

STDMETHODIMP ZvMailMessage::get_Importance(long* importance) {
    if (!importance)
        return Done(E_POINTER);
    long value = importance_;
    if (message_) {
        MapiBuffer<SPropValue> prop;
        HRESULT hr = GetOneProp(message_.Get(), kImportance, prop);
        if (FAILED(hr))
            return Done(hr);
        value = prop->Value.l;
    }
    if (value < 0 || value > 2)
        return Done(E_FAIL);
    *importance = value;
    return S_OK;
}

STDMETHODIMP ZvMailMessage::put_Importance(long importance) {
    if (importance < 0 || importance > 2)
        return Done(E_FAIL);
    importance_ = importance;
    if (!message_)
        return S_OK;
    SPropValue value{};
    value.ulPropTag = kImportance;
    value.Value.l = importance;
    return Done(SetProps(message_.Get(), {value}));
}

STDMETHODIMP ZvMailMessage::get_LastModificationTime(DATE* time) {
    if (!time)
        return Done(E_POINTER);
    if (!message_)
        return Done(E_FAIL);
    MapiBuffer<SPropValue> prop;
    HRESULT hr = GetOneProp(message_.Get(), kLastModification, prop);
    if (SUCCEEDED(hr) && !prop->Value.ft.dwLowDateTime && !prop->Value.ft.dwHighDateTime)
        hr = E_FAIL;
    if (SUCCEEDED(hr))
        hr = FileTimeToDate(prop->Value.ft, time);
    return Done(hr);
}

ULONG ZvMailMessage::DateTag() const {
    return folderType_ == kInbox ? kDeliveryTime : folderType_ == kSentItems ? kClientSubmitTime : kLastModification;
}

STDMETHODIMP ZvMailMessage::get_MailDate(DATE* date) {
    if (!date)
        return Done(E_POINTER);
    if (!message_) {
        if (!date_)
            return Done(E_FAIL);
        *date = *date_;
        return S_OK;
    }
    MapiBuffer<SPropValue> prop;
    HRESULT hr = GetOneProp(message_.Get(), DateTag(), prop);
    if (SUCCEEDED(hr))
        hr = FileTimeToDate(prop->Value.ft, date);
    return Done(hr);
}

STDMETHODIMP ZvMailMessage::put_MailDate(DATE date) {
    FILETIME time{};
    HRESULT hr = DateToFileTime(date, time);
    if (FAILED(hr))
        return Done(hr);
    date_ = date;
    if (!message_ || (folderType_ != kInbox && folderType_ != kSentItems))
        return S_OK;
    SPropValue value{};
    value.ulPropTag = DateTag();
    value.Value.ft = time;
    return Done(SetProps(message_.Get(), {value}));
}

HRESULT ZvMailMessage::ReadText(ULONG tag, std::string& text) {
    return message_ ? ReadTextProp(message_.Get(), tag, text) : S_OK;
}

HRESULT ZvMailMessage::WriteText(ULONG tag, BSTR text, std::string& copy) {
    copy = com::ToAnsi(text);
    return message_ ? SetProps(message_.Get(), {TextProp(tag, copy)}) : S_OK;
}

STDMETHODIMP ZvMailMessage::get_Body(BSTR* body) {
    std::string text = body_;
    HRESULT hr = body ? ReadText(kBody, text) : E_POINTER;
    return Done(SUCCEEDED(hr) ? NewBstr(text, body) : hr);
}
STDMETHODIMP ZvMailMessage::put_Body(BSTR body) { return Done(WriteText(kBody, body, body_)); }
STDMETHODIMP ZvMailMessage::get_Subject(BSTR* subject) {
    std::string text = subject_;
    HRESULT hr = subject ? ReadText(kSubject, text) : E_POINTER;
    return Done(SUCCEEDED(hr) ? NewBstr(text, subject) : hr);
}
STDMETHODIMP ZvMailMessage::put_Subject(BSTR subject) { return Done(WriteText(kSubject, subject, subject_)); }

STDMETHODIMP ZvMailMessage::get_IsRead(VARIANT_BOOL* read) {
    if (!read)
        return Done(E_POINTER);
    bool value = read_;
    if (message_) {
        MapiBuffer<SPropValue> prop;
        HRESULT hr = GetOneProp(message_.Get(), kFlags, prop);
        if (FAILED(hr) && hr != MAPI_E_NOT_FOUND)
            return Done(hr);
        value = SUCCEEDED(hr) && (prop->Value.l & kReadBit);
    }
    *read = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP ZvMailMessage::put_IsRead(VARIANT_BOOL read) {
    read_ = read != VARIANT_FALSE;
    // A stored message's flags are computed by the store and a put of them is ignored: its read
    // state changes only through the message's own read-flag call.
    if (!message_)
        return S_OK;
    return Done(message_->SetReadFlag(read_ ? 0 : CLEAR_READ_FLAG));
}

STDMETHODIMP ZvMailMessage::get_EntryID(BSTR* entryId) {
    if (!entryId)
        return Done(E_POINTER);
    *entryId = nullptr;
    if (!message_)
        return Done(E_FAIL);
    MapiBuffer<SPropValue> prop;
    HRESULT hr = GetOneProp(message_.Get(), kEntryId, prop);
    if (FAILED(hr))
        return Done(hr);
    const std::vector<uint8_t> bytes(prop->Value.bin.lpb, prop->Value.bin.lpb + prop->Value.bin.cb);
    return Done(NewBstr(EncodeEntryId(bytes), entryId));
}

STDMETHODIMP ZvMailMessage::SaveChanges() {
    return Done(message_ ? message_->SaveChanges(KEEP_OPEN_READWRITE) : E_FAIL);
}

STDMETHODIMP ZvMailMessage::SetInternalMessage(IDispatch* message) {
    ComPtr<IZvMessageBinding> other;
    if (!message || FAILED(message->QueryInterface(__uuidof(IZvMessageBinding), reinterpret_cast<void**>(&other))))
        return Done(E_FAIL);
    SessionRef session;
    ComPtr<IMessage> bound;
    long folderType = 0;
    HRESULT hr = other->GetBinding(&session, &bound, &folderType);
    if (FAILED(hr))
        return Done(hr);
    session_ = std::move(session);
    message_ = std::move(bound);
    folderType_ = folderType;
    return S_OK;
}

STDMETHODIMP ZvMailMessage::GetBinding(SessionRef* session, IMessage** message, long* folderType) {
    if (!session || !message || !folderType)
        return E_POINTER;
    if (!message_)
        return E_FAIL;
    *session = session_;
    *message = message_.Get();
    message_->AddRef();
    *folderType = folderType_;
    return S_OK;
}

// ---- Folder ----

STDMETHODIMP ZvOutlookMailFolder::Count(long* count) {
    if (!count)
        return Done(E_POINTER);
    if (!folder_)
        return Done(E_FAIL);
    ComPtr<IMAPITable> table;
    HRESULT hr = folder_->GetContentsTable(0, &table);
    RowSet rows;
    if (SUCCEEDED(hr))
        hr = QueryAllRows(table.Get(), {PR_ENTRYID}, rows);
    if (FAILED(hr))
        return Done(hr);
    std::vector<std::vector<uint8_t>> ids;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SPropValue* id = FindColumn(rows->aRow[i], PR_ENTRYID);
        ids.push_back(id ? std::vector<uint8_t>(id->Value.bin.lpb, id->Value.bin.lpb + id->Value.bin.cb)
                         : std::vector<uint8_t>());
    }
    rows_ = std::move(ids);
    *count = static_cast<long>(rows_->size());
    return S_OK;
}

HRESULT ZvOutlookMailFolder::Open(const std::vector<uint8_t>& entryId, IZvMailMessage** message) {
    ComPtr<IMessage> opened;
    HRESULT hr = OpenMessage(folder_.Get(), entryId, opened);
    if (SUCCEEDED(hr))
        hr = Hand<ZvMailMessage>(message, session_, opened, type_);
    return hr;
}

STDMETHODIMP ZvOutlookMailFolder::GetMessage(long index, IZvMailMessage** message) {
    if (!message)
        return Done(E_POINTER);
    *message = nullptr;
    if (!folder_ || !rows_)
        return Done(kRowsNotRead);
    if (index < 0 || static_cast<size_t>(index) >= rows_->size())
        return Done(E_INVALIDARG);
    return Done(Open((*rows_)[index], message));
}

STDMETHODIMP ZvOutlookMailFolder::GetMessageByID(BSTR entryId, IZvMailMessage** message) {
    if (!message)
        return Done(E_POINTER);
    *message = nullptr;
    auto bytes = DecodeEntryId(com::ToAnsi(entryId));
    if (!bytes)
        return Done(E_INVALIDARG);
    if (!folder_)
        return Done(E_FAIL);
    return Done(Open(*bytes, message));
}

STDMETHODIMP ZvOutlookMailFolder::RemoveMessage(BSTR entryId) {
    auto bytes = DecodeEntryId(com::ToAnsi(entryId));
    if (!bytes)
        return Done(E_INVALIDARG);
    if (!folder_)
        return Done(E_FAIL);
    SBinary binary{static_cast<ULONG>(bytes->size()), bytes->data()};
    ENTRYLIST list{1, &binary};
    return Done(folder_->DeleteMessages(&list, 0, nullptr, 0));
}

HRESULT ZvOutlookMailFolder::Insert(IDispatch* script) {
    ComPtr<IZvMailMessage> source;
    if (!script || FAILED(script->QueryInterface(IID_IZvMailMessage, reinterpret_cast<void**>(&source))))
        return E_FAIL;
    if (!folder_)
        return E_FAIL;
    long importance = 0;
    HRESULT hr = source->get_Importance(&importance);
    std::vector<RecipientData> recipients;
    RecipientData sender;
    com::UniqueBstr body, subject;
    DATE date = 0;
    if (SUCCEEDED(hr)) {
        ComPtr<IZvRecipients> list;
        hr = source->get_Recipients(&list);
        if (SUCCEEDED(hr))
            hr = ReadRecipientList(list.Get(), recipients);
    }
    if (SUCCEEDED(hr)) {
        ComPtr<IZvRecipient> from;
        hr = source->get_Sender(&from);
        if (SUCCEEDED(hr))
            hr = ReadRecipientObject(from.Get(), sender);
    }
    if (SUCCEEDED(hr))
        hr = source->get_Body(body.Put());
    if (SUCCEEDED(hr))
        hr = source->get_Subject(subject.Put());
    if (SUCCEEDED(hr))
        hr = source->get_MailDate(&date);
    FILETIME unused{};
    if (SUCCEEDED(hr))
        hr = DateToFileTime(date, unused);
    if (FAILED(hr))
        return hr;

    ComPtr<IMessage> created;
    hr = folder_->CreateMessage(nullptr, MAPI_DEFERRED_ERRORS, &created);
    if (SUCCEEDED(hr))
        hr = WriteSender(created.Get(), sender);
    const std::string bodyText = com::ToAnsi(body.Get()), subjectText = com::ToAnsi(subject.Get());
    if (SUCCEEDED(hr))
        hr = SetProps(created.Get(), {TextProp(kBody, bodyText), TextProp(kSubject, subjectText)});
    if (SUCCEEDED(hr) && !recipients.empty())
        hr = WriteRecipients(created.Get(), recipients);
    if (SUCCEEDED(hr))
        hr = created->SaveChanges(KEEP_OPEN_READWRITE);
    if (FAILED(hr))
        return hr;

    ComPtr<IZvMailMessageInternal> internal;
    if (FAILED(script->QueryInterface(IID_IZvMailMessageInternal, reinterpret_cast<void**>(&internal))))
        return E_FAIL;
    ComPtr<ZvMailMessage> bound;
    hr = com::MakeComObject(bound, session_, created, static_cast<long>(kInbox));
    if (SUCCEEDED(hr))
        hr = internal->SetInternalMessage(static_cast<IZvMailMessage*>(bound.Get()));
    return hr;
}

STDMETHODIMP ZvOutlookMailFolder::InsertMessage(IDispatch* message) { return Done(Insert(message)); }

// ---- Provider ----

STDMETHODIMP ZvOutlookProvider::LogOn() {
    SessionRef session;
    HRESULT hr = MapiSession::Open(session);
    if (SUCCEEDED(hr))
        session_ = std::move(session);
    return Done(hr);
}

STDMETHODIMP ZvOutlookProvider::LogOff() {
    // Folders and messages still out keep the session until they are released.
    session_.reset();
    return S_OK;
}

STDMETHODIMP ZvOutlookProvider::GetFolder(long type, IZvOutlookMailFolder** folder) {
    if (!folder)
        return Done(E_POINTER);
    *folder = nullptr;
    if (!session_)
        return Done(E_FAIL);
    const char* path = nullptr;
    switch (type) {
    case kInbox:
        path = "\\Top of Information Store\\Inbox";
        break;
    case kOutbox:
        path = "\\Top of Information Store\\Outbox";
        break;
    case kSentItems:
        path = "\\Top of Information Store\\Sent Items";
        break;
    case kDrafts:
        path = "\\Top of Information Store\\Drafts";
        break;
    default:
        return Done(E_INVALIDARG);
    }
    ComPtr<IMsgStore> store;
    HRESULT hr = OpenPersonalStore(session_->Get(), store);
    ComPtr<IMAPIFolder> opened;
    if (SUCCEEDED(hr))
        hr = OpenFolderByPath(store.Get(), path, opened);
    if (SUCCEEDED(hr))
        hr = Hand<ZvOutlookMailFolder>(folder, session_, opened, type);
    return Done(hr);
}

} // namespace tv::pimbridge
