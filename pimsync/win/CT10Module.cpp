// ZvSyncCT10.dll: the contacts and the tasks synchronizer of 1.0 devices, their registration
// (classes, type library, the category of synchronizers) and the language library beside the DLL.
#include "ClassFactory.h"
#include "DllModule.h"
#include "SynchronizerClass.h"
#include "PimSynchronizer.h"
#include "ZvSyncCT10.h"

namespace {

using namespace tv;
namespace pim = tv::pimsync;

template <const pim::SyncKind& Kind>
using SynchronizerFactory = com::KindClassFactory<pim::PimSynchronizer, Kind>;

const com::DllServer& Server() {
    static const com::DllServer server(
        {SynchronizerClassInfo(CLSID_ZvSyncContacts10, L"ZvSyncContacts10 Class",
                               L"Tavrilon.ZvSyncContacts10.1", L"Tavrilon.ZvSyncContacts10",
                               LIBID_ZVSYNCCT10Lib,
                               com::CreateClassObjectOf<SynchronizerFactory<pim::kContactsKind>>),
         SynchronizerClassInfo(CLSID_ZvSyncTasks10, L"ZvSyncTasks10 Class", L"Tavrilon.ZvSyncTasks10.1",
                               L"Tavrilon.ZvSyncTasks10", LIBID_ZVSYNCCT10Lib,
                               com::CreateClassObjectOf<SynchronizerFactory<pim::kTasksKind>>)},
        true);
    return server;
}

} // namespace

TV_DLL_SERVER(Required, Server)
