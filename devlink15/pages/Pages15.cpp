#include "Pages15.h"
#include "ItemTexts.h"
#include "LangIds.h"
#include <cstdio>

namespace devlink15 {

using tv::pages::PageTemplate;

ZvFilePropPage15::ZvFilePropPage15()
    : PropertyPageObject(PageTemplate{IDD_FILE_PAGE_15, IDS_PAGE_TITLE_15}, false) {}

HRESULT ZvFilePropPage15::FillControls() {
    HRESULT hr = FilePageCore::FillControls();
    FillAttributeBoxes(Item().attr, true);
    return hr;
}

UINT ZvFilePropPage15::AttributeFailureText() const {
    return IDS_PAGE_FILE_ATTRIBUTES_FAILED;
}

ZvFolderPropPage15::ZvFolderPropPage15()
    : PropertyPageObject(PageTemplate{IDD_FOLDER_PAGE_15, IDS_PAGE_TITLE_15}) {}

HRESULT ZvFolderPropPage15::FillControls() {
    std::string path = FullPath();
    tv::com::ComPtr<IZelvanMgr> hub;
    HRESULT hr = tv::pages::CreateHub(hub);
    if (FAILED(hr))
        return hr;
    // The totals arrive as progress reports while the page is shown.
    LPSTR items[] = {path.data()};
    hub->GetItemsInfo(1, static_cast<LONG>(path.size() + 1), items, this);
    FillNameBox();
    SetControlText(kTypeText, LanguageText(IDS_PAGE_FOLDER_TYPE_15));
    SetControlText(kLocationText, tv::pages::CompactLocation(Window(), ItemFolder(), kLocationWidth));
    FillAttributeBoxes(Item().attr, false);
    return S_OK;
}

STDMETHODIMP ZvFolderPropPage15::OnOperationProgress(ITEMSINFO info) {
    if (!Window())
        return S_OK;
    SetControlText(kTotalSizeText, tv::pages::SizeText(static_cast<ULONG>(info.nTotalSize)));
    // The folder itself is counted among the folders.
    unsigned folders = info.folders > 0 ? static_cast<unsigned>(info.folders - 1) : 0;
    char counts[260] = {};
    std::snprintf(counts, sizeof(counts), LanguageText(IDS_PAGE_COUNTS_15).c_str(),
                  static_cast<unsigned>(info.files), folders);
    SetControlText(kCountsText, counts);
    return S_OK;
}

UINT ZvFolderPropPage15::AttributeFailureText() const {
    return IDS_PAGE_FOLDER_ATTRIBUTES_FAILED;
}

ZvMediaPropPage15::ZvMediaPropPage15()
    : PropertyPageObject(PageTemplate{IDD_MEDIA_PAGE_15, IDS_PAGE_TITLE_15}, IDS_DEVICE_DESCRIPTION_15) {}

} // namespace devlink15
