// The mail bridge: filter settings and their dialog, the identifier database, fresh names, body
// cuts and name resolution through the test provider, and the helpers other deliverables use.
#include "AnsiText.h"
#include "BridgeHelpers.h"
#include "BridgeTestSupport.h"
#include "LangIds.h"
#include "PimBridge.h"
#include "UiHarness.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <map>
#include <regex>
#include <thread>

namespace tv::pimbridge::test {
namespace {

using com::ComPtr;
using com::UniqueBstr;

constexpr char kDevice[] = "@TPB0001";
const std::string kFilterKey = "Software\\Zelvan\\Tavrilon\\DeviceList\\@TPB0001\\{4349BB09-7C65-4B86-B5E0-608733CD9654}\\Filter";
const std::string kDatabaseKey =
    "Software\\Zelvan\\Tavrilon\\DeviceList\\@TPB0001\\{4349BB09-7C65-4B86-B5E0-608733CD9654}\\Database";

UniqueBstr Text(const std::string& text) { return com::AnsiToUniqueBstr(text); }

class PimBridgeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        store_ = PrepareStore(kFixtureStore, L"pimbridge-bridge.store");
        DeleteBridgeKeys(kDevice);
        DeleteBridgeKeys("");
    }
    void TearDown() override { DeleteBridgeKeys(kDevice); }

    ComPtr<IZvPimBridge> NewBridge() {
        ComPtr<IZvPimBridge> bridge;
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_ZvPimBridge, nullptr, CLSCTX_INPROC_SERVER, IID_IZvPimBridge,
                                         reinterpret_cast<void**>(&bridge)));
        return bridge;
    }
    ComPtr<IZvPimBridge> BridgeFor(const char* device) {
        ComPtr<IZvPimBridge> bridge = NewBridge();
        EXPECT_EQ(S_OK, bridge->SetDevice(Text(device).Get()));
        return bridge;
    }
    std::string Resolve(const char* name) {
        ComPtr<IZvPimBridge> bridge = NewBridge();
        UniqueBstr address;
        EXPECT_EQ(S_OK, bridge->ResolveName(Text(name).Get(), address.Put()));
        return com::ToAnsi(address.Get());
    }
    static void SetDword(const char* name, DWORD value) {
        RegSetKeyValueA(HKEY_CURRENT_USER, kFilterKey.c_str(), name, REG_DWORD, &value, sizeof(value));
    }
    static std::map<std::string, std::string> Database() {
        std::map<std::string, std::string> values;
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kDatabaseKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return values;
        for (DWORD i = 0;; ++i) {
            char name[512], data[512];
            DWORD nameSize = sizeof(name), dataSize = sizeof(data);
            if (RegEnumValueA(key, i, name, &nameSize, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &dataSize) !=
                ERROR_SUCCESS)
                break;
            values[name] = data;
        }
        RegCloseKey(key);
        return values;
    }

    com::ComApartment apartment_;
    std::wstring store_;
};

VARIANT DaysAgo(double days) {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    VARIANT date;
    VariantInit(&date);
    date.vt = VT_DATE;
    SystemTimeToVariantTime(&now, &date.date);
    date.date -= days;
    return date;
}

