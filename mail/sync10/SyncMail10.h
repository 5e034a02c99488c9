// ZvSyncMail10: the mail synchronizer of 1.0 devices. The device keeps its mail in one mailbox
// file, "email.dat", in one of its top-level folders; a session copies it to the PC, sends the
// letters to be sent and receives new ones through the SMTP client (receiving over its reversed
// side), and writes the file back.
//
// No letter is lost and none is sent twice: every change of the PC copy (letters marked sent, a
// letter received) goes back to the device before the server hears the letter's verdict or the
// step reports its error, so the server deletes only letters the device already holds.
#pragma once
#include "ComObject.h"
#include "MailSyncSupport.h"
#include "MailboxFile.h"
#include "ZvMailClient.h"
#include <optional>

namespace tv::mail {

class SyncMail10 : public com::ComObject<SyncMail10, IZvSynchronizer, IZvSyncNotify> {
  public:
    HRESULT FinalConstruct() { return CreateHub(hub_); }

    STDMETHODIMP GetUserFriendlyName(LONG nMaxLen, unsigned char* name) override;
    STDMETHODIMP GetItemTypes(LONG nMaxElems, LONG* pnElems, ZVSYNCITEMTYPE* pTypes) override;
    STDMETHODIMP IsCompatible(LPSTR szDeviceID) override;
    STDMETHODIMP SetDevice(LPSTR szDeviceID) override;
    STDMETHODIMP SetConflictResolution(ZVSYNCRESOLUTION) override { return S_OK; }
    STDMETHODIMP SetParentWindow(ULONG_PTR window) override {
        parent_ = window;
        return S_OK;
    }
    STDMETHODIMP Synchronize(ZVSYNCPHASE phase) override;
    STDMETHODIMP Cancel() override { return S_OK; }
    STDMETHODIMP GetTotalItems(LONG* nItems) override { return Zero(nItems); }
    STDMETHODIMP GetSynchronizedItems(LONG* nItems) override { return Zero(nItems); }
    STDMETHODIMP GetUnresolvedItems(LONG* nItems) override { return Zero(nItems); }
    STDMETHODIMP IsTunable() override { return S_FALSE; }
    STDMETHODIMP Tune(LPSTR) override { return S_OK; }

    STDMETHODIMP Advise(IZvSyncCallback* sink, LONG* cookie) override { return reports_.Advise(sink, cookie); }
    STDMETHODIMP Unadvise(LONG cookie) override { return reports_.Unadvise(cookie); }

  private:
    static HRESULT Zero(LONG* out) {
        if (!out)
            return E_POINTER;
        *out = 0;
        return S_OK;
    }

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

    std::string UserId() const { return LastChars(deviceId_, 7); }

    com::ComPtr<IZelvanMgr> hub_;
    std::string deviceId_;
    ULONG_PTR parent_ = 0;
    SyncReports reports_;
    std::string devicePath_;
    std::string pcPath_;
    std::optional<MailboxFile> mailbox_; // read by Initialize; nothing is written back without it
    std::string domain_;
    bool mailboxFull_ = false;
    bool storeFailed_ = false;
    long sent_ = 0;
    long received_ = 0;
};

} // namespace tv::mail
