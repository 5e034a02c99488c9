#include "SmtpClient.h"
#include "ZvLetterEnum.h"

namespace tv::mail {

namespace {

void Trace(const std::string& text) { TraceLine(text); }

// The caller's enumerator as the letters a dialogue sends.
class EnumeratedLetters final : public OutgoingLetters {
  public:
    explicit EnumeratedLetters(IZvEnumLetters* letters) : letters_(letters) {}
    bool Next(View& view) override {
        ZVLETTER letter{};
        long fetched = 0;
        if (FAILED(letters_->Next(1, &letter, &fetched)) || fetched != 1)
            return false;
        view.from = letter.strFrom;
        view.to = letter.strTo;
        view.message = letter.strMessage;
        return true;
    }
    void Acknowledge(long position) override {
        if (FAILED(letters_->ClearAt(position)))
            Trace("SMTP: a sent letter could not be acknowledged");
    }

  private:
    IZvEnumLetters* letters_;
};

HRESULT LetterOut(Letter&& letter, ZVLETTER* out) {
    bool ok = true;
    ZVLETTER copy{};
    copy.strFrom = TaskCopy(letter.from.c_str(), ok);
    copy.strTo = TaskCopy(letter.to.c_str(), ok);
    copy.strMessage = TaskCopy(letter.message.c_str(), ok);
    if (!ok) {
        FreeLetterStrings(copy);
        return E_OUTOFMEMORY;
    }
    *out = copy;
    return S_OK;
}

} // namespace

bool SmtpClient::Connect() {
    dialogue_.reset();
    if (!connection_.Connect(server_.address, server_.port, "SMTP"))
        return false;
    dialogue_ = std::make_unique<SmtpDialogue>(connection_.Channel(), kServiceMailDomain, Trace);
    return true;
}

HRESULT SmtpClient::FinalConstruct() {
    server_ = ReadServerSettings("SMTP", kDefaultServer, kDefaultPort);
    Connect();
    return S_OK;
}

STDMETHODIMP SmtpClient::Disconnect() {
    Trace("SMTP: Disconnect");
    if (!dialogue_)
        return E_FAIL;
    return ToHResult(dialogue_->Disconnect());
}

STDMETHODIMP SmtpClient::EndReceive(long bError) {
    Trace("SMTP: EndReceive " + std::to_string(bError));
    if (!dialogue_)
        return E_FAIL;
    return ToHResult(dialogue_->EndReceive(bError));
}

STDMETHODIMP SmtpClient::GetAddress(long nMaxLen, unsigned char* strName) {
    Trace("SMTP: GetAddress");
    return CopyAddress(server_.address, nMaxLen, strName);
}

STDMETHODIMP SmtpClient::ReceiveAll(LPSTR strZVID, IZvEnumLetters** piLetters) {
    Trace("SMTP: ReceiveAll");
    if (!strZVID || !piLetters)
        return E_POINTER;
    *piLetters = nullptr;
    if (!dialogue_)
        return E_UNEXPECTED;
    com::ComPtr<ZvLetterEnum> letters;
    if (FAILED(ZvLetterEnum::Create(letters)))
        return E_OUTOFMEMORY;
    // A letter that cannot be kept is refused for now: the server keeps it.
    MailResult result = dialogue_->ReceiveAll(UserId(strZVID), [&](Letter&& letter) {
        return SUCCEEDED(letters->Append(letter.from.c_str(), letter.to.c_str(), letter.message.c_str()));
    });
    if (result != MailResult::Ok)
        return ToHResult(result);
    return letters->QueryInterface(IID_IZvEnumLetters, reinterpret_cast<void**>(piLetters));
}

STDMETHODIMP SmtpClient::Receive(LPSTR strZVID, ZVLETTER* pLetter) {
    Trace("SMTP: Receive");
    if (!strZVID || !pLetter)
        return E_POINTER;
    if (!dialogue_)
        return E_UNEXPECTED;
    Letter letter;
    MailResult result = dialogue_->Receive(UserId(strZVID), letter);
    if (result != MailResult::Ok)
        return ToHResult(result);
    return LetterOut(std::move(letter), pLetter);
}

STDMETHODIMP SmtpClient::Reconnect(LPSTR strAddr, long dwPort) {
    Trace("SMTP: Reconnect");
    if (!strAddr) {
        dialogue_.reset();
        connection_.Close();
        return S_OK;
    }
    if (dialogue_)
        dialogue_->Disconnect();
    server_.address = strAddr;
    server_.port = dwPort;
    return Connect() ? S_OK : E_UNEXPECTED;
}

STDMETHODIMP SmtpClient::Send(LPSTR strZVID, IZvEnumLetters* piLetters) {
    Trace("SMTP: Send");
    if (!strZVID || !piLetters)
        return E_POINTER;
    if (!dialogue_)
        return E_UNEXPECTED;
    EnumeratedLetters letters(piLetters);
    return ToHResult(dialogue_->Send(UserId(strZVID), letters));
}

} // namespace tv::mail
