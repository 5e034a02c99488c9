// ZvSMTP.dll entry points: the class object of the SMTP mail client and its self-registration.
#include "DllModule.h"
#include "MailClientServer.h"
#include "SmtpClient.h"
#include "ZvSMTP.h"

namespace {

const tv::com::DllServer& Server() {
    return tv::mail::MailClientServer<tv::mail::SmtpClient>(CLSID_ZvSMTP, L"Tavrilon.ZvSMTP.1", L"Tavrilon.ZvSMTP",
                                                            LIBID_ZVSMTPLib);
}

} // namespace

TV_DLL_SERVER(NotUsed, Server)
