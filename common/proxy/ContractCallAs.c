/* Marshalling shims of the [local]/[call_as] methods of the device and hub
 * contracts; linked into the proxy/stub DLL beside widl's proxy code.
 *
 * These methods hand out a text allocated with the COM task allocator
 * through an LPSTR*. On the wire the text travels inside a ZVTASKTEXT record;
 * the proxy side unwraps it into the caller's LPSTR, the stub side calls the
 * object with a pointer into the record. Null output pointers cannot be
 * marshalled, so the proxy answers them itself, as the objects do. */
#define COBJMACROS
#include "ZvDevice.h"
#include "ZelvanMgr.h"

HRESULT CALLBACK IZvDevice_Command_Proxy(IZvDevice *This, LPSTR strCommand, LONG *nMaxLen,
                                         LPSTR *strResponse)
{
    ZVTASKTEXT response = {NULL};
    HRESULT hr;

    if (!nMaxLen || !strResponse)
        return E_POINTER;
    hr = IZvDevice_RemoteCommand_Proxy(This, strCommand, nMaxLen, &response);
    *strResponse = response.text;
    return hr;
}

HRESULT __RPC_STUB IZvDevice_Command_Stub(IZvDevice *This, LPSTR strCommand, LONG *nMaxLen,
                                          ZVTASKTEXT *pResponse)
{
    return IZvDevice_Command(This, strCommand, nMaxLen, &pResponse->text);
}

HRESULT CALLBACK IZvDevice_GetDeviceInfo_Proxy(IZvDevice *This, LONG *nMaxLen, LPSTR *strInfo)
{
    ZVTASKTEXT info = {NULL};
    HRESULT hr;

    if (!nMaxLen || !strInfo)
        return E_INVALIDARG;
    hr = IZvDevice_RemoteGetDeviceInfo_Proxy(This, nMaxLen, &info);
    *strInfo = info.text;
    return hr;
}

HRESULT __RPC_STUB IZvDevice_GetDeviceInfo_Stub(IZvDevice *This, LONG *nMaxLen,
                                                ZVTASKTEXT *pInfo)
{
    return IZvDevice_GetDeviceInfo(This, nMaxLen, &pInfo->text);
}

HRESULT CALLBACK IZelvanMgr_Command_Proxy(IZelvanMgr *This, LPSTR strNameOrID, LPSTR strCommand,
                                          LONG *nMaxLen, LPSTR *strResponse)
{
    ZVTASKTEXT response = {NULL};
    HRESULT hr;

    if (!nMaxLen || !strResponse)
        return E_POINTER;
    hr = IZelvanMgr_RemoteCommand_Proxy(This, strNameOrID, strCommand, nMaxLen, &response);
    *strResponse = response.text;
    return hr;
}

HRESULT __RPC_STUB IZelvanMgr_Command_Stub(IZelvanMgr *This, LPSTR strNameOrID,
                                           LPSTR strCommand, LONG *nMaxLen,
                                           ZVTASKTEXT *pResponse)
{
    return IZelvanMgr_Command(This, strNameOrID, strCommand, nMaxLen, &pResponse->text);
}

HRESULT CALLBACK IZvDevice_GetPropPageID_Proxy(IZvDevice *This, LONG type, CAUUID *pPages)
{
    if (!pPages)
        return E_POINTER;
    return IZvDevice_RemoteGetPropPageID_Proxy(This, type, pPages);
}

HRESULT __RPC_STUB IZvDevice_GetPropPageID_Stub(IZvDevice *This, LONG type, CAUUID *pPages)
{
    return IZvDevice_GetPropPageID(This, type, pPages);
}

HRESULT CALLBACK IZvEnumFileItems_Next_Proxy(IZvEnumFileItems *This, ULONG nElems, ZVFILEITEM *pElems,
                                             LONG *nFetched)
{
    LONG fetched = 0;
    HRESULT hr;

    if (!pElems)
        return E_INVALIDARG;
    if (!nFetched && nElems != 1)
        return E_POINTER;
    hr = IZvEnumFileItems_RemoteNext_Proxy(This, nElems, pElems, &fetched);
    if (nFetched)
        *nFetched = fetched;
    return hr;
}

HRESULT __RPC_STUB IZvEnumFileItems_Next_Stub(IZvEnumFileItems *This, ULONG nElems, ZVFILEITEM *pElems,
                                              LONG *nFetched)
{
    *nFetched = 0;
    return IZvEnumFileItems_Next(This, nElems, pElems, nFetched);
}
