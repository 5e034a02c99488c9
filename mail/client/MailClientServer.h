// The DLL server of a mail component: one apartment-threaded class with its ProgIDs and the type
// library embedded in the DLL (the mail clients as "MailClient Class"; the mail synchronizers
// also name their category).
#pragma once
#include "ClassFactory.h"
#include "ServerRegistration.h"

namespace tv::mail {

template <class Object>
const com::DllServer& MailComServer(const CLSID& clsid, const wchar_t* description, const wchar_t* progId,
                                    const wchar_t* versionIndependentProgId, const GUID& typeLib,
                                    std::vector<com::CategoryInfo> categories) {
    static const com::DllServer server(
        {[&] {
            com::ClassInfo info;
            info.clsid = &clsid;
            info.description = description;
            info.progId = progId;
            info.versionIndependentProgId = versionIndependentProgId;
            info.threadingModel = L"Apartment";
            info.typeLib = &typeLib;
            info.categories = std::move(categories);
            info.createClassObject = [](REFIID riid, void** ppv) {
                return com::CreateComObject<com::ClassFactory<Object>>(riid, ppv);
            };
            return info;
        }()},
        true);
    return server;
}

template <class Client>
const com::DllServer& MailClientServer(const CLSID& clsid, const wchar_t* progId, const wchar_t* versionIndependentProgId,
                                       const GUID& typeLib) {
    return MailComServer<Client>(clsid, L"MailClient Class", progId, versionIndependentProgId, typeLib, {});
}

} // namespace tv::mail
