// ZvSyncMail10.dll entry points: the class object of the 1.0 mail synchronizer, registered in
// the category of synchronizers, and its self-registration.
#include "ClassFactory.h"
#include "DllModule.h"
#include "MailSyncServer.h"
#include "SyncMail10.h"
#include "ZvSyncMail10.h"

namespace {

const tv::com::DllServer& Server() {
    return tv::mail::MailSyncServer<tv::mail::SyncMail10>(CLSID_ZvSyncMail10, L"Tavrilon.ZvSyncMail10.1",
                                                          L"Tavrilon.ZvSyncMail10", LIBID_ZVSYNCMAIL10Lib);
}

} // namespace

TV_DLL_SERVER(Required, Server)
