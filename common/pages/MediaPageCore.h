// The media page of both device generations: the medium's name and description, its used,
// free and total space from the hub's volume information, two legend swatches and the pie.
#pragma once
#include "ItemPageCore.h"

namespace tv::pages {

class MediaPageCore : public ItemPageCore {
  public:
    // `descriptionId` names the language string shown as the medium's type.
    MediaPageCore(PageTemplate pageTemplate, UINT descriptionId);

    ULONGLONG UsedBytes() const { return used_; }
    ULONGLONG FreeBytes() const { return free_; }

    static constexpr int kMediaNameText = IDC_PAGE_TYPE;
    static constexpr int kMediaTypeText = IDC_MEDIA_TYPE;
    static constexpr int kUsedText = IDC_MEDIA_USED;
    static constexpr int kFreeText = IDC_MEDIA_FREE;
    static constexpr int kTotalText = IDC_MEDIA_TOTAL;
    static constexpr int kUsedSwatch = IDC_MEDIA_USED_SWATCH;
    static constexpr int kFreeSwatch = IDC_MEDIA_FREE_SWATCH;

  protected:
    HRESULT FillControls() override;
    void OnPaint(HDC dc) override;

  private:
    void FillSwatch(HDC dc, int control, COLORREF colour) const;

    UINT descriptionId_;
    // Computed in 64 bits: block count times block size overflows 32 bits from 4 GB on.
    ULONGLONG used_ = 0;
    ULONGLONG free_ = 0;
};

} // namespace tv::pages
