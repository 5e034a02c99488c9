// The association manager: which handler opens a file, and the type text and icon of an item.
#pragma once
#include "ComObject.h"
#include "ZvAssocMgr.h"
#include <string>
#include <vector>

namespace tv::assoc {

class AssocManager : public com::ComObject<AssocManager, IZvAssocMgr> {
public:
    // `languageLibrary` holds the generic type text.
    explicit AssocManager(HMODULE languageLibrary) : languageLibrary_(languageLibrary) {}

    // IZvAssocMgr
    STDMETHODIMP DoVerb(LPSTR strItem, LONG dwVerbID) override;
    STDMETHODIMP GetAssociation(LPSTR strItem, ZVASSOCIATION* pItem) override;
    STDMETHODIMP GetContextMenuID(LPSTR strItem, LONG* dwID) override;
    STDMETHODIMP EnumAssociations(LONG type, IZvEnumAssociations** ppEnum) override;
    STDMETHODIMP Open(LPSTR strItem) override;

private:
    HMODULE languageLibrary_;
    // The registered association handlers; none are installed yet.
    std::vector<com::ComPtr<IZvAssociation>> associations_;
};

} // namespace tv::assoc
