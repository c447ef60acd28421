// One fractal of the definition file, its maps, the palette, and the chaos game that draws it.
#pragma once

#include <cstdint>

#include "core/saver_state.h"

struct IfsTransform {
    double a, b, c, d, e, f;  // (x, y) -> (a x + b y + e, c x + d y + f)
    std::int32_t weight;      // share in the chaos game, in percent
};

constexpr int PaletteSize = 19;
extern const Colour Palette[PaletteSize];

class IfsDefinition {
public:
    // Allocates room for n maps; TransformCount is set only once that memory is obtained, so a
    // failed allocation leaves Transforms null and TransformCount 0.
    explicit IfsDefinition(std::int32_t n);

    // Fills points[0..count-1] by the chaos game, projected into a screen of screenWidth x
    // screenHeight pixels (the box spans the whole screen, y upwards), and picks the set's colour
    // into *colour. Draws exactly 1 + max(count, 0) random numbers.
    void Generate(std::int32_t count, ScreenPoint* points, Colour* colour, std::int32_t screenWidth,
                  std::int32_t screenHeight) const;

    IfsDefinition* Next = nullptr;
    std::int32_t TransformCount = 0;
    IfsTransform* Transforms = nullptr;
    double XMin = 0, YMin = 0, Width = 0, Height = 0;
};

// The map the chaos game applies for each draw r from 0 to 100: r = 0 and the first weight0
// values choose map 0, the next weight1 map 1, and so on; draws above the sum choose the last.
void BuildMapChoice(const IfsTransform* transforms, std::int32_t count, std::int32_t choice[101]);

// The projection of one coordinate into the image: truncated towards zero to 64 bits, low 32
// bits kept; not finite or too large to truncate gives 0.
std::int32_t ProjectCoordinate(double value);
