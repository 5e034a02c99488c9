// The plumbing every automation class of this DLL shares: its dual interface answered through
// the embedded type library, IDispatch and ISupportErrorInfo, and error information set for
// every failing call.
#pragma once
#include "ComObject.h"
#include "TypeInfoDispatch.h"
#include <windows.h>
#include <oaidl.h>

namespace tv::pimbridge {

// Sets COM error information for `hr`: the system's text for it, else "Unknown Error".
void ReportFailure(REFCLSID clsid, REFIID iid, HRESULT hr);

template <class Self, class Iface, const CLSID* Clsid, class... More>
class AutomationObject : public com::ComObject<Self, Iface, ISupportErrorInfo, More...> {
  public:
    TV_DUAL_DISPATCH(Iface, dispatch_)

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, __uuidof(Iface)) ? S_OK : S_FALSE;
    }
    void* QueryOtherInterface(REFIID riid) {
        return IsEqualIID(riid, IID_IDispatch) ? static_cast<Iface*>(this) : nullptr;
    }

  protected:
    // Passes `hr` on, with error information when it is a failure.
    HRESULT Done(HRESULT hr) const {
        if (FAILED(hr))
            ReportFailure(*Clsid, __uuidof(Iface), hr);
        return hr;
    }

  private:
    com::TypeInfoDispatch dispatch_{__uuidof(Iface)};
};

} // namespace tv::pimbridge
