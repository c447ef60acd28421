// The fast per-point loops against plain reference loops, the tick's partial clear against a
// fresh image, and the chaos game against its plain form; plus: a tick allocates nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "anim/anim.h"
#include "anim/morph.h"
#include "ifs/ifs_definition.h"
#include "saver/saver_main.h"
#include "test_support.h"

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
#define LUMIVEX_COUNT_ALLOCATIONS 1
// Every allocation of this test program is counted on its way to the C library's allocator.
extern "C" void* __libc_malloc(std::size_t);
extern "C" void* __libc_calloc(std::size_t, std::size_t);
extern "C" void* __libc_realloc(void*, std::size_t);
extern "C" void __libc_free(void*);
namespace {
std::atomic<long> Allocations{0};
}
extern "C" void* malloc(std::size_t n) {
    Allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}
extern "C" void* calloc(std::size_t count, std::size_t size) {
    Allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
extern "C" void* realloc(void* p, std::size_t n) {
    Allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}
extern "C" void free(void* p) { __libc_free(p); }
#endif

namespace {

// Coordinates and differences that cover the image, its edges, and the 32-bit extremes.
std::int32_t Coordinate(std::mt19937& random, std::int32_t size) {
    static const std::int32_t edges[] = {INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX, INT32_MAX - 1, 1 << 30};
    switch (random() % 4) {
        case 0: return edges[random() % 8];
        case 1: return static_cast<std::int32_t>(random());
        case 2: return size + static_cast<std::int32_t>(random() % 5) - 2;  // around the far edge
        default: return static_cast<std::int32_t>(random() % static_cast<std::uint32_t>(size + 1));
    }
}

struct LoopCase {
    std::int32_t width, height, stride, count;
};

TEST(TickLoops, MorphAndPlotMatchesMorphThenPlot) {
    std::mt19937 random(7);
    const LoopCase cases[] = {{13, 7, 16, 0}, {13, 7, 16, 1}, {13, 7, 16, 3}, {13, 7, 16, 4}, {13, 7, 16, 5},
                              {8, 8, 8, 37}, {1, 1, 4, 9}, {203, 150, 204, 5003}, {64, 3, 64, 1000}};
    const std::int32_t ks[] = {0, 1, 511, 1023, 1024, -1, INT32_MIN, INT32_MAX};
    for (const LoopCase& c : cases) {
        for (const std::int32_t k : ks) {
            std::vector<ScreenPoint> source(c.count + 1), expectedOut(c.count + 1), out(c.count + 1);
            std::vector<std::int32_t> dx(c.count + 1), dy(c.count + 1);
            for (std::int32_t i = 0; i < c.count; ++i) {
                source[i] = {Coordinate(random, c.width), Coordinate(random, c.height)};
                dx[i] = Coordinate(random, c.width);
                dy[i] = Coordinate(random, c.height);
            }
            // Some pixels are lit already, and the padding holds a marker that must survive.
            std::vector<std::uint8_t> expected(static_cast<std::size_t>(c.stride) * c.height);
            for (std::size_t b = 0; b < expected.size(); ++b) expected[b] = (b % static_cast<std::size_t>(c.stride)) >= static_cast<std::size_t>(c.width) ? 0xEE : (random() % 3 == 0);
            std::vector<std::uint8_t> image = expected;
            out[c.count] = expectedOut[c.count] = {12345, 678};  // one past the end stays untouched

            MorphPoints(expectedOut.data(), source.data(), dx.data(), dy.data(), k, c.count);
            PlotPoints(expected.data(), c.stride, c.width, c.height, expectedOut.data(), c.count);
            MorphAndPlotPoints(out.data(), source.data(), dx.data(), dy.data(), k, c.count, image.data(), c.stride,
                               c.width, c.height);
            const std::string where = std::to_string(c.width) + "x" + std::to_string(c.height) + " n=" +
                                      std::to_string(c.count) + " k=" + std::to_string(k);
            ASSERT_EQ(0, std::memcmp(out.data(), expectedOut.data(), out.size() * sizeof(ScreenPoint))) << where;
            ASSERT_EQ(image, expected) << where;
        }
    }
}

TEST(TickLoops, MorphWrapsAndShiftsArithmetically) {
    // The product wraps to 32 bits before the shift, the shift rounds towards minus infinity,
    // and the sum wraps. Five points: four take the vector path where there is one, one the rest.
    const ScreenPoint source[5] = {{0, 0}, {INT32_MAX, INT32_MIN}, {5, -5}, {0, 0}, {1, 1}};
    const std::int32_t dx[5] = {INT32_MAX, 1024, -1, 3, 2};
    const std::int32_t dy[5] = {INT32_MIN, -1024, -2047, -3, -1};
    ScreenPoint out[5];
    std::uint8_t image[16] = {};
    MorphAndPlotPoints(out, source, dx, dy, 1023, 5, image, 4, 4, 4);
    EXPECT_EQ(out[0].x, 2097151);   // 1023 * (2^31 - 1) wraps to 2^31 - 1023
    EXPECT_EQ(out[0].y, -2097152);  // 1023 * -2^31 wraps to -2^31
    EXPECT_EQ(out[1].x, INT32_MIN + 1022);
    EXPECT_EQ(out[1].y, INT32_MAX - 1022);
    EXPECT_EQ(out[2].x, 4);      // -1023 >> 10 is -1
    EXPECT_EQ(out[2].y, -2051);  // -2094081 >> 10 is -2046
    EXPECT_EQ(out[3].x, 2);
    EXPECT_EQ(out[3].y, -3);
    EXPECT_EQ(out[4].x, 2);
    EXPECT_EQ(out[4].y, 0);
    for (int b = 0; b < 16; ++b) EXPECT_EQ(image[b], b == 2 ? 1 : 0) << "byte " << b;
}

TEST(TickLoops, UnplotClearsExactlyWhatPlotSet) {
    std::mt19937 random(11);
    const std::int32_t width = 37, height = 21, stride = 40;
    std::vector<ScreenPoint> points(3000);
    for (auto& p : points) p = {Coordinate(random, width), Coordinate(random, height)};
    std::vector<std::uint8_t> image(static_cast<std::size_t>(stride) * height, 0);
    PlotPoints(image.data(), stride, width, height, points.data(), static_cast<std::int32_t>(points.size()));
    std::size_t lit = 0;
    for (const std::uint8_t b : image) lit += b;
    EXPECT_GT(lit, 100u);
    UnplotPoints(image.data(), stride, width, height, points.data(), static_cast<std::int32_t>(points.size()));
    EXPECT_EQ(image, std::vector<std::uint8_t>(image.size(), 0));
}

// The chaos game in its plain form: one draw through NextRandom, the weights subtracted one by
// one, both coordinates mapped from the old values, projected in the order subtract, divide,
// multiply.
void PlainGenerate(const IfsDefinition& def, std::int32_t count, ScreenPoint* points, Colour* colour) {
    *colour = Palette[NextRandom() % PaletteSize];
    const double width = static_cast<double>(static_cast<std::uint32_t>(State.ScreenWidth));
    const double height = static_cast<double>(static_cast<std::uint32_t>(State.ScreenHeight));
    double x = def.XMin + def.Width * 0.5;
    double y = def.YMin + def.Height * 0.5;
    for (std::int32_t i = 0; i < count; ++i) {
        std::int64_t r = NextRandom() % 101;
        std::int32_t h = 0;
        if (r != 0) {
            while (h < def.TransformCount) {
                r -= def.Transforms[h].weight;
                ++h;
                if (r <= 0) break;
            }
            if (h > 0) --h;
        }
        const IfsTransform& t = def.Transforms[h];
        const double nx = t.a * x + t.b * y + t.e;
        const double ny = t.c * x + t.d * y + t.f;
        x = nx;
        y = ny;
        points[i].x = ProjectCoordinate((x - def.XMin) / def.Width * width);
        points[i].y = ProjectCoordinate((y - def.YMin) / def.Height * height);
    }
}

TEST(TickLoops, GenerateMatchesThePlainChaosGame) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        std::vector<IfsTransform> maps;
        double xMin, yMin, width, height;
        std::int32_t screenWidth, screenHeight;
    };
    const std::vector<Case> cases = {
        // Fern: ordinary values.
        {{{0, 0, 0, 0.16, 0, 0, 1}, {0.85, 0.04, -0.04, 0.85, 0, 1.6, 85}, {0.2, -0.26, 0.23, 0.22, 0, 1.6, 7},
          {-0.15, 0.28, 0.26, 0.24, 0, 0.44, 7}},
         -2.7, -0.2, 5.5, 10.4, 1921, 1081},
        // Weights adding up to 60, a negative weight, a box given the wrong way round.
        {{{0.5, 0, 0, 0.5, 0, 0, 30}, {0.5, 0, 0, 0.5, 0.5, 0, -10}, {0.5, 0, 0, 0.5, 0.25, 0.5, 40}},
         1.05, 1.05, -1.1, -1.1, 800, 600},
        // A tiny box: coordinates wrap beyond 2^32 and pass 2^63.
        {{{0.5, 0, 0, 0.5, 0, 0, 50}, {0.5, 0, 0, 0.5, 0.5, 0.5, 50}}, 0, 0, 1e-7, 1e-17, 3840, 2160},
        // Zero width, and a map that runs off to infinity and then to NaN.
        {{{2, 0, 0, -1.5, 1, 1, 50}, {-0.5, 0.5, 0.5, 0.5, 0, 0, 50}}, -4, -4, 0, 8, 640, 480},
        // Huge weights and an infinite box.
        {{{0.1, 0, 0, 0.1, 0, 0, INT32_MAX}, {0.9, 0, 0, 0.9, 0, 0, INT32_MIN}}, 0, 0, inf, 1, 100, 100},
        // A single map, whatever its weight; a screen size seen as unsigned.
        {{{-0.5, 0.3, 0.2, 0.7, 0.1, -0.2, 0}}, -1, -1, 2, 2, -1, 65535},
    };
    for (std::size_t c = 0; c < cases.size(); ++c) {
        ResetAll();
        IfsDefinition def(static_cast<std::int32_t>(cases[c].maps.size()));
        for (std::size_t m = 0; m < cases[c].maps.size(); ++m) def.Transforms[m] = cases[c].maps[m];
        def.XMin = cases[c].xMin;
        def.YMin = cases[c].yMin;
        def.Width = cases[c].width;
        def.Height = cases[c].height;
        State.ScreenWidth = cases[c].screenWidth;
        State.ScreenHeight = cases[c].screenHeight;
        for (const std::int32_t count : {0, 1, 2, 3, 1000, 5001}) {
            SeedRandom(static_cast<std::uint32_t>(c * 7919 + count));
            std::vector<ScreenPoint> expected(count + 1, ScreenPoint{-7, -7}), got(count + 1, ScreenPoint{-7, -7});
            Colour expectedColour = 0, gotColour = 0;
            PlainGenerate(def, count, expected.data(), &expectedColour);
            const std::uint32_t expectedRandom = RandomState();
            SeedRandom(static_cast<std::uint32_t>(c * 7919 + count));
            def.Generate(count, got.data(), &gotColour, State.ScreenWidth, State.ScreenHeight);
            EXPECT_EQ(RandomState(), expectedRandom) << "case " << c << " count " << count;
            EXPECT_EQ(gotColour, expectedColour);
            EXPECT_EQ(0, std::memcmp(got.data(), expected.data(), got.size() * sizeof(ScreenPoint)))
                << "case " << c << " count " << count;
        }
        std::free(def.Transforms);
    }
}

