// The named-item store through its custom face in process, through IDispatch as scripts call it,
// and through cscript in two processes (registrar_test.js).
#include "AnsiText.h"
#include "CapArchive.h"
#include "ComPtr.h"
#include "Handles.h"
#include "ZvRegistrar.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <string>

using tv::com::ComPtr;
using tv::com::UniqueBstr;
using tv::com::UniqueHandle;
using tv::com::UniqueHKey;
using tv::com::UniqueTaskMem;

namespace {

constexpr HRESULT kStringTooLong = static_cast<HRESULT>(0x8004304B);
constexpr HRESULT kKeyOpen = static_cast<HRESULT>(0x80043047);

std::wstring ErrorDescription() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return L"";
    UniqueBstr text;
    info->GetDescription(text.Put());
    return text.Get() ? text.Get() : L"";
}

std::wstring StorePath() {
    char path[600] = {};
    DWORD size = sizeof(path) - 1;
    RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Zelvan\\Tavrilon\\ZvRegistrar", nullptr, RRF_RT_REG_SZ, nullptr,
                 path, &size);
    return tv::com::FromAnsi(path);
}

class RegistrarTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ZvRegistrar, nullptr, CLSCTX_INPROC_SERVER, IID_IZvRegistrar,
                                                  reinterpret_cast<void**>(&reg_)));
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_CapArchive, nullptr, CLSCTX_INPROC_SERVER, IID_ICapArchive,
                                                  reinterpret_cast<void**>(&archive_)));
    }
    void TearDown() override {
        reg_ = nullptr;
        archive_ = nullptr;
        CoUninitialize();
    }

    // Whether the store file itself (not the open store) holds the item.
    HRESULT FileHas(const wchar_t* name, long kind) {
        UniqueBstr path(SysAllocString(StorePath().c_str()));
        UniqueBstr item(SysAllocString(name));
        return archive_->Has(path.Get(), item.Get(), kind);
    }

    ComPtr<IZvRegistrar> reg_;
    ComPtr<ICapArchive> archive_;
};

TEST_F(RegistrarTest, StringsAndDwordsLiveUnderTheUsersSettings) {
    ASSERT_EQ(S_OK, reg_->StoreString("Common\\BackupFolder", "C:\\Backups"));
    char value[64] = {};
    DWORD size = sizeof(value);
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_CURRENT_USER, "Software\\Zelvan\\Tavrilon\\Common", "BackupFolder",
                                          RRF_RT_REG_SZ, nullptr, value, &size));
    EXPECT_STREQ("C:\\Backups", value);

    ASSERT_EQ(S_OK, reg_->StoreDWORD("RegistrarTopLevel", 77));
    DWORD number = 0;
    size = sizeof(number);
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_CURRENT_USER, "Software\\Zelvan\\Tavrilon", "RegistrarTopLevel",
                                          RRF_RT_REG_DWORD, nullptr, &number, &size));
    EXPECT_EQ(77u, number);
    DWORD back = 0;
    EXPECT_EQ(S_OK, reg_->GetDWORD("RegistrarTopLevel", &back));
    EXPECT_EQ(77u, back);

    UniqueTaskMem<char> text;
    ASSERT_EQ(S_OK, reg_->GetString("Common\\BackupFolder", text.Put()));
    EXPECT_STREQ("C:\\Backups", text.Get());
    EXPECT_EQ(E_POINTER, reg_->GetString("Common\\BackupFolder", nullptr));

    std::string longest(1023, 'a');
    EXPECT_EQ(S_OK, reg_->StoreString("RegistrarTest\\Long", longest.c_str()));
    ASSERT_EQ(S_OK, reg_->GetString("RegistrarTest\\Long", text.Put()));
    EXPECT_EQ(longest, text.Get());
    std::string tooLong(1024, 'a');
    EXPECT_EQ(kStringTooLong, reg_->StoreString("RegistrarTest\\Long", tooLong.c_str()));
    EXPECT_EQ(L"The string is too long to be stored.", ErrorDescription());

    BOOL has = TRUE;
    EXPECT_EQ(S_OK, reg_->HasItem(RIT_DWORD, "RegistrarTest\\Missing", &has));
    EXPECT_FALSE(has);
    EXPECT_EQ(S_OK, reg_->RemoveItem(RIT_DWORD, "RegistrarTopLevel"));
    EXPECT_EQ(static_cast<HRESULT>(0x8004304A), reg_->RemoveItem(RIT_DWORD, "RegistrarTopLevel"));
    EXPECT_EQ(DISP_E_EXCEPTION, reg_->HasItem(static_cast<ZvRegistrarItemType>(9), "x", &has));
    EXPECT_EQ(L"Unknown registar's item type", ErrorDescription());
    reg_->RemoveItem(RIT_STRING, "Common\\BackupFolder");
    reg_->RemoveItem(RIT_STRING, "RegistrarTest\\Long");
}

