#include "MediaPageCore.h"
#include "ItemTexts.h"
#include "PieChart.h"

namespace tv::pages {

MediaPageCore::MediaPageCore(PageTemplate pageTemplate, UINT descriptionId)
    : ItemPageCore(pageTemplate), descriptionId_(descriptionId) {}

HRESULT MediaPageCore::FillControls() {
    SetControlText(kMediaNameText, ItemName());
    SetControlText(kMediaTypeText, LanguageText(descriptionId_));
    com::ComPtr<IZelvanMgr> hub;
    HRESULT hr = CreateHub(hub);
    if (FAILED(hr))
        return hr;
    std::string path = JoinItemPath(ItemFolder(), ItemName());
    VOLUMEINFO volume = {};
    hr = hub->GetVolumeInfo(path.data(), &volume);
    if (hr != S_OK)
        return AsFailure(hr);
    auto bytes = [&volume](long blocks) {
        return static_cast<ULONGLONG>(static_cast<ULONG>(blocks)) * static_cast<ULONG>(volume.nBlockSize);
    };
    used_ = bytes(volume.nBusyBlocks);
    free_ = bytes(volume.nFreeBlocks);
    SetControlText(kUsedText, SizeText(used_));
    SetControlText(kFreeText, SizeText(free_));
    SetControlText(kTotalText, SizeText(used_ + free_));
    InvalidateRect(Window(), nullptr, TRUE);
    return S_OK;
}

void MediaPageCore::FillSwatch(HDC dc, int control, COLORREF colour) const {
    HWND swatch = GetDlgItem(Window(), control);
    if (!swatch)
        return;
    RECT page = {}, area = {};
    GetWindowRect(Window(), &page);
    GetWindowRect(swatch, &area);
    OffsetRect(&area, -page.left, -page.top);
    HBRUSH brush = CreateSolidBrush(colour);
    if (!brush)
        return;
    FillRect(dc, &area, brush);
    DeleteObject(brush);
}

void MediaPageCore::OnPaint(HDC dc) {
    FillSwatch(dc, kUsedSwatch, kUsedColour);
    FillSwatch(dc, kFreeSwatch, kFreeColour);
    RECT client = {};
    GetClientRect(Window(), &client);
    DrawPieChart(dc, {client.left, client.top}, used_, free_);
}

} // namespace tv::pages
