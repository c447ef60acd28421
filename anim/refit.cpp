// Re-fitting the points of a running animation to a window of a new size.
#include <cstdint>
#include <limits>

#include "anim/anim.h"
#include "anim/morph.h"

namespace {

// v scaled by to/from, truncated towards zero as the projection truncates; kept within 32 bits
// (a point that far out stays out of the image either way).
std::int32_t Rescale(std::int32_t v, std::int32_t from, std::int32_t to) {
    const std::int64_t scaled = static_cast<std::int64_t>(v) * to / from;
    if (scaled > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (scaled < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(scaled);
}

void RescalePoints(ScreenPoint* points, std::int32_t count, std::int32_t oldWidth, std::int32_t oldHeight) {
    if (points == nullptr) return;
    for (std::int32_t i = 0; i < count; ++i) {
        points[i].x = Rescale(points[i].x, oldWidth, State.ScreenWidth);
        points[i].y = Rescale(points[i].y, oldHeight, State.ScreenHeight);
    }
}

}  // namespace

void RefitPoints(std::int32_t oldWidth, std::int32_t oldHeight) {
    // Points projected into an empty screen carry no position to scale; the next pick draws anew.
    if (oldWidth <= 0 || oldHeight <= 0) return;
    if (oldWidth == State.ScreenWidth && oldHeight == State.ScreenHeight) return;
    const std::int32_t count = State.PointCount < 0 ? 0 : State.PointCount;
    RescalePoints(State.Pts1, count, oldWidth, oldHeight);
    RescalePoints(State.Pts2, count, oldWidth, oldHeight);
    RescalePoints(State.PtsA, count, oldWidth, oldHeight);
    if (State.Pts1 != nullptr && State.Pts2 != nullptr && State.PtsDX != nullptr && State.PtsDY != nullptr)
        ComputeDeltas(State.Pts1, State.Pts2, State.PtsDX, State.PtsDY, count);
    State.PlottedPoints = -1;  // PtsA moved: the next tick clears the whole image
}