TEST_F(RegistrarTest, MachineWideValuesAreWrittenAndRead) {
    ComPtr<IZvRegistrarDisp2> disp;
    ASSERT_HRESULT_SUCCEEDED(reg_.As(&disp));
    UniqueBstr name(SysAllocString(L"RegistrarTest\\Global"));
    ASSERT_EQ(S_OK, disp->put_GlobalItemDWORD(name.Get(), 5));
    long written = 0;
    EXPECT_EQ(S_OK, disp->get_GlobalItemDWORD(name.Get(), &written));
    EXPECT_EQ(5, written);
    DWORD stored = 0, size = sizeof stored;
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Zelvan\\Tavrilon\\RegistrarTest", "Global",
                                          RRF_RT_REG_DWORD, nullptr, &stored, &size));
    EXPECT_EQ(5u, stored);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Zelvan\\Tavrilon\\RegistrarTest");
    // A key that cannot be made: error 12359, nothing written.
    UniqueBstr tooLong(SysAllocString((std::wstring(300, L'k') + L"\\Global").c_str()));
    EXPECT_EQ(kKeyOpen, disp->put_GlobalItemDWORD(tooLong.Get(), 5));

    UniqueBstr langId(SysAllocString(L"LangID"));
    long value = 0;
    EXPECT_EQ(S_OK, disp->get_GlobalItemDWORD(langId.Get(), &value));
    EXPECT_EQ(1033, value);
}

TEST_F(RegistrarTest, ScriptsAndVersionsReachTheFileOnlyWhenFlushed) {
    ASSERT_EQ(S_OK, reg_->StoreScript("RegistrarTest.Script", "first", 1));
    ASSERT_EQ(S_OK, reg_->StoreScript("RegistrarTest.Script", "second", 2));
    EXPECT_EQ(S_FALSE, FileHas(L"RegistrarTest.Script", 3)) << "not in the file before Flush";
    BOOL has = FALSE;
    EXPECT_EQ(S_OK, reg_->HasItem(RIT_SCRIPT, "RegistrarTest.Script", &has));
    EXPECT_TRUE(has) << "the open store answers for its unsaved items";

    ASSERT_EQ(S_OK, reg_->Flush());
    EXPECT_EQ(S_OK, FileHas(L"RegistrarTest.Script", 3));
    UniqueBstr path(SysAllocString(StorePath().c_str()));
    ComPtr<ICapDirectory> directory;
    ASSERT_EQ(S_OK, archive_->Dir(path.Get(), &directory));
    long count = 0, matches = 0;
    directory->get_Count(&count);
    for (long i = 0; i < count; ++i) {
        UniqueBstr itemName;
        directory->get_Name(i, itemName.Put());
        if (std::wstring(itemName.Get()) == L"RegistrarTest.Script")
            ++matches;
    }
    EXPECT_EQ(1, matches) << "storing again replaces the item";

    UniqueTaskMem<char> text;
    ASSERT_EQ(S_OK, reg_->GetScript("RegistrarTest.Script", text.Put()));
    EXPECT_STREQ("second", text.Get());
    long version = 0;
    EXPECT_EQ(S_OK, reg_->GetVersion(RIT_SCRIPT, "RegistrarTest.Script", &version));
    EXPECT_EQ(2, version);
    EXPECT_EQ(S_FALSE, reg_->GetVersion(RIT_STRING, "RegistrarTest.Script", &version));
    EXPECT_EQ(0, version);
    EXPECT_EQ(E_INVALIDARG, reg_->GetScript(nullptr, text.Put()));

    EXPECT_EQ(S_OK, reg_->RemoveItem(RIT_SCRIPT, "RegistrarTest.Script"));
    EXPECT_EQ(S_OK, reg_->HasItem(RIT_SCRIPT, "RegistrarTest.Script", &has));
    EXPECT_FALSE(has);
    EXPECT_EQ(DISP_E_EXCEPTION, reg_->RemoveItem(RIT_SCRIPT, "RegistrarTest.Script"));
    EXPECT_EQ(L"Registrar's entry was not found", ErrorDescription());
    EXPECT_EQ(DISP_E_EXCEPTION, reg_->GetScript("RegistrarTest.Script", text.Put()));
    EXPECT_EQ(L"Registrar entry not found", ErrorDescription());
    EXPECT_EQ(S_OK, reg_->Flush());
}