// A saver started on the headless host with the given definitions and screen.
void StartSaver(const std::string& ini, std::int32_t width, std::int32_t height) {
    ResetAll();
    Host().calendarSeconds = 99;
    Host().metrics = {0, 0, width, height + 1, width, height + 1};
    State.Mode = RunMode::Saver;
    ASSERT_EQ(InitWindow(nullptr), StartResult::Ok);
    ASSERT_EQ(LoadText(ini), 0);
    ASSERT_EQ(PrepareAnimation(), 0);
    Host().statusText.reserve(64);  // the host's own copy of the status line
}

std::string Gallery(std::int32_t points) {
    return std::to_string(points) +
           "\n4\n0 0 0 0.16 0 0 1\n0.85 0.04 -0.04 0.85 0 1.6 85\n0.2 -0.26 0.23 0.22 0 1.6 7\n"
           "-0.15 0.28 0.26 0.24 0 0.44 7\n-2.7 -0.2 2.8 10.2\n"
           "3\n0.5 0 0 0.5 0 0 33\n0.5 0 0 0.5 0.5 0 33\n0.5 0 0 0.5 0.25 0.5 34\n-0.5 -0.5 1.5 2\n";
}

// Intervals that walk every phase, make the regulation drop points and give them back.
std::int32_t Interval(int tick) {
    const int phase = tick % 97;
    if (phase < 6) return 100;  // slow: points dropped
    if (phase < 12) return 0;   // zero: points given back
    if (phase == 50) return 4000;
    return 9 + tick % 23;
}

