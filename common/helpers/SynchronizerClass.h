// The registration of a synchronizer class: apartment threaded, with its type library, in the
// component category through which the synchronization manager finds synchronizers.
#pragma once
#include "ServerRegistration.h"

namespace tv {

inline constexpr CATID kCategorySynchronizers = {
    0xE735514E, 0xA1EE, 0x4FB8, {0x90, 0x25, 0xEC, 0x96, 0xC7, 0x89, 0x50, 0x13}};

inline com::ClassInfo SynchronizerClassInfo(const CLSID& clsid, const wchar_t* description, const wchar_t* progId,
                                            const wchar_t* versionIndependentProgId, const GUID& typeLib,
                                            HRESULT (*createClassObject)(REFIID, void**)) {
    return com::ClassInfo{.clsid = &clsid,
                          .description = description,
                          .progId = progId,
                          .versionIndependentProgId = versionIndependentProgId,
                          .threadingModel = L"Apartment",
                          .typeLib = &typeLib,
                          .programmable = false,
                          .categories = {{kCategorySynchronizers, L"ZvSynchronizers"}},
                          .createClassObject = createClassObject};
}

} // namespace tv
