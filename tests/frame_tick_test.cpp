// The frame tick: interval, plot, colour, regulation of the point count, status line.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "anim/anim.h"
#include "anim/morph.h"
#include "test_support.h"

using FrameTickTest = SaverTest;

namespace {

std::string FernAndTriangle(std::int32_t points) {
    return std::to_string(points) + "\n" + FernDefinition() + TriangleDefinition("-0.5 -0.5 1.5 2");
}

// Intervals that walk every phase, make the regulation drop points and give them back.
std::uint32_t Interval(int tick) {
    const int phase = tick % 97;
    if (phase < 6) return 100;  // slow: points dropped
    if (phase < 12) return 0;   // zero: points given back
    if (phase == 50) return 4000;
    return static_cast<std::uint32_t>(9 + tick % 23);
}

// A fresh image with the first `shown` points of PtsA plotted.
std::vector<std::uint8_t> FreshPlot(std::int32_t shown) {
    std::vector<std::uint8_t> fresh(static_cast<std::size_t>(State.VScreenStride) * State.ImageHeight, 0);
    PlotPoints(fresh.data(), State.VScreenStride, State.ScreenWidth, State.ImageHeight, State.PtsA, shown);
    return fresh;
}

}  // namespace

TEST(PlotTest, OnlyPointsInsideTheImageAreDrawnWithoutWrapping) {
    constexpr int Width = 5, Height = 3, Stride = 8;
    std::vector<std::uint8_t> image(Stride * Height + 8, 0);
    const ScreenPoint points[] = {{0, 0}, {4, 2}, {5, 0}, {0, 3}, {-1, 1}, {2, -1},
                                  {-2147483647 - 1, 0}, {2, 1}, {2, 1}, {7, 0}};
    PlotPoints(image.data(), Stride, Width, Height, points, 10);
    std::vector<std::uint8_t> expected(image.size(), 0);
    expected[0] = 1;
    expected[2 * Stride + 4] = 1;
    expected[1 * Stride + 2] = 1;
    EXPECT_EQ(image, expected);
    PlotPoints(image.data(), Stride, Width, Height, points, -3);
    EXPECT_EQ(image, expected);
}

TEST(PlotTest, UnplotClearsExactlyWhatPlotSet) {
    std::mt19937 random(11);
    const std::int32_t width = 37, height = 21, stride = 40;
    std::vector<ScreenPoint> points(3000);
    for (auto& p : points) p = {EdgyCoordinate(random, width), EdgyCoordinate(random, height)};
    std::vector<std::uint8_t> image(static_cast<std::size_t>(stride) * height, 0);
    PlotPoints(image.data(), stride, width, height, points.data(), static_cast<std::int32_t>(points.size()));
    EXPECT_GT(std::count(image.begin(), image.end(), 1), 100);
    UnplotPoints(image.data(), stride, width, height, points.data(), static_cast<std::int32_t>(points.size()));
    EXPECT_EQ(image, std::vector<std::uint8_t>(image.size(), 0));
}

TEST_F(FrameTickTest, FirstTickDrawsTheSourceSetAndTheFrameHeaderDescribesIt) {
    ASSERT_EQ(StartSaver({FixedPointFile(300, 1), 37, 40}), 0);  // a width that needs row padding
    EXPECT_EQ(State.VScreenStride, 40);
    const FrameHeaderData& h = State.FrameHeader;
    EXPECT_EQ(h.Size, 40u);
    EXPECT_EQ(h.Width, 37);
    EXPECT_EQ(h.Height, 24);
    EXPECT_EQ(h.Planes, 1);
    EXPECT_EQ(h.BitCount, 8);
    EXPECT_EQ(h.SizeImage, 37u * 40u);
    EXPECT_EQ(h.XPelsPerMeter, 3840);
    EXPECT_EQ(h.ClrUsed, 2u);
    EXPECT_EQ(h.ClrImportant, 2u);

    TickAt(123456);
    EXPECT_EQ(State.Phase, Phase::Hold) << "the first interval is the time since the system started";
    EXPECT_EQ(Host().frameHeader.Colours[1], State.ColourFrom);
    EXPECT_EQ(Host().frameHeader.Colours[0], 0u);
    EXPECT_EQ(Host().frameTop, 16);
    EXPECT_EQ(Host().frameBits, State.VScreen);
    // Every point lies at (0.1 * 37, 0.5 * 40) = (3, 20).
    std::string expected(37 * 24, '\0');
    expected[20 * 37 + 3] = 1;
    EXPECT_EQ(ImageBytes(), expected);
    EXPECT_FALSE(Host().statusDrawn);
}

