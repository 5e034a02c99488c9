// The mail table of a 1.5 device, on the PC copy of its database: the outbox as letters to send
// (attachments fetched from the device), the marking of sent letters, and the storing of a
// received letter (attachments written to the device's attachment folder).
#pragma once
#include "ComObject.h"
#include "ComPtr.h"
#include "MailFields.h"
#include "MailSyncSupport.h"
#include "ZelvanMgr.h"
#include "ZvDB.h"
#include "ZvLetterEnum.h"
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tv::mail {

// Status bits of a record: a received letter, a sent letter, and the outbox mask.
inline constexpr BYTE kStatusReceived = 1;
inline constexpr BYTE kStatusSent = 32;
inline constexpr BYTE kOutboxMask = 28;

// Selects the records whose status shares a bit with the mask.
class ZvMailCondition final : public com::ComObject<ZvMailCondition, IZvDBCondition> {
  public:
    explicit ZvMailCondition(BYTE mask = 127) : mask_(mask) {}
    STDMETHODIMP IsTrue(IZvDBRecord* record) override;

  private:
    BYTE mask_;
};

// What storing a letter gave. Duplicate: the table holds a letter of the same Message-ID
// already (fetched by a session the server never saw end), and nothing was stored.
enum class StoreResult { Stored = 0, Duplicate = 1, NoSpace = 2, Refused = 3 };

class MailBox15 {
  public:
    MailBox15(IZelvanMgr* hub, std::string deviceId, std::string workFolder)
        : hub_(hub), deviceId_(std::move(deviceId)), workFolder_(std::move(workFolder)) {}

    // Opens the database on the PC catalog copy, takes its first table and lists the attachment
    // names in use on the device.
    HRESULT Open(const std::string& pcCatalog);

    // The outbox as letters; `keys` holds each letter's record key in the same order. A letter
    // that cannot go this time (a recipient that cannot go on a command line, an attachment that
    // cannot be fetched) stays out, and in the outbox: `held` tells which.
    HRESULT BuildOutbox(com::ComPtr<ZvLetterEnum>& letters, std::vector<long>& keys, HeldLetters& held);
    // Marks the letters the client acknowledged (all three fields null) as sent; `unsent` gets
    // the recipients of the others.
    HRESULT MarkSent(IZvEnumLetters* letters, const std::vector<long>& keys, long& marked,
                     std::vector<std::string>& unsent);
    // Stores one received letter. A failure (an attachment that cannot be written or copied) leaves
    // nothing of the letter behind on the PC or the device.
    HRESULT Store(const std::string& text, StoreResult& result);

    long Stored() const { return stored_; }

  private:
    HRESULT OpenOutbox(com::ComPtr<IZvDBCursor>& cursor) const;
    HRESULT ReadString(IZvDBRecord* record, long field, std::string& value) const;
    HRESULT MessageText(const std::string& sender, const std::string& recipients, const std::string& subject,
                        const std::string& body, const std::string& descriptor, std::string& text) const;
    HRESULT CopyAttachmentsToDevice(const std::vector<std::pair<std::string, std::string>>& files,
                                    std::string& descriptor);
    // Deletes stored files of a letter from the device again (best effort, traced).
    void RemoveFromDevice(const std::vector<std::string>& stored);
    // Whether the table holds a letter of this Message-ID; an empty id matches none. The ids are
    // read from the table once, at the first letter with one.
    HRESULT HoldsMessageId(const std::string& id, bool& held);

    IZelvanMgr* hub_;
    std::string deviceId_;
    std::string workFolder_;
    com::ComPtr<IZvDBEngine> engine_;
    com::ComPtr<IZvDBConnection> connection_;
    com::ComPtr<IZvDBTable> table_;
    AttachmentNames names_; // stored-file names in use on the device
    uint64_t plainTotal_ = 0;
    long stored_ = 0;
    std::optional<std::set<std::string>> messageIds_; // of the table's letters, once read
};

} // namespace tv::mail
