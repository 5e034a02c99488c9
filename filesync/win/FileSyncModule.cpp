// ZvSyncFiles10.dll: the two file synchronizer classes, their registration (classes, type
// library, the category of synchronizers) and the language library loaded beside the DLL.
#include "ClassFactory.h"
#include "DllModule.h"
#include "SynchronizerClass.h"
#include "FileSynchronizer.h"
#include "ZvSyncFiles10.h"

namespace {

using namespace tv;
using Generation = ::filesync::Generation;

constexpr Generation kV10 = Generation::V10;
constexpr Generation kV15 = Generation::V15;
template <const Generation& G>
using SynchronizerFactory = com::KindClassFactory<tv::filesync::FileSynchronizer, G>;

const com::DllServer& Server() {
    static const com::DllServer server(
        {SynchronizerClassInfo(CLSID_ZvSyncFiles10, L"ZvSyncFiles10 Class", L"Tavrilon.ZvSyncFiles10.1",
                               L"Tavrilon.ZvSyncFiles10", LIBID_ZVSYNCFILES10Lib,
                               com::CreateClassObjectOf<SynchronizerFactory<kV10>>),
         SynchronizerClassInfo(CLSID_ZvSyncFiles15, L"ZvSyncFiles15 Class", L"Tavrilon.ZvSyncFiles15.1",
                               L"Tavrilon.ZvSyncFiles15", LIBID_ZVSYNCFILES10Lib,
                               com::CreateClassObjectOf<SynchronizerFactory<kV15>>)},
        true);
    return server;
}

} // namespace

TV_DLL_SERVER(Required, Server)
