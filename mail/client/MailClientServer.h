// The DLL server of a mail client class: one apartment-threaded class "MailClient Class" with
// its ProgIDs and the type library embedded in the DLL.
#pragma once
#include "ClassFactory.h"
#include "ServerRegistration.h"

namespace tv::mail {

template <class Client>
const com::DllServer& MailClientServer(const CLSID& clsid, const wchar_t* progId, const wchar_t* versionIndependentProgId,
                                       const GUID& typeLib) {
    static const com::DllServer server(
        {[&] {
            com::ClassInfo info;
            info.clsid = &clsid;
            info.description = L"MailClient Class";
            info.progId = progId;
            info.versionIndependentProgId = versionIndependentProgId;
            info.threadingModel = L"Apartment";
            info.typeLib = &typeLib;
            info.createClassObject = [](REFIID riid, void** ppv) {
                return com::CreateComObject<com::ClassFactory<Client>>(riid, ppv);
            };
            return info;
        }()},
        true);
    return server;
}

} // namespace tv::mail
