#include "PieChart.h"
#include <cmath>

namespace tv::pages {
namespace {

constexpr double kFullTurn = 6.2831852;
constexpr int kRim = 10;

// Deletes a GDI brush it owns.
class Brush {
  public:
    explicit Brush(COLORREF colour) : brush_(CreateSolidBrush(colour)) {}
    Brush(const Brush&) = delete;
    Brush& operator=(const Brush&) = delete;
    ~Brush() {
        if (brush_)
            DeleteObject(brush_);
    }
    HBRUSH Get() const { return brush_; }

  private:
    HBRUSH brush_;
};

} // namespace

PieChartPlan PlanPieChart(ULONGLONG used, ULONGLONG free, POINT origin) {
    double u = static_cast<double>(used);
    double f = static_cast<double>(free);
    if (used + free == 0) {
        u = 100;
        f = 0;
    }
    PieChartPlan plan = {};
    plan.box = {origin.x + 60, origin.y + 220, origin.x + 280, origin.y + 300};
    const RECT& b = plan.box;
    plan.centre = {(b.left + b.right) / 2, (b.top + b.bottom) / 2};
    constexpr COLORREF kDarkUsed = RGB(0, 0, 130);
    constexpr COLORREF kDarkFree = RGB(130, 0, 130);
    if (f < 0.01 * u) {
        plan.main = kUsedColour, plan.dark = kDarkUsed, plan.other = kUsedColour;
    } else if (u < 0.01 * f) {
        plan.main = kFreeColour, plan.dark = kDarkFree, plan.other = kFreeColour;
    } else if (f > u) {
        plan.main = kFreeColour, plan.dark = kDarkFree, plan.other = kUsedColour;
    } else {
        plan.main = kUsedColour, plan.dark = kDarkUsed, plan.other = kFreeColour;
    }
    const int sign = u > f ? 1 : (u < f ? -1 : 0);
    const int height = b.bottom - b.top;
    const double angleFree = f * kFullTurn / (u + f);
    plan.mainEnd = {plan.centre.x + static_cast<LONG>(std::trunc(-100 * std::cos(angleFree))),
                    plan.centre.y +
                        static_cast<LONG>(std::trunc(std::sin(angleFree) * (height / -2) * sign))};
    const double angleUsed = u * kFullTurn / (u + f);
    plan.otherStart = {plan.centre.x + static_cast<LONG>(std::trunc(-100 * std::cos(angleUsed))),
                       plan.centre.y +
                           static_cast<LONG>(std::trunc(std::sin(angleUsed) * (height / 2) * sign))};
    plan.otherIsSlice = u != 0 && f != 0;
    return plan;
}

void DrawPieChart(HDC dc, POINT origin, ULONGLONG used, ULONGLONG free) {
    const PieChartPlan plan = PlanPieChart(used, free, origin);
    const RECT& b = plan.box;
    const POINT& c = plan.centre;
    Brush main(plan.main), dark(plan.dark), other(plan.other);
    HGDIOBJ previous = SelectObject(dc, dark.Get());
    // The rim: the lower ellipse and the band between the two.
    Ellipse(dc, b.left, b.top + kRim, b.right, b.bottom + kRim);
    RECT band = {b.left, c.y, b.right, c.y + kRim};
    FillRect(dc, &band, dark.Get());
    SelectObject(dc, main.Get());
    Pie(dc, b.left, b.top, b.right, b.bottom, b.left, c.y, plan.mainEnd.x, plan.mainEnd.y);
    SelectObject(dc, other.Get());
    if (plan.otherIsSlice)
        Pie(dc, b.left, b.top, b.right, b.bottom, plan.otherStart.x, plan.otherStart.y, b.left, c.y);
    else
        Ellipse(dc, b.left, b.top, b.right, b.bottom);
    // Outlines of the rim.
    if (plan.otherStart.y - c.y > 0) {
        MoveToEx(dc, plan.otherStart.x, plan.otherStart.y, nullptr);
        LineTo(dc, plan.otherStart.x, plan.otherStart.y + kRim);
    }
    MoveToEx(dc, b.left, c.y, nullptr);
    LineTo(dc, b.left, c.y + kRim);
    MoveToEx(dc, b.right, c.y, nullptr);
    LineTo(dc, b.right, c.y + kRim);
    const int middle = (b.top + kRim + b.bottom + kRim) / 2;
    Arc(dc, b.left, b.top + kRim, b.right, b.bottom + kRim, b.left, middle, b.right, middle);
    SelectObject(dc, previous);
}

} // namespace tv::pages
