// ZvPOP3.dll entry points: the class object of the POP3 mail client and its self-registration.
#include "DllModule.h"
#include "MailClientServer.h"
#include "Pop3Client.h"
#include "ZvPOP3.h"

namespace {

const tv::com::DllServer& Server() {
    return tv::mail::MailClientServer<tv::mail::Pop3Client>(CLSID_ZvPOP3, L"Tavrilon.ZvPOP3.1", L"Tavrilon.ZvPOP3",
                                                            LIBID_ZVPOP3Lib);
}

} // namespace

TV_DLL_SERVER(NotUsed, Server)
