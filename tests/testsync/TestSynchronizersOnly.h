// While a test of the synchronization manager runs, the category of synchronizers holds only the
// three test synchronizers (or the classes a test names): every other class (the suite's own
// synchronizers) is taken out of it and put back when the object goes, so that the tests see the
// same rows whatever is installed.
#pragma once
#include "TestSyncIds.h"
#include <windows.h>
#include <comcat.h>
#include <vector>

namespace tv::tests {

class TestSynchronizersOnly {
public:
    TestSynchronizersOnly() : TestSynchronizersOnly({CLSID_TestSync1, CLSID_TestSync2, CLSID_TestSync3}) {}
    explicit TestSynchronizersOnly(const std::vector<CLSID>& kept) {
        ICatInformation* information = nullptr;
        if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_ICatInformation, reinterpret_cast<void**>(&information))))
            return;
        CATID category = kCategory;
        IEnumCLSID* classes = nullptr;
        if (SUCCEEDED(information->EnumClassesOfCategories(1, &category, static_cast<ULONG>(-1), nullptr, &classes)) &&
            classes) {
            CLSID clsid;
            ULONG fetched = 0;
            while (classes->Next(1, &clsid, &fetched) == S_OK && fetched == 1) {
                bool keep = false;
                for (const CLSID& wanted : kept)
                    keep = keep || IsEqualCLSID(clsid, wanted);
                if (!keep)
                    hidden_.push_back(clsid);
            }
            classes->Release();
        }
        information->Release();
        Change(&ICatRegister::UnRegisterClassImplCategories);
    }
    ~TestSynchronizersOnly() { Change(&ICatRegister::RegisterClassImplCategories); }
    TestSynchronizersOnly(const TestSynchronizersOnly&) = delete;
    TestSynchronizersOnly& operator=(const TestSynchronizersOnly&) = delete;

private:
    static constexpr CATID kCategory = {
        0xE735514E, 0xA1EE, 0x4FB8, {0x90, 0x25, 0xEC, 0x96, 0xC7, 0x89, 0x50, 0x13}};

    void Change(HRESULT (STDMETHODCALLTYPE ICatRegister::*change)(REFCLSID, ULONG, CATID*)) {
        if (hidden_.empty())
            return;
        ICatRegister* registrar = nullptr;
        if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                                    reinterpret_cast<void**>(&registrar))))
            return;
        for (const CLSID& clsid : hidden_) {
            CATID category = kCategory;
            (registrar->*change)(clsid, 1, &category);
        }
        registrar->Release();
    }

    std::vector<CLSID> hidden_;
};

} // namespace tv::tests
