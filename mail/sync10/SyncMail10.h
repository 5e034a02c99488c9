// ZvSyncMail10: the mail synchronizer of 1.0 devices. The device keeps its mail in one mailbox
// file, "email.dat", in one of its top-level folders; a session copies it to the PC, sends the
// letters to be sent and receives new ones through the SMTP client (receiving over its reversed
// side), and writes the file back.
//
// No letter is lost and none is sent twice: every change of the PC copy (letters marked sent, a
// letter received) goes back to the device before the server hears the letter's verdict or the
// step reports its error, so the server deletes only letters the device already holds.
#pragma once
#include "MailSynchronizer.h"
#include "MailboxFile.h"
#include "ZvMailClient.h"
#include <optional>

namespace tv::mail {

class SyncMail10 : public MailSynchronizer<SyncMail10> {
  public:
    STDMETHODIMP GetUserFriendlyName(LONG nMaxLen, unsigned char* name) override;
    STDMETHODIMP GetItemTypes(LONG nMaxElems, LONG* pnElems, ZVSYNCITEMTYPE* pTypes) override;
    STDMETHODIMP IsCompatible(LPSTR szDeviceID) override;
    STDMETHODIMP Synchronize(ZVSYNCPHASE phase) override;

  private:
    friend class MailSynchronizer<SyncMail10>;
    HRESULT Initialize();
    HRESULT Transfer();
    HRESULT Finalize();

    // Copies the mailbox of `folder` to the PC copy and reads it; reports a failure.
    HRESULT FetchMailbox(const std::string& folder, std::optional<MailboxFile>& mailbox);
    // Writes the PC copy and copies it to the device; false when either fails.
    bool StoreMailbox();
    HRESULT Send(IZvMailClient* client);
    HRESULT Receive(IZvMailClient* client);
    // The message text of a letter to be sent.
    std::string MessageText(const MailboxLetter& letter) const;

    std::string devicePath_;
    std::string pcPath_;
    std::optional<MailboxFile> mailbox_; // read by Initialize; nothing is written back without it
    HeldLetters held_;
    bool mailboxFull_ = false;
    long sent_ = 0;
    long received_ = 0;
};

} // namespace tv::mail
