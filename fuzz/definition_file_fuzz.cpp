// Fuzz target: the definition file alone. Bytes in, the definition list or its message out.
#include <cstddef>
#include <cstdint>

#include "core/saver_state.h"
#include "fuzz/fuzz_support.h"
#include "ifs/ifs_definition.h"
#include "ifs/loader.h"
#include "backends/headless/headless_host.h"

namespace {

// Room for a few thousand maps: any larger header ends the file, as one too large for the
// machine does in the saver.
constexpr std::uint64_t MemoryBound = 256 * 1024;
// Definitions whose chaos game is tried, and the points each draws: enough to reach every
// map and the projection, little enough to keep the target fast.
constexpr int GeneratedDefinitions = 4;
constexpr std::int32_t GeneratedPoints = 16;

void CheckDefinition(const IfsDefinition& def) {
    if (def.TransformCount < 1 || def.Transforms == nullptr) Broken("a definition without maps");
    std::int32_t choice[101];
    BuildMapChoice(def.Transforms, def.TransformCount, choice);
    for (const std::int32_t h : choice) {
        if (h < 0 || h >= def.TransformCount) Broken("the map choice names a map that is not there");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    BeginInput(MemoryBound);
    OfferDefinitionFile(data, size);
    State.Mode = RunMode::Saver;
    const int result = LoadDefinitions();

    std::int32_t counted = 0;
    for (const IfsDefinition* def = State.FirstDefinition; def != nullptr; def = def->Next) {
        CheckDefinition(*def);
        if (counted < GeneratedDefinitions) {
            ScreenPoint points[GeneratedPoints];
            Colour colour = 0;
            def->Generate(GeneratedPoints, points, &colour, 64, 48);
        }
        ++counted;
    }
    if (counted != State.DefinitionCount) Broken("DefinitionCount differs from the list");
    if ((result == 0) != (counted > 0)) Broken("the result disagrees with the list");
    if ((result == 0) != Host().messages.empty()) Broken("a message without a failure, or the reverse");
    if (State.PointCount < 0 || State.ShownPoints != State.PointCount) Broken("a point count out of range");
    EndInput();
    return 0;
}
