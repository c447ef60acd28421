// The per-point loops of the morph cycle and the plot.
#include "anim/morph.h"

#include <cstring>

void CopyPoints(ScreenPoint* to, const ScreenPoint* from, std::int32_t count) {
    if (count > 0) std::memcpy(to, from, static_cast<std::size_t>(count) * sizeof(ScreenPoint));
}

void ComputeDeltas(const ScreenPoint* source, const ScreenPoint* target, std::int32_t* dx,
                   std::int32_t* dy, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) {
        dx[i] = WrapSub(target[i].x, source[i].x);
        dy[i] = WrapSub(target[i].y, source[i].y);
    }
}

void MorphPoints(ScreenPoint* out, const ScreenPoint* source, const std::int32_t* dx,
                 const std::int32_t* dy, std::int32_t k, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) {
        // The shift is arithmetic: it rounds the wrapped product towards minus infinity.
        out[i].x = WrapAdd(source[i].x, WrapMul(k, dx[i]) >> 10);
        out[i].y = WrapAdd(source[i].y, WrapMul(k, dy[i]) >> 10);
    }
}

void PlotPoints(std::uint8_t* image, std::int32_t stride, std::int32_t width, std::int32_t height,
                const ScreenPoint* points, std::int32_t count) {
    // Compared as unsigned, a negative coordinate is out of range too.
    const auto w = static_cast<std::uint32_t>(width);
    const auto h = static_cast<std::uint32_t>(height);
    for (std::int32_t i = 0; i < count; ++i) {
        const auto x = static_cast<std::uint32_t>(points[i].x);
        const auto y = static_cast<std::uint32_t>(points[i].y);
        if (x < w && y < h) image[static_cast<std::size_t>(y) * static_cast<std::size_t>(stride) + x] = 1;
    }
}
