// The per-point loops of the morph cycle and the plot.
#include "anim/morph.h"

#include <cstring>

#if defined(__SSE2__) && !defined(LUMIVEX_NO_SSE2)
#include <emmintrin.h>
#endif

void CopyPoints(ScreenPoint* to, const ScreenPoint* from, std::int32_t count) {
    if (count > 0) std::memcpy(to, from, static_cast<std::size_t>(count) * sizeof(ScreenPoint));
}

void BoundPoints(const ScreenPoint* points, std::int32_t count, PointBox* box) {
    if (count <= 0) return;
    PointBox b = *box;
    if (b.left > b.right) b = {points[0].x, points[0].y, points[0].x, points[0].y};
    for (std::int32_t i = 0; i < count; ++i) {
        b.left = points[i].x < b.left ? points[i].x : b.left;
        b.right = points[i].x > b.right ? points[i].x : b.right;
        b.bottom = points[i].y < b.bottom ? points[i].y : b.bottom;
        b.top = points[i].y > b.top ? points[i].y : b.top;
    }
    *box = b;
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

namespace {

// The one plot rule: compared as unsigned, a negative coordinate is out of range too.
inline void PlotOne(std::uint8_t* image, std::size_t stride, std::uint32_t w, std::uint32_t h, std::int32_t px,
                    std::int32_t py, std::uint8_t value) {
    const auto x = static_cast<std::uint32_t>(px);
    const auto y = static_cast<std::uint32_t>(py);
    if (x < w && y < h) image[static_cast<std::size_t>(y) * stride + x] = value;
}

void SetPoints(std::uint8_t* image, std::int32_t stride, std::int32_t width, std::int32_t height,
               const ScreenPoint* points, std::int32_t count, std::uint8_t value) {
    const auto w = static_cast<std::uint32_t>(width);
    const auto h = static_cast<std::uint32_t>(height);
    const auto s = static_cast<std::size_t>(stride);
    for (std::int32_t i = 0; i < count; ++i) PlotOne(image, s, w, h, points[i].x, points[i].y, value);
}

#if defined(__SSE2__) && !defined(LUMIVEX_NO_SSE2)
// The low 32 bits of k * v in each lane, as a 32-bit multiply that wraps (SSE2 multiplies only
// the even lanes to 64 bits).
inline __m128i WrapMul4(__m128i v, __m128i k) {
    const __m128i even = _mm_mul_epu32(v, k);
    const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(v, 32), k);
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                              _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}
#endif

}  // namespace

void PlotPoints(std::uint8_t* image, std::int32_t stride, std::int32_t width, std::int32_t height,
                const ScreenPoint* points, std::int32_t count) {
    SetPoints(image, stride, width, height, points, count, 1);
}

void UnplotPoints(std::uint8_t* image, std::int32_t stride, std::int32_t width, std::int32_t height,
                  const ScreenPoint* points, std::int32_t count) {
    SetPoints(image, stride, width, height, points, count, 0);
}

void MorphAndPlotPoints(ScreenPoint* out, const ScreenPoint* source, const std::int32_t* dx,
                        const std::int32_t* dy, std::int32_t k, std::int32_t count, std::uint8_t* image,
                        std::int32_t stride, std::int32_t width, std::int32_t height) {
    const auto w = static_cast<std::uint32_t>(width);
    const auto h = static_cast<std::uint32_t>(height);
    const auto s = static_cast<std::size_t>(stride);
    std::int32_t i = 0;
#if defined(__SSE2__) && !defined(LUMIVEX_NO_SSE2)
    // Four points at a time: x and y side by side as in memory, so the differences are
    // interleaved to match; the multiply wraps, the shift is arithmetic as in MorphPoints.
    const __m128i kk = _mm_set1_epi32(k);
    for (; i + 4 <= count; i += 4) {
        const __m128i ddx = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dx + i));
        const __m128i ddy = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dy + i));
        const __m128i p01 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        const __m128i p23 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i + 2));
        const __m128i m01 = _mm_add_epi32(p01, _mm_srai_epi32(WrapMul4(_mm_unpacklo_epi32(ddx, ddy), kk), 10));
        const __m128i m23 = _mm_add_epi32(p23, _mm_srai_epi32(WrapMul4(_mm_unpackhi_epi32(ddx, ddy), kk), 10));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), m01);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 2), m23);
        PlotOne(image, s, w, h, _mm_cvtsi128_si32(m01), _mm_cvtsi128_si32(_mm_srli_si128(m01, 4)), 1);
        PlotOne(image, s, w, h, _mm_cvtsi128_si32(_mm_srli_si128(m01, 8)), _mm_cvtsi128_si32(_mm_srli_si128(m01, 12)), 1);
        PlotOne(image, s, w, h, _mm_cvtsi128_si32(m23), _mm_cvtsi128_si32(_mm_srli_si128(m23, 4)), 1);
        PlotOne(image, s, w, h, _mm_cvtsi128_si32(_mm_srli_si128(m23, 8)), _mm_cvtsi128_si32(_mm_srli_si128(m23, 12)), 1);
    }
#endif
    for (; i < count; ++i) {
        const std::int32_t x = WrapAdd(source[i].x, WrapMul(k, dx[i]) >> 10);
        const std::int32_t y = WrapAdd(source[i].y, WrapMul(k, dy[i]) >> 10);
        out[i].x = x;
        out[i].y = y;
        PlotOne(image, s, w, h, x, y, 1);
    }
}
