#include "RunServer.h"
#include "AppState.h"
#include "CommandLine.h"
#include "ComPtr.h"
#include "DdeService.h"
#include "DeviceEnumerators.h"
#include "MessagePump.h"
#include "Hub.h"
#include "RunScript.h"
#include "UiThread.h"
#include "AppUploader.h"
#include "UploaderIds.h"
#include "ZvAssocMgr.h"
#include "ZvBackupMgr.h"
#include "ZvLogger.h"
#include "ZvRegistrar.h"
#include "ZvSyncMgr.h"
#include <vector>

namespace tv::app {
namespace {

constexpr DWORD kInproc = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;

template <class T>
HRESULT CreateInproc(REFCLSID clsid, com::ComPtr<T>& out) {
    return CoCreateInstance(clsid, nullptr, kInproc, __uuidof(T), reinterpret_cast<void**>(&out));
}

// Runs a function of the "Autostart" event script; true unless it returned a Boolean false.
bool RunAutostart(const wchar_t* function, const VARIANT* argument) {
    VARIANT result;
    RunEventScript(L"Autostart", function, argument, &result);
    const bool goOn = !IsBooleanFalse(result);
    VariantClear(&result);
    return goOn;
}

// The six components the program keeps for its whole run, released in reverse order.
struct Components {
    com::ComPtr<IZvLogger> logger;
    com::ComPtr<IZvAssocMgr> assocManager;
    com::ComPtr<IZelvanMgr> hub;
    com::ComPtr<IZvSyncMgr> syncManager;
    com::ComPtr<IZvBackupMgr> backupManager;
    com::ComPtr<IZvRegistrar> itemStore;

    ~Components() {
        itemStore.Reset();
        backupManager.Reset();
        syncManager.Reset();
        // The device factories hold the hub as their sink: let them go before the last release.
        if (hub::Hub* object = hub::CurrentHub())
            object->Close();
        hub.Reset();
        assocManager.Reset();
        logger.Reset();
    }
};

// Keeps the hub's faces marshalled for other processes for the whole run. The RPC runtime
// unregisters a face when the last client that used it lets go, and waits for the calls on that
// face to end - a call of the UI thread to the hub, which this (the hub's) thread would serve,
// never ends then. Faces that stay marshalled are never unregistered while the program runs.
// The runtime keeps a face registered while any object of this process is marshalled with it,
// so one object per face is enough. Besides the hub's own faces that covers the faces that come
// and go with every client: the class object's, which the runtime marshals anew for each
// activation, and the listings' that the hub hands out. Their unregistering wait can also miss
// a call that ends just as it starts, and then it never returns and the hub's thread stops.
class PinnedFaces {
public:
    void Pin(IUnknown* hub, IUnknown* hubClassObject) {
        for (const IID* iid : {&__uuidof(IZelvanMgr), &__uuidof(IZelvanMgrDisp2), &__uuidof(IZelvanMgrDisp),
                               &IID_IDispatch, &__uuidof(IZelvanMgrZvWig), &IID_IUnknown})
            PinFace(*iid, hub);
        if (hubClassObject)
            PinFace(IID_IClassFactory, hubClassObject);
        com::ComPtr<IZvEnumFileItems> listing;
        if (SUCCEEDED(com::CreateComObject<hub::ZvEnumDumb>(__uuidof(IZvEnumFileItems),
                                                            reinterpret_cast<void**>(&listing))))
            PinFace(__uuidof(IZvEnumFileItems), listing.Get());
    }
    ~PinnedFaces() { Release(); }
    void Release() {
        for (auto& stream : streams_) {
            LARGE_INTEGER start{};
            stream->Seek(start, STREAM_SEEK_SET, nullptr);
            CoReleaseMarshalData(stream.Get());
        }
        streams_.clear();
    }

private:
    void PinFace(REFIID iid, IUnknown* object) {
        com::ComPtr<IStream> stream;
        if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) ||
            FAILED(CoMarshalInterface(stream.Get(), iid, object, MSHCTX_LOCAL, nullptr, MSHLFLAGS_TABLESTRONG)))
            return;
        streams_.push_back(std::move(stream));
    }

    std::vector<com::ComPtr<IStream>> streams_;
};