TEST_F(PimBridgeTest, SettingsAreLoadedWithMissingValuesWritten) {
    SetDword("Attributes", 8);
    SetDword("Days", 10);
    ComPtr<IZvPimBridge> bridge = BridgeFor(kDevice);
    EXPECT_EQ(ReadDword(kFilterKey, "CutMessageSize", 0), 4096u);
    EXPECT_EQ(ReadDword(kFilterKey, "MailSize", 0), 1024u);
    EXPECT_EQ(ReadDword(kFilterKey, "AttachmentSize", 0), 4096u);
    EXPECT_EQ(ReadDword(kFilterKey, "Days", 0), 10u);
    // Bodies are cut (bit 3) at the 4096 characters just written.
    UniqueBstr cut;
    ASSERT_EQ(S_OK, bridge->CutMessageBody(Text(std::string(4097, 'x')).Get(), cut.Put()));
    wchar_t marker[256] = {};
    LoadStringW(GetModuleHandleW(L"Zv0409.dll") ? GetModuleHandleW(L"Zv0409.dll")
                                                 : LoadLibraryExW(L"Zv0409.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE),
                IDS_PIMBRIDGE_CUT_MARKER, marker, 256);
    ASSERT_NE(marker[0], 0);
    EXPECT_EQ(std::wstring(cut.Get()), std::wstring(4096, L'x') + marker);
    ASSERT_EQ(S_OK, bridge->CutMessageBody(Text(std::string(4096, 'x')).Get(), cut.Put()));
    EXPECT_EQ(SysStringLen(cut.Get()), 4096u);
    EXPECT_EQ(E_POINTER, bridge->CutMessageBody(Text("x").Get(), nullptr));
    EXPECT_EQ(E_FAIL, bridge->SetDevice(Text("").Get()));
}

// Settings go back on release only when they were loaded: a bridge that never had a device
// writes nothing, not even under an empty device id.
TEST_F(PimBridgeTest, ReleaseWritesSettingsOnlyWhenLoaded) {
    NewBridge().Reset();
    HKEY key = nullptr;
    const std::string empty = "Software\\Zelvan\\Tavrilon\\DeviceList\\\\{4349BB09-7C65-4B86-B5E0-608733CD9654}";
    EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, empty.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    ComPtr<IZvPimBridge> bridge = BridgeFor(kDevice);
    SetDword("Days", 77);
    bridge.Reset();
    EXPECT_EQ(ReadDword(kFilterKey, "Days", 0), 3u); // the loaded value went back
}

TEST_F(PimBridgeTest, FilterPassesYoungAndSmallEnoughMessages) {
    ComPtr<IZvPimBridge> unloaded = NewBridge();
    long passes = -1;
    EXPECT_EQ(E_FAIL, unloaded->FilterOutlookMailMessage(DaysAgo(1), 10, &passes));
    EXPECT_EQ(E_FAIL, unloaded->FilterAttachment(10, &passes));

    ComPtr<IZvPimBridge> bridge = BridgeFor(kDevice);
    EXPECT_EQ(S_OK, bridge->FilterOutlookMailMessage(DaysAgo(2.9), 5000, &passes));
    EXPECT_EQ(passes, 1);
    EXPECT_EQ(S_OK, bridge->FilterOutlookMailMessage(DaysAgo(3.0 + 10.0 / 86400), 10, &passes));
    EXPECT_EQ(passes, 0);
    VARIANT empty, text;
    VariantInit(&empty);
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"2026-01-01");
    EXPECT_EQ(E_FAIL, bridge->FilterOutlookMailMessage(empty, 10, &passes));
    EXPECT_EQ(E_INVALIDARG, bridge->FilterOutlookMailMessage(text, 10, &passes));
    VariantClear(&text);
    EXPECT_EQ(E_POINTER, bridge->FilterOutlookMailMessage(DaysAgo(1), 10, nullptr));
    EXPECT_EQ(S_OK, bridge->FilterAttachment(1 << 30, &passes));
    EXPECT_EQ(passes, 0);

    SetDword("Attributes", 1);
    bridge = BridgeFor(kDevice);
    EXPECT_EQ(S_OK, bridge->FilterOutlookMailMessage(DaysAgo(1), 1024, &passes));
    EXPECT_EQ(passes, 0);
    EXPECT_EQ(S_OK, bridge->FilterOutlookMailMessage(DaysAgo(1), 1023, &passes));
    EXPECT_EQ(passes, 1);
}

