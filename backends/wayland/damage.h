// Which pixels of a buffer that holds an older frame must change for it to show the newest one:
// from the damage of the last two frames, the most any of two buffers in turn falls behind.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct DamageHistory {
    std::uint64_t frame = 0;                // frames recorded so far; frame numbers start at 1
    platform::FrameDamage last[2] = {};     // the damage of frame `frame`, then of the one before
};

// The tick presented frame number history->frame + 1 with this damage.
void RecordDamage(DamageHistory* history, const platform::FrameDamage& damage);

// The window rectangles in which a buffer holding frame `held` (0: nothing known) differs from
// the newest frame: true with up to 2 * MaxRects rectangles in rects (count 0: none differs);
// false when it must be redrawn whole.
bool DamageSince(const DamageHistory& history, std::uint64_t held, platform::Rect* rects, int* count);

// The rectangle moved by (dx, dy) and cut to width x height; false when nothing is left.
bool PlaceRect(platform::Rect rect, std::int32_t dx, std::int32_t dy, std::int32_t width, std::int32_t height,
               platform::Rect* out);