// Releases the three marshalled holders, the last reachable copies for other threads.
void ReleaseHolders() {
    App().backupManager.Release();
    App().syncManager.Release();
    App().hub.Release();
}

int CreateComponents(IClassFactory* hubFactory, bool fileOpen, Components& made) {
    if (FAILED(CreateInproc(CLSID_ZvLogger, made.logger)))
        return kNoUiEvent;
    if (FAILED(CreateInproc(CLSID_ZvAssocMgr, made.assocManager)))
        return kNoAssocManager;
    if (!hubFactory || FAILED(hubFactory->CreateInstance(nullptr, __uuidof(IZelvanMgr),
                                                         reinterpret_cast<void**>(&made.hub))) ||
        FAILED(App().hub.Marshal(__uuidof(IZelvanMgr), made.hub.Get())))
        return kNoHub;
    if (fileOpen) {
        com::ComPtr<IZelvanMgrDisp2> face;
        if (SUCCEEDED(made.hub->QueryInterface(__uuidof(IZelvanMgrDisp2), reinterpret_cast<void**>(&face))))
            face->put_ScriptsProhibited(VARIANT_TRUE);
    }
    if (FAILED(CreateInproc(CLSID_ZvSyncMgr, made.syncManager)) ||
        FAILED(App().syncManager.Marshal(__uuidof(IZvSyncMgr), made.syncManager.Get())))
        return kNoSyncManager;
    if (FAILED(CreateInproc(CLSID_ZvBackupMgr, made.backupManager)) ||
        FAILED(App().backupManager.Marshal(__uuidof(IZvBackupMgr), made.backupManager.Get())))
        return kNoBackupManager;
    if (FAILED(CreateInproc(CLSID_ZvRegistrar, made.itemStore)))
        return kNoItemStore;
    return 0;
}

} // namespace

int RunServer(IClassFactory* hubFactory, const std::optional<std::string>& fileOpenArguments) {
    App().uiReady.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    App().uiEnded.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!App().uiReady || !App().uiEnded)
        return kNoUiEvent;
    DdeService dde;
    dde.Start();

    const bool fileOpen = fileOpenArguments.has_value();
    if (!fileOpen) {
        VARIANT first;
        VariantInit(&first);
        first.vt = VT_I4;
        first.lVal = 1;
        if (!RunAutostart(L"OnStart", &first)) {
            SetEvent(App().uiEnded.Get());
            return 0;
        }
    }

    Components components;
    if (int failure = CreateComponents(hubFactory, fileOpen, components)) {
        ReleaseHolders();
        SetEvent(App().uiEnded.Get());
        return failure;
    }

    PinnedFaces pinned;
    pinned.Pin(components.hub.Get(), hubFactory);
    UiThread ui(fileOpenArguments);
    if (ui.Start())
        WaitForThreadWithPump(ui.Handle());
    ui.Join();
    SetEvent(App().uiEnded.Get());

    ReleaseHolders();
    pinned.Release();
    if (!fileOpen)
        RunAutostart(L"OnFinish", nullptr);
    return 0;
}

HRESULT ForwardFileOpen(const std::string& arguments, IZelvanMgr* hub) {
    if (!hub)
        return E_POINTER;
    std::string path = FileOpenPath(arguments);
    return hub->ProcessFileOpen(path.data());
}

bool OpenFileWithAssociation(const std::string& path) {
    WriteLog("Tavrilon: file open " + path);
    com::ComPtr<IZvAssocMgr> associations;
    if (FAILED(CoCreateInstance(CLSID_ZvAssocMgr, nullptr, CLSCTX_ALL, IID_IZvAssocMgr,
                                reinterpret_cast<void**>(&associations))))
        return false;
    std::string text = path;
    const HRESULT hr = associations->Open(text.data());
    if (FAILED(hr))
        return false;
    if (hr == S_OK)
        return true;
    // A handler that took the file and installed nothing (the user cancelled) is not asked
    // again; only a file that no handler takes goes to the uploader.
    LONG menuId = 0;
    if (SUCCEEDED(associations->GetContextMenuID(text.data(), &menuId)))
        return true;
    // No handler of its own: the user may copy the file into a folder of a device.
    return uploader::RunUploader(path, IDS_UPLOADER_CAPTION, App().language);
}

} // namespace tv::app
