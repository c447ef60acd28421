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

// Trades points for time: three slow ticks in a row cost 100 points; a tick that measured
// 0 ms gives 100 back, up to the configured count.
void RegulatePoints(std::int32_t dt) {
    if (dt > 70 && State.ShownPoints > State.MinPoints && State.Interval1 > 80 && State.Interval2 > 90)
        State.ShownPoints -= 100;
    if (dt == 0 && State.ShownPoints <= State.GrowLimit) State.ShownPoints += 100;
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

}  // namespace

void FrameTick(PlatformHandle window) {
    const std::uint32_t now = platform::TickCount();
    const auto dt = static_cast<std::int32_t>(now - State.LastTick);
    State.LastTick = now;

    // The image must end up as the shown points of PtsA after the step, and nothing else.
    const std::int32_t shown = State.ShownPoints > 0 ? State.ShownPoints : 0;
    const std::int32_t plotted = State.PlottedPoints;
    if (plotted >= 0 && plotted <= shown && StepKeepsPoints()) {
        // The points stand still and the image already shows the first `plotted` of them:
        // only those that the regulation gave back are added.
        StepPhase(dt);
        PlotPoints(State.VScreen, State.VScreenStride, State.ScreenWidth, State.ImageHeight, State.PtsA + plotted,
                   shown - plotted);
    } else {
        ClearImage();
        StepPhaseAndPlot(dt);
    }
    State.PlottedPoints = shown;
    State.FrameHeader.Colours[1] = State.ColourNow;
    RegulatePoints(dt);

    platform::FrameDamage damage = {};
    damage.whole = true;
    char status[64];
    int statusLength = 0;
    if (State.ShowStatus) statusLength = FormatStatusLine(status, State.DefinitionNumber, State.ShownPoints);
    platform::PresentFrame(window, State.FrameHeader, State.VScreen, State.VScreenStride, StatusStripHeight,
                           State.ShowStatus ? status : nullptr, statusLength, damage);
}
