// Benchmark: the association manager's start-up in this process (its handlers found and
// created, their bindings checked, every file type of the PC read) against a bare enumeration
// of the same registry keys. Prints one "benchmark" line. One untimed round of each pays the
// process's one-time costs (the first activation of the manager and its handlers, the first walk
// of the keys); then the two alternate and each side's figure is its median round.
#include "AssociationKeys.h"
#include "BenchmarkRounds.h"
#include "ComPtr.h"
#include "Handles.h"
#include "ZvAssocMgr.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <string>

namespace {

using namespace tv;

constexpr int kRounds = 9;

// The default value of a key, read in one call the plain way; false when there is none.
bool ReadValue(HKEY root, const char* subKey, char* value, DWORD size) {
    return RegGetValueA(root, subKey, nullptr, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, value,
                        &size) == ERROR_SUCCESS;
}

// The keys the manager reads when it starts, walked bare: every class key's mark of the
// handler category (the manager finds its handlers through the system's categories manager,
// which looks at these keys), then every extension key of the classes root, its ProgID's key
// and that key's DefaultIcon. The number of complete types.
int EnumerateKeysBare() {
    char name[261] = {};
    com::UniqueHKey classes;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, classes.Put()) == ERROR_SUCCESS) {
        const std::string mark = "\\Implemented Categories\\{FC03042D-85B5-4391-A66F-1A02D18DA079}";
        for (DWORD index = 0;; ++index) {
            DWORD length = sizeof(name);
            const LSTATUS status = RegEnumKeyExA(classes.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (status == ERROR_MORE_DATA)
                continue;
            if (status != ERROR_SUCCESS)
                break;
            com::UniqueHKey marked;
            RegOpenKeyExA(classes.Get(), (name + mark).c_str(), 0, KEY_READ, marked.Put());
        }
    }
    int complete = 0;
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof(name);
        const LSTATUS status = RegEnumKeyExA(HKEY_CLASSES_ROOT, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            break;
        if (name[0] != '.')
            continue;
        char progId[261] = {}, description[512] = {}, icon[MAX_PATH + 32] = {};
        if (ReadValue(HKEY_CLASSES_ROOT, name, progId, sizeof(progId)) && progId[0] &&
            ReadValue(HKEY_CLASSES_ROOT, progId, description, sizeof(description)) &&
            ReadValue(HKEY_CLASSES_ROOT, (std::string(progId) + "\\DefaultIcon").c_str(), icon, sizeof(icon)))
            ++complete;
    }
    return complete;
}

TEST(AssocStartupBenchmark, ManagerStartAgainstABareEnumeration) {
    com::ComApartment apartment;
    const int types = EnumerateKeysBare();
    com::ComPtr<IZvAssocMgr> manager;
    ASSERT_EQ(CoCreateInstance(CLSID_ZvAssocMgr, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvAssocMgr),
                               reinterpret_cast<void**>(&manager)),
              S_OK);

    // The manager knows the types the bare walk found.
    com::ComPtr<IZvEnumAssociations> list;
    ASSERT_EQ(manager->EnumAssociations(0, &list), S_OK);
    int listed = 0;
    ZVASSOCIATION record{};
    LONG fetched = 0;
    while (list->Next(1, &record, &fetched) == S_OK && fetched == 1) {
        ++listed;
        CoTaskMemFree(record.strDescription);
        CoTaskMemFree(record.strExtension);
        CoTaskMemFree(record.strIconSrc);
    }
    EXPECT_LE(listed, types);
    EXPECT_GT(listed, 0);
    // The last reference ends that manager: each round's creation starts a new one.
    list.Reset();
    manager.Reset();

    const auto bare = [] {
        const double start = test::BenchmarkClock();
        EnumerateKeysBare();
        return test::BenchmarkClock() - start;
    };
    const auto startup = []() -> double {
        com::ComPtr<IZvAssocMgr> started;
        const double start = test::BenchmarkClock();
        const HRESULT hr = CoCreateInstance(CLSID_ZvAssocMgr, nullptr, CLSCTX_INPROC_SERVER,
                                            __uuidof(IZvAssocMgr), reinterpret_cast<void**>(&started));
        const double seconds = test::BenchmarkClock() - start;
        EXPECT_EQ(hr, S_OK);
        return hr == S_OK ? seconds : -1;
    };
    const auto [bareSeconds, startupSeconds] = test::MedianOfRounds(kRounds, bare, startup);
    ASSERT_GT(bareSeconds, 0);
    std::printf("manager start-up %.1f ms, bare walk %.1f ms (median of %d rounds each)\n",
                startupSeconds * 1000, bareSeconds * 1000, kRounds);
    std::printf("benchmark assoc_manager_startup: ratio %.2f (goal <= 2)\n", startupSeconds / bareSeconds);
}

} // namespace
