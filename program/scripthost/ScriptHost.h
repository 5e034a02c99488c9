// A reusable, thread-safe wrapper of the Script Control: load code once, call its functions
// from any thread of the process. The control lives in the apartment that called Create; every
// operation takes the host's lock and works on an interface unmarshalled for that one call.
#pragma once
#include "ComPtr.h"
#include "Handles.h"
#include "MarshalledInterface.h"
#include "ScriptControl.h"
#include <string>

namespace tv {

class ScriptHost {
  public:
    ScriptHost();
    ScriptHost(const ScriptHost&) = delete;
    ScriptHost& operator=(const ScriptHost&) = delete;
    virtual ~ScriptHost();

    // Remembers the script language ("JScript" at first) and sets it on a created control.
    HRESULT SetLanguage(BSTR language);
    // Creates the control in-process with the language, time-out and AllowUI held here.
    HRESULT Create();
    HRESULT AddCode(BSTR text);
    // Makes `object` known to the scripts under `name`; with `addMembers` its members are
    // reachable without the name too. Add objects before the code that uses them.
    HRESULT AddObject(BSTR name, IDispatch* object, bool addMembers);
    // `arguments` is a one-dimensional SAFEARRAY of VARIANT with lower bound 1 (or null).
    HRESULT Run(BSTR functionName, SAFEARRAY* arguments, VARIANT* result);
    // Calls a function with `count` arguments (copied into a SAFEARRAY as Run wants them).
    HRESULT CallFunction(BSTR functionName, long count, const VARIANT* arguments, VARIANT* result);
    // Drops the loaded code and the named objects (the control's Reset); language and settings stay.
    HRESULT Reset();
    // "Error in line <n> (<text>):\n<description>" of the control's last error, or "".
    BSTR GetErrorText();

  private:
    HRESULT Control(com::ComPtr<IScriptControl>& control) const;

    com::CriticalSection lock_;
    MarshalledInterface control_;
    com::UniqueBstr language_;
    long timeout_ = -1;
    bool allowUI_ = true;
};

// One-dimensional SAFEARRAY of VARIANT, lower bound 1, element i+1 = a copy of arguments[i].
class ScriptArguments {
  public:
    ScriptArguments() = default;
    ScriptArguments(const ScriptArguments&) = delete;
    ScriptArguments& operator=(const ScriptArguments&) = delete;
    ~ScriptArguments();

    HRESULT Fill(long count, const VARIANT* arguments);
    SAFEARRAY* Get() const { return array_; }

  private:
    SAFEARRAY* array_ = nullptr;
};

// The report of a script failure, from the control's error object; empty without one.
std::wstring FormatScriptError(IScriptControl* control);

} // namespace tv
