// The part of the file page that both generations show: the file type's icon (painted at the
// page's top left) and type text, the name box, the location, the size and the time.
#pragma once
#include "FileTypeInfo.h"
#include "ItemPageCore.h"

namespace tv::pages {

class FilePageCore : public ItemPageCore {
  public:
    // `localTime`: the item's time is UTC and is shown in local time; otherwise it is shown as
    // it stands.
    FilePageCore(PageTemplate pageTemplate, bool localTime);

    static constexpr int kSizeText = IDC_PAGE_SIZE;
    static constexpr int kTimeText = IDC_PAGE_TIME;

  protected:
    HRESULT FillControls() override;
    void OnPaint(HDC dc) override;

  private:
    bool localTime_;
    UniqueIcon icon_;
};

} // namespace tv::pages
