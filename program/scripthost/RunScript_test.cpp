#include "RunScript.h"
#include "ComPtr.h"
#include "ScriptControl.h"
#include "ScriptTestSupport.h"
#include "UiHarness.h"
#include "ZvRegistrar.h"
#include <gtest/gtest.h>
#include <string>

namespace {

using tv::RunScript;
using tv::com::ComPtr;
using tv::test::Bstr;
using tv::test::Variant;

constexpr wchar_t kProgramTitle[] = L"Tavrilon";

class RunScriptTest : public ::testing::Test {
  protected:
    tv::com::ComApartment apartment_;
};

HRESULT RunWithArgument(const wchar_t* script, const wchar_t* function, long argument, Variant& result) {
    Variant arg(argument);
    return RunScript(Bstr(script).Get(), Bstr(function).Get(), 1, &arg, 0, nullptr, nullptr, &result, false);
}

TEST_F(RunScriptTest, OnlyABooleanFalseResultCountsAsFalse) {
    const wchar_t* script = L"function OnStart(n) { if (n == 1) return false; if (n == 2) return 0;"
                            L" if (n == 3) return true; }";
    Variant refused, zero, accepted, nothing;
    ASSERT_EQ(S_OK, RunWithArgument(script, L"OnStart", 1, refused));
    EXPECT_TRUE(tv::IsBooleanFalse(refused));
    ASSERT_EQ(S_OK, RunWithArgument(script, L"OnStart", 2, zero));
    EXPECT_FALSE(tv::IsBooleanFalse(zero));
    ASSERT_EQ(S_OK, RunWithArgument(script, L"OnStart", 3, accepted));
    EXPECT_FALSE(tv::IsBooleanFalse(accepted));
    ASSERT_EQ(S_OK, RunWithArgument(script, L"OnStart", 4, nothing));
    EXPECT_FALSE(tv::IsBooleanFalse(nothing));
}

TEST_F(RunScriptTest, NamedObjectsAreReachableFromTheScript) {
    // Another control's global code object serves as an automation object with a method.
    ComPtr<IScriptControl> helperControl;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ScriptControl, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_PPV_ARGS(&helperControl)));
    ASSERT_EQ(S_OK, helperControl->put_Language(Bstr(L"JScript").Get()));
    ASSERT_EQ(S_OK, helperControl->AddCode(Bstr(L"function twice(x) { return 2 * x; }").Get()));
    ComPtr<IDispatch> helper;
    ASSERT_EQ(S_OK, helperControl->get_CodeObject(&helper));

    IDispatch* objects[] = {helper.Get()};
    tv::com::UniqueBstr name = Bstr(L"helper");
    BSTR names[] = {name.Get()};
    Variant arg(21), result;
    ASSERT_EQ(S_OK, RunScript(Bstr(L"function f(x) { return helper.twice(x); }").Get(), Bstr(L"f").Get(), 1,
                              &arg, 1, objects, names, &result, false));
    ASSERT_EQ(S_OK, VariantChangeType(&result, &result, 0, VT_I4));
    EXPECT_EQ(42, result.lVal);
}

std::wstring StaticTexts(HWND box) {
    std::wstring texts;
    EnumChildWindows(
        box,
        [](HWND child, LPARAM all) -> BOOL {
            wchar_t className[32] = {}, text[512] = {};
            GetClassNameW(child, className, 32);
            if (lstrcmpiW(className, L"Static") == 0 && GetWindowTextW(child, text, 512) > 0)
                *reinterpret_cast<std::wstring*>(all) += text;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&texts));
    return texts;
}

TEST_F(RunScriptTest, OnlyAFailedRunShowsTheReportWithTheProgramTitle) {
    // A syntax error fails before the run: no message box, even with errors shown.
    HRESULT syntax = S_OK;
    {
        tv::test::ApartmentThread run([&] {
            Variant result;
            syntax = RunScript(Bstr(L"function broken( {").Get(), Bstr(L"broken").Get(), 0, nullptr, 0,
                               nullptr, nullptr, &result, true);
        });
        EXPECT_EQ(nullptr, tv::test::WaitForWindow(L"#32770", kProgramTitle, 1500));
        ASSERT_TRUE(run.Join(10000));
    }
    EXPECT_TRUE(FAILED(syntax));

    // A function that throws: one report, dismissed by OK, and the run's failure comes back.
    HRESULT thrown = S_OK;
    tv::test::ApartmentThread run([&] {
        Variant result;
        thrown = RunScript(Bstr(L"function OnStart() { throw new Error('refused'); }").Get(),
                           Bstr(L"OnStart").Get(), 0, nullptr, 0, nullptr, nullptr, &result, true);
    });
    HWND box = tv::test::WaitForWindow(L"#32770", kProgramTitle, 10000);
    ASSERT_NE(nullptr, box);
    // The platform's error object may be empty, so only the report's shape is checked.
    EXPECT_NE(std::wstring::npos, StaticTexts(box).find(L"Error in line "))
        << "report: " << StaticTexts(box).size();
    Sleep(700); // let the box finish painting for the screenshot
    tv::test::SaveScreenshot(tv::test::ExeFolder() + L"\\scripthost_error_report.bmp");
    EXPECT_TRUE(tv::test::ClickButton(box, IDOK));
    ASSERT_TRUE(run.Join(10000));
    EXPECT_TRUE(FAILED(thrown));
    EXPECT_EQ(nullptr, tv::test::WaitForWindow(L"#32770", kProgramTitle, 500)) << "exactly one report";
}

TEST_F(RunScriptTest, NamedScriptComesFromTheItemStore) {
    ComPtr<IZvRegistrarDisp> store;
    const HRESULT created =
        CoCreateInstance(CLSID_ZvRegistrar, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&store));
    if (created == REGDB_E_CLASSNOTREG && !tv::test::InstallRequired())
        GTEST_SKIP() << "the item store is not registered in this prefix";
    ASSERT_EQ(S_OK, created);
    ASSERT_EQ(S_OK, store->PutItemScript(Bstr(L"ScriptHostTest").Get(),
                                         Bstr(L"function OnStart(n) { return n != 1; }").Get(), 1));

    Variant arg(1), refused;
    ASSERT_EQ(S_OK, tv::RunNamedScript(Bstr(L"ScriptHostTest").Get(), Bstr(L"OnStart").Get(), 1, &arg, 0,
                                       nullptr, nullptr, &refused, true));
    EXPECT_TRUE(tv::IsBooleanFalse(refused));
    Variant arg2(2), accepted;
    ASSERT_EQ(S_OK, tv::RunNamedScript(Bstr(L"ScriptHostTest").Get(), Bstr(L"OnStart").Get(), 1, &arg2, 0,
                                       nullptr, nullptr, &accepted, true));
    EXPECT_FALSE(tv::IsBooleanFalse(accepted));

    Variant missing;
    EXPECT_TRUE(FAILED(tv::RunNamedScript(Bstr(L"NoSuchScript").Get(), Bstr(L"OnStart").Get(), 0, nullptr, 0,
                                          nullptr, nullptr, &missing, true)));
    EXPECT_EQ(VT_EMPTY, missing.vt);
}

} // namespace
