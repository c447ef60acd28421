// Animation set-up: the point arrays, the easing table and the first pair of point sets.
#include <cstring>

#include "anim/anim.h"
#include "anim/morph.h"
#include "ifs/ifs_definition.h"
#include "core/arrays.h"
#include "platform/platform.h"

const char* const PointArrayMessages[5] = {
    "Not enough memory (Pts1). Lowering the number of points might help.\n\nQuitting now.",
    "Not enough memory (Pts2). Lowering the number of points might help.\n\nQuitting now.",
    "Not enough memory (PtsA). Lowering the number of points might help.\n\nQuitting now.",
    "Not enough memory (PtsDX). Lowering the number of points might help.\n\nQuitting now.",
    "Not enough memory (PtsDY). Lowering the number of points might help.\n\nQuitting now.",
};

int PrepareAnimation() {
    const auto count = static_cast<std::uint64_t>(State.PointCount < 0 ? 0 : State.PointCount);
    void** arrays[5] = {reinterpret_cast<void**>(&State.Pts1), reinterpret_cast<void**>(&State.Pts2),
                        reinterpret_cast<void**>(&State.PtsA), reinterpret_cast<void**>(&State.PtsDX),
                        reinterpret_cast<void**>(&State.PtsDY)};
    const std::uint64_t sizes[5] = {sizeof(ScreenPoint), sizeof(ScreenPoint), sizeof(ScreenPoint),
                                    sizeof(std::int32_t), sizeof(std::int32_t)};
    for (int i = 0; i < 5; ++i) {
        *arrays[i] = AllocateBytes(count, sizes[i]);
        if (*arrays[i] == nullptr) {
            ShowErrorMessage(PointArrayMessages[i]);
            return 1;
        }
    }
    if (BuildCosTable() != 0) return 1;
    // The second half of PtsA (the positions the last frame showed), allocated after the table.
    State.PtsLast = AllocateArray<ScreenPoint>(count);
    if (State.PtsLast == nullptr) {
        ShowErrorMessage(PointArrayMessages[2]);
        return 1;
    }

    State.Origin1 = {State.FirstDefinition, RandomState(), State.ShownPoints};
    State.FirstDefinition->Generate(State.ShownPoints, State.Pts1, &State.ColourFrom, State.ScreenWidth, State.ScreenHeight);
    State.Origin2 = {State.FirstDefinition, RandomState(), State.ShownPoints};
    State.FirstDefinition->Generate(State.ShownPoints, State.Pts2, &State.ColourTo, State.ScreenWidth, State.ScreenHeight);
    CopyPoints(State.PtsA, State.Pts1, State.ShownPoints);
    ResyncLastPoints();
    State.PlottedPoints = -1;  // PtsA is new: the first tick clears the whole image
    ComputeDeltas(State.Pts1, State.Pts2, State.PtsDX, State.PtsDY, State.PointCount);
    BoundMorph();
    State.PhaseClock = 0;
    return 0;
}

void RefitPointSets() {
    if (State.Pts1 == nullptr || State.Origin1.Definition == nullptr || State.Origin2.Definition == nullptr) return;
    const std::uint32_t random = RandomState();
    Colour unused = 0;
    SeedRandom(State.Origin1.Random);
    State.Origin1.Definition->Generate(State.Origin1.Count, State.Pts1, &unused, State.ScreenWidth, State.ScreenHeight);
    SeedRandom(State.Origin2.Random);
    State.Origin2.Definition->Generate(State.Origin2.Count, State.Pts2, &unused, State.ScreenWidth, State.ScreenHeight);
    SeedRandom(random);
    ComputeDeltas(State.Pts1, State.Pts2, State.PtsDX, State.PtsDY, State.PointCount);
    // A morph moves PtsA from Pts1 on its next step; a hold shows the target; Pick and Delta
    // show the source, which the hold's end made equal to the old target.
    if (State.Phase == Phase::Hold && State.PhaseClock != 0) CopyPoints(State.PtsA, State.Pts2, State.ShownPoints);
    else if (State.Phase == Phase::Pick || State.Phase == Phase::Delta) CopyPoints(State.PtsA, State.Pts1, State.ShownPoints);
    else if (State.Phase == Phase::Morph) {
        const std::int32_t clock = State.PhaseClock < CosTableSize ? State.PhaseClock : CosTableSize - 1;
        MorphPoints(State.PtsA, State.Pts1, State.PtsDX, State.PtsDY, State.CosTable[clock], State.ShownPoints);
    }
    State.PlottedPoints = -1;
}
