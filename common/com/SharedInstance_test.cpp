#include "SharedInstance.h"
#include <gtest/gtest.h>

using namespace tv::com;

namespace {

class Shared : public SharedComObject<Shared, IPersist> {
public:
    enum class Start { Normally, Failing, CreatingOnDestruction };

    static inline int constructed = 0;
    static inline int live = 0;
    static inline Shared* madeDuringDestruction = nullptr;

    explicit Shared(SharedInstance<Shared>& slot, Start start = Start::Normally)
        : SharedComObject(slot), slot_(slot), start_(start) {
        ++constructed;
        ++live;
    }
    ~Shared() override {
        --live;
        if (start_ == Start::CreatingOnDestruction) {
            // Runs under the slot's lock; the slot must no longer offer this object.
            ComPtr<IPersist> other;
            if (SUCCEEDED(slot_.GetOrCreate(IID_PPV_ARGS(&other))))
                madeDuringDestruction = static_cast<Shared*>(other.Get());
        }
    }
    HRESULT FinalConstruct() { return start_ == Start::Failing ? E_ACCESSDENIED : S_OK; }
    STDMETHODIMP GetClassID(CLSID* id) override {
        *id = CLSID_NULL;
        return S_OK;
    }

private:
    SharedInstance<Shared>& slot_;
    Start start_;
};

} // namespace

TEST(SharedInstance, OneObjectWhileHeldAndANewOneAfterTheLastRelease) {
    SharedInstance<Shared> slot;
    const int constructedBefore = Shared::constructed;
    ComPtr<IPersist> a, b;
    ASSERT_EQ(S_OK, slot.GetOrCreate(IID_PPV_ARGS(&a)));
    ASSERT_EQ(S_OK, slot.GetOrCreate(IID_PPV_ARGS(&b)));
    EXPECT_EQ(a.Get(), b.Get());
    EXPECT_EQ(constructedBefore + 1, Shared::constructed);

    a.Reset();
    b.Reset();
    EXPECT_EQ(0, Shared::live);
    ASSERT_EQ(S_OK, slot.GetOrCreate(IID_PPV_ARGS(&a)));
    EXPECT_EQ(constructedBefore + 2, Shared::constructed);
    EXPECT_EQ(1, Shared::live);
}

TEST(SharedInstance, FailedCreationIsNotKept) {
    SharedInstance<Shared> slot;
    ComPtr<IPersist> persist;
    EXPECT_EQ(E_ACCESSDENIED, slot.GetOrCreate(IID_PPV_ARGS(&persist), Shared::Start::Failing));
    EXPECT_EQ(0, Shared::live);
    ComPtr<IDispatch> unsupported;
    EXPECT_EQ(E_NOINTERFACE, slot.GetOrCreate(IID_PPV_ARGS(&unsupported)));
    EXPECT_EQ(0, Shared::live);

    ASSERT_EQ(S_OK, slot.GetOrCreate(IID_PPV_ARGS(&persist)));
    EXPECT_EQ(1, Shared::live);
}

TEST(SharedInstance, TheDyingObjectIsNoLongerHandedOut) {
    SharedInstance<Shared> slot;
    ComPtr<IPersist> dying;
    ASSERT_EQ(S_OK, slot.GetOrCreate(IID_PPV_ARGS(&dying), Shared::Start::CreatingOnDestruction));
    Shared* old = static_cast<Shared*>(dying.Get());
    Shared::madeDuringDestruction = nullptr;
    dying.Reset();
    EXPECT_NE(nullptr, Shared::madeDuringDestruction);
    EXPECT_NE(old, Shared::madeDuringDestruction);
    EXPECT_EQ(0, Shared::live) << "the object made during destruction was released again";
}

TEST(SharedInstanceFactory, EveryClassObjectHandsOutTheSlotsObject) {
    SharedInstance<Shared> slot;
    ComPtr<IClassFactory> first, second;
    ASSERT_EQ(S_OK, CreateComObject<SharedInstanceFactory<Shared>>(IID_PPV_ARGS(&first), slot));
    ASSERT_EQ(S_OK, CreateComObject<SharedInstanceFactory<Shared>>(IID_PPV_ARGS(&second), slot));
    ComPtr<IPersist> a, b;
    ComPtr<IUnknown> outer;
    ASSERT_EQ(S_OK, first->QueryInterface(IID_PPV_ARGS(&outer)));
    EXPECT_EQ(CLASS_E_NOAGGREGATION, first->CreateInstance(outer.Get(), IID_PPV_ARGS(&a)));
    ASSERT_EQ(S_OK, first->CreateInstance(nullptr, IID_PPV_ARGS(&a)));
    ASSERT_EQ(S_OK, second->CreateInstance(nullptr, IID_PPV_ARGS(&b)));
    EXPECT_EQ(a.Get(), b.Get());
}
