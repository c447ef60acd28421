// The fern icon that lumivex-icon writes: a well-formed 32x32, 256-colour .ico of a framed green fern.
#include <cstdint>
#include <vector>

#include "test_support.h"
#include "tools/icon/icon.h"

namespace {

std::uint32_t Read32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint32_t Read16(const std::vector<std::uint8_t>& b, std::size_t at) { return b[at] | b[at + 1] << 8; }

constexpr std::size_t Image = 22;                // after the directory and its one entry
constexpr std::size_t Colours = Image + 40;       // after the bitmap header
constexpr std::size_t Pixels = Colours + 256 * 4;  // colour indices, bottom row first

}  // namespace

using IconTest = SaverTest;

TEST_F(IconTest, IsOneThirtyTwoPixelImageInTwoHundredFiftySixColours) {
    const std::vector<std::uint8_t> ico = BuildFernIcon();
    ASSERT_EQ(ico.size(), Pixels + 32 * 32 + 32 * 4);
    EXPECT_EQ(Read16(ico, 0), 0u);
    EXPECT_EQ(Read16(ico, 2), 1u);  // an icon, not a cursor
    EXPECT_EQ(Read16(ico, 4), 1u);
    EXPECT_EQ(ico[6], 32);
    EXPECT_EQ(ico[7], 32);
    EXPECT_EQ(ico[8], 0);  // 256 colours
    EXPECT_EQ(Read16(ico, 12), 8u);
    EXPECT_EQ(Read32(ico, 14), ico.size() - Image);
    EXPECT_EQ(Read32(ico, 18), Image);
    // The header counts colour image and mask together: twice the height.
    EXPECT_EQ(Read32(ico, Image), 40u);
    EXPECT_EQ(Read32(ico, Image + 4), 32u);
    EXPECT_EQ(Read32(ico, Image + 8), 64u);
    EXPECT_EQ(Read16(ico, Image + 14), 8u);
    for (std::size_t i = Pixels + 32 * 32; i < ico.size(); ++i) ASSERT_EQ(ico[i], 0) << "the mask is opaque";
    EXPECT_EQ(BuildFernIcon(), ico) << "the same icon on every build";
}

TEST_F(IconTest, ShowsAGreenFernFramedOnADarkVioletGround) {
    const std::vector<std::uint8_t> ico = BuildFernIcon();
    ASSERT_GE(ico.size(), Pixels + 32 * 32);
    // Entries are stored blue, green, red, 0: the channel's shift in 0x00RRGGBB, over 8, is its offset.
    auto channel = [&](int index, int shift) { return ico[Colours + 4 * index + shift / 8]; };
    EXPECT_EQ(channel(0, 16), (IconGround >> 16) & 0xFF);
    EXPECT_EQ(channel(0, 8), (IconGround >> 8) & 0xFF);
    EXPECT_EQ(channel(0, 0), IconGround & 0xFF);

    int fern = 0, top = -1, bottom = 32, left = 32, right = -1;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const int index = ico[Pixels + 32 * y + x];
            if (index == 0) continue;
            ++fern;
            EXPECT_GT(channel(index, 8), channel(index, 16)) << "green over red at " << x << "," << y;
            EXPECT_GT(channel(index, 8), channel(index, 0)) << "green over blue at " << x << "," << y;
            top = std::max(top, y);
            bottom = std::min(bottom, y);
            left = std::min(left, x);
            right = std::max(right, x);
        }
    }
    // A fern of a fair size that stays clear of the edges.
    EXPECT_GT(fern, 150);
    EXPECT_LT(fern, 600);
    EXPECT_GE(top - bottom, 24);
    EXPECT_GT(bottom, 0);
    EXPECT_LT(top, 31);
    EXPECT_GT(left, 0);
    EXPECT_LT(right, 31);
}
