// Hands an interface from one apartment to the threads of the process: the interface is
// marshalled table-strong into a block of global memory that any thread may unmarshal from,
// any number of times, until it is released. Not locked: fill it before the threads that
// unmarshal start, release it after they ended.
#pragma once
#include <windows.h>
#include <objbase.h>

namespace tv {

class MarshalledInterface {
public:
    MarshalledInterface() = default;
    MarshalledInterface(const MarshalledInterface&) = delete;
    MarshalledInterface& operator=(const MarshalledInterface&) = delete;
    ~MarshalledInterface() { Release(); }

    // Replaces what is held by a new marshalling of `object`.
    HRESULT Marshal(REFIID iid, IUnknown* object);
    // A new proxy (or the object itself on its own apartment) for the held data.
    HRESULT Unmarshal(REFIID iid, void** out) const;
    template <class T>
    HRESULT Unmarshal(T** out) const {
        return Unmarshal(__uuidof(T), reinterpret_cast<void**>(out));
    }
    // Releases the marshalled data and frees the memory; keeps the block if that fails.
    HRESULT Release();

    bool IsHeld() const { return block_ != nullptr; }

private:
    HGLOBAL block_ = nullptr;
};

} // namespace tv
