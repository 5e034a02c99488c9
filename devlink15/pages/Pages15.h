// The item property pages of the 1.5 generation: file, folder and storage medium. The device
// object names them through GetPropPageID; the program's property sheet shows them.
#pragma once
#include "AttributedPage15.h"
#include "FilePageCore.h"
#include "MediaPageCore.h"

namespace devlink15 {

class ZvFilePropPage15
    : public tv::pages::PropertyPageObject<ZvFilePropPage15, AttributedPage15<tv::pages::FilePageCore>> {
  public:
    ZvFilePropPage15();

  protected:
    HRESULT FillControls() override;
    bool RestoresNameOfSystemItem() const override { return true; }
    UINT AttributeFailureText() const override;
};

class ZvFolderPropPage15
    : public tv::pages::PropertyPageObject<ZvFolderPropPage15, AttributedPage15<tv::pages::ItemPageCore>,
                                           IZvItemsInfoCallback> {
  public:
    ZvFolderPropPage15();

    static constexpr int kTotalSizeText = IDC_PAGE_SIZE;
    static constexpr int kCountsText = IDC_PAGE_COUNTS;

    // IZvItemsInfoCallback: the totals of the folder's contents as the hub counts them.
    STDMETHODIMP OnOperationStart() override { return S_OK; }
    STDMETHODIMP OnOperationProgress(ITEMSINFO info) override;
    STDMETHODIMP OnOperationComplete(LPSTR) override { return S_OK; }

  protected:
    HRESULT FillControls() override;
    bool RestoresNameOfSystemItem() const override { return false; }
    UINT AttributeFailureText() const override;
};

class ZvMediaPropPage15 : public tv::pages::PropertyPageObject<ZvMediaPropPage15, tv::pages::MediaPageCore> {
  public:
    ZvMediaPropPage15();
};

} // namespace devlink15
