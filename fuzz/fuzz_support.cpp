// Shared set-up and clean-up of the fuzz targets.
#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>

#include "core/arrays.h"
#include "core/saver_state.h"
#include "ifs/ifs_definition.h"
#include "backends/headless/headless_host.h"
#include "saver/saver_run.h"

namespace {

void FreeSaverMemory() {
    ReleaseSaverMemory();
    ResetHost();
}

}  // namespace

void BeginInput(std::uint64_t memoryBound) {
    // The previous input's EndInput has freed everything and reset the host.
    ResetSaverState();
    SetAllocationLimit(memoryBound);
    SetMemoryBound(memoryBound);
    FailAllocationsAfter(-1);
    SeedRandom(0);
    Host().physicalMemory = memoryBound;  // start-up takes its bound from here
}

void EndInput() { FreeSaverMemory(); }

void OfferDefinitionFile(const std::uint8_t* data, std::size_t size) {
    HeadlessHost& host = Host();
    host.useDefinitionFile = true;
    // fmemopen wants a buffer even for an empty file.
    static const std::uint8_t Empty = 0;
    host.definitionBytes = size > 0 ? data : &Empty;
    host.definitionSize = size;
}

void Broken(const char* what) {
    std::fprintf(stderr, "lumivex fuzz: %s\n", what);
    std::abort();
}

std::vector<std::string> SplitAtNul(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words;
    if (size == 0) return words;
    words.emplace_back();
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) words.emplace_back();
        else words.back() += static_cast<char>(data[i]);
    }
    return words;
}
