#include "Pop3Client.h"
#include "ZvLetterEnum.h"

namespace tv::mail {

namespace {

void Trace(const std::string& text) { TraceLine(text); }

} // namespace

HRESULT Pop3Client::FinalConstruct() {
    server_ = ReadServerSettings("POP3", kDefaultServer, kDefaultPort);
    if (connection_.Connect(server_.address, server_.port, "POP3"))
        dialogue_ = std::make_unique<Pop3Dialogue>(connection_.Channel(), Trace);
    return S_OK;
}

STDMETHODIMP Pop3Client::Disconnect() {
    Trace("POP3: Disconnect");
    if (!dialogue_)
        return E_UNEXPECTED;
    return ToHResult(dialogue_->Disconnect());
}

STDMETHODIMP Pop3Client::EndReceive(long bError) {
    Trace("POP3: EndReceive " + std::to_string(bError));
    if (!dialogue_)
        return E_UNEXPECTED;
    return ToHResult(dialogue_->EndReceive(bError));
}

STDMETHODIMP Pop3Client::GetAddress(long nMaxLen, unsigned char* strName) {
    Trace("POP3: GetAddress");
    return CopyAddress(server_.address, nMaxLen, strName);
}

STDMETHODIMP Pop3Client::ReceiveAll(LPSTR strZVID, IZvEnumLetters** piLetters) {
    Trace("POP3: ReceiveAll");
    if (!strZVID || !piLetters)
        return E_POINTER;
    *piLetters = nullptr;
    if (!dialogue_)
        return E_UNEXPECTED;
    com::ComPtr<ZvLetterEnum> letters;
    if (FAILED(ZvLetterEnum::Create(letters)))
        return E_OUTOFMEMORY;
    // A message that cannot be kept is left on the server (no DELE).
    MailResult result = dialogue_->ReceiveAll(UserId(strZVID), [&](std::string&& message) {
        return SUCCEEDED(letters->Append(nullptr, nullptr, message.c_str()));
    });
    if (result == MailResult::Fail)
        return E_FAIL;
    return letters->QueryInterface(IID_IZvEnumLetters, reinterpret_cast<void**>(piLetters));
}

STDMETHODIMP Pop3Client::Receive(LPSTR strZVID, ZVLETTER* pLetter) {
    Trace("POP3: Receive");
    if (!strZVID || !pLetter)
        return E_POINTER;
    if (!dialogue_)
        return E_UNEXPECTED;
    std::string message;
    MailResult result = dialogue_->Receive(UserId(strZVID), message);
    if (result != MailResult::Ok)
        return ToHResult(result);
    bool ok = true;
    *pLetter = ZVLETTER{};
    pLetter->strMessage = TaskCopy(message.c_str(), ok);
    return ok ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP Pop3Client::Reconnect(LPSTR strAddr, long /*dwPort*/) {
    Trace("POP3: Reconnect");
    if (strAddr)
        return E_NOTIMPL;
    dialogue_.reset();
    connection_.Close();
    return S_OK;
}

STDMETHODIMP Pop3Client::Send(LPSTR, IZvEnumLetters*) {
    Trace("POP3: Send");
    return E_NOTIMPL;
}

} // namespace tv::mail
