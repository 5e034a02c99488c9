// The test program embeds the type library of DispatchSample.idl as TYPELIB 1: the dispatcher
// must find it in the module the toolkit is linked into.
#include "ComObject.h"
#include "DispatchSample.h"
#include "Handles.h"
#include "TypeInfoDispatch.h"
#include <gtest/gtest.h>

using namespace tv::com;

namespace {

class Sample : public ComObject<Sample, ITvDispatchSample> {
public:
    void* QueryOtherInterface(REFIID riid) {
        return IsEqualIID(riid, IID_IDispatch) ? static_cast<ITvDispatchSample*>(this) : nullptr;
    }
    TV_DUAL_DISPATCH(ITvDispatchSample, dispatch_)

    STDMETHODIMP Twice(long value, long* result) override {
        *result = value * 2;
        return S_OK;
    }
    STDMETHODIMP get_Name(BSTR* name) override {
        *name = SysAllocString(L"sample");
        return *name ? S_OK : E_OUTOFMEMORY;
    }

private:
    TypeInfoDispatch dispatch_{IID_ITvDispatchSample};
};

ComPtr<IDispatch> MakeSample() {
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(S_OK, CreateComObject<Sample>(IID_PPV_ARGS(&dispatch)));
    return dispatch;
}

} // namespace

TEST(TypeInfoDispatch, DescribesTheInterfaceFromTheModulesTypeLibrary) {
    ComPtr<IDispatch> dispatch = MakeSample();
    UINT count = 0;
    ASSERT_EQ(S_OK, dispatch->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);

    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info));
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attributes));
    EXPECT_TRUE(IsEqualIID(IID_ITvDispatchSample, attributes->guid));
    info->ReleaseTypeAttr(attributes);

    ComPtr<ITypeInfo> none;
    EXPECT_EQ(DISP_E_BADINDEX, dispatch->GetTypeInfo(1, LOCALE_USER_DEFAULT, &none));
    EXPECT_EQ(nullptr, none.Get());

    // An interface the embedded library does not describe.
    TypeInfoDispatch foreign(IID_IPersist);
    EXPECT_TRUE(FAILED(foreign.GetTypeInfo(0, LOCALE_USER_DEFAULT, &none)));
}

TEST(TypeInfoDispatch, NamesAndCallsReachTheObject) {
    ComPtr<IDispatch> dispatch = MakeSample();
    LPOLESTR twice = const_cast<LPOLESTR>(L"Twice");
    DISPID id = 0;
    ASSERT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, &twice, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(1, id);

    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_I4;
    argument.lVal = 21;
    DISPPARAMS params{&argument, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(S_OK, dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                                     nullptr, nullptr));
    EXPECT_EQ(VT_I4, result.vt);
    EXPECT_EQ(42, result.lVal);

    DISPPARAMS noArguments{};
    ASSERT_EQ(S_OK, dispatch->Invoke(2, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &noArguments,
                                     &result, nullptr, nullptr));
    ASSERT_EQ(VT_BSTR, result.vt);
    EXPECT_STREQ(L"sample", result.bstrVal);
    VariantClear(&result);

    LPOLESTR unknown = const_cast<LPOLESTR>(L"NoSuchMember");
    EXPECT_EQ(DISP_E_UNKNOWNNAME, dispatch->GetIDsOfNames(IID_NULL, &unknown, 1, LOCALE_USER_DEFAULT, &id));
    // The reserved interface id must be IID_NULL.
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE,
              dispatch->GetIDsOfNames(IID_IDispatch, &twice, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, dispatch->Invoke(1, IID_IDispatch, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                                        &params, &result, nullptr, nullptr));
}
