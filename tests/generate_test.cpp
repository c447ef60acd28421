// The chaos game: map choice, projection, colour and the draws it takes.
#include <cmath>
#include <limits>
#include <vector>

#include "ifs/ifs_definition.h"
#include "test_support.h"

using GenerateTest = SaverTest;

namespace {

// The map choice exactly as described: subtract weights from the draw until it is used up.
std::int32_t ChooseBySubtraction(const std::vector<std::int32_t>& weights, std::int32_t r) {
    if (r == 0) return 0;
    std::int64_t rest = r;
    std::int32_t h = 0;
    while (h < static_cast<std::int32_t>(weights.size())) {
        rest -= weights[h];
        ++h;
        if (rest <= 0) break;
    }
    return h > 0 ? h - 1 : h;
}

IfsDefinition MakeDefinition(const std::vector<std::int32_t>& weights) {
    IfsDefinition def(static_cast<std::int32_t>(weights.size()));
    for (std::size_t i = 0; i < weights.size(); ++i) {
        def.Transforms[i] = IfsTransform{0.5, 0, 0, 0.5, static_cast<double>(i), 0, weights[i]};
    }
    def.XMin = 0;
    def.YMin = 0;
    def.Width = 2;
    def.Height = 1;
    return def;
}

}  // namespace

TEST(MapChoiceTest, TableMatchesSubtractingWeights) {
    std::vector<std::vector<std::int32_t>> cases = {
        {100}, {0}, {-5}, {33, 33, 34}, {1, 2, 7, 85}, {20, 20, 20}, {0, 0, 100}, {100, 0, 0},
        {-50, 60, 90}, {2147483647, 2147483647}, {-2147483647 - 1, -2147483647 - 1, 50}, {150, -100, 30},
    };
    std::uint32_t seed = 99;
    for (int i = 0; i < 200; ++i) {  // random weights, negative ones included
        std::vector<std::int32_t> weights(1 + i % 7);
        for (auto& w : weights) {
            seed = seed * 1664525u + 1013904223u;
            w = static_cast<std::int32_t>(seed >> 25) - 40;
        }
        cases.push_back(weights);
    }
    for (const auto& weights : cases) {
        const IfsDefinition def = MakeDefinition(weights);
        std::int32_t table[101];
        BuildMapChoice(def.Transforms, def.TransformCount, table);
        for (std::int32_t r = 0; r <= 100; ++r) {
            ASSERT_EQ(table[r], ChooseBySubtraction(weights, r)) << "r " << r << " first weight " << weights[0];
        }
    }
}

TEST(MapChoiceTest, WeightsBelowOneHundredLeaveTheRestToTheLastMap) {
    const IfsDefinition def = MakeDefinition({20, 40});
    std::int32_t table[101];
    BuildMapChoice(def.Transforms, def.TransformCount, table);
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[20], 0);
    EXPECT_EQ(table[21], 1);
    EXPECT_EQ(table[60], 1);
    EXPECT_EQ(table[61], 1);
    EXPECT_EQ(table[100], 1);
}

