// Checked allocation of the saver's arrays.
#include "core/arrays.h"

#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <limits>


std::uint64_t DefaultAllocationLimit() {
    // Never more than half the address space, so a byte count always fits a signed offset.
    return static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max());
}

namespace {
std::uint64_t AllocationLimit = DefaultAllocationLimit();
std::int64_t AllocationsBeforeFailure = -1;
std::uint64_t BytesHandedOut = 0;
std::uint64_t MemoryBound = 0;
}  // namespace

void SetAllocationLimit(std::uint64_t bytes) { AllocationLimit = bytes; }
void SetMemoryBound(std::uint64_t bytes) { MemoryBound = bytes; }
std::uint64_t SaverMemoryBound(std::uint64_t physicalBytes) { return physicalBytes / 2; }
void FailAllocationsAfter(std::int64_t n) { AllocationsBeforeFailure = n; }

void ForgetHandedOutBytes() { BytesHandedOut = 0; }

bool CanAllocate(std::uint64_t count, std::uint64_t elementSize) {
    if (elementSize != 0 && count > AllocationLimit / elementSize) return false;
    if (MemoryBound != 0 && count * elementSize > MemoryBound - std::min(MemoryBound, BytesHandedOut)) return false;
    return true;
}

void* AllocateBytes(std::uint64_t count, std::uint64_t elementSize) {
    if (!CanAllocate(count, elementSize)) return nullptr;
    if (AllocationsBeforeFailure == 0) return nullptr;
    if (AllocationsBeforeFailure > 0) --AllocationsBeforeFailure;
    const std::uint64_t bytes = count * elementSize;
    BytesHandedOut += bytes;
    // malloc(0) may return null; one byte keeps "zero elements" a success.
    return std::malloc(bytes == 0 ? 1 : static_cast<std::size_t>(bytes));
}

void FreeBytes(void* block, std::uint64_t count, std::uint64_t elementSize) {
    if (block == nullptr) return;
    const std::uint64_t bytes = count * elementSize;
    BytesHandedOut -= std::min(BytesHandedOut, bytes);
    std::free(block);
}

std::uint64_t AllocatedBytes() { return BytesHandedOut; }
