#include "RunScript.h"
#include "ComPtr.h"
#include "HResult.h"
#include "LangIds.h"
#include "LanguageLibrary.h"
#include "ScriptHost.h"
#include "ZvRegistrar.h"
#include <string>

namespace tv {
namespace {

// The program's title from the language library beside the program.
std::wstring ProgramTitle() {
    com::UniqueModule library(LoadLanguageLibrary(nullptr));
    if (!library)
        return {};
    const wchar_t* text = nullptr;
    const int length = LoadStringW(library.Get(), IDS_PROGRAM_TITLE, reinterpret_cast<wchar_t*>(&text), 0);
    return length > 0 ? std::wstring(text, length) : std::wstring();
}

void ReportRunFailure(IScriptControl* control) {
    const std::wstring report = FormatScriptError(control);
    const std::wstring title = ProgramTitle();
    MessageBoxW(nullptr, report.c_str(), title.c_str(), MB_OK);
}

} // namespace

HRESULT RunScript(BSTR scriptText, BSTR functionName, long argumentCount, const VARIANT* arguments,
                  long objectCount, IDispatch* const* objects, const BSTR* objectNames, VARIANT* result,
                  bool showErrors) {
    com::ComPtr<IScriptControl> control;
    TV_RETURN_IF_FAILED(
        CoCreateInstance(CLSID_ScriptControl, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&control)));
    com::UniqueBstr language(SysAllocString(L"JScript"));
    TV_RETURN_IF_FAILED(control->put_Language(language.Get()));
    TV_RETURN_IF_FAILED(control->put_Timeout(-1));
    TV_RETURN_IF_FAILED(control->put_AllowUI(showErrors ? VARIANT_TRUE : VARIANT_FALSE));
    if (objectCount > 0 && (!objects || !objectNames))
        return E_INVALIDARG;
    for (long i = 0; i < objectCount; ++i)
        TV_RETURN_IF_FAILED(control->AddObject(objectNames[i], objects[i], VARIANT_FALSE));
    TV_RETURN_IF_FAILED(control->AddCode(scriptText));
    ScriptArguments array;
    TV_RETURN_IF_FAILED(array.Fill(argumentCount, arguments));
    SAFEARRAY* parameters = array.Get();
    const HRESULT hr = control->Run(functionName, &parameters, result);
    if (FAILED(hr) && showErrors)
        ReportRunFailure(control.Get());
    return hr;
}

HRESULT RunNamedScript(BSTR itemName, BSTR functionName, long argumentCount, const VARIANT* arguments,
                       long objectCount, IDispatch* const* objects, const BSTR* objectNames, VARIANT* result,
                       bool showErrors) {
    com::UniqueBstr script;
    {
        com::ComPtr<IZvRegistrarDisp> store;
        TV_RETURN_IF_FAILED(
            CoCreateInstance(CLSID_ZvRegistrar, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&store)));
        TV_RETURN_IF_FAILED(store->get_ItemScript(itemName, script.Put()));
    }
    return RunScript(script.Get(), functionName, argumentCount, arguments, objectCount, objects, objectNames,
                     result, showErrors);
}

HRESULT RunEventScript(const wchar_t* itemName, const wchar_t* functionName, const VARIANT* argument,
                       VARIANT* result) {
    VariantInit(result);
    com::UniqueBstr item(SysAllocString(itemName));
    com::UniqueBstr function(SysAllocString(functionName));
    if (!item || !function)
        return E_OUTOFMEMORY;
    return RunNamedScript(item.Get(), function.Get(), argument ? 1 : 0, argument, 0, nullptr, nullptr, result,
                          true);
}

bool IsBooleanFalse(const VARIANT& result) {
    return result.vt == VT_BOOL && result.boolVal == VARIANT_FALSE;
}

} // namespace tv
