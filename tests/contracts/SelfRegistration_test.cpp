// Self-registration of an in-process server through regsvr32: the class is creatable by CLSID
// and by both ProgIDs, listed in its component category, and leaves no key behind once removed.
#include "ComPtr.h"
#include "Handles.h"
#include "RegTestIds.h"
#include "RegistryScript.h"
#include "TestProcess.h"
#include <gtest/gtest.h>
#include <comcat.h>
#include <string>

using namespace tv::com;
using namespace tv::tests;

namespace {

constexpr DWORD kRegsvrLimitMs = 30000;

DWORD RunRegsvr32(const std::wstring& switches, const std::wstring& dll) {
    return RunProcess(L"regsvr32.exe " + switches + L" \"" + dll + L"\"", kRegsvrLimitMs);
}

bool KeyExists(const std::wstring& path) {
    UniqueHKey key;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

std::wstring DefaultValue(const std::wstring& path) {
    wchar_t value[MAX_PATH] = {};
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return L"<missing>";
    return value;
}

bool CategoryLists(ICatInformation* categories, REFCLSID clsid) {
    CATID wanted = CATID_RegTest;
    ComPtr<IEnumGUID> classes;
    if (FAILED(categories->EnumClassesOfCategories(1, &wanted, 0, nullptr, &classes)) || !classes)
        return false;
    GUID found;
    ULONG fetched = 0;
    while (classes->Next(1, &found, &fetched) == S_OK && fetched == 1) {
        if (IsEqualCLSID(found, clsid))
            return true;
    }
    return false;
}

// Unregisters the server at the end of the test whatever happened in it, and drops the test
// category, which the server registers but, being a shared definition, never removes.
class RegisteredServer {
  public:
    explicit RegisteredServer(std::wstring dll) : dll_(std::move(dll)) {}
    RegisteredServer(const RegisteredServer&) = delete;
    RegisteredServer& operator=(const RegisteredServer&) = delete;
    ~RegisteredServer() {
        RunRegsvr32(L"/u /s", dll_);
        ComPtr<ICatRegister> registrar;
        if (SUCCEEDED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_PPV_ARGS(&registrar)))) {
            CATID category = CATID_RegTest;
            registrar->UnRegisterCategories(1, &category);
        }
    }
    const std::wstring& Dll() const { return dll_; }

  private:
    std::wstring dll_;
};

TEST(SelfRegistration, RegsvrRegistersACreatableCategorisedClassAndRemovesEveryKey) {
    ComApartment apartment;
    ASSERT_TRUE(SUCCEEDED(apartment.Result()));
    const std::wstring clsidKey = L"CLSID\\" + GuidToString(CLSID_RegTest);
    ASSERT_FALSE(KeyExists(clsidKey)) << "left over from an earlier run";

    RegisteredServer server(PathBesideExecutable(L"tvregtest.dll"));
    ASSERT_EQ(0u, RunRegsvr32(L"/s", server.Dll()));
    EXPECT_EQ(0, lstrcmpiW(server.Dll().c_str(), DefaultValue(clsidKey + L"\\InprocServer32").c_str()));
    EXPECT_EQ(kRegTestProgId, DefaultValue(kRegTestVersionIndependentProgId + std::wstring(L"\\CurVer")));

    {
        ComPtr<IPersist> object;
        ASSERT_EQ(S_OK,
                  CoCreateInstance(CLSID_RegTest, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object)));
        CLSID made = CLSID_NULL;
        ASSERT_EQ(S_OK, object->GetClassID(&made));
        EXPECT_TRUE(IsEqualCLSID(CLSID_RegTest, made));
    }
    for (const wchar_t* progId : {kRegTestProgId, kRegTestVersionIndependentProgId}) {
        SCOPED_TRACE(progId == kRegTestProgId ? "versioned ProgID" : "version-independent ProgID");
        CLSID clsid = CLSID_NULL;
        ASSERT_EQ(S_OK, CLSIDFromProgID(progId, &clsid));
        EXPECT_TRUE(IsEqualCLSID(CLSID_RegTest, clsid));
        ComPtr<IPersist> object;
        EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object)));
    }

    ComPtr<ICatInformation> categories;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_PPV_ARGS(&categories)));
    CATID category = CATID_RegTest;
    EXPECT_TRUE(CategoryLists(categories.Get(), CLSID_RegTest));
    EXPECT_EQ(S_OK, categories->IsClassOfCategories(CLSID_RegTest, 1, &category, 0, nullptr));

    ASSERT_EQ(0u, RunRegsvr32(L"/u /s", server.Dll()));
    EXPECT_FALSE(KeyExists(clsidKey));
    EXPECT_FALSE(KeyExists(clsidKey + L"\\Implemented Categories"));
    EXPECT_FALSE(KeyExists(kRegTestProgId));
    EXPECT_FALSE(KeyExists(kRegTestVersionIndependentProgId));
    EXPECT_FALSE(CategoryLists(categories.Get(), CLSID_RegTest));
    CLSID clsid = CLSID_NULL;
    EXPECT_TRUE(FAILED(CLSIDFromProgID(kRegTestProgId, &clsid)));
}

} // namespace
