#include "AssociationRecord.h"
#include "AnsiText.h"

namespace tv::assoc {

HRESULT CopyToRecord(const Association& association, ZVASSOCIATION& record) {
    record = ZVASSOCIATION{};
    record.strDescription = com::TaskTextCopy(association.description);
    record.strExtension = association.extension.empty() ? nullptr : com::TaskTextCopy(association.extension);
    record.strIconSrc = com::TaskTextCopy(association.iconSource);
    record.dwIconIdx = association.iconIndex;
    record.dwZvFlag = association.flag;
    if (!record.strDescription || !record.strIconSrc || (!association.extension.empty() && !record.strExtension)) {
        FreeRecord(record);
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void FreeRecord(ZVASSOCIATION& record) {
    CoTaskMemFree(record.strDescription);
    CoTaskMemFree(record.strExtension);
    CoTaskMemFree(record.strIconSrc);
    record = ZVASSOCIATION{};
}

Association TakeRecord(ZVASSOCIATION& record) {
    Association association;
    association.description = record.strDescription ? record.strDescription : "";
    association.extension = record.strExtension ? record.strExtension : "";
    association.iconSource = record.strIconSrc ? record.strIconSrc : "";
    association.iconIndex = record.dwIconIdx;
    association.flag = record.dwZvFlag;
    FreeRecord(record);
    return association;
}

std::string ExtensionOf(const std::string& item) {
    const size_t dot = item.find_last_of('.');
    return dot == std::string::npos ? item : item.substr(dot);
}

} // namespace tv::assoc
