// The frame tick: interval, plot, colour, regulation of the point count, status line.
#include <string>
#include <vector>

#include "anim/anim.h"
#include "anim/morph.h"
#include "core/arrays.h"
#include "test_support.h"

using FrameTickTest = SaverTest;

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

TEST_F(FrameTickTest, ATickAllocatesNothing) {
    ASSERT_EQ(StartSaver({"-2000\n" + FixedPointFile(0, 3).substr(2), 200, 150}), 0);
    const std::uint64_t arrays = AllocationCount();
    const std::uint64_t news = NewCount();
    std::uint32_t now = 1000;
    int picks = 0;
    for (int i = 0; i < 2000; ++i) {
        TickAt(now += (i % 50 == 0 ? 0 : 13));
        picks += State.Phase == Phase::Delta;
    }
    EXPECT_EQ(AllocationCount(), arrays);
    EXPECT_EQ(NewCount(), news);
    EXPECT_GT(picks, 3) << "the run went through Pick, the tick that generates";
}

TEST_F(FrameTickTest, StatusLineFormat) {
    char text[64];
    EXPECT_EQ(FormatStatusLine(text, 3, 12345), 24);
    EXPECT_STREQ(text, "IFS # 3; 12345 points   ");
    FormatStatusLine(text, 0, -2147483647 - 1);
    EXPECT_STREQ(text, "IFS # 0; -2147483648 points   ");
}
