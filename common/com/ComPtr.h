// The smart interface pointer used throughout the suite. Attach adopts a reference without
// adding one; the address-of operator releases the held pointer first, so `&p` can be passed
// to any API that fills an interface pointer (IID_PPV_ARGS(&p) included).
#pragma once
#include <unknwn.h>
#include <cstddef>
#include <utility>

namespace tv::com {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(T* p) : p_(p) { AddRefHeld(); }
    ComPtr(const ComPtr& other) : p_(other.p_) { AddRefHeld(); }
    template <class U>
    ComPtr(const ComPtr<U>& other) : p_(other.Get()) {
        AddRefHeld();
    }
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(const ComPtr& other) {
        ComPtr(other).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }
    ComPtr& operator=(T* p) {
        ComPtr(p).Swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) {
        Reset();
        return *this;
    }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** operator&() { return ReleaseAndGetAddressOf(); }
    T** ReleaseAndGetAddressOf() {
        Reset();
        return &p_;
    }
    T* const* GetAddressOf() const { return &p_; }

    void Reset() {
        if (T* p = std::exchange(p_, nullptr))
            p->Release();
    }
    void Attach(T* p) {
        Reset();
        p_ = p;
    }
    T* Detach() { return std::exchange(p_, nullptr); }
    void Swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

    template <class U>
    HRESULT As(U** out) const {
        if (!p_)
            return E_POINTER;
        return p_->QueryInterface(__uuidof(U), reinterpret_cast<void**>(out));
    }
    template <class U>
    HRESULT As(ComPtr<U>* out) const {
        return As(out->ReleaseAndGetAddressOf());
    }
    HRESULT CopyTo(T** out) const {
        if (!out)
            return E_POINTER;
        *out = p_;
        AddRefHeld();
        return S_OK;
    }
    HRESULT CopyTo(REFIID riid, void** out) const {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        return p_ ? p_->QueryInterface(riid, out) : E_POINTER;
    }

private:
    void AddRefHeld() const {
        if (p_)
            p_->AddRef();
    }

    T* p_ = nullptr;
};

} // namespace tv::com
