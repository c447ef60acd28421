// The morph cycle: Morph -> Hold -> Pick -> Delta -> Morph ...
#include <cstdint>
#include <limits>

#include "anim/anim.h"
#include "anim/morph.h"
#include "ifs/ifs_definition.h"

namespace {

// The phase clock never runs backwards and never overflows, so every easing index stays in range.
std::int32_t AdvanceClock(std::int32_t clock, std::int64_t step) {
    if (step < 0) step = 0;
    const std::int64_t sum = clock + step;
    return sum > std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::max()
                                                          : static_cast<std::int32_t>(sum);
}

// Where a move writes the points: the other array, so that PtsA's positions stay readable until
// the frame is presented (in place when there is no other array).
ScreenPoint* MoveTarget() { return State.PtsLast != nullptr ? State.PtsLast : State.PtsA; }

// After a move wrote the first count points into MoveTarget: the entries beyond count that the
// last move wrote only into PtsA are carried over, and the arrays swap.
void FinishMove(std::int32_t count) {
    if (State.PtsLast == nullptr) return;
    if (count < 0) count = 0;
    if (State.MovedPoints > count) CopyPoints(State.PtsLast + count, State.PtsA + count, State.MovedPoints - count);
    ScreenPoint* const moved = State.PtsLast;
    State.PtsLast = State.PtsA;
    State.PtsA = moved;
    State.MovedPoints = count;
}

// With plot set, the moved points also go into VScreen, in the same pass.
void MorphStep(std::int32_t dt, bool plot) {
    const std::int32_t k = State.CosTable[State.PhaseClock];
    State.ColourNow = BlendColour(State.ColourFrom, State.ColourTo, k);
    if (plot) {
        MorphAndPlotPoints(MoveTarget(), State.Pts1, State.PtsDX, State.PtsDY, k, State.ShownPoints, State.VScreen,
                           State.VScreenStride, State.ScreenWidth, State.ImageHeight);
    } else {
        MorphPoints(MoveTarget(), State.Pts1, State.PtsDX, State.PtsDY, k, State.ShownPoints);
    }
    FinishMove(State.ShownPoints);
    State.PhaseClock = AdvanceClock(State.PhaseClock, dt);
    if (State.PhaseClock >= MorphLength) {
        State.PhaseClock = 0;
        State.Phase = Phase::Hold;
    }
}

void HoldStep(std::int32_t dt) {
    if (State.PhaseClock == 0) {
        State.ColourNow = State.ColourTo;
        CopyPoints(MoveTarget(), State.Pts2, State.ShownPoints);
        FinishMove(State.ShownPoints);
        State.PhaseClock = 1;
    }
    // The hold clock runs at double speed: it ends after 1500 ms.
    State.PhaseClock = AdvanceClock(State.PhaseClock, dt < 0 ? 0 : 2 * static_cast<std::int64_t>(dt));
    if (State.PhaseClock > MorphLength) {
        State.PhaseClock = 0;
        State.ColourFrom = State.ColourTo;
        CopyPoints(State.Pts1, State.Pts2, State.ShownPoints);
        State.Origin1 = State.Origin2;
        State.Phase = Phase::Pick;
    }
}

void PickStep() {
    // The divisor is one more than the count: 0 and 1 both name the first definition.
    const std::int32_t n = NextRandom() % (State.DefinitionCount + 1);
    State.DefinitionNumber = n;
    IfsDefinition* def = State.FirstDefinition;
    for (std::int32_t i = 1; i < n && def->Next != nullptr; ++i) def = def->Next;
    State.PickedDefinition = def;
    State.Origin2 = {def, RandomState(), State.PointCount};
    def->Generate(State.PointCount, State.Pts2, &State.ColourTo, State.ScreenWidth, State.ScreenHeight);
    State.Phase = Phase::Delta;
}

void DeltaStep() {
    ComputeDeltas(State.Pts1, State.Pts2, State.PtsDX, State.PtsDY, State.PointCount);
    BoundMorph();
    State.Phase = Phase::Morph;
}

}  // namespace

void BoundMorph() {
    PointBox box;
    BoundPoints(State.Pts1, State.PointCount, &box);
    BoundPoints(State.Pts2, State.PointCount, &box);
    // A moving point stays between its source and its target, coordinate by coordinate, while
    // neither the difference nor its product with the easing factor (at most 1024) can wrap;
    // with coordinates farther out it may land anywhere.
    constexpr std::int32_t Reach = 1 << 20;
    if (box.left <= box.right && (box.left < -Reach || box.bottom < -Reach || box.right > Reach || box.top > Reach)) {
        box = {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::min(),
               std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::max()};
    }
    State.MorphBox = box;
}

void ResyncLastPoints() {
    CopyPoints(State.PtsLast, State.PtsA, State.PtsLast != nullptr ? State.PointCount : 0);
    State.MovedPoints = 0;
}

void StepPhase(std::int32_t dt) {
    switch (State.Phase) {
        case Phase::Morph: MorphStep(dt, false); break;
        case Phase::Hold: HoldStep(dt); break;
        case Phase::Pick: PickStep(); break;
        case Phase::Delta: DeltaStep(); break;
        default: break;
    }
}

bool StepKeepsPoints() {
    return State.Phase == Phase::Pick || State.Phase == Phase::Delta || (State.Phase == Phase::Hold && State.PhaseClock != 0);
}

void StepPhaseAndPlot(std::int32_t dt) {
    if (State.Phase == Phase::Morph) {
        MorphStep(dt, true);
        return;
    }
    StepPhase(dt);
    PlotPoints(State.VScreen, State.VScreenStride, State.ScreenWidth, State.ImageHeight, State.PtsA, State.ShownPoints);
}
