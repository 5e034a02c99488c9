// One live object per process while anyone holds it: the slot hands out the living object or
// makes a new one; the object's last release empties the slot, so that the next creation makes
// a new object; a failed creation is returned to its caller and not kept, so that the next
// caller tries again. (SingletonClassFactory, by contrast, keeps its first object for good.)
//
//     class Thing : public SharedComObject<Thing, IThing> {
//     public:
//         explicit Thing(SharedInstance<Thing>& slot) : SharedComObject(slot) {}
//     };
//     static SharedInstance<Thing> slot;
//     CreateComObject<SharedInstanceFactory<Thing>>(riid, ppv, slot);
#pragma once
#include "ClassFactory.h"
#include "ComObject.h"
#include "HResult.h"
#include <mutex>
#include <utility>

namespace tv::com {

template <class Self, class... Interfaces>
class SharedComObject;

template <class T>
class SharedInstance {
public:
    SharedInstance() = default;
    SharedInstance(const SharedInstance&) = delete;
    SharedInstance& operator=(const SharedInstance&) = delete;

    // Hands out the living object, or makes one as T(*this, args...) and hands that out.
    template <class... Args>
    HRESULT GetOrCreate(REFIID riid, void** ppv, Args&&... args) {
        std::lock_guard<std::recursive_mutex> guard(mutex_);
        if (object_)
            return object_->QueryInterface(riid, ppv);
        ComPtr<T> fresh;
        TV_RETURN_IF_FAILED(MakeComObject(fresh, *this, std::forward<Args>(args)...));
        TV_RETURN_IF_FAILED(fresh->QueryInterface(riid, ppv));
        object_ = fresh.Get();
        return S_OK;
    }

private:
    template <class, class...>
    friend class SharedComObject;

    // Recursive: the object's destructor runs under the lock and may itself create objects.
    std::recursive_mutex mutex_;
    T* object_ = nullptr; // no reference: the object's last release clears it
};

// The base of an object kept in a SharedInstance. Its references are counted down under the
// slot's lock, so that no creation picks up an object whose last reference is going away; the
// last release empties the slot and destroys the object with the lock still held.
template <class Self, class... Interfaces>
class SharedComObject : public ComObject<Self, Interfaces...> {
public:
    STDMETHODIMP_(ULONG) Release() override {
        SharedInstance<Self>& slot = slot_;
        std::lock_guard<std::recursive_mutex> guard(slot.mutex_);
        const long left = this->DropReference();
        if (left == 0) {
            Self* self = static_cast<Self*>(this);
            if (slot.object_ == self)
                slot.object_ = nullptr;
            delete self;
        }
        return static_cast<ULONG>(left);
    }

protected:
    explicit SharedComObject(SharedInstance<Self>& slot) : slot_(slot) {}

private:
    SharedInstance<Self>& slot_;
};

// The class object that hands out the object of one slot. A DLL may make a new one per request:
// the slot, not the class object, holds the state.
template <class T, class LockPolicy = CountsModuleLock>
class SharedInstanceFactory
    : public ComObjectImpl<SharedInstanceFactory<T, LockPolicy>, IClassFactory>,
      private ModuleLockHolder<LockPolicy::value> {
public:
    explicit SharedInstanceFactory(SharedInstance<T>& slot) : slot_(slot) {}

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        TV_RETURN_IF_FAILED(CheckCreateRequest(outer, ppv));
        return slot_.GetOrCreate(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL lock) override { return LockModule(lock); }

private:
    SharedInstance<T>& slot_;
};

} // namespace tv::com
