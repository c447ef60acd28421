// 8-bit frame rows to 32-bit pixels: one select per pixel, sixteen at a time with SSE2.
#include "platform/x11/convert.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The channel value (0-255) moved into the bits of mask, scaled to the mask's width.
std::uint32_t Channel(std::uint32_t value, std::uint32_t mask) {
    if (mask == 0) return 0;
    int shift = 0;
    while (((mask >> shift) & 1u) == 0) ++shift;
    int bits = 0;
    while (shift + bits < 32 && ((mask >> (shift + bits)) & 1u) != 0) ++bits;
    const std::uint32_t scaled = bits >= 8 ? value << (bits - 8) : value >> (8 - bits);
    return (scaled << shift) & mask;
}

void ConvertRow(const std::uint8_t* in, std::size_t width, std::uint32_t c0, std::uint32_t c1, std::uint32_t* out) {
    const std::uint32_t diff = c0 ^ c1;
    std::size_t x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i base = _mm_set1_epi32(static_cast<int>(c0));
    const __m128i flip = _mm_set1_epi32(static_cast<int>(diff));
    for (; x + 16 <= width; x += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
        // 0xFF where the byte is not 0.
        const __m128i lit = _mm_andnot_si128(_mm_cmpeq_epi8(v, zero), _mm_set1_epi8(-1));
        const __m128i lo = _mm_unpacklo_epi8(lit, lit);
        const __m128i hi = _mm_unpackhi_epi8(lit, lit);
        __m128i* o = reinterpret_cast<__m128i*>(out + x);
        _mm_storeu_si128(o + 0, _mm_xor_si128(base, _mm_and_si128(flip, _mm_unpacklo_epi16(lo, lo))));
        _mm_storeu_si128(o + 1, _mm_xor_si128(base, _mm_and_si128(flip, _mm_unpackhi_epi16(lo, lo))));
        _mm_storeu_si128(o + 2, _mm_xor_si128(base, _mm_and_si128(flip, _mm_unpacklo_epi16(hi, hi))));
        _mm_storeu_si128(o + 3, _mm_xor_si128(base, _mm_and_si128(flip, _mm_unpackhi_epi16(hi, hi))));
    }
#endif
    for (; x < width; ++x) out[x] = c0 ^ (diff & (0u - static_cast<std::uint32_t>(in[x] != 0)));
}

}  // namespace

void ConvertFrameRows(const std::uint8_t* bits, std::size_t stride, std::size_t width, std::size_t rows,
                      const std::uint32_t colours[2], std::uint32_t* out, std::size_t pitch) {
    for (std::size_t r = 0; r < rows; ++r) {
        ConvertRow(bits + (rows - 1 - r) * stride, width, colours[0], colours[1], out + r * pitch);
    }
}

std::uint32_t PixelOfColour(std::uint32_t colour, std::uint32_t redMask, std::uint32_t greenMask,
                            std::uint32_t blueMask) {
    return Channel((colour >> 16) & 0xFFu, redMask) | Channel((colour >> 8) & 0xFFu, greenMask) |
           Channel(colour & 0xFFu, blueMask);
}
