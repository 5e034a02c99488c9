// The DLL face of the logger: its class object, self-registration and the language library
// that every DLL of the suite loads beside itself.
#include "DllModule.h"
#include "LoggerObject.h"

namespace {

using namespace tv;

// Hands out the one logger of the process.
HRESULT CreateLoggerClassObject(REFIID riid, void** ppv) {
    static com::SharedInstance<logger::ZvLogger> slot;
    return com::CreateComObject<com::SharedInstanceFactory<logger::ZvLogger>>(riid, ppv, slot);
}

const com::DllServer& Server() {
    static const com::DllServer server({com::ClassInfo{.clsid = &CLSID_ZvLogger,
                                                       .description = L"Logger Class",
                                                       .progId = L"Tavrilon.Logger.1",
                                                       .versionIndependentProgId = L"Tavrilon.Logger",
                                                       .threadingModel = L"Apartment",
                                                       .typeLib = &LIBID_ZVLOGGERLib,
                                                       .programmable = true,
                                                       .categories = {},
                                                       .createClassObject = CreateLoggerClassObject}},
                                       true);
    return server;
}

} // namespace

TV_DLL_SERVER(Required, Server)
