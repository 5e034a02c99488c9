// The package installer: the association handler of .cap packages. Opening a package runs its
// install script ("install.js", else "install.vbs") with this object as "CAPLinker" and the
// package as "CAPFile"; a package without a script has all its files copied to a device folder
// the user picks.
#pragma once
#include "CapLinker.h"
#include "ComObject.h"
#include "TypeInfoDispatch.h"
#include "ZvAssocMgr.h"
#include <string>

struct ICapPackage;

namespace tv::caplinker {

class ZvCapLinker : public com::ComObject<ZvCapLinker, IZvCapLinker2, IZvAssociation> {
public:
    ZvCapLinker(HMODULE module, HMODULE language) : module_(module), language_(language) {}

    void* QueryOtherInterface(REFIID riid);

    // IZvAssociation
    STDMETHODIMP DoVerb(LPSTR strItem, LONG dwVerbID) override;
    STDMETHODIMP GetAssociation(ZVASSOCIATION* pItem) override;
    STDMETHODIMP GetContextMenuID(LONG* dwID) override;
    STDMETHODIMP IsAcceptable(LPSTR strItem) override;
    STDMETHODIMP Open(LPSTR strItem) override;

    // IZvCapLinker2
    STDMETHODIMP get_Copier(IZvCAPCopier** ppCopier) override;
    STDMETHODIMP GetVersion(BSTR strFileName, BSTR* pVer) override;
    STDMETHODIMP get_Asker(IZvCAPAsker** ppAsker) override;
    TV_DUAL_DISPATCH(IZvCapLinker2, dispatch_)

private:
    HRESULT RunInstallScript(const std::string& fileName, ICapPackage* package, BSTR script, const wchar_t* language);
    HRESULT DefaultInstall(ICapPackage* package);
    void ShowMessage(UINT textId) const;

    HMODULE module_;
    HMODULE language_;
    com::TypeInfoDispatch dispatch_{IID_IZvCapLinker2};
};

} // namespace tv::caplinker
