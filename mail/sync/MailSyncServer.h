// The DLL server of a mail synchronizer: "SyncMail Class" in the category of synchronizers.
#pragma once
#include "MailClientServer.h"
#include "SynchronizerClass.h"

namespace tv::mail {

template <class Synchronizer>
const com::DllServer& MailSyncServer(const CLSID& clsid, const wchar_t* progId, const wchar_t* versionIndependentProgId,
                                     const GUID& typeLib) {
    return MailComServer<Synchronizer>(clsid, L"SyncMail Class", progId, versionIndependentProgId, typeLib,
                                       {{kCategorySynchronizers, L"ZvSynchronizers"}});
}

} // namespace tv::mail
