// ZvPOP3: the receiving mail client. It fetches the device user's mail from the device
// service's mail server over POP3; sending is not its part.
#pragma once
#include "ComObject.h"
#include "MailConnection.h"
#include "Pop3Dialogue.h"
#include "ZvMailClient.h"
#include <memory>

namespace tv::mail {

class Pop3Client final : public com::ComObject<Pop3Client, IZvMailClient> {
  public:
    // The server the settings fall back to, and its port.
    static constexpr const char* kDefaultServer = "mail.zelvan.net";
    static constexpr long kDefaultPort = 1552;

    HRESULT FinalConstruct();

    STDMETHODIMP Disconnect() override;
    STDMETHODIMP EndReceive(long bError) override;
    STDMETHODIMP GetAddress(long nMaxLen, unsigned char* strName) override;
    STDMETHODIMP ReceiveAll(LPSTR strZVID, IZvEnumLetters** piLetters) override;
    STDMETHODIMP Receive(LPSTR strZVID, ZVLETTER* pLetter) override;
    STDMETHODIMP Reconnect(LPSTR strAddr, long dwPort) override;
    STDMETHODIMP Send(LPSTR strZVID, IZvEnumLetters* piLetters) override;

  private:
    ServerSettings server_;
    MailConnection connection_;
    std::unique_ptr<Pop3Dialogue> dialogue_;
};

} // namespace tv::mail
