// Animation set-up and the four-phase morph cycle.
#include <limits>
#include <vector>

#include "anim/anim.h"
#include "anim/morph.h"
#include "ifs/ifs_definition.h"
#include "core/arrays.h"
#include "test_support.h"

using AnimationTest = SaverTest;

namespace {

const char* const Fern =
    "200\n4\n0 0 0 0.16 0 0 1\n0.85 0.04 -0.04 0.85 0 1.6 85\n0.2 -0.26 0.23 0.22 0 1.6 7\n"
    "-0.15 0.28 0.26 0.24 0 0.44 7\n-2.7 -0.2 2.8 10.2\n";

}  // namespace

TEST_F(AnimationTest, SetUpMakesTwoIndependentSetsOfTheFirstFractal) {
    ASSERT_EQ(StartSaver({Fern, 320, 240, RunMode::Saver, false, 42}), 0);
    ASSERT_EQ(State.PointCount, 200);

    // The same two runs of the chaos game, redone by hand from the same seed.
    std::vector<ScreenPoint> first(200), second(200);
    Colour from = 0, to = 0;
    SeedRandom(42);
    State.FirstDefinition->Generate(200, first.data(), &from, State.ScreenWidth, State.ScreenHeight);
    State.FirstDefinition->Generate(200, second.data(), &to, State.ScreenWidth, State.ScreenHeight);
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
    // Start-up allocates the frame image, the maps, the five point arrays and the table, in order.
    const char* const expected[] = {PointArrayMessages[0], PointArrayMessages[1], PointArrayMessages[2],
                                    PointArrayMessages[3], PointArrayMessages[4], CosTableMessage};
    for (int failing = 0; failing < 6; ++failing) {
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
