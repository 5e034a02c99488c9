// Class objects: one that makes a new object per request, and one that serves a single object
// per process and remembers a failed first creation for every later caller. (SharedInstance.h
// has the kind whose object is made again after its last release.)
#pragma once
#include "ComObject.h"
#include "HResult.h"
#include <mutex>

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
