#include "ScriptHost.h"
#include "HResult.h"

namespace tv {
namespace {

HRESULT CreateScriptControl(com::ComPtr<IScriptControl>& control) {
    return CoCreateInstance(CLSID_ScriptControl, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&control));
}

std::wstring TextOf(const com::UniqueBstr& text) {
    return text ? std::wstring(text.Get(), SysStringLen(text.Get())) : std::wstring();
}

} // namespace

std::wstring FormatScriptError(IScriptControl* control) {
    com::ComPtr<IScriptError> error;
    if (!control || FAILED(control->get_Error(&error)) || !error)
        return {};
    long line = 0;
    com::UniqueBstr text, description;
    error->get_Line(&line);
    error->get_Text(text.Put());
    error->get_Description(description.Put());
    // "Error in line %ld (%s):\n%s" with the line, the failing source text and the description.
    return L"Error in line " + std::to_wstring(line) + L" (" + TextOf(text) + L"):\n" + TextOf(description);
}

ScriptArguments::~ScriptArguments() {
    if (array_)
        SafeArrayDestroy(array_);
}

HRESULT ScriptArguments::Fill(long count, const VARIANT* arguments) {
    if (count < 0 || (count > 0 && !arguments))
        return E_INVALIDARG;
    SAFEARRAYBOUND bound{static_cast<ULONG>(count), 1};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
    if (!array)
        return E_OUTOFMEMORY;
    for (long i = 0; i < count; ++i) {
        LONG index = i + 1;
        const HRESULT hr = SafeArrayPutElement(array, &index, const_cast<VARIANT*>(&arguments[i]));
        if (FAILED(hr)) {
            SafeArrayDestroy(array);
            return hr;
        }
    }
    if (array_)
        SafeArrayDestroy(array_);
    array_ = array;
    return S_OK;
}

ScriptHost::ScriptHost() : language_(SysAllocString(L"JScript")) {}

ScriptHost::~ScriptHost() {
    com::CriticalSectionLock guard(lock_);
    control_.Release();
}

HRESULT ScriptHost::Control(com::ComPtr<IScriptControl>& control) const {
    if (!control_.IsHeld())
        return E_FAIL;
    return control_.Unmarshal(control.ReleaseAndGetAddressOf());
}

HRESULT ScriptHost::SetLanguage(BSTR language) {
    com::CriticalSectionLock guard(lock_);
    if (language != language_.Get())
        language_.Reset(SysAllocStringLen(language, language ? SysStringLen(language) : 0));
    if (!control_.IsHeld())
        return S_OK;
    com::ComPtr<IScriptControl> control;
    TV_RETURN_IF_FAILED(Control(control));
    return control->put_Language(language_.Get());
}

HRESULT ScriptHost::Create() {
    com::CriticalSectionLock guard(lock_);
    com::ComPtr<IScriptControl> control;
    TV_RETURN_IF_FAILED(CreateScriptControl(control));
    TV_RETURN_IF_FAILED(control->put_Language(language_.Get()));
    TV_RETURN_IF_FAILED(control->put_Timeout(timeout_));
    TV_RETURN_IF_FAILED(control->put_AllowUI(allowUI_ ? VARIANT_TRUE : VARIANT_FALSE));
    // The holder keeps the control alive; our own reference goes with `control`.
    return control_.Marshal(__uuidof(IScriptControl), control.Get());
}

HRESULT ScriptHost::AddCode(BSTR text) {
    com::CriticalSectionLock guard(lock_);
    com::ComPtr<IScriptControl> control;
    TV_RETURN_IF_FAILED(Control(control));
    return control->AddCode(text);
}

HRESULT ScriptHost::AddObject(BSTR name, IDispatch* object, bool addMembers) {
    if (!name || !object)
        return E_INVALIDARG;
    com::CriticalSectionLock guard(lock_);
    com::ComPtr<IScriptControl> control;
    TV_RETURN_IF_FAILED(Control(control));
    return control->AddObject(name, object, addMembers ? VARIANT_TRUE : VARIANT_FALSE);
}

HRESULT ScriptHost::Run(BSTR functionName, SAFEARRAY* arguments, VARIANT* result) {
    com::CriticalSectionLock guard(lock_);
    com::ComPtr<IScriptControl> control;
    TV_RETURN_IF_FAILED(Control(control));
    return control->Run(functionName, &arguments, result);
}

HRESULT ScriptHost::CallFunction(BSTR functionName, long count, const VARIANT* arguments, VARIANT* result) {
    com::CriticalSectionLock guard(lock_);
    if (!control_.IsHeld())
        return E_FAIL;
    ScriptArguments array;
    TV_RETURN_IF_FAILED(array.Fill(count, arguments));
    return Run(functionName, array.Get(), result);
}

HRESULT ScriptHost::Reset() {
    com::CriticalSectionLock guard(lock_);
    com::ComPtr<IScriptControl> control;
    TV_RETURN_IF_FAILED(Control(control));
    return control->Reset();
}

BSTR ScriptHost::GetErrorText() {
    com::CriticalSectionLock guard(lock_);
    com::ComPtr<IScriptControl> control;
    if (FAILED(Control(control)))
        return SysAllocString(L"");
    return SysAllocString(FormatScriptError(control.Get()).c_str());
}

} // namespace tv
