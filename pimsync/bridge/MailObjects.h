// The mail object model for scripts: a provider that logs on to the messaging system and opens a
// mail folder by its type, the folder with its messages, a message with its fields, and the
// recipient list and recipient. Folders and messages hold the session they came from.
#pragma once
#include "Automation.h"
#include "MapiLink.h"
#include "PimBridge.h"
#include <optional>
#include <string>
#include <vector>

namespace tv::pimbridge {

struct RecipientData {
    std::string name;
    std::string address;
    long type = 0;
};

// Folder types a script asks for.
enum FolderType : long { kSentItems = 4, kOutbox = 5, kInbox = 6, kDrafts = 16 };

// How one message object of this DLL hands its bound message to another (never leaves the DLL).
struct IZvMessageBinding : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetBinding(SessionRef* session, IMessage** message, long* folderType) = 0;
};

} // namespace tv::pimbridge
__CRT_UUID_DECL(tv::pimbridge::IZvMessageBinding, 0xc4f385d1, 0x41e7, 0x496f, 0x90, 0x31, 0xfd, 0x83, 0x77, 0x78,
                0x3e, 0xf3)

namespace tv::pimbridge {

class ZvRecipient final : public AutomationObject<ZvRecipient, IZvRecipient, &CLSID_ZvRecipient> {
  public:
    ZvRecipient() = default;
    explicit ZvRecipient(RecipientData data) : data_(std::move(data)) {}
    STDMETHODIMP GetRecipientName(BSTR* name) override;
    STDMETHODIMP GetRecipientEmailAddress(BSTR* address) override;
    STDMETHODIMP SetRecipient(BSTR name, BSTR address, long type) override;
    STDMETHODIMP GetRecipientType(long* type) override;

  private:
    RecipientData data_;
};

class ZvRecipients final : public AutomationObject<ZvRecipients, IZvRecipients, &CLSID_ZvRecipients> {
  public:
    ZvRecipients() = default;
    explicit ZvRecipients(std::vector<RecipientData> list) : list_(std::move(list)) {}
    STDMETHODIMP Count(long* count) override;
    STDMETHODIMP ResetRecipients() override;
    STDMETHODIMP GetRecipient(long index, IZvRecipient** recipient) override;
    STDMETHODIMP AddRecipient(IDispatch* recipient) override;

  private:
    std::vector<RecipientData> list_;
};

class ZvMailMessage final
    : public AutomationObject<ZvMailMessage, IZvMailMessage, &CLSID_ZvMailMessage, IZvMailMessageInternal,
                              IZvMessageBinding> {
  public:
    ZvMailMessage() = default;
    ZvMailMessage(SessionRef session, com::ComPtr<IMessage> message, long folderType)
        : session_(std::move(session)), message_(std::move(message)), folderType_(folderType) {}

    STDMETHODIMP get_Sender(IZvRecipient** sender) override;
    STDMETHODIMP put_Sender(IDispatch* sender) override;
    STDMETHODIMP get_Recipients(IZvRecipients** recipients) override;
    STDMETHODIMP put_Recipients(IDispatch* recipients) override;
    STDMETHODIMP get_Importance(long* importance) override;
    STDMETHODIMP put_Importance(long importance) override;
    STDMETHODIMP get_LastModificationTime(DATE* time) override;
    STDMETHODIMP get_MailDate(DATE* date) override;
    STDMETHODIMP put_MailDate(DATE date) override;
    STDMETHODIMP get_Body(BSTR* body) override;
    STDMETHODIMP put_Body(BSTR body) override;
    STDMETHODIMP get_Subject(BSTR* subject) override;
    STDMETHODIMP put_Subject(BSTR subject) override;
    STDMETHODIMP get_IsRead(VARIANT_BOOL* read) override;
    STDMETHODIMP put_IsRead(VARIANT_BOOL read) override;
    STDMETHODIMP get_EntryID(BSTR* entryId) override;
    STDMETHODIMP SaveChanges() override;
    STDMETHODIMP SetInternalMessage(IDispatch* message) override;
    STDMETHODIMP GetBinding(SessionRef* session, IMessage** message, long* folderType) override;

  private:
    HRESULT ReadSender(RecipientData& sender);
    HRESULT ReadRecipients(std::vector<RecipientData>& list);
    HRESULT ReadText(ULONG tag, std::string& text);
    HRESULT WriteText(ULONG tag, BSTR text, std::string& copy);
    ULONG DateTag() const;

    RecipientData sender_;
    std::vector<RecipientData> recipients_;
    long importance_ = 1;
    std::optional<DATE> date_;
    std::string body_;
    std::string subject_;
    bool read_ = false;
    SessionRef session_;
    com::ComPtr<IMessage> message_;
    long folderType_ = 0;
};

class ZvOutlookMailFolder final
    : public AutomationObject<ZvOutlookMailFolder, IZvOutlookMailFolder, &CLSID_ZvOutlookMailFolder> {
  public:
    ZvOutlookMailFolder() = default;
    ZvOutlookMailFolder(SessionRef session, com::ComPtr<IMAPIFolder> folder, long type)
        : session_(std::move(session)), folder_(std::move(folder)), type_(type) {}

    STDMETHODIMP InsertMessage(IDispatch* message) override;
    STDMETHODIMP Count(long* count) override;
    STDMETHODIMP GetMessage(long index, IZvMailMessage** message) override;
    STDMETHODIMP GetMessageByID(BSTR entryId, IZvMailMessage** message) override;
    STDMETHODIMP RemoveMessage(BSTR entryId) override;

  private:
    HRESULT Open(const std::vector<uint8_t>& entryId, IZvMailMessage** message);
    HRESULT Insert(IDispatch* message);

    SessionRef session_;
    com::ComPtr<IMAPIFolder> folder_;
    long type_ = 0;
    std::optional<std::vector<std::vector<uint8_t>>> rows_;
};

class ZvOutlookProvider final
    : public AutomationObject<ZvOutlookProvider, IZvOutlookProvider, &CLSID_ZvOutlookProvider> {
  public:
    STDMETHODIMP LogOn() override;
    STDMETHODIMP LogOff() override;
    STDMETHODIMP GetFolder(long type, IZvOutlookMailFolder** folder) override;

  private:
    SessionRef session_;
};

} // namespace tv::pimbridge
