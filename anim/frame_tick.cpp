// The frame tick: time, clear, phase step, plot, colour, regulation, copy and status line.
#include <cstdio>
#include <cstring>

#include "anim/anim.h"
#include "anim/morph.h"
#include "shell/platform.h"

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

}  // namespace

void FrameTick(PlatformHandle window) {
    const std::uint32_t now = platform::TickCount();
    const auto dt = static_cast<std::int32_t>(now - State.LastTick);
    State.LastTick = now;

    const std::size_t imageBytes =
        static_cast<std::size_t>(State.VScreenStride) * static_cast<std::size_t>(State.ImageHeight);
    if (imageBytes != 0) std::memset(State.VScreen, 0, imageBytes);

    StepPhase(dt);
    // A negative width, read as unsigned, would let every point through: such an image is empty.
    PlotPoints(State.VScreen, State.VScreenStride, State.ScreenWidth < 0 ? 0 : State.ScreenWidth, State.ImageHeight,
               State.PtsA, State.ShownPoints);
    State.FrameHeader.Colours[1] = State.ColourNow;
    RegulatePoints(dt);

    char status[64];
    int statusLength = 0;
    if (State.ShowStatus != 0) statusLength = FormatStatusLine(status, State.DefinitionNumber, State.ShownPoints);
    platform::PresentFrame(window, State.FrameHeader, State.VScreen, State.VScreenStride, StatusStripHeight,
                           State.ShowStatus != 0 ? status : nullptr, statusLength);
}
