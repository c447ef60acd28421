// The JSON-lines dump of a headless run: hashes and counters that pin a run down.
#pragma once

#include <cstdint>
#include <string>

#include "core/saver_state.h"

// FNV-1a, 64 bits.
std::uint64_t Fnv1a(const void* data, std::size_t length, std::uint64_t hash = 0xcbf29ce484222325ULL);

// The frame image as ImageHeight rows of exactly ScreenWidth bytes, bottom row first.
std::uint64_t ImageHash(const SaverState& state);
// Every point x then y, each a 4-byte little-endian two's-complement integer.
std::uint64_t PointsHash(const ScreenPoint* points, std::int32_t count);
// How many bytes of the image are 1.
std::uint64_t LitPixels(const SaverState& state);

std::string HashText(std::uint64_t hash);  // 16 lowercase hex digits

// The line written after start-up, and the line written after tick i with interval dt.
std::string StartLine(const SaverState& state);
std::string TickLine(const SaverState& state, std::uint32_t tick, std::int32_t dt, const std::string* status);
