// ZvSyncMail15: the mail synchronizer of 1.5 devices. The device keeps its mail in a database
// ("email.db" and one table file beside it); a session copies both to the PC, sends the outbox
// through the SMTP client and marks what was sent, receives new letters through the POP3 client
// into the table (attachments go to a device folder), and copies the table back.
//
// No letter is lost and none is sent twice: the table goes back to the device before the POP3
// session ends (the server deletes fetched letters only then; when the copy fails the connection
// closes without it), and before any error of the transfer is reported.
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
    HRESULT Send();
    HRESULT Receive();
    // Copies the PC table back to the device; true on success.
    bool CopyTableBack();

    std::string deviceCatalog_, deviceTable_, pcCatalog_, pcTable_;
    bool ready_ = false; // Initialize brought both files
    StoreResult lastResult_ = StoreResult::Stored;
    int heldBack_ = 0;
    long sent_ = 0;
    long received_ = 0;
};

} // namespace tv::mail
