#include "MarshalledInterface.h"
#include "ComPtr.h"
#include "HResult.h"

namespace tv {

using com::ComPtr;

HRESULT MarshalledInterface::Marshal(REFIID iid, IUnknown* object) {
    if (!object)
        return E_POINTER;
    TV_RETURN_IF_FAILED(Release());
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 0);
    if (!block)
        return E_OUTOFMEMORY;
    ComPtr<IStream> stream;
    HRESULT hr = CreateStreamOnHGlobal(block, FALSE, &stream);
    if (SUCCEEDED(hr))
        hr = CoMarshalInterface(stream.Get(), iid, object, MSHCTX_INPROC, nullptr, MSHLFLAGS_TABLESTRONG);
    if (FAILED(hr)) {
        stream.Reset();
        GlobalFree(block);
        return hr;
    }
    block_ = block;
    return S_OK;
}

HRESULT MarshalledInterface::Unmarshal(REFIID iid, void** out) const {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!block_)
        return E_UNEXPECTED;
    ComPtr<IStream> stream;
    TV_RETURN_IF_FAILED(CreateStreamOnHGlobal(block_, FALSE, &stream));
    return CoUnmarshalInterface(stream.Get(), iid, out);
}

HRESULT MarshalledInterface::Release() {
    if (!block_)
        return S_OK;
    {
        ComPtr<IStream> stream;
        TV_RETURN_IF_FAILED(CreateStreamOnHGlobal(block_, FALSE, &stream));
        // On failure the holder keeps the block: it may still hold live marshalled data.
        TV_RETURN_IF_FAILED(CoReleaseMarshalData(stream.Get()));
    }
    GlobalFree(block_);
    block_ = nullptr;
    return S_OK;
}

} // namespace tv
