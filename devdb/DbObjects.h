// The COM wrappers of ZvDB.dll: each holds one engine object and offers it through a custom face
// and a dispatch twin. A wrapper whose engine object is gone answers E_FAIL.
#pragma once
#include "ComObject.h"
#include "Connection.h"
#include "Record.h"
#include "TypeInfoDispatch.h"
#include "ZvDB.h"
#include <memory>
#include <new>

namespace tv::devdb::com {

// Sets COM error information for a failed call of a ZvDB object: the language library's text for
// `hr` ("Unknown Error" without the library).
void ReportFailure(REFCLSID clsid, REFIID iid, HRESULT hr) noexcept;

// Runs one method of a ZvDB object: no C++ exception leaves it (E_OUTOFMEMORY when memory ran out,
// E_FAIL for anything else), and a failure sets COM error information.
template <class Body> HRESULT RunMethod(REFCLSID clsid, REFIID iid, Body&& body) noexcept {
    HRESULT hr = E_FAIL;
    try {
        hr = body();
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    } catch (...) {
        hr = E_FAIL;
    }
    if (FAILED(hr))
        ReportFailure(clsid, iid, hr);
    return hr;
}

// An automation object of ZvDB: its custom face and its dispatch twin over the embedded type
// library, ISupportErrorInfo for both, and Run for the body of every method.
template <class Self, const CLSID* Clsid, class Custom, class Disp, class... More>
class AutomationObject : public tv::com::ComObject<Self, Custom, Disp, ISupportErrorInfo, More...> {
  public:
    TV_DUAL_DISPATCH(Disp, dispatch_)

    void* QueryOtherInterface(REFIID riid) {
        return IsEqualIID(riid, IID_IDispatch) ? static_cast<Disp*>(this) : nullptr;
    }
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, __uuidof(Custom)) || IsEqualIID(riid, __uuidof(Disp)) ? S_OK : S_FALSE;
    }

  protected:
    template <class Body> HRESULT Run(Body&& body) noexcept {
        return RunMethod(*Clsid, __uuidof(Disp), body);
    }

  private:
    tv::com::TypeInfoDispatch dispatch_{__uuidof(Disp)};
};

// The engine of the process (made when the DLL is loaded); null when it could not be made.
Engine* ProcessEngine();

HRESULT NewConnectionObject(std::shared_ptr<Connection> connection, REFIID riid, void** ppv);
HRESULT NewTableObject(std::shared_ptr<Connection> connection, std::shared_ptr<Table> table, REFIID riid,
                       void** ppv);
HRESULT NewCursorObject(std::shared_ptr<Cursor> cursor, REFIID riid, void** ppv);
HRESULT NewRecordObject(std::shared_ptr<Record> record, REFIID riid, void** ppv);
HRESULT NewFormatObject(std::shared_ptr<Connection> connection, RecordFormat format, REFIID riid, void** ppv);

// The engine objects behind wrappers of this DLL handed back by a caller (null for anything else).
std::shared_ptr<Connection> ConnectionOf(IUnknown* object);
std::shared_ptr<Table> TableOf(IUnknown* object);
std::shared_ptr<Cursor> CursorOf(IUnknown* object);
std::shared_ptr<Record> RecordOf(IUnknown* object);
// The format held by a format wrapper (null when it is not one, or was released).
const RecordFormat* FormatOf(IUnknown* object);
// Lets go of a format wrapper's format; false when it is not one or was released already.
bool ReleaseFormatOf(IUnknown* object);

} // namespace tv::devdb::com
