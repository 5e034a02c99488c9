// Small helpers of the script host's tests: owned BSTRs and VARIANTs, and a thread with its
// own apartment for runs that may block in a message box.
#pragma once
#include "Handles.h"
#include <windows.h>
#include <oaidl.h>
#include <functional>

namespace tv::test {

inline com::UniqueBstr Bstr(const wchar_t* text) {
    return com::UniqueBstr(SysAllocString(text));
}

struct Variant : VARIANT {
    Variant() { VariantInit(this); }
    explicit Variant(long value) {
        VariantInit(this);
        vt = VT_I4;
        lVal = value;
    }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(this); }
};

// Runs `work` on a new thread inside a single-threaded apartment; joined with a limit.
class ApartmentThread {
  public:
    explicit ApartmentThread(std::function<void()> work) : work_(std::move(work)) {
        thread_.Reset(CreateThread(nullptr, 0, &ApartmentThread::Main, this, 0, nullptr));
    }
    ApartmentThread(const ApartmentThread&) = delete;
    ApartmentThread& operator=(const ApartmentThread&) = delete;
    ~ApartmentThread() { Join(30000); }

    bool Join(DWORD timeoutMs) {
        return thread_ && WaitForSingleObject(thread_.Get(), timeoutMs) == WAIT_OBJECT_0;
    }
    HANDLE Handle() const { return thread_.Get(); }

  private:
    static DWORD WINAPI Main(void* self) {
        com::ComApartment apartment;
        static_cast<ApartmentThread*>(self)->work_();
        return 0;
    }

    std::function<void()> work_;
    com::UniqueHandle thread_;
};

} // namespace tv::test
