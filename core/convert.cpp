// 8-bit frame rows to 32-bit pixels: one select per pixel, sixteen at a time with SSE2.
#include "core/convert.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define LUMIVEX_AVX2_PATH 1
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

// Sixteen pixels from sixteen bytes: four stores of four selected colours.
template <bool Stream>
void ConvertRow(const std::uint8_t* in, std::size_t width, std::uint32_t c0, std::uint32_t c1, std::uint32_t* out) {
    const std::uint32_t diff = c0 ^ c1;
    std::size_t x = 0;
#if defined(__SSE2__)
    // Streaming stores want 16-byte aligned rows: the few pixels before that go one by one.
    if (Stream) {
        while (x < width && (reinterpret_cast<std::uintptr_t>(out + x) & 15u) != 0) {
            out[x] = c0 ^ (diff & (0u - static_cast<std::uint32_t>(in[x] != 0)));
            ++x;
        }
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128i base = _mm_set1_epi32(static_cast<int>(c0));
    const __m128i flip = _mm_set1_epi32(static_cast<int>(diff));
    for (; x + 16 <= width; x += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
        // 0xFF where the byte is not 0.
        const __m128i lit = _mm_andnot_si128(_mm_cmpeq_epi8(v, zero), _mm_set1_epi8(-1));
        const __m128i lo = _mm_unpacklo_epi8(lit, lit);
        const __m128i hi = _mm_unpackhi_epi8(lit, lit);
        const __m128i p0 = _mm_xor_si128(base, _mm_and_si128(flip, _mm_unpacklo_epi16(lo, lo)));
        const __m128i p1 = _mm_xor_si128(base, _mm_and_si128(flip, _mm_unpackhi_epi16(lo, lo)));
        const __m128i p2 = _mm_xor_si128(base, _mm_and_si128(flip, _mm_unpacklo_epi16(hi, hi)));
        const __m128i p3 = _mm_xor_si128(base, _mm_and_si128(flip, _mm_unpackhi_epi16(hi, hi)));
        __m128i* o = reinterpret_cast<__m128i*>(out + x);
        if (Stream) {
            _mm_stream_si128(o + 0, p0);
            _mm_stream_si128(o + 1, p1);
            _mm_stream_si128(o + 2, p2);
            _mm_stream_si128(o + 3, p3);
        } else {
            _mm_storeu_si128(o + 0, p0);
            _mm_storeu_si128(o + 1, p1);
            _mm_storeu_si128(o + 2, p2);
            _mm_storeu_si128(o + 3, p3);
        }
    }
#endif
    for (; x < width; ++x) out[x] = c0 ^ (diff & (0u - static_cast<std::uint32_t>(in[x] != 0)));
}

#if defined(LUMIVEX_AVX2_PATH)
// The same with 32-byte stores, on processors that have AVX2 (chosen at run time).
template <bool Stream>
__attribute__((target("avx2"))) void ConvertRowAvx2(const std::uint8_t* in, std::size_t width, std::uint32_t c0,
                                                    std::uint32_t c1, std::uint32_t* out) {
    const std::uint32_t diff = c0 ^ c1;
    std::size_t x = 0;
    if (Stream) {
        while (x < width && (reinterpret_cast<std::uintptr_t>(out + x) & 31u) != 0) {
            out[x] = c0 ^ (diff & (0u - static_cast<std::uint32_t>(in[x] != 0)));
            ++x;
        }
    }
    const __m256i base = _mm256_set1_epi32(static_cast<int>(c0));
    const __m256i flip = _mm256_set1_epi32(static_cast<int>(diff));
    const __m256i zero = _mm256_setzero_si256();
    for (; x + 32 <= width; x += 32) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x + 16));
        __m256i* o = reinterpret_cast<__m256i*>(out + x);
        const __m128i any = _mm_or_si128(a, b);
        if (_mm_testz_si128(any, any)) {
            // Most of a frame is black: 32 pixels of colour 0 need no selection.
            for (int i = 0; i < 4; ++i) {
                if (Stream) _mm256_stream_si256(o + i, base);
                else _mm256_storeu_si256(o + i, base);
            }
            continue;
        }
        // Eight bytes widened to eight words at a time; -1 where the byte is 0, which keeps colour 0.
        for (int i = 0; i < 4; ++i) {
            const __m256i wide = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + x + 8 * i)));
            const __m256i p = _mm256_xor_si256(base, _mm256_andnot_si256(_mm256_cmpeq_epi32(wide, zero), flip));
            if (Stream) _mm256_stream_si256(o + i, p);
            else _mm256_storeu_si256(o + i, p);
        }
    }
    for (; x < width; ++x) out[x] = c0 ^ (diff & (0u - static_cast<std::uint32_t>(in[x] != 0)));
}

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

// Above this many bytes of pixels the picture does not stay in the cache anyway: it is written
// past the cache, which saves reading each line before writing it.
constexpr std::size_t StreamingBytes = std::size_t{16} << 20;

}  // namespace

void ConvertFrameRows(const std::uint8_t* bits, std::size_t stride, std::size_t width, std::size_t rows,
                      const std::uint32_t colours[2], std::uint32_t* out, std::size_t pitch) {
    using Row = void (*)(const std::uint8_t*, std::size_t, std::uint32_t, std::uint32_t, std::uint32_t*);
    const bool stream = width * rows * 4 > StreamingBytes;
    Row row = stream ? ConvertRow<true> : ConvertRow<false>;
#if defined(LUMIVEX_AVX2_PATH)
    if (HasAvx2()) row = stream ? ConvertRowAvx2<true> : ConvertRowAvx2<false>;
#endif
    for (std::size_t r = 0; r < rows; ++r) row(bits + (rows - 1 - r) * stride, width, colours[0], colours[1], out + r * pitch);
#if defined(__SSE2__)
    if (stream) _mm_sfence();  // the streamed pixels are out before anyone reads them
#endif
}

std::uint32_t PixelOfColour(std::uint32_t colour, std::uint32_t redMask, std::uint32_t greenMask,
                            std::uint32_t blueMask) {
    return Channel((colour >> 16) & 0xFFu, redMask) | Channel((colour >> 8) & 0xFFu, greenMask) |
           Channel(colour & 0xFFu, blueMask);
}
