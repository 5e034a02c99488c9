// ZvSyncMail15: the mail synchronizer of 1.5 devices. The device keeps its mail in a database
// ("email.db" and one table file beside it); a session copies both to the PC, sends the outbox
// through the SMTP client and marks what was sent, receives new letters through the POP3 client
// into the table (attachments go to a device folder), and copies the table back.
//
// No letter is lost and none is sent twice: the table goes back to the device before the POP3
// session ends (the server deletes fetched letters only then; when the copy fails the connection
// closes without it), and on every exit of the transfer after letters were marked sent or stored,
// before its error is reported: the manager runs no Finalize after a failed phase.
#pragma once
#include "MailBox15.h"
#include "MailSynchronizer.h"
#include "ZvMailClient.h"

namespace tv::mail {

class SyncMail15 : public MailSynchronizer<SyncMail15, IZvSynchronizerGUI> {
  public:
    STDMETHODIMP GetUserFriendlyName(LONG nMaxLen, unsigned char* name) override;
    STDMETHODIMP GetItemTypes(LONG nMaxElems, LONG* pnElems, ZVSYNCITEMTYPE* pTypes) override;
    STDMETHODIMP IsCompatible(LPSTR szDeviceID) override;
    STDMETHODIMP Synchronize(ZVSYNCPHASE phase) override;
    STDMETHODIMP GetIcon(int* nResourceID) override;

  private:
    friend class MailSynchronizer<SyncMail15, IZvSynchronizerGUI>;
    HRESULT Initialize();
    HRESULT Transfer();
    HRESULT Finalize();
    // The two halves of the transfer; a failure leaves its report text in failure_ (none: the
    // step's own failure without a text of its own).
    HRESULT Send();
    HRESULT Receive();
    // Copies the PC table back to the device; true on success.
    bool CopyTableBack();

    std::string deviceCatalog_, deviceTable_, pcCatalog_, pcTable_;
    bool ready_ = false;        // Initialize brought both files
    bool tableChanged_ = false; // the PC table holds what the device's does not yet
    std::string failure_;
    StoreResult lastResult_ = StoreResult::Stored;
    HeldLetters held_;
    long sent_ = 0;
    long received_ = 0;
};

} // namespace tv::mail
