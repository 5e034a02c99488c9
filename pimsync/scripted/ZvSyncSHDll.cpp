// ZvSyncSH.dll entry points: the subscription synchronizer, run by its script of the item store,
// and its self-registration.
#include "DllModule.h"
#include "ScriptSyncIds.h"
#include "ScriptSyncServer.h"
#include "ZvSyncSH.h"

namespace {

using namespace tv::scriptsync;

// It shows no dialog: a conflict is not its to settle.
constexpr ScriptSyncClass kSubscription{L"SyncSubscriptionGetter", IDI_SYNCHOST_SUBSCRIPTION, false};

const tv::com::DllServer& Server() {
    static const tv::com::DllServer server(
        {ScriptSyncClassInfo({&CLSID_ZvSyncSubscriptionGetter, L"ZvSyncSubscriptionGetter Class",
                              L"Tavrilon.ZvSyncSubscriptionGetter.1", L"Tavrilon.ZvSyncSubscriptionGetter",
                              &CreateScriptSyncFactory<kSubscription>},
                             LIBID_ZVSYNCSHLib)},
        true);
    return server;
}

} // namespace

TV_DLL_SERVER(NotUsed, Server)