TEST_F(PimBridgeTest, IdentifierDatabaseHoldsExactlyTheCommittedPairs) {
    ComPtr<IZvPimBridge> bridge = NewBridge();
    long same = -1;
    EXPECT_EQ(E_FAIL, bridge->IsTheSameItem(Text("o1").Get(), Text("d1").Get(), &same));
    bridge = BridgeFor(kDevice);
    EXPECT_EQ(E_FAIL, bridge->IsTheSameItem(Text("").Get(), Text("d1").Get(), &same));
    EXPECT_EQ(E_POINTER, bridge->IsTheSameItem(Text("o1").Get(), Text("d1").Get(), nullptr));
    ASSERT_EQ(S_OK, bridge->SetUIDPair(Text("o1").Get(), Text("d1").Get()));
    ASSERT_EQ(S_OK, bridge->SetUIDPair(Text("o2").Get(), Text("d2").Get()));
    EXPECT_EQ(S_OK, bridge->IsTheSameItem(Text("o1").Get(), Text("d1").Get(), &same));
    EXPECT_EQ(same, 1);
    EXPECT_EQ(S_OK, bridge->IsTheSameItem(Text("o1").Get(), Text("D1").Get(), &same));
    EXPECT_EQ(same, 0);
    ASSERT_EQ(S_OK, bridge->CommitUIDS());
    EXPECT_EQ(Database(), (std::map<std::string, std::string>{{"o1", "d1"}, {"o2", "d2"}}));

    bridge = BridgeFor(kDevice);
    EXPECT_EQ(S_OK, bridge->IsTheSameItem(Text("o2").Get(), Text("d2").Get(), &same));
    EXPECT_EQ(same, 1);
    ASSERT_EQ(S_OK, bridge->SetUIDPair(Text("o3").Get(), Text("d3").Get()));
    ASSERT_EQ(S_OK, bridge->CommitUIDS());
    EXPECT_EQ(Database(), (std::map<std::string, std::string>{{"o3", "d3"}}));
}

// The pairs are written before anything is deleted: a write that fails keeps what was stored.
TEST_F(PimBridgeTest, FailedCommitKeepsTheEarlierMappings) {
    ComPtr<IZvPimBridge> bridge = BridgeFor(kDevice);
    ASSERT_EQ(S_OK, bridge->SetUIDPair(Text("o1").Get(), Text("d1").Get()));
    ASSERT_EQ(S_OK, bridge->CommitUIDS());
    bridge = BridgeFor(kDevice);
    ASSERT_EQ(S_OK, bridge->SetUIDPair(Text("o2").Get(), Text("d2").Get()));
    // A value name longer than the registry allows cannot be written.
    ASSERT_EQ(S_OK, bridge->SetUIDPair(Text(std::string(20000, 'n')).Get(), Text("d3").Get()));
    EXPECT_TRUE(FAILED(bridge->CommitUIDS()));
    const auto stored = Database();
    EXPECT_EQ(stored.count("o1"), 1u);
    EXPECT_EQ(stored.count("o2"), 1u);
}

TEST_F(PimBridgeTest, FreshNamesHaveTheirForms) {
    ComPtr<IZvPimBridge> bridge = NewBridge();
    UniqueBstr first, second, attachment;
    ASSERT_EQ(S_OK, bridge->GenerateZvUID(first.Put()));
    ASSERT_EQ(S_OK, bridge->GenerateZvUID(second.Put()));
    ASSERT_EQ(S_OK, bridge->GenerateAttachmentName(attachment.Put()));
    const std::string a = com::ToAnsi(first.Get()), b = com::ToAnsi(second.Get());
    EXPECT_TRUE(std::regex_match(a, std::regex("[0-9a-f]{2,15}"))) << a;
    EXPECT_NE(a, b);
    const std::string name = com::ToAnsi(attachment.Get());
    EXPECT_TRUE(std::regex_match(name, std::regex("[1-9a-f][0-9a-f]{0,7}\\.att"))) << name;
    EXPECT_EQ(E_POINTER, bridge->GenerateZvUID(nullptr));
}

