// Class objects: one that makes a new object per request, and one that serves a single object
// per process and remembers a failed first creation for every later caller.
#pragma once
#include "ComObject.h"
#include <mutex>

namespace tv::com {

template <class T, class LockPolicy = CountsModuleLock>
class ClassFactory
    : public ComObjectImpl<ClassFactory<T, LockPolicy>, IClassFactory>,
      private ModuleLockHolder<LockPolicy::value> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return CreateComObject<T>(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            ModuleLock::Lock();
        else
            ModuleLock::Unlock();
        return S_OK;
    }
};

template <class T, class LockPolicy = CountsModuleLock>
class SingletonClassFactory
    : public ComObjectImpl<SingletonClassFactory<T, LockPolicy>, IClassFactory>,
      private ModuleLockHolder<LockPolicy::value> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
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
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            ModuleLock::Lock();
        else
            ModuleLock::Unlock();
        return S_OK;
    }
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
