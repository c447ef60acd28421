// Draws the fern icon with IfsDefinition::Generate and packs it as an .ico file.
#include "tools/icon/icon.h"

#include <algorithm>
#include <cmath>

#include "ifs/ifs_definition.h"
#include "core/saver_state.h"

namespace {

// Barnsley's fern, in a box a little wider than tall so that it stands centred in the square.
const IfsTransform FernMaps[4] = {
    {0.0, 0.0, 0.0, 0.16, 0.0, 0.0, 1},
    {0.85, 0.04, -0.04, 0.85, 0.0, 1.6, 85},
    {0.2, -0.26, 0.23, 0.22, 0.0, 1.6, 7},
    {-0.15, 0.28, 0.26, 0.24, 0.0, 0.44, 7},
};
constexpr int FernPoints = 40000;
constexpr std::uint32_t FernSeed = 1;

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

std::uint8_t Mix(std::uint32_t from, std::uint32_t to, int shift, int step, int steps) {
    const int a = static_cast<int>((from >> shift) & 0xFF);
    const int b = static_cast<int>((to >> shift) & 0xFF);
    return static_cast<std::uint8_t>(a + (b - a) * step / steps);
}

}  // namespace

std::vector<std::uint8_t> FernIconIndices(int side) {
    // Kept for the process, as every definition is: its maps are never freed.
    static IfsDefinition fern(4);
    for (int i = 0; i < fern.TransformCount; ++i) fern.Transforms[i] = FernMaps[i];
    fern.XMin = -5.6;
    fern.YMin = -0.6;
    fern.Width = 11.4;
    fern.Height = 11.4;

    // The points grow with the area, so that every size looks as dense as the 32x32 one.
    const auto count = static_cast<std::int32_t>(std::int64_t{FernPoints} * side * side / (IconSide * IconSide));
    SeedRandom(FernSeed);
    std::vector<ScreenPoint> points(static_cast<std::size_t>(count));
    Colour unused = 0;
    fern.Generate(count, points.data(), &unused, side, side);

    std::vector<int> hits(static_cast<std::size_t>(side) * static_cast<std::size_t>(side), 0);
    int most = 0;
    for (const ScreenPoint& p : points) {
        if (static_cast<std::uint32_t>(p.x) >= static_cast<std::uint32_t>(side) ||
            static_cast<std::uint32_t>(p.y) >= static_cast<std::uint32_t>(side))
            continue;
        most = std::max(most, ++hits[static_cast<std::size_t>(p.y) * static_cast<std::size_t>(side) + static_cast<std::size_t>(p.x)]);
    }

    // Density on a square-root scale so that the thin fronds stay visible beside the dense stem.
    std::vector<std::uint8_t> indices;
    indices.reserve(hits.size());
    for (const int h : hits) {
        int index = 0;
        if (h > 0) {
            index = 1 + static_cast<int>(std::lround(254.0 * std::sqrt(static_cast<double>(h) / most)));
            if (index > IconColours - 1) index = IconColours - 1;
        }
        indices.push_back(static_cast<std::uint8_t>(index));
    }
    return indices;
}

std::uint32_t FernIconColour(int index) {
    if (index <= 0) return IconGround;
    const std::uint32_t r = Mix(IconFernDark, IconFernBright, 16, index - 1, IconColours - 2);
    const std::uint32_t g = Mix(IconFernDark, IconFernBright, 8, index - 1, IconColours - 2);
    const std::uint32_t b = Mix(IconFernDark, IconFernBright, 0, index - 1, IconColours - 2);
    return r << 16 | g << 8 | b;
}

std::vector<std::uint8_t> BuildFernIcon() {
    const std::vector<std::uint8_t> indices = FernIconIndices(IconSide);

    std::vector<std::uint8_t> ico;
    // Icon directory and its one entry (a colour count of 0 means 256).
    const std::uint32_t maskStride = 4;  // 32 one-bit pixels per row, already a multiple of 4 bytes
    const std::uint32_t imageBytes = 40 + IconColours * 4 + IconSide * IconSide + IconSide * maskStride;
    Put16(ico, 0);
    Put16(ico, 1);
    Put16(ico, 1);
    ico.push_back(IconSide);
    ico.push_back(IconSide);
    ico.push_back(0);
    ico.push_back(0);
    Put16(ico, 1);
    Put16(ico, 8);
    Put32(ico, imageBytes);
    Put32(ico, 6 + 16);

    // The bitmap header counts the colour image and the mask together: twice the height.
    Put32(ico, 40);
    Put32(ico, IconSide);
    Put32(ico, IconSide * 2);
    Put16(ico, 1);
    Put16(ico, 8);
    Put32(ico, 0);
    Put32(ico, IconSide * IconSide + IconSide * maskStride);
    Put32(ico, 0);
    Put32(ico, 0);
    Put32(ico, 0);
    Put32(ico, 0);

    // Palette: the ground, then a green ramp from dark to bright; stored blue, green, red, 0.
    for (int i = 0; i < IconColours; ++i) {
        const std::uint32_t colour = FernIconColour(i);
        ico.push_back(static_cast<std::uint8_t>(colour));
        ico.push_back(static_cast<std::uint8_t>(colour >> 8));
        ico.push_back(static_cast<std::uint8_t>(colour >> 16));
        ico.push_back(0);
    }

    // Colour indices, bottom row first like the frame image.
    ico.insert(ico.end(), indices.begin(), indices.end());
    // The mask: every pixel opaque.
    ico.insert(ico.end(), IconSide * maskStride, 0);
    return ico;
}
