// The platform's Script Control, as far as the suite drives it: the control's IScriptControl
// and the IScriptError that describes the last failure. Both are dual interfaces declared here
// in their vtable order (the control's type library is the reference; a test checks it).
#pragma once
#include <windows.h>
#include <oaidl.h>

// {0E59F1D5-1FBE-11D0-8FF2-00A0D10038BC}
inline constexpr CLSID CLSID_ScriptControl = {
    0x0E59F1D5, 0x1FBE, 0x11D0, {0x8F, 0xF2, 0x00, 0xA0, 0xD1, 0x00, 0x38, 0xBC}};

MIDL_INTERFACE("70841C78-067D-11D0-95D8-00A02463AB28")
IScriptError : public IDispatch {
  public:
    virtual HRESULT STDMETHODCALLTYPE get_Number(long* number) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Source(BSTR * source) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Description(BSTR * description) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_HelpFile(BSTR * helpFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_HelpContext(long* helpContext) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Text(BSTR * text) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Line(long* line) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Column(long* column) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
};
__CRT_UUID_DECL(IScriptError, 0x70841C78, 0x067D, 0x11D0, 0x95, 0xD8, 0x00, 0xA0, 0x24, 0x63, 0xAB, 0x28)

MIDL_INTERFACE("0E59F1D3-1FBE-11D0-8FF2-00A0D10038BC")
IScriptControl : public IDispatch {
  public:
    virtual HRESULT STDMETHODCALLTYPE get_Language(BSTR * language) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Language(BSTR language) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_State(long* state) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_State(long state) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_SitehWnd(long window) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SitehWnd(long* window) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Timeout(long* timeout) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Timeout(long timeout) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AllowUI(VARIANT_BOOL * allowUI) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_AllowUI(VARIANT_BOOL allowUI) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_UseSafeSubset(VARIANT_BOOL * safeSubset) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_UseSafeSubset(VARIANT_BOOL safeSubset) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Modules(IDispatch * *modules) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Error(IScriptError * *error) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CodeObject(IDispatch * *codeObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Procedures(IDispatch * *procedures) = 0;
    virtual HRESULT STDMETHODCALLTYPE _AboutBox() = 0;
    virtual HRESULT STDMETHODCALLTYPE AddObject(BSTR name, IDispatch * object, VARIANT_BOOL addMembers) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE AddCode(BSTR code) = 0;
    virtual HRESULT STDMETHODCALLTYPE Eval(BSTR expression, VARIANT * result) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExecuteStatement(BSTR statement) = 0;
    virtual HRESULT STDMETHODCALLTYPE Run(BSTR procedureName, SAFEARRAY * *parameters, VARIANT * result) = 0;
};
__CRT_UUID_DECL(IScriptControl, 0x0E59F1D3, 0x1FBE, 0x11D0, 0x8F, 0xF2, 0x00, 0xA0, 0xD1, 0x00, 0x38, 0xBC)
