// ZvSyncCTX15.dll entry points: the tasks, contacts, mail and appointments synchronizers of 1.5
// devices, each run by its script of the item store, and their self-registration.
#include "DllModule.h"
#include "ScriptSyncIds.h"
#include "ScriptSyncServer.h"
#include "ZvSyncCTX15.h"

namespace {

using namespace tv::scriptsync;

constexpr ScriptSyncClass kTasks{L"SyncTasksOutlookZelvan15", IDI_SYNCHOST_TASKS, true};
constexpr ScriptSyncClass kContacts{L"SyncContactsOutlookZelvan15", IDI_SYNCHOST_CONTACTS, true};
constexpr ScriptSyncClass kMail{L"SyncMailOutlookZelvan15", IDI_SYNCHOST_MAIL, true};
constexpr ScriptSyncClass kAppointments{L"SyncAppointmentsOutlookZelvan15", IDI_SYNCHOST_APPOINTMENTS, true};

const tv::com::DllServer& Server() {
    static const tv::com::DllServer server(
        {ScriptSyncClassInfo({&CLSID_ZvSyncTasks15, L"ZvSyncTasks15 Class", L"Tavrilon.ZvSyncTasks15.1",
                              L"Tavrilon.ZvSyncTasks15", &CreateScriptSyncFactory<kTasks>},
                             LIBID_ZVSYNCCTX15Lib),
         ScriptSyncClassInfo({&CLSID_ZvSyncContacts15, L"ZvSyncContacts15 Class", L"Tavrilon.ZvSyncContacts15.1",
                              L"Tavrilon.ZvSyncContacts15", &CreateScriptSyncFactory<kContacts>},
                             LIBID_ZVSYNCCTX15Lib),
         ScriptSyncClassInfo({&CLSID_ZvSyncMailOutlook15, L"ZvSyncMailOutlook15 Class",
                              L"Tavrilon.ZvSyncMailOutlook15.1", L"Tavrilon.ZvSyncMailOutlook15",
                              &CreateScriptSyncFactory<kMail>},
                             LIBID_ZVSYNCCTX15Lib),
         ScriptSyncClassInfo({&CLSID_ZvSyncAppointments15, L"ZvSyncAppointments15 Class",
                              L"Tavrilon.ZvSyncAppointments15.1", L"Tavrilon.ZvSyncAppointments15",
                              &CreateScriptSyncFactory<kAppointments>},
                             LIBID_ZVSYNCCTX15Lib)},
        true);
    return server;
}

} // namespace

TV_DLL_SERVER(Required, Server)
