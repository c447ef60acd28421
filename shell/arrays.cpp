// Checked allocation of the saver's arrays.
#include "shell/arrays.h"

#include <cstdint>
#include <cstdlib>
#include <limits>

std::uint64_t DefaultAllocationLimit() {
    // Never more than half the address space, so a byte count always fits a signed offset.
    return static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max());
}

namespace {
std::uint64_t AllocationLimit = DefaultAllocationLimit();
}

void SetAllocationLimit(std::uint64_t bytes) { AllocationLimit = bytes; }

void* AllocateBytes(std::uint64_t count, std::uint64_t elementSize) {
    if (elementSize != 0 && count > AllocationLimit / elementSize) return nullptr;
    const std::uint64_t bytes = count * elementSize;
    // malloc(0) may return null; one byte keeps "zero elements" a success.
    return std::malloc(bytes == 0 ? 1 : static_cast<std::size_t>(bytes));
}
