// The pixels below the backends: the frame image as 32-bit pixels, and the status line's font.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

#include "core/font8x16.h"
#include "core/convert.h"

namespace {

TEST(ConvertTest, RowsFlipAndEveryWidthConverts) {
    const std::uint32_t colours[2] = {0xFF000000u, 0xFF12AB34u};
    for (std::size_t width = 0; width <= 37; ++width) {
        const std::size_t stride = (width + 3) & ~std::size_t{3}, rows = 3, pitch = width + 5;
        std::vector<std::uint8_t> bits(stride * rows, 0);
        for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = (i * 7 % 5 == 0) ? static_cast<std::uint8_t>(i % 3) : 0;
        std::vector<std::uint32_t> out(pitch * rows, 0xDEADBEEFu);
        ConvertFrameRows(bits.data(), stride, width, rows, colours, out.data(), pitch);
        for (std::size_t r = 0; r < rows; ++r) {
            for (std::size_t x = 0; x < pitch; ++x) {
                const std::uint32_t expected =
                    x < width ? colours[bits[(rows - 1 - r) * stride + x] != 0] : 0xDEADBEEFu;
                ASSERT_EQ(out[r * pitch + x], expected) << "width " << width << " row " << r << " x " << x;
            }
        }
    }
    // A picture over 16 MB goes past the cache, with rows that start anywhere.
    const std::size_t width = 2049, rows = 2050, stride = 2052, pitch = 2050;
    std::vector<std::uint8_t> bits(stride * rows, 0);
    for (std::size_t i = 0; i < bits.size(); i += 13) bits[i] = 1;
    std::vector<std::uint32_t> out(pitch * rows, 7u);
    ConvertFrameRows(bits.data(), stride, width, rows, colours, out.data(), pitch);
    std::size_t wrong = 0;
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t x = 0; x < pitch; ++x)
            wrong += out[r * pitch + x] != (x < width ? colours[bits[(rows - 1 - r) * stride + x]] : 7u);
    }
    EXPECT_EQ(wrong, 0u);

    EXPECT_EQ(PixelOfColour(0x123456, 0xFF0000, 0x00FF00, 0x0000FF), 0x123456u);
    EXPECT_EQ(PixelOfColour(0x123456, 0x0000FF, 0x00FF00, 0xFF0000), 0x563412u);
    EXPECT_EQ(PixelOfColour(0xFFFFFF, 0xF800, 0x07E0, 0x001F), 0xFFFFu);
    EXPECT_EQ(PixelOfColour(0x08FC00, 0xF800, 0x07E0, 0x001F), 0x0FE0u);
}

// The font: every printable character but the space leaves a mark, no two look the same, and
// the rightmost column and the top two rows stay clear so neighbouring cells never touch.
TEST(StatusFontTest, GlyphsAreDistinctAndKeepTheirMargins) {
    std::set<std::vector<std::uint8_t>> seen;
    for (int c = FontFirstChar; c <= FontLastChar; ++c) {
        const std::uint8_t* glyph = FontGlyph(static_cast<unsigned char>(c));
        const std::vector<std::uint8_t> rows(glyph, glyph + FontCellHeight);
        int ink = 0, rightColumn = 0;
        for (const std::uint8_t row : rows) ink += row != 0, rightColumn += row & 1;
        EXPECT_EQ(ink == 0, c == ' ') << "character " << c;
        EXPECT_EQ(rightColumn, 0) << "character " << c;
        EXPECT_EQ(rows[0] | rows[1], 0) << "character " << c;
        EXPECT_TRUE(seen.insert(rows).second) << "character " << c << " looks like another";
    }
    EXPECT_EQ(FontGlyph('\t'), FontFallbackGlyph);
    EXPECT_EQ(FontGlyph(200), FontFallbackGlyph);
}

}  // namespace