TEST_F(PimBridgeTest, NamesResolveThroughTheProviderThenTheInbox) {
    EXPECT_EQ(Resolve("Ann Example"), "ann@example.org");   // the resolver's own address
    EXPECT_EQ(Resolve("Carol Sender"), "carol@example.org"); // an inbox message's sender
    EXPECT_EQ(Resolve("Dave Reader"), "dave@example.org");   // resolver has no "@": a "To" recipient
    EXPECT_EQ(Resolve("Erin Copy"), "Erin Copy");            // only a copy recipient: not taken
    EXPECT_EQ(Resolve("carol sender"), "carol sender");      // names compare with case
    EXPECT_EQ(QueryProvider().simple, 0);
    // The search reads without marking anything read.
    EXPECT_NE(ReadFile(store_).find("prop 0E070003 0"), std::string::npos);
}

TEST_F(PimBridgeTest, ScriptsReachTheBridge) {
    Script script;
    EXPECT_EQ(script.Run(LR"(function test() {
        var b = make("ZvPimBridge");
        b.SetDevice("@TPB0001");
        var d = b.FilterOutlookMailMessage(dates.DaysAgo(1), 10);
        return [b.ResolveName("Ann Example"), d, b.CutMessageBody("short"),
                hr(function () { b.SetDevice(""); })].join("|");
    })"),
              "ann@example.org|1|short|80004005");
}

TEST(PimBridgeHelpers, WideListsSplitIntoAnsiItems) {
    std::vector<std::string> list{"stale"};
    EXPECT_FALSE(SplitWideList(nullptr, L';', list));
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(SplitWideList(L"", L';', list));
    EXPECT_TRUE(list.empty());
    ASSERT_TRUE(SplitWideList(L"a;;\x20AC\x00E9;", L';', list));
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0], "a");
    EXPECT_EQ(list[1], "");
    EXPECT_EQ(list[2], com::ToAnsi(L"\x20AC\x00E9", 2)); // the ANSI code page's bytes, not the low bytes
    EXPECT_NE(list[2], "\xAC\xE9");
    EXPECT_EQ(list[3], "");
    ASSERT_TRUE(SplitWideList(L"abc", 0, list));
    EXPECT_EQ(list, std::vector<std::string>{""});
}

TEST(PimBridgeHelpers, ProgramImagePathComesFromTheMachineSettings) {
    char expected[300] = {};
    DWORD size = sizeof(expected);
    if (RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Zelvan\\Tavrilon", "Image", RRF_RT_REG_SZ, nullptr,
                     expected, &size) != ERROR_SUCCESS) {
        // The install writes it: a run that requires the install fails without it.
        if (tv::test::InstallRequired())
            FAIL() << "the prefix has no program path";
        GTEST_SKIP() << "the prefix has no program path";
    }
    EXPECT_EQ(ReadProgramImagePath(), expected);
}

