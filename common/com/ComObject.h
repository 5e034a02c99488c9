// The base of every COM class of the suite: reference counting, QueryInterface over the listed
// interfaces, and the module lock. A class derives from ComObject<Self, I1, I2, ...>; the first
// interface also serves IUnknown. Interfaces reached another way (IDispatch through a dual
// interface, base interfaces of a derived one) are answered by an optional member
//     void* QueryOtherInterface(REFIID riid);
// of the class. Objects are made by MakeComObject, never by a naked new outside this toolkit.
#pragma once
#include "ComPtr.h"
#include "ModuleLock.h"
#include <windows.h>
#include <unknwn.h>
#include <atomic>
#include <new>
#include <utility>

namespace tv::com {

// Policy tags: whether the object keeps its module loaded while it lives.
struct CountsModuleLock {
    static constexpr bool value = true;
};
struct NoModuleLock {
    static constexpr bool value = false;
};

template <class Self, class First, class... Rest>
class ComObjectImpl : public First, public Rest... {
public:
    ComObjectImpl(const ComObjectImpl&) = delete;
    ComObjectImpl& operator=(const ComObjectImpl&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        void* found = nullptr;
        if (IsEqualIID(riid, IID_IUnknown))
            found = static_cast<First*>(this);
        else
            found = FindListed<First, Rest...>(riid);
        if (!found)
            found = static_cast<Self*>(this)->QueryOtherInterface(riid);
        if (!found)
            return E_NOINTERFACE;
        *ppv = found;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        long left = DropReference();
        if (left == 0)
            delete static_cast<Self*>(this);
        return static_cast<ULONG>(left);
    }

    // Answers no further interfaces unless the class hides this with its own.
    void* QueryOtherInterface(REFIID) { return nullptr; }
    // Second-phase initialisation run by MakeComObject; a failure destroys the object.
    HRESULT FinalConstruct() { return S_OK; }

    IUnknown* AsUnknown() { return static_cast<First*>(this); }

protected:
    ComObjectImpl() = default;
    virtual ~ComObjectImpl() = default;

    // Counts one reference down without destroying the object (for a class that replaces
    // Release); the count left.
    long DropReference() { return --refs_; }

private:
    template <class I, class... More>
    void* FindListed(REFIID riid) {
        if (IsEqualIID(riid, __uuidof(I)))
            return static_cast<I*>(this);
        if constexpr (sizeof...(More) > 0)
            return FindListed<More...>(riid);
        else
            return nullptr;
    }

    std::atomic<long> refs_{1};
};

// Holds the module lock for the lifetime of the object that owns it.
template <bool Counts>
class ModuleLockHolder {
public:
    ModuleLockHolder() {
        if constexpr (Counts)
            ModuleLock::Lock();
    }
    ModuleLockHolder(const ModuleLockHolder&) = delete;
    ModuleLockHolder& operator=(const ModuleLockHolder&) = delete;
    ~ModuleLockHolder() {
        if constexpr (Counts)
            ModuleLock::Unlock();
    }
};

template <class Self, class... Interfaces>
class ComObject : public ComObjectImpl<Self, Interfaces...>, private ModuleLockHolder<true> {};

// A COM object that does not keep the module alive (class objects of a local server).
template <class Self, class... Interfaces>
class ComObjectNoLock : public ComObjectImpl<Self, Interfaces...>, private ModuleLockHolder<false> {};

// Creates an object with a reference count of one, runs its FinalConstruct and hands it out.
template <class T, class... Args>
HRESULT MakeComObject(ComPtr<T>& out, Args&&... args) {
    out.Reset();
    T* raw = new (std::nothrow) T(std::forward<Args>(args)...);
    if (!raw)
        return E_OUTOFMEMORY;
    ComPtr<T> object;
    object.Attach(raw);
    HRESULT hr = object->FinalConstruct();
    if (FAILED(hr))
        return hr;
    out = std::move(object);
    return S_OK;
}

// Creates an object and queries it for the requested interface.
template <class T, class... Args>
HRESULT CreateComObject(REFIID riid, void** ppv, Args&&... args) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    ComPtr<T> object;
    HRESULT hr = MakeComObject(object, std::forward<Args>(args)...);
    if (FAILED(hr))
        return hr;
    return object->QueryInterface(riid, ppv);
}

} // namespace tv::com
