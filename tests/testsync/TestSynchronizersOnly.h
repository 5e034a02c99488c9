// While a test runs, the category of synchronizers holds only the synchronizers it names: every
// other class (the suite's own synchronizers, or the test ones) is taken out of it and put back
// when the object goes, so that the test sees the same rows whatever is installed. The tests of
// the synchronization manager keep the three test synchronizers (TestSynchronizersOnly); an
// end-to-end test of one synchronizer keeps that one.
#pragma once
#include "TestSyncIds.h"
#include <windows.h>
#include <comcat.h>
#include <algorithm>
#include <initializer_list>
#include <vector>

namespace tv::tests {

class SynchronizersOnly {
public:
    explicit SynchronizersOnly(std::initializer_list<CLSID> kept) {
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
                if (std::none_of(kept.begin(), kept.end(), [&](const CLSID& k) { return IsEqualCLSID(k, clsid); }))
                    hidden_.push_back(clsid);
            }
            classes->Release();
        }
        information->Release();
        Change(&ICatRegister::UnRegisterClassImplCategories);
    }
    ~SynchronizersOnly() { Change(&ICatRegister::RegisterClassImplCategories); }
    SynchronizersOnly(const SynchronizersOnly&) = delete;
    SynchronizersOnly& operator=(const SynchronizersOnly&) = delete;

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

// The tests of the synchronization manager: only the three test synchronizers.
class TestSynchronizersOnly : public SynchronizersOnly {
public:
    TestSynchronizersOnly() : SynchronizersOnly({CLSID_TestSync1, CLSID_TestSync2, CLSID_TestSync3}) {}
};

} // namespace tv::tests