TEST_F(RegistrarTest, FilesComeBackAsTemporaryCopies) {
    wchar_t folder[MAX_PATH], source[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"src", 0, source);
    {
        tv::com::UniqueFileHandle file(CreateFileW(source, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD wrote = 0;
        WriteFile(file.Get(), "\x00\x01payload", 9, &wrote, nullptr);
    }
    std::string ansiSource = tv::com::ToAnsi(source, wcslen(source));
    ASSERT_EQ(S_OK, reg_->StoreFile("RegistrarTest.File", ansiSource.c_str(), 9));
    DeleteFileW(source);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), reg_->StoreFile("RegistrarTest.File", ansiSource.c_str(), 10));
    long version = 0;
    EXPECT_EQ(S_OK, reg_->GetVersion(RIT_FILE, "RegistrarTest.File", &version));
    EXPECT_EQ(9, version) << "a file that cannot be read changes nothing";

    UniqueTaskMem<char> copy;
    ASSERT_EQ(S_OK, reg_->GetFile("RegistrarTest.File", copy.Put()));
    char bytes[32] = {};
    DWORD got = 0;
    {
        tv::com::UniqueFileHandle file(CreateFileA(copy.Get(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file);
        ReadFile(file.Get(), bytes, sizeof(bytes), &got, nullptr);
    }
    DeleteFileA(copy.Get());
    EXPECT_EQ(9u, got);
    EXPECT_EQ(0, memcmp(bytes, "\x00\x01payload", 9));
    EXPECT_EQ(S_OK, reg_->RemoveItem(RIT_FILE, "RegistrarTest.File"));
    EXPECT_EQ(S_OK, reg_->Flush());
}

TEST_F(RegistrarTest, FailedFlushKeepsTheStoreOpenForALaterTry) {
    ASSERT_EQ(S_OK, reg_->StoreScript("RegistrarTest.Retry", "kept", 4));
    ASSERT_EQ(S_OK, reg_->Flush());
    std::wstring store = StorePath();
    ASSERT_EQ(S_OK, reg_->StoreScript("RegistrarTest.Retry", "changed", 5));
    // A folder where the store file was: the save cannot replace it.
    std::wstring moved = store + L".moved";
    ASSERT_TRUE(MoveFileW(store.c_str(), moved.c_str()));
    ASSERT_TRUE(CreateDirectoryW(store.c_str(), nullptr));
    EXPECT_TRUE(FAILED(reg_->Flush()));
    RemoveDirectoryW(store.c_str());
    ASSERT_TRUE(MoveFileW(moved.c_str(), store.c_str()));
    UniqueTaskMem<char> text;
    ASSERT_EQ(S_OK, reg_->GetScript("RegistrarTest.Retry", text.Put()));
    EXPECT_STREQ("changed", text.Get());
    ASSERT_EQ(S_OK, reg_->Flush());
    long version = 0;
    EXPECT_EQ(S_OK, reg_->GetVersion(RIT_SCRIPT, "RegistrarTest.Retry", &version));
    EXPECT_EQ(5, version);
    reg_->RemoveItem(RIT_SCRIPT, "RegistrarTest.Retry");
    EXPECT_EQ(S_OK, reg_->Flush());
}

TEST_F(RegistrarTest, OneObjectPerProcessAndScriptErrorsThroughIDispatch) {
    ComPtr<IUnknown> first, second;
    reg_.As(&first);
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ZvRegistrar, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                              reinterpret_cast<void**>(&second)));
    EXPECT_EQ(first.Get(), second.Get());

    ComPtr<IDispatch> dispatch;
    ASSERT_HRESULT_SUCCEEDED(reg_.As(&dispatch));
    LPOLESTR member = const_cast<LPOLESTR>(L"ItemScript");
    DISPID id = 0;
    ASSERT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, &member, 1, LOCALE_USER_DEFAULT, &id));
    VARIANT argument;
    VariantInit(&argument);
    V_VT(&argument) = VT_BSTR;
    V_BSTR(&argument) = SysAllocString(L"RegistrarTest.Nothing");
    DISPPARAMS params{&argument, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep{};
    EXPECT_EQ(DISP_E_EXCEPTION, dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &params,
                                                 &result, &excep, nullptr));
    EXPECT_EQ(L"Registrar entry not found", std::wstring(excep.bstrDescription ? excep.bstrDescription : L""));
    EXPECT_EQ(L"Tavrilon.ZvRegistrar.1", std::wstring(excep.bstrSource ? excep.bstrSource : L""));
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrHelpFile);
    VariantClear(&argument);
}

