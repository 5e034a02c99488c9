#include "ClassFactory.h"
#include "ComObject.h"
#include <gtest/gtest.h>
#include <ocidl.h>

using namespace tv::com;

namespace {

int g_liveSamples = 0;

// IPersistStream derives from IPersist: the base is answered through QueryOtherInterface.
class Sample : public ComObject<Sample, IPersistStream, IOleWindow> {
public:
    Sample() { ++g_liveSamples; }
    ~Sample() override { --g_liveSamples; }
    void* QueryOtherInterface(REFIID riid) {
        if (IsEqualIID(riid, IID_IPersist))
            return static_cast<IPersistStream*>(this);
        return nullptr;
    }
    STDMETHODIMP GetClassID(CLSID* id) override {
        *id = CLSID_NULL;
        return S_OK;
    }
    STDMETHODIMP IsDirty() override { return S_FALSE; }
    STDMETHODIMP Load(IStream*) override { return E_NOTIMPL; }
    STDMETHODIMP Save(IStream*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP GetWindow(HWND* hwnd) override {
        *hwnd = nullptr;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return S_OK; }
};

class FailingSample : public ComObject<FailingSample, IPersist> {
public:
    static inline int constructed = 0;
    FailingSample() { ++constructed; }
    HRESULT FinalConstruct() { return E_ACCESSDENIED; }
    STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
};

} // namespace

TEST(ComObject, QueryInterfaceFollowsTheListAndKeepsIdentity) {
    ComPtr<Sample> sample;
    ASSERT_EQ(S_OK, MakeComObject(sample));
    ComPtr<IUnknown> unknown1, unknown2;
    ComPtr<IOleWindow> window;
    ComPtr<IPersist> persist;
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, sample->QueryInterface(IID_PPV_ARGS(&window)));
    ASSERT_EQ(S_OK, sample->QueryInterface(IID_PPV_ARGS(&persist)));
    EXPECT_EQ(E_NOINTERFACE, sample->QueryInterface(IID_PPV_ARGS(&dispatch)));
    EXPECT_EQ(nullptr, dispatch.Get());
    ASSERT_EQ(S_OK, window->QueryInterface(IID_PPV_ARGS(&unknown1)));
    ASSERT_EQ(S_OK, persist->QueryInterface(IID_PPV_ARGS(&unknown2)));
    EXPECT_EQ(unknown1.Get(), unknown2.Get());
    EXPECT_EQ(E_POINTER, sample->QueryInterface(IID_IUnknown, nullptr));
}

TEST(ComObject, LastReleaseDestroysAndUnlocksTheModule) {
    const long locksBefore = ModuleLock::Count();
    {
        ComPtr<Sample> sample;
        ASSERT_EQ(S_OK, MakeComObject(sample));
        EXPECT_EQ(1, g_liveSamples);
        EXPECT_EQ(locksBefore + 1, ModuleLock::Count());
        ComPtr<IOleWindow> extra;
        sample.As(&extra);
    }
    EXPECT_EQ(0, g_liveSamples);
    EXPECT_EQ(locksBefore, ModuleLock::Count());
}

TEST(ComObject, FailedFinalConstructDestroysTheObject) {
    ComPtr<FailingSample> failing;
    EXPECT_EQ(E_ACCESSDENIED, MakeComObject(failing));
    EXPECT_EQ(nullptr, failing.Get());
}

TEST(ClassFactory, RefusesAggregationAndMakesNewObjects) {
    ComPtr<ClassFactory<Sample>> factory;
    ASSERT_EQ(S_OK, MakeComObject(factory));
    ComPtr<IOleWindow> a, b;
    ComPtr<IUnknown> outer;
    ASSERT_EQ(S_OK, factory->QueryInterface(IID_PPV_ARGS(&outer)));
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(outer.Get(), IID_PPV_ARGS(&a)));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&a)));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&b)));
    EXPECT_NE(a.Get(), b.Get());
}

TEST(SingletonClassFactory, ServesOneObjectAndRemembersAFailedCreation) {
    ComPtr<SingletonClassFactory<Sample>> factory;
    ASSERT_EQ(S_OK, MakeComObject(factory));
    ComPtr<IOleWindow> a, b;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&a)));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&b)));
    EXPECT_EQ(a.Get(), b.Get());

    ComPtr<SingletonClassFactory<FailingSample>> failing;
    ASSERT_EQ(S_OK, MakeComObject(failing));
    ComPtr<IPersist> p;
    EXPECT_EQ(E_ACCESSDENIED, failing->CreateInstance(nullptr, IID_PPV_ARGS(&p)));
    const int constructedAfterFirst = FailingSample::constructed;
    EXPECT_EQ(E_ACCESSDENIED, failing->CreateInstance(nullptr, IID_PPV_ARGS(&p)));
    EXPECT_EQ(constructedAfterFirst, FailingSample::constructed) << "a failed creation is not retried";
}
