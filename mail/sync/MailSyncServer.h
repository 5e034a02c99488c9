// The DLL server of a mail synchronizer: one apartment-threaded class "SyncMail Class" with its
// ProgIDs, the type library embedded in the DLL, in the category of synchronizers.
#pragma once
#include "ClassFactory.h"
#include "ServerRegistration.h"

namespace tv::mail {

inline constexpr CATID kCategorySynchronizers = {
    0xE735514E, 0xA1EE, 0x4FB8, {0x90, 0x25, 0xEC, 0x96, 0xC7, 0x89, 0x50, 0x13}};

template <class Synchronizer>
const com::DllServer& MailSyncServer(const CLSID& clsid, const wchar_t* progId, const wchar_t* versionIndependentProgId,
                                     const GUID& typeLib) {
    static const com::DllServer server(
        {[&] {
            com::ClassInfo info;
            info.clsid = &clsid;
            info.description = L"SyncMail Class";
            info.progId = progId;
            info.versionIndependentProgId = versionIndependentProgId;
            info.threadingModel = L"Apartment";
            info.typeLib = &typeLib;
            info.categories = {{kCategorySynchronizers, L"ZvSynchronizers"}};
            info.createClassObject = [](REFIID riid, void** ppv) {
                return com::CreateComObject<com::ClassFactory<Synchronizer>>(riid, ppv);
            };
            return info;
        }()},
        true);
    return server;
}

} // namespace tv::mail
