// Benchmark: the association manager's start-up in this process (its handlers created, their
// bindings checked, every file type of the PC read) against a bare enumeration of the same
// registry keys. Prints one "benchmark" line.
#include "AssociationKeys.h"
#include "ComPtr.h"
#include "Handles.h"
#include "ZvAssocMgr.h"
#include <gtest/gtest.h>
#include <cstdio>

namespace {

using namespace tv;

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Every extension key of the classes root, its ProgID's key and that key's DefaultIcon; the
// number of complete types.
int EnumerateTypesBare() {
    int complete = 0;
    char name[261] = {};
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof(name);
        const LSTATUS status = RegEnumKeyExA(HKEY_CLASSES_ROOT, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            break;
        if (name[0] != '.')
            continue;
        std::string progId, description, icon;
        if (assoc::ReadDefaultValue(HKEY_CLASSES_ROOT, name, progId) && !progId.empty() &&
            assoc::ReadDefaultValue(HKEY_CLASSES_ROOT, progId, description) &&
            assoc::ReadDefaultValue(HKEY_CLASSES_ROOT, progId + "\\DefaultIcon", icon))
            ++complete;
    }
    return complete;
}

TEST(AssocStartupBenchmark, ManagerStartAgainstABareEnumeration) {
    com::ComApartment apartment;
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    const int types = EnumerateTypesBare();
    QueryPerformanceCounter(&end);
    const double bare = Seconds(start, end);

    com::ComPtr<IZvAssocMgr> manager;
    QueryPerformanceCounter(&start);
    ASSERT_EQ(CoCreateInstance(CLSID_ZvAssocMgr, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IZvAssocMgr),
                               reinterpret_cast<void**>(&manager)),
              S_OK);
    QueryPerformanceCounter(&end);
    const double startup = Seconds(start, end);

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
    std::printf("benchmark assoc_manager_startup: ratio %.2f (goal <= 2)\n", startup / bare);
}

} // namespace
