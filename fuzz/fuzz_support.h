// What the fuzz targets share: a clean saver for every input, a small memory bound, and the
// definition file handed over from memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Frees whatever the previous input left, puts the record, the host and the allocator back to
// their start values, and bounds the saver's arrays to memoryBound bytes in all (the limit the
// saver itself takes from the machine's physical memory): a huge count in a file is then refused
// at once instead of costing time or memory.
void BeginInput(std::uint64_t memoryBound);

// Frees the arrays and definitions the saver allocated for this input (the saver itself never
// frees them: they live until its process ends), so each input leaves nothing behind.
void EndInput();

// Makes bytes the file the saver finds as lumivex.ini, read from memory (no disk, no copy).
void OfferDefinitionFile(const std::uint8_t* data, std::size_t size);

// Stops the run with a message when a property the code promises does not hold.
[[noreturn]] void Broken(const char* what);

// The input split into words at NUL bytes (an empty input gives no word), for command-line targets.
std::vector<std::string> SplitAtNul(const std::uint8_t* data, std::size_t size);
