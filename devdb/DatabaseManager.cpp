// ZvDatabaseMgr, the creatable door to the engine, and the module face of ZvDB.dll.
#include "AnsiText.h"
#include "ClassFactory.h"
#include "DbObjects.h"
#include "DllModule.h"
#include "Win32Platform.h"

using tv::com::ToAnsi;

namespace tv::devdb::com {

namespace {

// The engine lives from the DLL's load to its unload and serves every ZvDatabaseMgr object.
struct ProcessEngineHolder {
    Win32Platform platform;
    Engine engine{platform};
};
ProcessEngineHolder processEngine;

class DatabaseManager
    : public AutomationObject<DatabaseManager, &CLSID_ZvDatabaseMgr, IZvDBEngine, IZvDBEngineDisp> {
  public:
    HRESULT FinalConstruct() {
        engine_ = ProcessEngine();
        return engine_ ? S_OK : E_FAIL;
    }
    HRESULT Open(const std::string& path, REFIID riid, void** out) {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        auto connection = engine_->Open(path);
        return connection ? NewConnectionObject(std::move(connection), riid, out) : E_FAIL;
    }
    STDMETHODIMP OpenConnection(LPSTR path, IZvDBConnection** out) override {
        return Run([&]() -> HRESULT {
            return Open(path ? path : "", IID_IZvDBConnection, reinterpret_cast<void**>(out));
        });
    }
    STDMETHODIMP OpenConnection(BSTR path, IUnknown** out) override {
        return Run(
            [&]() -> HRESULT { return Open(ToAnsi(path), IID_IUnknown, reinterpret_cast<void**>(out)); });
    }
    STDMETHODIMP DropDatabase(LPSTR path) override {
        return Run([&]() -> HRESULT { return engine_->Drop(path ? path : "") ? S_OK : E_FAIL; });
    }
    STDMETHODIMP DropDatabase(BSTR path) override {
        return Run([&]() -> HRESULT { return engine_->Drop(ToAnsi(path)) ? S_OK : E_FAIL; });
    }
    STDMETHODIMP CloseConnection(IUnknown* connectionFace) override {
        return Run([&]() -> HRESULT {
            auto connection = ConnectionOf(connectionFace);
            return connection && engine_->Close(*connection) ? S_OK : E_FAIL;
        });
    }

  private:
    Engine* engine_ = nullptr;
};

HRESULT CreateClassObject(REFIID riid, void** ppv) {
    return tv::com::CreateComObject<tv::com::ClassFactory<DatabaseManager>>(riid, ppv);
}

const tv::com::DllServer& Server() {
    static const tv::com::DllServer server = [] {
        tv::com::ClassInfo info;
        info.clsid = &CLSID_ZvDatabaseMgr;
        info.description = L"ZvDatabaseMgr Class";
        info.progId = L"Tavrilon.ZvDatabaseMgr.1";
        info.versionIndependentProgId = L"Tavrilon.ZvDatabaseMgr";
        info.threadingModel = L"Apartment";
        info.typeLib = &LIBID_ZVDBLib;
        info.programmable = true;
        info.createClassObject = CreateClassObject;
        return tv::com::DllServer({info}, true);
    }();
    return server;
}

} // namespace

Engine* ProcessEngine() {
    return &processEngine.engine;
}

} // namespace tv::devdb::com

using tv::devdb::com::Server;
TV_DLL_SERVER(Optional, Server)
