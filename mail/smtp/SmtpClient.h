// ZvSMTP: the sending mail client of the device service's mail server, which also receives the
// device user's letters after TURN.
#pragma once
#include "ComObject.h"
#include "MailConnection.h"
#include "SmtpDialogue.h"
#include "ZvMailClient.h"
#include <memory>

namespace tv::mail {

class SmtpClient final : public com::ComObject<SmtpClient, IZvMailClient> {
  public:
    static constexpr const char* kDefaultServer = "mail.zelvan.net";
    static constexpr long kDefaultPort = 1551;

    HRESULT FinalConstruct();

    STDMETHODIMP Disconnect() override;
    STDMETHODIMP EndReceive(long bError) override;
    STDMETHODIMP GetAddress(long nMaxLen, unsigned char* strName) override;
    STDMETHODIMP ReceiveAll(LPSTR strZVID, IZvEnumLetters** piLetters) override;
    STDMETHODIMP Receive(LPSTR strZVID, ZVLETTER* pLetter) override;
    STDMETHODIMP Reconnect(LPSTR strAddr, long dwPort) override;
    STDMETHODIMP Send(LPSTR strZVID, IZvEnumLetters* piLetters) override;

  private:
    bool Connect();

    ServerSettings server_;
    MailConnection connection_;
    std::unique_ptr<SmtpDialogue> dialogue_;
};

} // namespace tv::mail