// The filter dialog as a user drives it: the values shown, a days text that is no number refused
// and undone, then new values confirmed; Cancel changes nothing.
TEST_F(PimBridgeTest, FilterDialogTakesWhatTheUserConfirms) {
    SetDword("Days", 5);
    std::atomic<bool> ok{true};
    std::string failure;
    auto check = [&](bool condition, const char* what) {
        if (!condition && ok.exchange(false))
            failure = what;
    };
    std::thread user([&] {
        HWND dialog = tv::test::WaitForWindow(L"#32770", L"Mail filter", 20000);
        check(dialog != nullptr, "no dialog");
        if (!dialog)
            return;
        check(GetDlgItemInt(dialog, IDC_PIMBRIDGE_DAYS, nullptr, FALSE) == 5, "days shown");
        check(SendDlgItemMessageW(dialog, IDC_PIMBRIDGE_DAYS_SPIN, UDM_GETPOS32, 0, 0) == 5, "spin position");
        int low = -1, high = -1;
        SendDlgItemMessageW(dialog, IDC_PIMBRIDGE_DAYS_SPIN, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low),
                            reinterpret_cast<LPARAM>(&high));
        check(low == 0 && high == 730, "spin range");
        check(!IsWindowEnabled(GetDlgItem(dialog, IDC_PIMBRIDGE_MAIL_SIZE)), "size edit disabled");
        // Painted through before the picture is taken.
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        tv::test::SaveScreenshot(tv::test::ExeFolder() + L"\\pimbridge_filter_dialog.bmp");
        // Typing a letter brings the warning; answering it leaves the old number.
        std::thread typing([dialog] {
            SendDlgItemMessageW(dialog, IDC_PIMBRIDGE_DAYS, EM_SETSEL, 0, -1);
            SendDlgItemMessageW(dialog, IDC_PIMBRIDGE_DAYS, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"x"));
        });
        HWND warning = tv::test::WaitForWindow(L"#32770", L"Tavrilon", 20000);
        check(warning != nullptr, "no warning");
        if (warning) {
            RedrawWindow(warning, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
            tv::test::SaveScreenshot(tv::test::ExeFolder() + L"\\pimbridge_filter_warning.bmp");
            PostMessageW(warning, WM_COMMAND, IDOK, 0);
        }
        typing.join();
        check(GetDlgItemInt(dialog, IDC_PIMBRIDGE_DAYS, nullptr, FALSE) == 5, "days undone");
        SetDlgItemInt(dialog, IDC_PIMBRIDGE_DAYS, 14, FALSE);
        tv::test::ClickButton(dialog, IDC_PIMBRIDGE_LIMIT_SIZE);
        check(tv::test::PollUntil([&] { return IsWindowEnabled(GetDlgItem(dialog, IDC_PIMBRIDGE_MAIL_SIZE)) != FALSE; },
                                  5000),
              "size edit enabled");
        SetDlgItemInt(dialog, IDC_PIMBRIDGE_MAIL_SIZE, 2048, FALSE);
        tv::test::ClickButton(dialog, IDOK);
    });
    ComPtr<IZvPimBridge> bridge = NewBridge();
    EXPECT_EQ(S_OK, bridge->Tune(Text(kDevice).Get()));
    user.join();
    EXPECT_TRUE(ok) << failure;
    EXPECT_EQ(ReadDword(kFilterKey, "Days", 0), 14u);
    EXPECT_EQ(ReadDword(kFilterKey, "Attributes", 0), 1u);
    EXPECT_EQ(ReadDword(kFilterKey, "MailSize", 0), 2048u);

    std::thread cancel([] {
        HWND dialog = tv::test::WaitForWindow(L"#32770", L"Mail filter", 20000);
        if (dialog) {
            SetDlgItemInt(dialog, IDC_PIMBRIDGE_DAYS, 99, FALSE);
            tv::test::ClickButton(dialog, IDCANCEL);
        }
    });
    EXPECT_EQ(S_OK, bridge->Tune(Text(kDevice).Get()));
    cancel.join();
    EXPECT_EQ(ReadDword(kFilterKey, "Days", 0), 14u);
    EXPECT_EQ(E_FAIL, bridge->Tune(Text("").Get()));
}

// Without the test provider, Wine's own mail client answers: it resolves every name to an
// address without "@" and keeps no inbox, so the bridge gives the name back; Extended MAPI
// cannot log on.
TEST(PimBridgeFallback, WinesOwnClientGivesTheNameBack) {
    com::ComApartment apartment;
    MailClientSwitch wine("Native Mail Client");
    ComPtr<IZvPimBridge> bridge;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ZvPimBridge, nullptr, CLSCTX_INPROC_SERVER, IID_IZvPimBridge,
                                     reinterpret_cast<void**>(&bridge)));
    EXPECT_EQ(GetModuleHandleW(L"TestMapiProvider.dll"), nullptr);
    UniqueBstr address;
    ASSERT_EQ(S_OK, bridge->ResolveName(Text("Ann Example").Get(), address.Put()));
    EXPECT_STREQ(address.Get(), L"Ann Example");
    ComPtr<IZvOutlookProvider> provider;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ZvOutlookProvider, nullptr, CLSCTX_INPROC_SERVER, IID_IZvOutlookProvider,
                                     reinterpret_cast<void**>(&provider)));
    EXPECT_TRUE(FAILED(provider->LogOn()));
}

} // namespace
} // namespace tv::pimbridge::test
