// tvregtest.dll: an in-process server with one class, two ProgIDs and one component category,
// registered and removed through the toolkit's DllServer. Its object answers IPersist with its
// own CLSID, so that a client can tell it was really this class that was made.
#include "ClassFactory.h"
#include "RegTestIds.h"
#include "DllModule.h"

using namespace tv::com;
using namespace tv::tests;

namespace {

class RegTestObject : public ComObject<RegTestObject, IPersist> {
  public:
    STDMETHODIMP GetClassID(CLSID* id) override {
        if (!id)
            return E_POINTER;
        *id = CLSID_RegTest;
        return S_OK;
    }
};

HRESULT CreateRegTestClassObject(REFIID riid, void** ppv) {
    return CreateComObject<ClassFactory<RegTestObject>>(riid, ppv);
}

const DllServer& Server() {
    static const DllServer server = [] {
        ClassInfo info;
        info.clsid = &CLSID_RegTest;
        info.description = L"Tavrilon registration test";
        info.progId = kRegTestProgId;
        info.versionIndependentProgId = kRegTestVersionIndependentProgId;
        info.categories = {{CATID_RegTest, L"Tavrilon registration test category"}};
        info.createClassObject = CreateRegTestClassObject;
        return DllServer({info}, false);
    }();
    return server;
}

} // namespace

TV_DLL_SERVER(NotUsed, Server)
