// The 8-bit frame image as 32-bit pixels, for every backend that composes its own picture (X11, Wayland, the web page).
#pragma once

#include <cstddef>
#include <cstdint>

// Turns `rows` rows of the frame image (one byte a pixel, 0 for colour 0 and anything else for
// colour 1, bottom row first, rows `stride` bytes apart) into 32-bit pixels, top row first, rows
// `pitch` pixels apart from `out`: the first `width` pixels of each row are written, nothing else.
void ConvertFrameRows(const std::uint8_t* bits, std::size_t stride, std::size_t width, std::size_t rows,
                      const std::uint32_t colours[2], std::uint32_t* out, std::size_t pitch);

// A colour 0xRRGGBB as a pixel of a TrueColor visual with these channel masks.
std::uint32_t PixelOfColour(std::uint32_t colour, std::uint32_t redMask, std::uint32_t greenMask,
                            std::uint32_t blueMask);
