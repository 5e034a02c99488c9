// The object through which the hub hands a device item to the device components' item pages:
// the page takes the item record (and the ownership of its strings) once.
#pragma once
#include "ZvDevice.h"
#include <windows.h>
#include <unknwn.h>

struct IZvPropPageData : public IUnknown {
    // Hands out the stored record with its strings; the object forgets it. E_UNEXPECTED when
    // nothing is stored.
    virtual HRESULT STDMETHODCALLTYPE GetItem(ZVFILEITEM* item) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused4() = 0;
    // Stores a record; the object owns its strings from now on.
    virtual HRESULT STDMETHODCALLTYPE SetItem(const ZVFILEITEM* item) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused6() = 0;
};
__CRT_UUID_DECL(IZvPropPageData, 0x0779a0a2, 0x48a5, 0x447a, 0x89, 0xe5, 0xa4, 0x52, 0x98, 0xa4, 0x35, 0xb8)
