// The easing table of the morph and the colour blend that follows it.
#include <cmath>

#include "anim/anim.h"
#include "core/arrays.h"
#include "platform/platform.h"

const char* const CosTableMessage =
    "Not enough memory (CosTable). Lowering the number of points would help.\n\nQuitting now.";

int BuildCosTable() {
    State.CosTable = AllocateArray<std::int32_t>(CosTableSize);
    if (State.CosTable == nullptr) {
        ShowErrorMessage(CosTableMessage);
        return 1;
    }
    for (int i = 0; i < CosTableSize; ++i) {
        // Half a cosine period over 3000 ms; the step is pi/3000 to ten significant digits.
        State.CosTable[i] = static_cast<std::int32_t>((1.0 - std::cos(i * 0.001047197551)) * 512.0);
    }
    return 0;
}

Colour BlendColour(Colour from, Colour to, std::int32_t k) {
    Colour result = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const std::int32_t f = static_cast<std::int32_t>((from >> shift) & 0xFF);
        const std::int32_t t = static_cast<std::int32_t>((to >> shift) & 0xFF);
        const std::int32_t channel = f + (((t - f) * k) >> 10);
        result |= static_cast<Colour>(channel & 0xFF) << shift;
    }
    return result;
}
