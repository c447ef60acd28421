// The damage a buffer has missed, from the frames presented since it was last drawn.
#include "backends/wayland/damage.h"

void RecordDamage(DamageHistory* history, const platform::FrameDamage& damage) {
    history->last[1] = history->last[0];
    history->last[0] = damage;
    ++history->frame;
}

bool DamageSince(const DamageHistory& history, std::uint64_t held, platform::Rect* rects, int* count) {
    *count = 0;
    if (held == 0 || held > history.frame) return false;
    const std::uint64_t behind = history.frame - held;
    if (behind > 2) return false;
    for (std::uint64_t i = 0; i < behind; ++i) {
        const platform::FrameDamage& damage = history.last[i];
        if (damage.whole || damage.count < 0 || damage.count > platform::FrameDamage::MaxRects) return false;
        for (int r = 0; r < damage.count; ++r) rects[(*count)++] = damage.rects[r];
    }
    return true;
}

bool PlaceRect(platform::Rect rect, std::int32_t dx, std::int32_t dy, std::int32_t width, std::int32_t height,
               platform::Rect* out) {
    const std::int64_t left = static_cast<std::int64_t>(rect.left) + dx, right = static_cast<std::int64_t>(rect.right) + dx;
    const std::int64_t top = static_cast<std::int64_t>(rect.top) + dy, bottom = static_cast<std::int64_t>(rect.bottom) + dy;
    out->left = static_cast<std::int32_t>(left < 0 ? 0 : left);
    out->top = static_cast<std::int32_t>(top < 0 ? 0 : top);
    out->right = static_cast<std::int32_t>(right > width ? width : right);
    out->bottom = static_cast<std::int32_t>(bottom > height ? height : bottom);
    return out->left < out->right && out->top < out->bottom;
}
