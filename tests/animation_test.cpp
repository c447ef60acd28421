// Animation set-up and the four-phase morph cycle.
#include <climits>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "anim/anim.h"
#include "anim/morph.h"
#include "ifs/ifs_definition.h"
#include "core/arrays.h"
#include "test_support.h"

using AnimationTest = SaverTest;

namespace {

const std::string Fern = "200\n" + FernDefinition();

}  // namespace

TEST_F(AnimationTest, SetUpMakesTwoIndependentSetsOfTheFirstFractal) {
    ASSERT_EQ(StartSaver({Fern, 320, 240, RunMode::Saver, false, 42}), 0);
    ASSERT_EQ(State.PointCount, 200);

    // The same two runs of the chaos game, redone by hand from the same seed.
    std::vector<ScreenPoint> first(200), second(200);
    Colour from = 0, to = 0;
    SeedRandom(42);
    State.FirstDefinition->Generate(200, first.data(), &from, 320, 240);
    State.FirstDefinition->Generate(200, second.data(), &to, 320, 240);
    EXPECT_EQ(State.ColourFrom, from);
    EXPECT_EQ(State.ColourTo, to);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(State.Pts1[i].x, first[i].x);
        ASSERT_EQ(State.Pts2[i].y, second[i].y);
        ASSERT_EQ(State.PtsA[i].x, first[i].x);
        ASSERT_EQ(State.PtsDX[i], second[i].x - first[i].x);
        ASSERT_EQ(State.PtsDY[i], second[i].y - first[i].y);
    }
    EXPECT_EQ(State.Phase, Phase::Morph);
    EXPECT_EQ(State.PhaseClock, 0);
    EXPECT_EQ(State.ColourNow, 0u);
}

TEST_F(AnimationTest, ZeroPointsStillPickTwoColours) {
    ASSERT_EQ(StartSaver({"0\n1\n1 0 0 1 0 0 100\n0 0 1 1\n", 64, 64, RunMode::Saver, false, 9}), 0);
    EXPECT_EQ(State.PointCount, 0);
    ASSERT_NE(State.Pts1, nullptr);
    SeedRandom(9);
    const Colour from = Palette[NextRandom() % PaletteSize];
    const Colour to = Palette[NextRandom() % PaletteSize];
    EXPECT_EQ(State.ColourFrom, from);
    EXPECT_EQ(State.ColourTo, to);
    TickAt(5000);
    TickAt(5010);
    EXPECT_EQ(ImageBytes(), std::string(64 * 48, '\0'));
}

TEST_F(AnimationTest, EachFailedArrayShowsItsOwnMessage) {
    // Start-up allocates the frame image, the maps, the five point arrays, the table and the
    // second half of PtsA (the last frame's positions), in order.
    const char* const expected[] = {PointArrayMessages[0], PointArrayMessages[1], PointArrayMessages[2],
                                    PointArrayMessages[3], PointArrayMessages[4], CosTableMessage,
                                    PointArrayMessages[2]};
    for (int failing = 0; failing < 7; ++failing) {
        ResetAll();
        FailAllocationsAfter(2 + failing);  // after the frame image and the fractal's maps
        EXPECT_EQ(StartSaver({Fern}), 1);
        ASSERT_EQ(Host().messages.size(), 1u);
        EXPECT_EQ(Host().messages[0], expected[failing]);
        EXPECT_EQ(Host().captions[0], "Lumivex: Error");
    }
    // Too many points for any address space: the size cannot be represented.
    ResetAll();
    SetAllocationLimit(std::uint64_t{1} << 31);
    EXPECT_EQ(StartSaver({"-2147483648\n1\n1 0 0 1 0 0 100\n0 0 1 1\n"}), 1);
    EXPECT_EQ(Host().messages.at(0), PointArrayMessages[0]);
}

