// The chaos game: map choice, projection, colour and the draws it takes.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "ifs/ifs_definition.h"
#include "test_support.h"

using GenerateTest = SaverTest;

namespace {

// The map choice exactly as described: subtract weights from the draw until it is used up.
std::int32_t ChooseBySubtraction(const IfsTransform* maps, std::int32_t count, std::int32_t r) {
    if (r == 0) return 0;
    std::int64_t rest = r;
    std::int32_t h = 0;
    while (h < count) {
        rest -= maps[h].weight;
        ++h;
        if (rest <= 0) break;
    }
    return h > 0 ? h - 1 : h;
}

// The chaos game in its plain form: one draw through NextRandom for the colour, then one per
// point, the map chosen by subtraction, both coordinates mapped from the old values, projected in
// the order subtract, divide, multiply.
void PlainGenerate(const IfsDefinition& def, std::int32_t count, ScreenPoint* points, Colour* colour,
                   std::int32_t screenWidth, std::int32_t screenHeight) {
    *colour = Palette[NextRandom() % PaletteSize];
    const double width = static_cast<double>(static_cast<std::uint32_t>(screenWidth));
    const double height = static_cast<double>(static_cast<std::uint32_t>(screenHeight));
    double x = def.XMin + def.Width * 0.5;
    double y = def.YMin + def.Height * 0.5;
    for (std::int32_t i = 0; i < count; ++i) {
        const IfsTransform& t = def.Transforms[ChooseBySubtraction(def.Transforms, def.TransformCount, NextRandom() % 101)];
        const double nx = t.a * x + t.b * y + t.e;
        const double ny = t.c * x + t.d * y + t.f;
        x = nx;
        y = ny;
        points[i].x = ProjectCoordinate((x - def.XMin) / def.Width * width);
        points[i].y = ProjectCoordinate((y - def.YMin) / def.Height * height);
    }
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
            ASSERT_EQ(table[r], ChooseBySubtraction(def.Transforms, def.TransformCount, r)) << "r " << r << " first weight " << weights[0];
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
    IfsDefinition def = MakeDefinition({50, 50});
    def.Transforms[0] = IfsTransform{0, 0, 0, 0, 0.25, 0.75, 50};  // always lands on (0.25, 0.75)
    def.Transforms[1] = IfsTransform{0, 0, 0, 0, 2.0, 1.0, 50};    // the upper-right corner

    SeedRandom(7);
    std::vector<ScreenPoint> points(1000);
    Colour colour = 0;
    def.Generate(1000, points.data(), &colour, 640, 480);
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
    def.Generate(0, nullptr, &none, 640, 480);
    def.Generate(-5, nullptr, &none, 640, 480);
    const std::uint32_t twoCalls = RandomState();
    SeedRandom(7);
    NextRandom();
    NextRandom();
    EXPECT_EQ(twoCalls, RandomState()) << "one draw per call, for the colour";
}

TEST_F(GenerateTest, DegenerateBoxesGatherOrMirrorThePoints) {
    IfsDefinition def = MakeDefinition({100});
    def.Transforms[0] = IfsTransform{0, 0, 0, 0, 0.2, 0.3, 100};
    std::vector<ScreenPoint> points(10);
    Colour colour = 0;

    def.Width = 0;  // (x - XMin) / 0 is not finite
    def.Height = 1;
    def.Generate(10, points.data(), &colour, 100, 100);
    for (const ScreenPoint& p : points) EXPECT_EQ(p.x, 0);

    def.Width = 1;
    def.Height = 0;
    def.Generate(10, points.data(), &colour, 100, 100);
    for (const ScreenPoint& p : points) EXPECT_EQ(p.y, 0);

    def.XMin = 1;  // box given right to left
    def.Width = -1;
    def.Height = 1;
    def.Generate(10, points.data(), &colour, 100, 100);
    for (const ScreenPoint& p : points) {
        EXPECT_EQ(p.x, 80);  // (0.2 - 1) / -1 * 100
        EXPECT_EQ(p.y, 30);
    }
}

TEST_F(GenerateTest, ProjectionOrderIsSubtractDivideMultiply) {
    IfsDefinition def = MakeDefinition({100});
    def.Transforms[0] = IfsTransform{0, 0, 0, 0, 0.7, 0.3, 100};
    def.XMin = 0;
    def.YMin = 0;
    def.Width = 0.1;
    def.Height = 0.9;
    ScreenPoint p{};
    Colour colour = 0;
    def.Generate(1, &p, &colour, 10, 3);
    EXPECT_EQ(p.x, 69) << "0.7 / 0.1 * 10 is just below 70; 0.7 * 10 / 0.1 would give 70";
    EXPECT_EQ(p.y, 1) << "0.3 / 0.9 * 3 is 1; 0.3 * 3 / 0.9 would give 0";
}

TEST_F(GenerateTest, MatchesThePlainChaosGame) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        std::vector<IfsTransform> maps;
        double xMin, yMin, width, height;
        std::int32_t screenWidth, screenHeight;
    };
    const std::vector<Case> cases = {
        // Fern: ordinary values.
        {{FernMaps, FernMaps + 4}, -2.7, -0.2, 5.5, 10.4, 1921, 1081},
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
        IfsDefinition def(static_cast<std::int32_t>(cases[c].maps.size()));
        std::copy(cases[c].maps.begin(), cases[c].maps.end(), def.Transforms);
        def.XMin = cases[c].xMin;
        def.YMin = cases[c].yMin;
        def.Width = cases[c].width;
        def.Height = cases[c].height;
        for (const std::int32_t count : {0, 1, 2, 3, 1000, 5001}) {
            const auto seed = static_cast<std::uint32_t>(c * 7919 + count);
            std::vector<ScreenPoint> expected(count + 1, ScreenPoint{-7, -7}), got(count + 1, ScreenPoint{-7, -7});
            Colour expectedColour = 0, gotColour = 0;
            SeedRandom(seed);
            PlainGenerate(def, count, expected.data(), &expectedColour, cases[c].screenWidth, cases[c].screenHeight);
            const std::uint32_t expectedRandom = RandomState();
            SeedRandom(seed);
            def.Generate(count, got.data(), &gotColour, cases[c].screenWidth, cases[c].screenHeight);
            EXPECT_EQ(RandomState(), expectedRandom) << "case " << c << " count " << count;
            EXPECT_EQ(gotColour, expectedColour);
            EXPECT_EQ(0, std::memcmp(got.data(), expected.data(), got.size() * sizeof(ScreenPoint)))
                << "case " << c << " count " << count;
        }
        std::free(def.Transforms);
    }
}
