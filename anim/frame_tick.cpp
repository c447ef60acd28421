// The frame tick: time, clear, phase step, plot, colour, regulation, copy and status line.
#include <cstdio>
#include <cstring>

#include "anim/anim.h"
#include "anim/morph.h"
#include "platform/platform.h"

int FormatStatusLine(char* buffer, std::int32_t definitionNumber, std::int32_t shownPoints) {
    return std::snprintf(buffer, 64, "IFS # %d; %d points   ", static_cast<int>(definitionNumber),
                         static_cast<int>(shownPoints));
}

namespace {

// Trades points for time: three slow ticks in a row cost 100 points. The Windows rule gives 100
// back on a tick that measured 0 ms; FastRun gives them back after FastRunTicks ticks in a row of
// at most FastTickMs each, well below the 70 ms at which a tick counts as slow, so that 100 points
// more cannot make the same machine's ticks slow again (no oscillation). Both stop at the
// configured count.
void RegulatePoints(std::int32_t dt) {
    if (dt > 70 && State.ShownPoints > State.MinPoints && State.Interval1 > 80 && State.Interval2 > 90)
        State.ShownPoints -= 100;
    if (State.Regulation == PointRegulation::ZeroInterval) {
        if (dt == 0 && State.ShownPoints <= State.GrowLimit) State.ShownPoints += 100;
    } else {
        State.FastTicks = dt >= 0 && dt <= FastTickMs ? State.FastTicks + 1 : 0;
        if (State.FastTicks >= FastRunTicks) {
            State.FastTicks = 0;
            if (State.ShownPoints <= State.GrowLimit) State.ShownPoints += 100;
        }
    }
    State.Interval2 = State.Interval1;
    State.Interval1 = dt;
}

// Below this many image bytes per lit point, one block fill is cheaper than clearing the
// lit points one by one.
constexpr std::uint64_t ReplayBytesPerPoint = 32;

// Puts VScreen back to all zeros: either the points the last tick plotted are cleared again,
// one byte each, or the whole image is filled when that is cheaper or nothing is known.
void ClearImage() {
    const std::size_t imageBytes =
        static_cast<std::size_t>(State.VScreenStride) * static_cast<std::size_t>(State.ImageHeight);
    const std::int32_t plotted = State.PlottedPoints;
    if (plotted >= 0 && static_cast<std::uint64_t>(plotted) * ReplayBytesPerPoint < imageBytes) {
        UnplotPoints(State.VScreen, State.VScreenStride, State.ScreenWidth, State.ImageHeight, State.PtsA, plotted);
    } else if (imageBytes != 0) {
        std::memset(State.VScreen, 0, imageBytes);
    }
}

PointBox Union(const PointBox& a, const PointBox& b) {
    if (a.left > a.right) return b;
    if (b.left > b.right) return a;
    return {a.left < b.left ? a.left : b.left, a.bottom < b.bottom ? a.bottom : b.bottom,
            a.right > b.right ? a.right : b.right, a.top > b.top ? a.top : b.top};
}

// The window pixels of a box of image points, the image's top row at window row `top`; false
// when none of them lies in the image.
bool WindowRect(const PointBox& box, std::int32_t top, platform::Rect* rect) {
    const std::int32_t w = State.ScreenWidth, h = State.ImageHeight;
    const std::int32_t left = box.left < 0 ? 0 : box.left;
    const std::int32_t right = box.right >= w ? w - 1 : box.right;
    const std::int32_t bottom = box.bottom < 0 ? 0 : box.bottom;
    const std::int32_t up = box.top >= h ? h - 1 : box.top;
    if (left > right || bottom > up) return false;
    // Image row y is window row top + h - 1 - y.
    *rect = {left, top + (h - 1 - up), right + 1, top + (h - 1 - bottom) + 1};
    return true;
}

bool Inside(const platform::Rect& a, const platform::Rect& b) {
    return a.left >= b.left && a.right <= b.right && a.top >= b.top && a.bottom <= b.bottom;
}

void AddRect(platform::FrameDamage* damage, const platform::Rect& rect) {
    for (int i = 0; i < damage->count; ++i) {
        if (Inside(rect, damage->rects[i])) return;
    }
    damage->rects[damage->count++] = rect;
}

// What one tick changed, as the tick worked it out.
struct TickChange {
    bool whole;               // anything: a new image, or points whose last positions are lost
    const ScreenPoint* cleared;
    std::int32_t clearedCount;
    PointBox clearedBox;
    const ScreenPoint* plotted;
    std::int32_t plottedCount;
    PointBox plottedBox;
    bool statusChanged;
};

platform::FrameDamage DescribeDamage(const TickChange& change, std::int32_t top) {
    platform::FrameDamage damage = {};
    if (change.whole) {
        damage.whole = true;
        return damage;
    }
    platform::Rect rect;
    if (change.statusChanged) AddRect(&damage, {0, 0, State.ScreenWidth, top});
    if (change.clearedCount > 0 && WindowRect(change.clearedBox, top, &rect)) AddRect(&damage, rect);
    if (change.plottedCount > 0 && WindowRect(change.plottedBox, top, &rect)) AddRect(&damage, rect);
    damage.cleared = change.clearedCount > 0 ? change.cleared : nullptr;
    damage.clearedCount = change.clearedCount > 0 ? change.clearedCount : 0;
    damage.plotted = change.plottedCount > 0 ? change.plotted : nullptr;
    damage.plottedCount = change.plottedCount > 0 ? change.plottedCount : 0;
    return damage;
}

}  // namespace

