// Class objects: one that makes a new object per request, one that makes each object from a
// static description of its kind (and may accept an outer object), and one that serves a single
// object per process and remembers a failed first creation for every later caller.
// (SharedInstance.h has the kind whose object is made again after its last release.)
#pragma once
#include "ComObject.h"
#include "HResult.h"
#include <mutex>
#include <new>
#include <utility>

namespace tv::com {

// IClassFactory::LockServer of every class object.
inline HRESULT LockModule(BOOL lock) {
    if (lock)
        ModuleLock::Lock();
    else
        ModuleLock::Unlock();
    return S_OK;
}

// The checks every CreateInstance starts with; S_OK when the request may go on.
inline HRESULT CheckCreateRequest(IUnknown* outer, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    return outer ? CLASS_E_NOAGGREGATION : S_OK;
}

template <class T, class LockPolicy = CountsModuleLock>
class ClassFactory
    : public ComObjectImpl<ClassFactory<T, LockPolicy>, IClassFactory>,
      private ModuleLockHolder<LockPolicy::value> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        TV_RETURN_IF_FAILED(CheckCreateRequest(outer, ppv));
        return CreateComObject<T>(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL lock) override { return LockModule(lock); }
};

// An object made as a part of an outer object (aggregation): the interfaces of T answer for the
// outer object (their QueryInterface, AddRef and Release go to it), and the inner IUnknown, which
// the outer object alone holds, counts T's references and hands out T's interfaces.
template <class T> class AggregatedObject final : public T {
  public:
    template <class... Args>
    explicit AggregatedObject(IUnknown* outer, Args&&... args)
        : T(std::forward<Args>(args)...), outer_(outer), inner_(*this) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return outer_->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return outer_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return outer_->Release(); }

    IUnknown* Inner() { return &inner_; }

  private:
    class InnerUnknown final : public IUnknown {
      public:
        explicit InnerUnknown(AggregatedObject& object) : object_(object) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
            if (!ppv)
                return E_POINTER;
            if (IsEqualIID(riid, IID_IUnknown)) {
                *ppv = static_cast<IUnknown*>(this);
                AddRef();
                return S_OK;
            }
            return object_.T::QueryInterface(riid, ppv);
        }
        STDMETHODIMP_(ULONG) AddRef() override { return object_.T::AddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return object_.T::Release(); }

      private:
        AggregatedObject& object_;
    };

    IUnknown* outer_;
    InnerUnknown inner_;
};

// Creates T inside `outer`; only its inner IUnknown may be asked for, as any other interface
// would count for the outer object.
template <class T, class... Args>
HRESULT CreateAggregatedObject(IUnknown* outer, REFIID riid, void** ppv, Args&&... args) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    auto* object = new (std::nothrow) AggregatedObject<T>(outer, std::forward<Args>(args)...);
    if (!object)
        return E_OUTOFMEMORY;
    HRESULT hr = object->FinalConstruct();
    if (FAILED(hr)) {
        object->Inner()->Release();
        return hr;
    }
    *ppv = object->Inner();
    return S_OK;
}

enum class Aggregation { Refused, Accepted };

// The class object of one kind of T: each object is made as T(Kind), Kind being a static object
// (a kind description, a generation). With Aggregation::Accepted it also makes objects inside an
// outer object.
template <class T, const auto& Kind, Aggregation Outer = Aggregation::Refused>
class KindClassFactory : public ComObjectImpl<KindClassFactory<T, Kind, Outer>, IClassFactory>,
                         private ModuleLockHolder<true> {
  public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if constexpr (Outer == Aggregation::Accepted) {
            if (outer)
                return CreateAggregatedObject<T>(outer, riid, ppv, Kind);
        }
        TV_RETURN_IF_FAILED(CheckCreateRequest(outer, ppv));
        return CreateComObject<T>(riid, ppv, Kind);
    }
    STDMETHODIMP LockServer(BOOL lock) override { return LockModule(lock); }
};

// A DLL server's createClassObject for a class object type.
template <class Factory> HRESULT CreateClassObjectOf(REFIID riid, void** ppv) {
    return CreateComObject<Factory>(riid, ppv);
}

// Keeps its first object (or the failure of its first creation) for good: the object lives in
// the class object. A local server registers one class object; a DLL must hand out one static
// instance of it, since DllServer calls createClassObject on every DllGetClassObject and each new
// class object would make its own object.
template <class T, class LockPolicy = CountsModuleLock>
class SingletonClassFactory
    : public ComObjectImpl<SingletonClassFactory<T, LockPolicy>, IClassFactory>,
      private ModuleLockHolder<LockPolicy::value> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        TV_RETURN_IF_FAILED(CheckCreateRequest(outer, ppv));
        ComPtr<T> object;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (!attempted_) {
                attempted_ = true;
                creation_ = MakeComObject(instance_);
            }
            if (FAILED(creation_))
                return creation_;
            object = instance_;
        }
        return object->QueryInterface(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL lock) override { return LockModule(lock); }
    // Drops the kept object (a local server does this before it revokes its class objects).
    void ReleaseInstance() {
        ComPtr<T> dropped;
        std::lock_guard<std::mutex> guard(mutex_);
        dropped.Swap(instance_);
    }

private:
    std::mutex mutex_;
    bool attempted_ = false;
    HRESULT creation_ = E_FAIL;
    ComPtr<T> instance_;
};

} // namespace tv::com