TEST_F(AnimationTest, MorphEasesPointsAndColourThenHoldCompletesTheMove) {
    ASSERT_EQ(StartSaver({Fern}), 0);
    const std::vector<ScreenPoint> source(State.Pts1, State.Pts1 + 200);
    const std::vector<ScreenPoint> target(State.Pts2, State.Pts2 + 200);

    StepPhase(1500);  // factor of clock 0: the source set
    EXPECT_EQ(State.ColourNow, State.ColourFrom);
    EXPECT_EQ(State.PtsA[7].x, source[7].x);
    EXPECT_EQ(State.PhaseClock, 1500);

    StepPhase(1499);  // factor of clock 1500: 511/1024 of the way
    EXPECT_EQ(State.ColourNow, BlendColour(State.ColourFrom, State.ColourTo, 511));
    for (int i = 0; i < 200; ++i) {
        const std::int32_t dx = target[i].x - source[i].x;
        ASSERT_EQ(State.PtsA[i].x, source[i].x + ((511 * dx) >> 10));
    }
    EXPECT_EQ(State.Phase, Phase::Morph);
    EXPECT_EQ(State.PhaseClock, 2999);

    StepPhase(1);  // the last factor, then the morph ends
    EXPECT_EQ(State.ColourNow, BlendColour(State.ColourFrom, State.ColourTo, 1023));
    EXPECT_EQ(State.Phase, Phase::Hold);
    EXPECT_EQ(State.PhaseClock, 0);

    StepPhase(10);  // first hold tick: the target exactly, counted from 1 at double speed
    EXPECT_EQ(State.ColourNow, State.ColourTo);
    EXPECT_EQ(State.PtsA[7].x, target[7].x);
    EXPECT_EQ(State.PhaseClock, 21);
    StepPhase(1490);  // 21 + 2980 = 3001: above 3000, the hold ends
    EXPECT_EQ(State.Phase, Phase::Pick);
    EXPECT_EQ(State.PhaseClock, 0);
    EXPECT_EQ(State.ColourFrom, State.ColourTo);
    EXPECT_EQ(State.Pts1[7].x, target[7].x);
}

TEST_F(AnimationTest, HoldThatReachesExactly3000GoesOn) {
    ASSERT_EQ(StartSaver({Fern}), 0);
    StepPhase(5000);
    ASSERT_EQ(State.Phase, Phase::Hold);
    StepPhase(0);  // 0 -> 1
    StepPhase(1000);
    StepPhase(499);  // 1 + 2000 + 998 = 2999
    StepPhase(0);
    EXPECT_EQ(State.PhaseClock, 2999);
    EXPECT_EQ(State.Phase, Phase::Hold);
    StepPhase(1);  // 3001
    EXPECT_EQ(State.Phase, Phase::Pick);
}

TEST_F(AnimationTest, PickChoosesByTheDrawAndGeneratesAFreshTarget) {
    ASSERT_EQ(StartSaver({FixedPointFile(50, 3), 100, 100}), 0);
    // Draw n = r mod 4: 0 and 1 take the first fractal, 2 the second, 3 the third.
    const std::int32_t expectedX[4] = {10, 10, 20, 30};
    std::vector<int> seen(4, 0);
    for (std::uint32_t seed = 0; seed < 40; ++seed) {
        State.Phase = Phase::Pick;
        SeedRandom(seed);
        const std::int32_t n = [&] { const std::uint32_t keep = RandomState(); const std::int32_t r = NextRandom() % 4; SeedRandom(keep); return r; }();
        StepPhase(10);
        ASSERT_EQ(State.DefinitionNumber, n);
        ++seen[n];
        EXPECT_EQ(State.Phase, Phase::Delta);
        for (int i = 0; i < 50; ++i) ASSERT_EQ(State.Pts2[i].x, expectedX[n]) << "n " << n;
        StepPhase(10);
        EXPECT_EQ(State.Phase, Phase::Morph);
        EXPECT_EQ(State.PtsDX[49], State.Pts2[49].x - State.Pts1[49].x);
    }
    for (int n = 0; n < 4; ++n) EXPECT_GT(seen[n], 0) << "n " << n << " never drawn";
}