TEST_F(FrameTickTest, ThreeSlowTicksCostAHundredPointsAndZeroIntervalsGiveThemBack) {
    ASSERT_EQ(StartSaver({"-1000\n" + FixedPointFile(0, 1).substr(2), 40, 40}), 0);
    ASSERT_EQ(State.PointCount, 1000);
    ASSERT_EQ(State.ShowStatus, 1);
    std::uint32_t now = 50000;
    TickAt(now);
    for (int i = 0; i < 5; ++i) TickAt(now += 10);  // fast ticks
    TickAt(now += 100);
    TickAt(now += 100);
    EXPECT_EQ(State.ShownPoints, 1000) << "two slow ticks cost nothing";
    TickAt(now += 100);
    EXPECT_EQ(State.ShownPoints, 900);
    EXPECT_EQ(Host().statusText, "IFS # 0; 900 points   ") << "the status line shows the lowered count at once";
    TickAt(now += 100);
    EXPECT_EQ(State.ShownPoints, 800);
    TickAt(now += 100);
    EXPECT_EQ(State.ShownPoints, 700);
    TickAt(now += 100);
    EXPECT_EQ(State.ShownPoints, 700) << "not below three quarters";
    EXPECT_EQ(State.Interval1, 100);

    TickAt(now);  // 0 ms
    EXPECT_EQ(State.ShownPoints, 800);
    TickAt(now);
    TickAt(now);
    EXPECT_EQ(State.ShownPoints, 1000) << "grows up to the configured count";
    TickAt(now);
    EXPECT_EQ(State.ShownPoints, 1000);

    // Slow only if the two before were slower still: 71, 81, 91 from the newest back.
    TickAt(now += 91);
    TickAt(now += 81);
    TickAt(now += 71);
    EXPECT_EQ(State.ShownPoints, 900);
    TickAt(now += 10);
    TickAt(now += 91);
    TickAt(now += 81);
    TickAt(now += 70);
    EXPECT_EQ(State.ShownPoints, 900) << "70 ms is not slow";
}

// The other hosts' rule: a run of FastRunTicks ticks of at most FastTickMs gives 100 points back;
// a 0 ms tick alone gives nothing, and any other tick (slow, 41 ms, a clock run backwards) starts
// the run again.
TEST_F(FrameTickTest, FastRunsGiveThePointsBackOnOtherHosts) {
    ASSERT_EQ(StartSaver({FixedPointFile(1000, 1), 40, 40}), 0);
    State.Regulation = PointRegulation::FastRun;
    std::uint32_t now = 50000;
    TickAt(now);
    for (int i = 0; i < 6; ++i) TickAt(now += 100);
    ASSERT_EQ(State.ShownPoints, 700);
    TickAt(now);
    EXPECT_EQ(State.ShownPoints, 700) << "a 0 ms tick alone gives nothing";
    for (int i = 1; i < FastRunTicks - 1; ++i) TickAt(now += FastTickMs);
    EXPECT_EQ(State.ShownPoints, 700);
    TickAt(now += 1);
    EXPECT_EQ(State.ShownPoints, 800) << "the run's last tick gives 100 back";
    for (const std::uint32_t breaker : {FastTickMs + 1u, 0xFFFFFFFFu, 200u}) {
        for (int i = 1; i < FastRunTicks; ++i) TickAt(now += 10);
        TickAt(now += breaker);
        EXPECT_EQ(State.ShownPoints, 800) << breaker << " ms starts the run again";
    }
    for (int i = 0; i < 2 * FastRunTicks; ++i) TickAt(now += 16);
    EXPECT_EQ(State.ShownPoints, 1000);
    for (int i = 0; i < 3 * FastRunTicks; ++i) TickAt(now += 16);
    EXPECT_EQ(State.ShownPoints, 1000) << "never above the configured count";
}

TEST_F(FrameTickTest, SmallCountsMayFallToZeroOrBelow) {
    ASSERT_EQ(StartSaver({FixedPointFile(50, 1), 40, 40}), 0);
    EXPECT_EQ(State.MinPoints, 37);
    std::uint32_t now = 10000;
    TickAt(now);
    TickAt(now += 200);
    TickAt(now += 200);
    EXPECT_EQ(State.ShownPoints, -50);
    TickAt(now += 200);
    EXPECT_EQ(State.ShownPoints, -50);
    EXPECT_EQ(ImageBytes(), std::string(40 * 24, '\0'));
    TickAt(now);  // 0 ms: -50 is at or below the grow limit of -50
    EXPECT_EQ(State.ShownPoints, 50);
}

