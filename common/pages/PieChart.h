// The pie of used against free space on the media pages: a tilted disc with a 10-pixel rim,
// used space in blue and free space in magenta; a share under 1 % of the other is drawn in the
// other's colour. The plan (where and in which colours) is kept apart from the drawing so that
// it can be checked without a screen.
#pragma once
#include <windows.h>

namespace tv::pages {

inline constexpr COLORREF kUsedColour = RGB(0, 0, 255);
inline constexpr COLORREF kFreeColour = RGB(255, 0, 255);

struct PieChartPlan {
    RECT box; // the top ellipse
    POINT centre;
    COLORREF main, dark, other;
    POINT mainEnd;     // the main slice runs from (box.left, centre.y) to here
    bool otherIsSlice; // else the other colour fills the whole ellipse under the main slice
    POINT otherStart;  // the other slice runs from here to (box.left, centre.y)
};

PieChartPlan PlanPieChart(ULONGLONG used, ULONGLONG free, POINT origin);

// Draws the pie on `dc` at `origin` (the page's client origin); the current pen draws the
// outlines. The caller's brush is selected back.
void DrawPieChart(HDC dc, POINT origin, ULONGLONG used, ULONGLONG free);

} // namespace tv::pages
