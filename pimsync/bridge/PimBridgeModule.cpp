// PimBridge.dll: the mail object model and the mail bridge for the device's mail scripts. It
// shows the bridge's filter dialog, so it loads the language library beside itself and refuses
// to load without it.
#include "ClassFactory.h"
#include "DllModule.h"
#include "MailObjects.h"
#include "PimBridgeObject.h"

using namespace tv::com;


namespace {

template <class T>
HRESULT CreateFactory(REFIID riid, void** ppv) {
    return CreateComObject<ClassFactory<T>>(riid, ppv);
}

ClassInfo Class(const CLSID* clsid, const wchar_t* description, const wchar_t* progId, const wchar_t* independent,
                HRESULT (*factory)(REFIID, void**)) {
    ClassInfo info;
    info.clsid = clsid;
    info.description = description;
    info.progId = progId;
    info.versionIndependentProgId = independent;
    info.threadingModel = L"Apartment";
    info.typeLib = &LIBID_PimBridgeLib;
    info.programmable = true;
    info.createClassObject = factory;
    return info;
}

const DllServer& Server() {
    static const DllServer server(
        {Class(&CLSID_ZvRecipient, L"ZvRecipient Class", L"Tavrilon.ZvRecipient.1", L"Tavrilon.ZvRecipient",
               CreateFactory<tv::pimbridge::ZvRecipient>),
         Class(&CLSID_ZvRecipients, L"ZvRecipients Class", L"Tavrilon.ZvRecipients.1", L"Tavrilon.ZvRecipients",
               CreateFactory<tv::pimbridge::ZvRecipients>),
         Class(&CLSID_ZvMailMessage, L"ZvMailMessage Class", L"Tavrilon.ZvMailMessage.1", L"Tavrilon.ZvMailMessage",
               CreateFactory<tv::pimbridge::ZvMailMessage>),
         Class(&CLSID_ZvOutlookMailFolder, L"ZvOutlookMailFolder Class", L"Tavrilon.ZvOutlookMailFolder.1",
               L"Tavrilon.ZvOutlookMailFolder", CreateFactory<tv::pimbridge::ZvOutlookMailFolder>),
         Class(&CLSID_ZvOutlookProvider, L"ZvOutlookProvider Class", L"Tavrilon.ZvOutlookProvider.1",
               L"Tavrilon.ZvOutlookProvider", CreateFactory<tv::pimbridge::ZvOutlookProvider>),
         Class(&CLSID_ZvPimBridge, L"ZvPimBridge Class", L"Tavrilon.ZvPimBridge.1", L"Tavrilon.ZvPimBridge",
               CreateFactory<tv::pimbridge::ZvPimBridge>)},
        true);
    return server;
}

} // namespace

TV_DLL_SERVER(Required, Server)
