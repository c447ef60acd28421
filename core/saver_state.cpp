// The saver's global record and its random source.
#include "core/saver_state.h"

SaverState State;

namespace {
std::uint32_t RandomSeedState = 0;
}

void ResetSaverState() { State = SaverState{}; }

void SeedRandom(std::uint32_t seed) { RandomSeedState = seed; }

std::int32_t NextRandom() { return StepRandom(&RandomSeedState); }

std::uint32_t RandomState() { return RandomSeedState; }
