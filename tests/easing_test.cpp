// The easing table and the colour blend.
#include "anim/anim.h"
#include "core/arrays.h"
#include "test_support.h"

using EasingTest = SaverTest;

TEST_F(EasingTest, CosTableHasItsTellingValuesAndNeverReaches1024) {
    ASSERT_EQ(BuildCosTable(), 0);
    const int* t = State.CosTable;
    const std::pair<int, int> telling[] = {{0, 0},     {59, 0},    {60, 1},     {85, 2},     {100, 2},   {500, 68},
                                           {1000, 255}, {1500, 511}, {1501, 512}, {2000, 767}, {2500, 955}, {2999, 1023}};
    for (const auto& [index, value] : telling) EXPECT_EQ(t[index], value) << "index " << index;
    for (int i = 1; i < CosTableSize; ++i) {
        EXPECT_GE(t[i], t[i - 1]) << "the curve never falls, at " << i;
        EXPECT_LT(t[i], 1024);
        const int expected = (i == 1000 || i == 1500 || i == 2000) ? 1022 : 1023;
        EXPECT_EQ(t[i] + t[CosTableSize - i], expected) << "symmetry at " << i;
    }
}

TEST_F(EasingTest, CosTableFailureShowsItsMessage) {
    SetAllocationLimit(100);  // less than 3000 entries
    EXPECT_EQ(BuildCosTable(), 1);
    ASSERT_EQ(Host().messages.size(), 1u);
    EXPECT_EQ(Host().messages[0], CosTableMessage);
    EXPECT_EQ(Host().captions[0], "Lumivex: Error");
}

TEST(BlendColourTest, BlendsPerChannelRoundingDown) {
    EXPECT_EQ(BlendColour(0x0000FF, 0xFF0000, 512), 0x7F007Fu);  // blue into red, halfway
    EXPECT_EQ(BlendColour(0x000000, 0x0000FF, 1023), 0x0000FEu);  // one step short going up
    EXPECT_EQ(BlendColour(0x0000FF, 0x000000, 1023), 0x000000u);  // exact going down
    EXPECT_EQ(BlendColour(0x123456, 0xABCDEF, 0), 0x123456u);
    EXPECT_EQ(BlendColour(0xFF00FF, 0x00FF00, 256), 0xBF3FBFu);
    for (int k = 0; k < 1024; k += 7) {
        EXPECT_EQ(BlendColour(0x3F7FCF, 0x3F7FCF, k), 0x3F7FCFu);
        const Colour c = BlendColour(0xFF00FF, 0x00FF00, k);
        EXPECT_EQ(c >> 24, 0u);
        EXPECT_GE(c & 0xFF00, 0u);
        EXPECT_LE((c >> 16) & 0xFF, 0xFFu);
    }
}
