/* Force-included into widl's stubless proxy code (-Oif output).
 *
 * That code puts the IUnknown proxies exported by rpcrt4 into every proxy
 * vtable, but mingw-w64's headers declare them only for C++. The proxy files
 * are C, so declare them here. */
#ifndef TAVRILON_COMMON_COM_PROXYCOMPAT_H
#define TAVRILON_COMMON_COM_PROXYCOMPAT_H

#include <unknwn.h>

#ifndef __cplusplus
HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown *This, REFIID riid, void **ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown *This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown *This);
#endif

#endif
