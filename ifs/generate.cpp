// The chaos game: turns a definition into a point set in image coordinates and picks its colour.
#include <cmath>

#include "ifs/ifs_definition.h"
#include "shell/arrays.h"

const Colour Palette[PaletteSize] = {
    0x0000FF, 0x003FFF, 0x007FCF, 0x00CFCF, 0x00CF7C, 0x00FF3F, 0x00FF00,
    0x3FFF00, 0x7FCF00, 0xCFCF00, 0xCF7F00, 0xFF4F00, 0xFF3F3F, 0xCF3F7F,
    0xCF3FCF, 0x7F1FCF, 0x3F00FF, 0xFF00FF, 0x00FFFF,
};

IfsDefinition::IfsDefinition(std::int32_t n) {
    Transforms = n > 0 ? AllocateArray<IfsTransform>(static_cast<std::uint64_t>(n)) : nullptr;
    if (Transforms != nullptr) TransformCount = n;
}

void BuildMapChoice(const IfsTransform* transforms, std::int32_t count, std::int32_t choice[101]) {
    // Subtracting weights from r until r <= 0 stops at the first map whose running sum of
    // weights reaches r. With negative weights the running sum can fall back, so compare
    // against its running maximum, which rises monotonically. Sums are 64-bit: no overflow.
    choice[0] = 0;
    std::int64_t sum = 0;
    std::int64_t best = INT64_MIN;
    std::int32_t h = -1;
    for (std::int32_t r = 1; r <= 100; ++r) {
        while (best < r && h + 1 < count) {
            ++h;
            sum += transforms[h].weight;
            if (sum > best) best = sum;
        }
        choice[r] = best >= r ? h : count - 1;
    }
    if (count <= 0) {
        for (std::int32_t r = 0; r <= 100; ++r) choice[r] = 0;
    }
}

std::int32_t ProjectCoordinate(double value) {
    // 2^63: the first magnitude a 64-bit integer cannot hold.
    constexpr double Limit = 9223372036854775808.0;
    if (!(value > -Limit && value < Limit)) return 0;  // also catches NaN
    const auto whole = static_cast<std::int64_t>(value);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(whole)));
}

void IfsDefinition::Generate(std::int32_t count, ScreenPoint* points, Colour* colour) const {
    *colour = Palette[NextRandom() % PaletteSize];

    std::int32_t choice[101];
    BuildMapChoice(Transforms, TransformCount, choice);

    const double width = static_cast<double>(static_cast<std::uint32_t>(State.ScreenWidth));
    const double height = static_cast<double>(static_cast<std::uint32_t>(State.ScreenHeight));
    double x = XMin + Width * 0.5;
    double y = YMin + Height * 0.5;
    for (std::int32_t i = 0; i < count; ++i) {
        const IfsTransform& t = Transforms[choice[NextRandom() % 101]];
        const double nx = t.a * x + t.b * y + t.e;
        const double ny = t.c * x + t.d * y + t.f;
        x = nx;
        y = ny;
        points[i].x = ProjectCoordinate((x - XMin) / Width * width);
        points[i].y = ProjectCoordinate((y - YMin) / Height * height);
    }
}