// After each tick the image equals a fresh image with the shown points of PtsA plotted, whether
// the tick cleared it whole, cleared only the last frame's points, or kept it.
class PartialClear : public SaverTest, public ::testing::WithParamInterface<std::pair<std::int32_t, std::int32_t>> {};

TEST_P(PartialClear, ImageEqualsAFreshPlotAfterEveryTick) {
    const std::int32_t points = GetParam().first;
    const std::int32_t width = GetParam().second;
    StartSaver(Gallery(points), width, 150);
    const std::size_t bytes = static_cast<std::size_t>(State.VScreenStride) * State.ImageHeight;
    std::vector<std::uint8_t> fresh(bytes);
    int phasesSeen = 0;
    std::int32_t lowest = State.ShownPoints, highest = State.ShownPoints;
    for (int tick = 0; tick < 1500; ++tick) {
        const std::int32_t shown = State.ShownPoints;
        phasesSeen |= PhaseBit(State.Phase);
        Host().now += static_cast<std::uint32_t>(Interval(tick));
        FrameTick(State.Window);
        std::fill(fresh.begin(), fresh.end(), 0);
        PlotPoints(fresh.data(), State.VScreenStride, State.ScreenWidth, State.ImageHeight, State.PtsA, shown);
        ASSERT_EQ(0, std::memcmp(fresh.data(), State.VScreen, bytes)) << "tick " << tick << " phase " << static_cast<int>(State.Phase);
        lowest = std::min(lowest, State.ShownPoints);
        highest = std::max(highest, State.ShownPoints);
    }
    EXPECT_EQ(phasesSeen, PhaseBit(Phase::Morph) | PhaseBit(Phase::Hold) | PhaseBit(Phase::Pick) | PhaseBit(Phase::Delta));
    EXPECT_LT(lowest, highest);  // the regulation moved the count both ways
}

