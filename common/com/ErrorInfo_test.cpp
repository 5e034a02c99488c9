#include "ComPtr.h"
#include "ErrorInfo.h"
#include "Handles.h"
#include <gtest/gtest.h>
#include <string>

using namespace tv::com;

namespace {

struct TakenError {
    std::wstring description;
    std::wstring source;
    GUID iid{};
};

TakenError TakeError() {
    TakenError taken;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return taken;
    UniqueBstr text, source;
    info->GetDescription(text.Put());
    info->GetSource(source.Put());
    info->GetGUID(&taken.iid);
    taken.description = text ? text.Get() : L"";
    taken.source = source ? source.Get() : L"";
    return taken;
}

// Standard Ole class with a ProgID in every Wine prefix: "StdFont".
const CLSID kStdFont = {0x0be35203, 0x8f91, 0x11ce, {0x9d, 0xe3, 0x00, 0xaa, 0x00, 0x4b, 0xb8, 0x51}};

} // namespace

TEST(SetComErrorInfo, MissingStringGivesUnknownErrorAndAnInterfaceResult) {
    ComApartment apartment;
    HRESULT hr = SetComErrorInfo(kStdFont, 12345u, IID_IDispatch, 0, GetModuleHandleW(nullptr));
    EXPECT_EQ(static_cast<HRESULT>(0x80040000 + 12345), hr);
    TakenError taken = TakeError();
    EXPECT_EQ(L"Unknown Error", taken.description);
    EXPECT_TRUE(IsEqualGUID(IID_IDispatch, taken.iid));
    EXPECT_EQ(0u, taken.source.rfind(L"StdFont", 0)) << "source is the class's ProgID";
}

TEST(SetComErrorInfo, TextGivesDispExceptionUnlessAResultIsGiven) {
    ComApartment apartment;
    EXPECT_EQ(DISP_E_EXCEPTION, SetComErrorInfo(kStdFont, "device not found", IID_IDispatch, 0));
    EXPECT_EQ(L"device not found", TakeError().description);
    EXPECT_EQ(E_INVALIDARG, SetComErrorInfo(kStdFont, "bad argument", IID_IDispatch, E_INVALIDARG));
    EXPECT_EQ(L"bad argument", TakeError().description);
}

TEST(SetComErrorInfo, AGivenResultIsKeptWithAStringId) {
    ComApartment apartment;
    EXPECT_EQ(E_FAIL, SetComErrorInfo(kStdFont, 1u, IID_IUnknown, E_FAIL, GetModuleHandleW(nullptr)));
    CLSID none{};
    EXPECT_EQ(E_FAIL, SetComErrorInfo(none, "no progid", IID_IUnknown, E_FAIL));
    EXPECT_EQ(L"", TakeError().source);
}