TEST_F(AnimationTest, ClockNeverRunsBackwardsNorOverflows) {
    ASSERT_EQ(StartSaver({Fern}), 0);
    StepPhase(-100);
    EXPECT_EQ(State.PhaseClock, 0);
    EXPECT_EQ(State.Phase, Phase::Morph);
    StepPhase(std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(State.PhaseClock, 0);
    StepPhase(2999);
    StepPhase(std::numeric_limits<std::int32_t>::max());  // would overflow the clock
    EXPECT_EQ(State.Phase, Phase::Hold);
    EXPECT_EQ(State.PhaseClock, 0);
    StepPhase(std::numeric_limits<std::int32_t>::max());  // 1 + 2 * max saturates
    EXPECT_EQ(State.Phase, Phase::Pick);
    State.Phase = Phase::Hold;
    State.PhaseClock = 5;
    StepPhase(-7);
    EXPECT_EQ(State.PhaseClock, 5);
}

TEST_F(AnimationTest, NoShownPointsStillRunsTheCycle) {
    ASSERT_EQ(StartSaver({Fern}), 0);
    State.ShownPoints = -40;
    const ScreenPoint before = State.PtsA[0];
    const ScreenPoint source = State.Pts1[0];
    StepPhase(4000);
    StepPhase(2000);
    EXPECT_EQ(State.Phase, Phase::Pick);
    EXPECT_EQ(State.ColourFrom, State.ColourTo);
    EXPECT_EQ(State.PtsA[0].x, before.x);
    EXPECT_EQ(State.Pts1[0].x, source.x) << "nothing copied";
    StepPhase(10);
    StepPhase(10);
    EXPECT_EQ(State.Phase, Phase::Morph);
}

TEST(MorphLoopTest, WrapsLikeTwosComplement) {
    const std::int32_t big = std::numeric_limits<std::int32_t>::max();
    const std::int32_t small = std::numeric_limits<std::int32_t>::min();
    const ScreenPoint source[4] = {{big, small}, {small, big}, {0, -1}, {-5, 5}};
    const ScreenPoint target[4] = {{small, big}, {big, small}, {-1, 0}, {5, -5}};
    std::int32_t dx[4], dy[4];
    ComputeDeltas(source, target, dx, dy, 4);
    EXPECT_EQ(dx[0], 1);  // small - big wraps to 1
    EXPECT_EQ(dy[0], -1);
    ScreenPoint out[4];
    for (const std::int32_t k : {0, 1, 511, 1023}) {
        MorphPoints(out, source, dx, dy, k, 4);
        for (int i = 0; i < 4; ++i) {
            const auto wrapped = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int64_t>(k) * dx[i]));
            const std::int64_t expected = static_cast<std::int64_t>(source[i].x) + (wrapped >> 10);
            ASSERT_EQ(out[i].x, static_cast<std::int32_t>(static_cast<std::uint32_t>(expected))) << k << ' ' << i;
        }
    }
    MorphPoints(out, source, dx, dy, 512, 4);
    EXPECT_EQ(out[3].x, 0);
    EXPECT_EQ(out[2].x, -1) << "-512 >> 10 rounds towards minus infinity";
}

TEST(MorphLoopTest, MorphAndPlotMatchesMorphThenPlot) {
    std::mt19937 random(7);
    struct LoopCase {
        std::int32_t width, height, stride, count;
    };
    const LoopCase cases[] = {{13, 7, 16, 0}, {13, 7, 16, 1}, {13, 7, 16, 3}, {13, 7, 16, 4}, {13, 7, 16, 5},
                              {8, 8, 8, 37}, {1, 1, 4, 9}, {203, 150, 204, 5003}, {64, 3, 64, 1000}};
    for (const LoopCase& c : cases) {
        for (const std::int32_t k : {0, 1, 511, 1023, 1024, -1, INT32_MIN, INT32_MAX}) {
            std::vector<ScreenPoint> source(c.count + 1), expectedOut(c.count + 1), out(c.count + 1);
            std::vector<std::int32_t> dx(c.count + 1), dy(c.count + 1);
            for (std::int32_t i = 0; i < c.count; ++i) {
                source[i] = {EdgyCoordinate(random, c.width), EdgyCoordinate(random, c.height)};
                dx[i] = EdgyCoordinate(random, c.width);
                dy[i] = EdgyCoordinate(random, c.height);
            }
            // Some pixels are lit already, and the padding holds a marker that must survive.
            std::vector<std::uint8_t> expected(static_cast<std::size_t>(c.stride) * c.height);
            for (std::size_t b = 0; b < expected.size(); ++b)
                expected[b] = static_cast<std::int32_t>(b % c.stride) >= c.width ? 0xEE : (random() % 3 == 0);
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

TEST(MorphLoopTest, MorphAndPlotWrapsAndShiftsArithmetically) {
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