// Few points on a large image clear point by point, many clear the whole image; 60 points fall
// to zero and below.
INSTANTIATE_TEST_SUITE_P(Counts, PartialClear,
                         ::testing::Values(std::make_pair(60, 203), std::make_pair(300, 201), std::make_pair(3000, 203),
                                           std::make_pair(-2000, 37)));

TEST_F(SaverTest, AnImageWrittenOutsideATickIsClearedWholeWhenMarkedUnknown) {
    StartSaver(Gallery(200), 120, 80);
    for (int tick = 0; tick < 3; ++tick) {
        Host().now += 10;
        FrameTick(State.Window);
    }
    const std::size_t bytes = static_cast<std::size_t>(State.VScreenStride) * State.ImageHeight;
    std::memset(State.VScreen, 1, bytes);
    State.PlottedPoints = -1;
    const std::int32_t shown = State.ShownPoints;
    Host().now += 10;
    FrameTick(State.Window);
    std::vector<std::uint8_t> fresh(bytes, 0);
    PlotPoints(fresh.data(), State.VScreenStride, State.ScreenWidth, State.ImageHeight, State.PtsA, shown);
    EXPECT_EQ(0, std::memcmp(fresh.data(), State.VScreen, bytes));
}

#if defined(LUMIVEX_COUNT_ALLOCATIONS)
TEST_F(SaverTest, ATickAllocatesNothing) {
    StartSaver(Gallery(-5000), 333, 200);
    int phasesSeen = 0;
    for (int tick = 0; tick < 2000; ++tick) {
        phasesSeen |= PhaseBit(State.Phase);
        Host().now += static_cast<std::uint32_t>(Interval(tick));
        const long before = Allocations.load();
        FrameTick(State.Window);
        ASSERT_EQ(Allocations.load(), before) << "tick " << tick << " in phase " << static_cast<int>(State.Phase);
    }
    EXPECT_EQ(phasesSeen, PhaseBit(Phase::Morph) | PhaseBit(Phase::Hold) | PhaseBit(Phase::Pick) | PhaseBit(Phase::Delta));
    // The counter does count: an allocation between ticks shows.
    const long before = Allocations.load();
    std::free(std::malloc(16));
    EXPECT_EQ(Allocations.load(), before + 1);
}
#endif

}  // namespace
