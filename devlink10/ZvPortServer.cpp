// ZvPort.dll: the in-process server of the 1.0 generation's serial port ("ZvPort.ZvPortCOM").
#include "ClassFactory.h"
#include "DllModule.h"
#include "ZvPortCOM.h"

namespace {

HRESULT CreatePortClassObject(REFIID riid, void** ppv) {
    return tv::com::CreateComObject<tv::com::ClassFactory<devlink10::ZvPortCOM>>(riid, ppv);
}

const tv::com::DllServer& Server() {
    static const tv::com::DllServer server(
        {tv::com::ClassInfo{.clsid = &devlink10::kClsidZvPortCOM,
                            .description = L"ZvPortCOM Class",
                            .progId = L"ZvPort.ZvPortCOM.1",
                            .versionIndependentProgId = L"ZvPort.ZvPortCOM",
                            .threadingModel = L"Apartment",
                            .typeLib = &LIBID_ZvPortLib,
                            .programmable = true,
                            .categories = {},
                            .createClassObject = &CreatePortClassObject}},
        true);
    return server;
}

} // namespace

TV_DLL_SERVER(NotUsed, Server)
