#include "AssocManager.h"
#include "AnsiText.h"
#include "LangIds.h"
#include <cstring>

namespace tv::assoc {

STDMETHODIMP AssocManager::GetAssociation(LPSTR strItem, ZVASSOCIATION* pItem) {
    if (!strItem || !pItem)
        return E_POINTER;
    *pItem = ZVASSOCIATION{};
    char description[256] = {};
    if (!languageLibrary_ ||
        LoadStringA(languageLibrary_, IDS_ASSOC_GENERIC_TYPE, description, sizeof(description)) <= 0)
        return E_FAIL;
    pItem->strDescription = tv::com::TaskTextCopy(description);
    pItem->strIconSrc = tv::com::TaskTextCopy("shell32.dll");
    pItem->dwIconIdx = 0;
    if (!pItem->strDescription || !pItem->strIconSrc) {
        CoTaskMemFree(pItem->strDescription);
        CoTaskMemFree(pItem->strIconSrc);
        *pItem = ZVASSOCIATION{};
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

STDMETHODIMP AssocManager::Open(LPSTR strItem) {
    if (!strItem)
        return E_POINTER;
    for (const auto& association : associations_) {
        if (association->IsAcceptable(strItem) == S_OK)
            return association->Open(strItem);
    }
    return S_FALSE;
}

STDMETHODIMP AssocManager::DoVerb(LPSTR, LONG) { return E_NOTIMPL; }

STDMETHODIMP AssocManager::GetContextMenuID(LPSTR, LONG* dwID) {
    if (dwID)
        *dwID = 0;
    return E_NOTIMPL;
}

STDMETHODIMP AssocManager::EnumAssociations(LONG, IZvEnumAssociations** ppEnum) {
    if (ppEnum)
        *ppEnum = nullptr;
    return E_NOTIMPL;
}

} // namespace tv::assoc
