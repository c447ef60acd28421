// The per-point loops of a tick: integer arithmetic and byte stores only, no allocation.
#pragma once

#include <cstdint>

#include "core/saver_state.h"

// Copies the first count points (nothing when count <= 0).
void CopyPoints(ScreenPoint* to, const ScreenPoint* from, std::int32_t count);

// Widens box to hold the first count points (nothing when count <= 0).
void BoundPoints(const ScreenPoint* points, std::int32_t count, PointBox* box);

// dx[i] = target[i].x - source[i].x and likewise y, wrapping modulo 2^32.
void ComputeDeltas(const ScreenPoint* source, const ScreenPoint* target, std::int32_t* dx,
                   std::int32_t* dy, std::int32_t count);

// out[i] = source[i] + ((k * d[i]) >> 10) per coordinate, products and sums wrapping modulo 2^32.
void MorphPoints(ScreenPoint* out, const ScreenPoint* source, const std::int32_t* dx,
                 const std::int32_t* dy, std::int32_t k, std::int32_t count);

// Sets image[y * stride + x] to 1 for every point with 0 <= x < width and 0 <= y < height.
void PlotPoints(std::uint8_t* image, std::int32_t stride, std::int32_t width, std::int32_t height,
                const ScreenPoint* points, std::int32_t count);

// Sets back to 0 every byte that PlotPoints would set to 1 for the same points.
void UnplotPoints(std::uint8_t* image, std::int32_t stride, std::int32_t width, std::int32_t height,
                  const ScreenPoint* points, std::int32_t count);

// MorphPoints and then PlotPoints of its output, in one pass over the points: each point is
// plotted while it is still in a register, so the moved points are not read back from memory.
void MorphAndPlotPoints(ScreenPoint* out, const ScreenPoint* source, const std::int32_t* dx,
                        const std::int32_t* dy, std::int32_t k, std::int32_t count, std::uint8_t* image,
                        std::int32_t stride, std::int32_t width, std::int32_t height);
