// The chaos game: turns a definition into a point set in image coordinates and picks its colour.
#if defined(__SSE2__) && !defined(LUMIVEX_NO_SSE2)
#include <emmintrin.h>
#endif

#include "ifs/ifs_definition.h"
#include "core/arrays.h"

const Colour Palette[PaletteSize] = {
    0x0000FF, 0x003FFF, 0x007FCF, 0x00CFCF, 0x00CF7C, 0x00FF3F, 0x00FF00,
    0x3FFF00, 0x7FCF00, 0xCFCF00, 0xCF7F00, 0xFF4F00, 0xFF3F3F, 0xCF3F7F,
    0xCF3FCF, 0x7F1FCF, 0x3F00FF, 0xFF00FF, 0x00FFFF,
};

IfsDefinition::IfsDefinition(std::int32_t n) {
    Transforms = n > 0 ? AllocateArray<IfsTransform>(static_cast<std::uint64_t>(n)) : nullptr;
    if (Transforms != nullptr) TransformCount = n;
}

void BuildMapChoice(const IfsTransform* transforms, std::int32_t count, std::int32_t choice[101]) {
    // Subtracting weights from r until r <= 0 stops at the first map whose running sum of
    // weights reaches r. With negative weights the running sum can fall back, so compare
    // against its running maximum, which rises monotonically. Sums are 64-bit: no overflow.
    choice[0] = 0;
    std::int64_t sum = 0;
    std::int64_t best = INT64_MIN;
    std::int32_t h = -1;
    for (std::int32_t r = 1; r <= 100; ++r) {
        while (best < r && h + 1 < count) {
            ++h;
            sum += transforms[h].weight;
            if (sum > best) best = sum;
        }
        choice[r] = best >= r ? h : count - 1;
    }
    if (count <= 0) {
        for (std::int32_t r = 0; r <= 100; ++r) choice[r] = 0;
    }
}

namespace {

inline std::int32_t Project(double value) {
    // 2^63: the first magnitude a 64-bit integer cannot hold.
    constexpr double Limit = 9223372036854775808.0;
    if (!(value > -Limit && value < Limit)) return 0;  // also catches NaN
    const auto whole = static_cast<std::int64_t>(value);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(whole)));
}

// One map: a x + b y + e and c x + d y + f, both from the old values.
inline void MapPoint(const IfsTransform& t, double* x, double* y) {
    const double nx = t.a * *x + t.b * *y + t.e;
    const double ny = t.c * *x + t.d * *y + t.f;
    *x = nx;
    *y = ny;
}

#if defined(__SSE2__) && !defined(LUMIVEX_NO_SSE2)
// x (low lane) and y (high lane) projected together: subtract, divide, multiply, truncate.
inline void ProjectPair(__m128d p, __m128d origin, __m128d box, __m128d screen, ScreenPoint* out) {
    const __m128d q = _mm_mul_pd(_mm_div_pd(_mm_sub_pd(p, origin), box), screen);
    // Truncated to 32 bits, a value within the 32-bit range is what truncating to 64 bits and
    // keeping the low half gives. Anything else (too large, NaN) comes out as INT32_MIN, as
    // does -2^31 itself: those take the long way.
    const __m128i whole = _mm_cvttpd_epi32(q);
    if ((_mm_movemask_epi8(_mm_cmpeq_epi32(whole, _mm_set1_epi32(INT32_MIN))) & 0xFF) == 0) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), whole);
    } else {
        out->x = Project(_mm_cvtsd_f64(q));
        out->y = Project(_mm_cvtsd_f64(_mm_unpackhi_pd(q, q)));
    }
}
#endif

}  // namespace

std::int32_t ProjectCoordinate(double value) { return Project(value); }

void IfsDefinition::Generate(std::int32_t count, ScreenPoint* points, Colour* colour, std::int32_t screenWidth,
                             std::int32_t screenHeight) const {
    *colour = Palette[NextRandom() % PaletteSize];
    if (count <= 0) return;

    // Everything the loop needs, worked out once: the map of each draw, the box, the screen.
    std::int32_t choice[101];
    BuildMapChoice(Transforms, TransformCount, choice);
    const IfsTransform* maps[101];
    for (int r = 0; r <= 100; ++r) maps[r] = Transforms + choice[r];
    const double width = static_cast<double>(static_cast<std::uint32_t>(screenWidth));
    const double height = static_cast<double>(static_cast<std::uint32_t>(screenHeight));
    const double xMin = XMin, yMin = YMin, boxWidth = Width, boxHeight = Height;
    std::uint32_t random = RandomState();

    double x = xMin + boxWidth * 0.5;
    double y = yMin + boxHeight * 0.5;
#if defined(__SSE2__) && !defined(LUMIVEX_NO_SSE2)
    const __m128d origin = _mm_set_pd(yMin, xMin);
    const __m128d box = _mm_set_pd(boxHeight, boxWidth);
    const __m128d screen = _mm_set_pd(height, width);
    // Each pass maps point i and then projects point i - 1. The chain of maps bounds the loop;
    // with the next map first in the instruction stream the processor runs it ahead of the
    // projection, which has time, instead of letting the projection delay it.
    MapPoint(*maps[StepRandom(&random) % 101], &x, &y);
    for (std::int32_t i = 1; i < count; ++i) {
        double nx = x, ny = y;
        MapPoint(*maps[StepRandom(&random) % 101], &nx, &ny);
        ProjectPair(_mm_unpacklo_pd(_mm_set_sd(x), _mm_set_sd(y)), origin, box, screen,
                    points + i - 1);
        x = nx;
        y = ny;
    }
    ProjectPair(_mm_unpacklo_pd(_mm_set_sd(x), _mm_set_sd(y)), origin, box, screen,
                points + count - 1);
#else
    for (std::int32_t i = 0; i < count; ++i) {
        MapPoint(*maps[StepRandom(&random) % 101], &x, &y);
        points[i].x = Project((x - xMin) / boxWidth * width);
        points[i].y = Project((y - yMin) / boxHeight * height);
    }
#endif
    SeedRandom(random);
}
