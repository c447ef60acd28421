// Allocation of the saver's plain arrays: sizes checked for overflow, a limit tests can lower.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes for count elements of elementSize each, or nothing when the size cannot be represented
// in a std::size_t or exceeds the allocation limit. Zero elements give a valid, empty block.
void* AllocateBytes(std::uint64_t count, std::uint64_t elementSize);

template <typename T>
T* AllocateArray(std::uint64_t count) {
    return static_cast<T*>(AllocateBytes(count, sizeof(T)));
}

// The largest block AllocateBytes hands out; tests lower it to make allocations fail.
void SetAllocationLimit(std::uint64_t bytes);
std::uint64_t DefaultAllocationLimit();
