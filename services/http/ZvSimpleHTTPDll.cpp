// ZvSimpleHTTP.dll entry points: the class object of the HTTP client and its self-registration.
#include "SimpleHttpClient.h"
#include "ClassFactory.h"
#include "DllModule.h"

namespace tv::http {

namespace {

HRESULT CreateClassObject(REFIID riid, void** ppv) {
    return com::CreateComObject<com::ClassFactory<ZvSimpleHTTP>>(riid, ppv);
}

const com::DllServer& Server() {
    static const com::DllServer server({[] {
                                           com::ClassInfo info;
                                           info.clsid = &CLSID_ZvSimpleHTTP;
                                           info.description = L"SimpleHTTP Class";
                                           info.progId = L"Tavrilon.SimpleHTTP.1";
                                           info.versionIndependentProgId = L"Tavrilon.SimpleHTTP";
                                           info.threadingModel = L"Apartment";
                                           info.typeLib = &LIBID_ZVSIMPLEHTTPLib;
                                           info.createClassObject = CreateClassObject;
                                           return info;
                                       }()},
                                       true);
    return server;
}

} // namespace

} // namespace tv::http

TV_DLL_SERVER(NotUsed, tv::http::Server)
