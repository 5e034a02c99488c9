// The DLL server of a mail synchronizer: "SyncMail Class" in the category of synchronizers.
#pragma once
#include "MailClientServer.h"

namespace tv::mail {

inline constexpr CATID kCategorySynchronizers = {
    0xE735514E, 0xA1EE, 0x4FB8, {0x90, 0x25, 0xEC, 0x96, 0xC7, 0x89, 0x50, 0x13}};

template <class Synchronizer>
const com::DllServer& MailSyncServer(const CLSID& clsid, const wchar_t* progId, const wchar_t* versionIndependentProgId,
                                     const GUID& typeLib) {
    return MailComServer<Synchronizer>(clsid, L"SyncMail Class", progId, versionIndependentProgId, typeLib,
                                       {{kCategorySynchronizers, L"ZvSynchronizers"}});
}

} // namespace tv::mail
