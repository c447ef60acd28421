// The saver's global record and its random source.
#include "shell/saver_state.h"

SaverState State;

namespace {
std::uint32_t RandomSeedState = 0;
}

void ResetSaverState() { State = SaverState{}; }

void SeedRandom(std::uint32_t seed) { RandomSeedState = seed; }

std::int32_t NextRandom() {
    RandomSeedState = RandomSeedState * 214013u + 2531011u;
    return static_cast<std::int32_t>((RandomSeedState >> 16) & 0x7FFFu);
}

std::uint32_t RandomState() { return RandomSeedState; }
