#include "FilePageCore.h"
#include "ItemTexts.h"

namespace tv::pages {

FilePageCore::FilePageCore(PageTemplate pageTemplate, bool localTime)
    : ItemPageCore(pageTemplate), localTime_(localTime) {}

HRESULT FilePageCore::FillControls() {
    FileTypeInfo type = LookUpFileType(ItemName());
    icon_.Reset(LoadFileTypeIcon(type));
    SetControlText(kTypeText, type.description);
    FillNameBox();
    SetControlText(kLocationText, CompactLocation(Window(), ItemFolder(), kLocationWidth));
    SetControlText(kSizeText, SizeText(static_cast<ULONG>(Item().nSize)));
    SetControlText(kTimeText, FileTimeText(Item().nTimeLow, Item().nTimeHigh, localTime_));
    return S_OK;
}

void FilePageCore::OnPaint(HDC dc) {
    if (icon_.Get())
        DrawIcon(dc, 10, 10, icon_.Get());
}

} // namespace tv::pages