// Runs cscript on registrar_test.js; the script's output and exit code.
struct ScriptRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output;
};

ScriptRun RunScript(const char* mode) {
    ScriptRun run;
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string folder(self);
    folder.resize(folder.find_last_of('\\') + 1);
    std::string command = "cscript.exe //nologo \"" + folder + "registrar_test.js\" " + mode;

    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readRaw = nullptr, writeRaw = nullptr;
    if (!CreatePipe(&readRaw, &writeRaw, &inherit, 0))
        return run;
    UniqueHandle readEnd(readRaw), writeEnd(writeRaw);
    SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.Get();
    startup.hStdError = writeEnd.Get();
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process))
        return run;
    UniqueHandle processHandle(process.hProcess), thread(process.hThread);
    writeEnd.Reset();
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd.Get(), buffer, sizeof(buffer), &got, nullptr) && got > 0)
        run.output.append(buffer, got);
    if (WaitForSingleObject(processHandle.Get(), 60000) != WAIT_OBJECT_0) {
        TerminateProcess(processHandle.Get(), 1);
        return run;
    }
    GetExitCodeProcess(processHandle.Get(), &run.exitCode);
    return run;
}

TEST(RegistrarScriptTest, JScriptClientStoresAndASecondProcessFetches) {
    // The script uses its own process; this one must not hold the store open meanwhile.
    ScriptRun write = RunScript("write");
    EXPECT_EQ(0u, write.exitCode) << write.output;
    EXPECT_NE(std::string::npos, write.output.find("error too-long 0x8004304B The string is too long to be stored."))
        << write.output;
    EXPECT_NE(std::string::npos, write.output.find("error missing-dword 0x80043049 ")) << write.output;
    EXPECT_NE(std::string::npos, write.output.find("Registrar entry not found")) << write.output;
    EXPECT_NE(std::string::npos, write.output.find("Unknown registar's item type")) << write.output;
    EXPECT_NE(std::string::npos, write.output.find("write done, failures: 0")) << write.output;

    ScriptRun read = RunScript("read");
    EXPECT_EQ(0u, read.exitCode) << read.output;
    EXPECT_NE(std::string::npos, read.output.find("read done, failures: 0")) << read.output;
}

} // namespace
