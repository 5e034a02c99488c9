// RAII owners for the Win32 and COM resources the suite holds: kernel handles, registry keys,
// global memory, BSTRs, task-allocator memory and the COM apartment of a thread.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <utility>

namespace tv::com {

// Owns one resource of type T and releases it with Close when it goes out of scope.
template <class T, class Traits>
class UniqueResource {
public:
    UniqueResource() = default;
    explicit UniqueResource(T value) : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.Detach()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other)
            Reset(other.Detach());
        return *this;
    }
    ~UniqueResource() { Reset(); }

    T Get() const { return value_; }
    explicit operator bool() const { return Traits::IsValid(value_); }
    void Reset(T value = Traits::Invalid()) {
        if (Traits::IsValid(value_))
            Traits::Close(value_);
        value_ = value;
    }
    T Detach() { return std::exchange(value_, Traits::Invalid()); }
    // Releases the current value and hands out its address for an API that fills it.
    T* Put() {
        Reset();
        return &value_;
    }

private:
    T value_ = Traits::Invalid();
};

struct HandleTraits {
    static HANDLE Invalid() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct FileHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct HKeyTraits {
    static HKEY Invalid() { return nullptr; }
    static bool IsValid(HKEY k) { return k != nullptr; }
    static void Close(HKEY k) { ::RegCloseKey(k); }
};
struct HGlobalTraits {
    static HGLOBAL Invalid() { return nullptr; }
    static bool IsValid(HGLOBAL h) { return h != nullptr; }
    static void Close(HGLOBAL h) { ::GlobalFree(h); }
};
struct BstrTraits {
    static BSTR Invalid() { return nullptr; }
    static bool IsValid(BSTR b) { return b != nullptr; }
    static void Close(BSTR b) { ::SysFreeString(b); }
};
struct TaskMemTraits {
    static void* Invalid() { return nullptr; }
    static bool IsValid(void* p) { return p != nullptr; }
    static void Close(void* p) { ::CoTaskMemFree(p); }
};
struct ModuleTraits {
    static HMODULE Invalid() { return nullptr; }
    static bool IsValid(HMODULE m) { return m != nullptr; }
    static void Close(HMODULE m) { ::FreeLibrary(m); }
};
struct WindowTraits {
    static HWND Invalid() { return nullptr; }
    static bool IsValid(HWND w) { return w != nullptr; }
    static void Close(HWND w) { ::DestroyWindow(w); }
};

using UniqueHandle = UniqueResource<HANDLE, HandleTraits>;          // events, threads, mutexes
using UniqueFileHandle = UniqueResource<HANDLE, FileHandleTraits>;  // CreateFile results
using UniqueHKey = UniqueResource<HKEY, HKeyTraits>;
using UniqueHGlobal = UniqueResource<HGLOBAL, HGlobalTraits>;
using UniqueBstr = UniqueResource<BSTR, BstrTraits>;
using UniqueModule = UniqueResource<HMODULE, ModuleTraits>;
using UniqueWindow = UniqueResource<HWND, WindowTraits>;

// Task-allocator memory typed as T* (strings and records handed across COM boundaries).
template <class T>
class UniqueTaskMem {
public:
    UniqueTaskMem() = default;
    explicit UniqueTaskMem(T* p) : p_(p) {}
    UniqueTaskMem(const UniqueTaskMem&) = delete;
    UniqueTaskMem& operator=(const UniqueTaskMem&) = delete;
    UniqueTaskMem(UniqueTaskMem&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ~UniqueTaskMem() { ::CoTaskMemFree(p_); }
    T* Get() const { return p_; }
    T** Put() {
        ::CoTaskMemFree(std::exchange(p_, nullptr));
        return &p_;
    }
    T* Detach() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

// Initialises COM on the calling thread for the lifetime of the object.
class ComApartment {
public:
    explicit ComApartment(DWORD model = COINIT_APARTMENTTHREADED) : hr_(::CoInitializeEx(nullptr, model)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (SUCCEEDED(hr_))
            ::CoUninitialize();
    }
    HRESULT Result() const { return hr_; }

private:
    HRESULT hr_;
};

// Holds a critical section, and a scope that enters it.
class CriticalSection {
public:
    CriticalSection() { ::InitializeCriticalSection(&cs_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    ~CriticalSection() { ::DeleteCriticalSection(&cs_); }
    void Enter() { ::EnterCriticalSection(&cs_); }
    void Leave() { ::LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION cs_;
};

class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;
    ~CriticalSectionLock() { cs_.Leave(); }

private:
    CriticalSection& cs_;
};

} // namespace tv::com
