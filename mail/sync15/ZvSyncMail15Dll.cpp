// ZvSyncMail15.dll entry points: the class object of the 1.5 mail synchronizer, registered in
// the category of synchronizers, and its self-registration.
#include "ClassFactory.h"
#include "DllModule.h"
#include "MailSyncServer.h"
#include "SyncMail15.h"
#include "ZvSyncMail15.h"

namespace {

const tv::com::DllServer& Server() {
    return tv::mail::MailSyncServer<tv::mail::SyncMail15>(CLSID_ZvSyncMail15, L"Tavrilon.ZvSyncMail15.1",
                                                          L"Tavrilon.ZvSyncMail15", LIBID_ZVSYNCMAIL15Lib);
}

} // namespace

TV_DLL_SERVER(Required, Server)
