#include "ComObject.h"
#include "Handles.h"
#include "MarshalledInterface.h"
#include "MessagePump.h"
#include <gtest/gtest.h>
#include <atomic>
#include <thread>

using namespace tv::com;

namespace {

// Records the thread each call arrives on: calls through a proxy come to the owner's thread.
class ThreadRecorder : public ComObject<ThreadRecorder, IPersist> {
public:
    STDMETHODIMP GetClassID(CLSID* id) override {
        lastThread = GetCurrentThreadId();
        ++calls;
        *id = CLSID_NULL;
        return S_OK;
    }
    std::atomic<DWORD> lastThread{0};
    std::atomic<int> calls{0};
};

DWORD WINAPI CallFromOtherApartment(void* param) {
    auto* holder = static_cast<tv::MarshalledInterface*>(param);
    ComApartment apartment(COINIT_MULTITHREADED);
    ComPtr<IPersist> proxy;
    HRESULT hr = holder->Unmarshal(proxy.ReleaseAndGetAddressOf());
    if (FAILED(hr))
        return 1;
    CLSID id;
    return SUCCEEDED(proxy->GetClassID(&id)) ? 0 : 2;
}

} // namespace

TEST(MarshalledInterface, TwoThreadsUnmarshalWorkingProxiesToTheOwnersThread) {
    ComApartment apartment;
    ComPtr<ThreadRecorder> object;
    ASSERT_EQ(S_OK, MakeComObject(object));
    tv::MarshalledInterface holder;
    ASSERT_EQ(S_OK, holder.Marshal(IID_IPersist, object->AsUnknown()));

    HANDLE threads[2];
    for (HANDLE& t : threads)
        t = CreateThread(nullptr, 0, CallFromOtherApartment, &holder, 0, nullptr);
    for (HANDLE t : threads) {
        UniqueHandle owned(t);
        ASSERT_TRUE(tv::WaitWithMessagePump(owned.Get(), 20000));
        DWORD code = 99;
        GetExitCodeThread(owned.Get(), &code);
        EXPECT_EQ(0u, code);
    }
    EXPECT_EQ(2, object->calls.load());
    EXPECT_EQ(GetCurrentThreadId(), object->lastThread.load());

    // On its own apartment the holder gives the object itself.
    ComPtr<IPersist> direct;
    ASSERT_EQ(S_OK, holder.Unmarshal(direct.ReleaseAndGetAddressOf()));
    EXPECT_EQ(static_cast<IPersist*>(object.Get()), direct.Get());

    ASSERT_EQ(S_OK, holder.Release());
    EXPECT_FALSE(holder.IsHeld());
    ComPtr<IPersist> after;
    EXPECT_TRUE(FAILED(holder.Unmarshal(after.ReleaseAndGetAddressOf())));
}

TEST(MarshalledInterface, MarshalReplacesWhatIsHeldAndReleasesTheOldReference) {
    ComApartment apartment;
    ComPtr<ThreadRecorder> first, second;
    ASSERT_EQ(S_OK, MakeComObject(first));
    ASSERT_EQ(S_OK, MakeComObject(second));
    tv::MarshalledInterface holder;
    ASSERT_EQ(S_OK, holder.Marshal(IID_IPersist, first->AsUnknown()));
    ASSERT_EQ(S_OK, holder.Marshal(IID_IPersist, second->AsUnknown()));
    ComPtr<IPersist> got;
    ASSERT_EQ(S_OK, holder.Unmarshal(got.ReleaseAndGetAddressOf()));
    EXPECT_EQ(static_cast<IPersist*>(second.Get()), got.Get());
    got.Reset();
    // Only our reference to the first object is left: releasing it destroys it.
    EXPECT_EQ(0u, first.Get()->Release());
    first.Detach();
}
