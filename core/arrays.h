// Allocation of the saver's plain arrays: sizes checked for overflow, a limit tests can lower.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes for count elements of elementSize each, or nothing when the size cannot be represented
// in a std::size_t, exceeds the allocation limit, or would take the saver's arrays together past
// the memory bound (a share of the machine's physical memory: a run that would starve the
// desktop is refused with its message instead). Zero elements give a valid, empty block.
void* AllocateBytes(std::uint64_t count, std::uint64_t elementSize);

// Whether AllocateBytes(count, elementSize) would pass its size checks, the allocation limit and
// the memory bound as they stand now, worked out without allocating anything.
bool CanAllocate(std::uint64_t count, std::uint64_t elementSize);

template <typename T>
T* AllocateArray(std::uint64_t count) {
    return static_cast<T*>(AllocateBytes(count, sizeof(T)));
}

// The largest block AllocateBytes hands out; tests lower it to make allocations fail.
void SetAllocationLimit(std::uint64_t bytes);
std::uint64_t DefaultAllocationLimit();

// What all blocks together may take, in bytes; 0 (the start value) for no bound. Start-up sets it
// to SaverMemoryBound of the machine's physical memory before the first array; tests and fuzz
// targets set less.
void SetMemoryBound(std::uint64_t bytes);

// The share of a machine's physical memory the saver's arrays may take: half, so that the
// desktop, the compositor and the programs the user left open keep the other half. 0 (memory
// unknown) stays 0, no bound.
std::uint64_t SaverMemoryBound(std::uint64_t physicalBytes);

// For programs that free the saver's arrays themselves and start it again in the same process
// (fuzz targets, the soak): counts every block handed out so far as given back.
void ForgetHandedOutBytes();

// For tests: let n more allocations succeed, then fail every one (a negative n: never fail).
void FailAllocationsAfter(std::int64_t n);
// Gives back a block of count elements of elementSize each that AllocateBytes handed out (null:
// nothing), so the memory bound counts it no more. Only the frame image is ever given back: a
// window that changes size gets a new one.
void FreeBytes(void* block, std::uint64_t count, std::uint64_t elementSize);
// The bytes of all blocks handed out and not given back: what the memory bound is held against.
std::uint64_t AllocatedBytes();