TEST(ProjectTest, TruncatesTowardsZeroAndKeepsLow32Bits) {
    EXPECT_EQ(ProjectCoordinate(12.99), 12);
    EXPECT_EQ(ProjectCoordinate(-0.99), 0);
    EXPECT_EQ(ProjectCoordinate(-1.5), -1);
    EXPECT_EQ(ProjectCoordinate(4294967296.0 + 5), 5);
    EXPECT_EQ(ProjectCoordinate(2147483648.0), -2147483647 - 1);
    EXPECT_EQ(ProjectCoordinate(std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(ProjectCoordinate(-std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(ProjectCoordinate(std::nan("")), 0);
    EXPECT_EQ(ProjectCoordinate(9223372036854775808.0), 0);
    EXPECT_EQ(ProjectCoordinate(-9223372036854775808.0), 0);
    EXPECT_EQ(ProjectCoordinate(9223372036854774784.0), -1024) << "the low 32 bits of 2^63 - 1024";
}

TEST_F(GenerateTest, DrawsOncePerPointAfterTheColourAndProjectsIntoTheImage) {
    State.ScreenWidth = 640;
    State.ScreenHeight = 480;
    IfsDefinition def = MakeDefinition({50, 50});
    def.Transforms[0] = IfsTransform{0, 0, 0, 0, 0.25, 0.75, 50};  // always lands on (0.25, 0.75)
    def.Transforms[1] = IfsTransform{0, 0, 0, 0, 2.0, 1.0, 50};    // the upper-right corner

    SeedRandom(7);
    std::vector<ScreenPoint> points(1000);
    Colour colour = 0;
    def.Generate(1000, points.data(), &colour, State.ScreenWidth, State.ScreenHeight);
    const std::uint32_t after = RandomState();

    SeedRandom(7);
    EXPECT_EQ(colour, Palette[NextRandom() % PaletteSize]);
    for (const ScreenPoint& p : points) {
        const bool first = NextRandom() % 101 <= 50;
        if (first) {
            EXPECT_EQ(p.x, 80);   // 0.25 / 2 * 640
            EXPECT_EQ(p.y, 360);  // 0.75 / 1 * 480
        } else {
            EXPECT_EQ(p.x, 640) << "the right edge projects just outside";
            EXPECT_EQ(p.y, 480);
        }
    }
    EXPECT_EQ(RandomState(), after) << "exactly 1 + n draws";

    // No points: only the colour is drawn.
    SeedRandom(7);
    Colour none = 0;
    def.Generate(0, nullptr, &none, State.ScreenWidth, State.ScreenHeight);
    def.Generate(-5, nullptr, &none, State.ScreenWidth, State.ScreenHeight);
    const std::uint32_t twoCalls = RandomState();
    SeedRandom(7);
    NextRandom();
    NextRandom();
    EXPECT_EQ(twoCalls, RandomState()) << "one draw per call, for the colour";
}

TEST_F(GenerateTest, DegenerateBoxesGatherOrMirrorThePoints) {
    State.ScreenWidth = 100;
    State.ScreenHeight = 100;
    IfsDefinition def = MakeDefinition({100});
    def.Transforms[0] = IfsTransform{0, 0, 0, 0, 0.2, 0.3, 100};
    std::vector<ScreenPoint> points(10);
    Colour colour = 0;

    def.Width = 0;  // (x - XMin) / 0 is not finite
    def.Height = 1;
    def.Generate(10, points.data(), &colour, State.ScreenWidth, State.ScreenHeight);
    for (const ScreenPoint& p : points) EXPECT_EQ(p.x, 0);

    def.Width = 1;
    def.Height = 0;
    def.Generate(10, points.data(), &colour, State.ScreenWidth, State.ScreenHeight);
    for (const ScreenPoint& p : points) EXPECT_EQ(p.y, 0);

    def.XMin = 1;  // box given right to left
    def.Width = -1;
    def.Height = 1;
    def.Generate(10, points.data(), &colour, State.ScreenWidth, State.ScreenHeight);
    for (const ScreenPoint& p : points) {
        EXPECT_EQ(p.x, 80);  // (0.2 - 1) / -1 * 100
        EXPECT_EQ(p.y, 30);
    }
}

TEST_F(GenerateTest, ProjectionOrderIsSubtractDivideMultiply) {
    State.ScreenWidth = 10;
    State.ScreenHeight = 3;
    IfsDefinition def = MakeDefinition({100});
    def.Transforms[0] = IfsTransform{0, 0, 0, 0, 0.7, 0.3, 100};
    def.XMin = 0;
    def.YMin = 0;
    def.Width = 0.1;
    def.Height = 0.9;
    ScreenPoint p{};
    Colour colour = 0;
    def.Generate(1, &p, &colour, State.ScreenWidth, State.ScreenHeight);
    EXPECT_EQ(p.x, 69) << "0.7 / 0.1 * 10 is just below 70; 0.7 * 10 / 0.1 would give 70";
    EXPECT_EQ(p.y, 1) << "0.3 / 0.9 * 3 is 1; 0.3 * 3 / 0.9 would give 0";
}