TEST_F(FrameTickTest, IntervalWrapsAndTheFirstCanBeNegative) {
    ASSERT_EQ(StartSaver({FixedPointFile(10, 1), 40, 40}), 0);
    TickAt(0x90000000u);  // more than 2^31 ms since the system started
    EXPECT_EQ(State.Interval1, static_cast<std::int32_t>(0x90000000u));
    EXPECT_EQ(State.Phase, Phase::Morph) << "a negative interval does not advance the morph";
    EXPECT_EQ(State.PhaseClock, 0);
    TickAt(5);  // the counter wrapped: 0x70000005 ms later
    EXPECT_EQ(State.Interval1, 0x70000005);
    EXPECT_EQ(State.Phase, Phase::Hold);
}

// After each tick the image equals a fresh image with the shown points of PtsA plotted, whether
// the tick cleared it whole, cleared only the last frame's points, or kept it.
class PartialClear : public SaverTest, public ::testing::WithParamInterface<std::pair<std::int32_t, std::int32_t>> {};

TEST_P(PartialClear, ImageEqualsAFreshPlotAfterEveryTick) {
    ASSERT_EQ(StartSaver({FernAndTriangle(GetParam().first), GetParam().second, 150, RunMode::Saver, false, 99}), 0);
    int phasesSeen = 0;
    std::int32_t lowest = State.ShownPoints, highest = State.ShownPoints;
    for (int tick = 0; tick < 1500; ++tick) {
        const std::int32_t shown = State.ShownPoints;
        phasesSeen |= PhaseBit(State.Phase);
        Host().now += Interval(tick);
        FrameTick(State.Window);
        ASSERT_EQ(0, std::memcmp(FreshPlot(shown).data(), State.VScreen, static_cast<std::size_t>(State.VScreenStride) * State.ImageHeight))
            << "tick " << tick << " phase " << static_cast<int>(State.Phase);
        lowest = std::min(lowest, State.ShownPoints);
        highest = std::max(highest, State.ShownPoints);
    }
    EXPECT_EQ(phasesSeen, AllPhases);
    EXPECT_LT(lowest, highest);  // the regulation moved the count both ways
}

// Few points on a large image clear point by point, many clear the whole image; 60 points fall
// to zero and below.
INSTANTIATE_TEST_SUITE_P(Counts, PartialClear,
                         ::testing::Values(std::make_pair(60, 203), std::make_pair(300, 201), std::make_pair(3000, 203),
                                           std::make_pair(-2000, 37)));

TEST_F(FrameTickTest, AnImageWrittenOutsideATickIsClearedWholeWhenMarkedUnknown) {
    ASSERT_EQ(StartSaver({FernAndTriangle(200), 120, 80, RunMode::Saver, false, 99}), 0);
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
    EXPECT_EQ(0, std::memcmp(FreshPlot(shown).data(), State.VScreen, bytes));
}

TEST_F(FrameTickTest, ATickAllocatesNothing) {
    if (!CountsAllocations) GTEST_SKIP() << "no allocation counter on this platform";
    ASSERT_EQ(StartSaver({FernAndTriangle(-5000), 333, 200, RunMode::Saver, false, 99}), 0);
    int phasesSeen = 0, picks = 0;
    for (int tick = 0; tick < 2000; ++tick) {
        phasesSeen |= PhaseBit(State.Phase);
        const std::uint64_t before = AllocationsSoFar();
        TickAt(Host().now + Interval(tick));
        ASSERT_EQ(AllocationsSoFar(), before) << "tick " << tick << " in phase " << static_cast<int>(State.Phase);
        picks += State.Phase == Phase::Delta;
    }
    EXPECT_EQ(phasesSeen, AllPhases);
    EXPECT_GT(picks, 3) << "the run went through Pick, the tick that generates";
    EXPECT_TRUE(Host().statusDrawn) << "and wrote the status line";
    // The counter does count: blocks from malloc and from new between ticks show.
    const std::uint64_t before = AllocationsSoFar();
    void* volatile block = std::malloc(16);
    std::free(block);
    int* volatile number = new int(1);
    delete number;
    EXPECT_EQ(AllocationsSoFar(), before + 2);
}

TEST_F(FrameTickTest, StatusLineFormat) {
    char text[64];
    EXPECT_EQ(FormatStatusLine(text, 3, 12345), 24);
    EXPECT_STREQ(text, "IFS # 3; 12345 points   ");
    FormatStatusLine(text, 0, -2147483647 - 1);
    EXPECT_STREQ(text, "IFS # 0; -2147483648 points   ");
}