void FrameTick(PlatformHandle window) {
    const std::uint32_t now = platform::TickCount();
    const auto dt = static_cast<std::int32_t>(now - State.LastTick);
    State.LastTick = now;

    // The image must end up as the shown points of PtsA after the step, and nothing else.
    const std::int32_t shown = State.ShownPoints > 0 ? State.ShownPoints : 0;
    const std::int32_t plotted = State.PlottedPoints;
    if (plotted < 0) {
        // Nothing of the image is known, nor maybe of the points: what the damage needs is taken afresh.
        ResyncLastPoints();
        BoundMorph();
    }
    const ScreenPoint* const before = State.PtsA;  // the points the last frame shows
    const Colour colourBefore = State.FrameHeader.Colours[1];
    TickChange change = {};
    if (plotted >= 0 && plotted <= shown && StepKeepsPoints()) {
        // The points stand still and the image already shows the first `plotted` of them:
        // only those that the regulation gave back are added.
        StepPhase(dt);
        PlotPoints(State.VScreen, State.VScreenStride, State.ScreenWidth, State.ImageHeight, State.PtsA + plotted,
                   shown - plotted);
        // A colour that changed redraws every point (no step does that while the points stand).
        const std::int32_t first = State.ColourNow == colourBefore ? plotted : 0;
        change.plotted = State.PtsA + first;
        change.plottedCount = shown - first;
        PointBox added;
        BoundPoints(State.PtsA + plotted, shown - plotted, &added);
        State.PlottedBox = Union(State.PlottedBox, added);
        change.plottedBox = State.PlottedBox;
    } else {
        ClearImage();
        StepPhaseAndPlot(dt);
        // Points moved in place (no second array) leave no trace of where they were.
        change.whole = plotted < 0 || State.PtsLast == nullptr;
        change.cleared = before;
        change.clearedCount = plotted;
        change.clearedBox = State.PlottedBox;
        if (change.whole) {
            State.PlottedBox = PointBox{};
            BoundPoints(State.PtsA, shown, &State.PlottedBox);
        } else if (State.PtsA != before) {
            State.PlottedBox = State.MorphBox;  // the points moved: where the morph can take them
        }
        change.plotted = State.PtsA;
        change.plottedCount = shown;
        change.plottedBox = State.PlottedBox;
    }
    State.PlottedPoints = shown;
    State.FrameHeader.Colours[1] = State.ColourNow;
    RegulatePoints(dt);

    char status[64];
    int statusLength = 0;
    if (State.ShowStatus) {
        statusLength = FormatStatusLine(status, State.DefinitionNumber, State.ShownPoints);
        change.statusChanged = statusLength != State.StatusShownLength ||
                               std::memcmp(status, State.StatusShown, static_cast<std::size_t>(statusLength)) != 0;
        if (change.statusChanged) {
            std::memcpy(State.StatusShown, status, sizeof status);
            State.StatusShownLength = statusLength;
        }
    }
    const platform::FrameDamage damage = DescribeDamage(change, StatusStripHeight);
    platform::PresentFrame(window, State.FrameHeader, State.VScreen, State.VScreenStride, StatusStripHeight,
                           State.ShowStatus ? status : nullptr, statusLength, damage);
}
