// The picture the saver's window shows after a tick: status strip on top, frame image below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/saver_state.h"

// Entries of a picture's colour table.
enum PictureIndex : std::uint8_t {
    PictureBlack = 0,  // the black strip and image byte 0
    PicturePoint = 1,  // image byte 1, in the tick's colour
    PictureWhite = 2,  // the background of the status line's character cells
};
constexpr int PictureColourCount = 3;
constexpr Colour PictureWhiteColour = 0xFFFFFF;

struct WindowPicture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    // The status strip as the window keeps it: blackened once, then only overwritten by status
    // lines, so a longer earlier line stays visible past the end of a shorter one.
    std::vector<std::uint8_t> strip;  // StatusStripHeight rows of width entries
    // The whole window, rows from the top, one PictureIndex per pixel.
    std::vector<std::uint8_t> pixels;
    Colour colour = 0;  // the colour of PicturePoint
};

// Sizes the picture to the window and blackens its strip; false when the memory is not there.
bool StartWindowPicture(WindowPicture* picture, std::int32_t width, std::int32_t height);

// Writes a status line at (0, 0) the way the window does: black characters in white 8 x 16
// cells, clipped at the right edge; the strip beyond the last cell keeps what it had.
void DrawStatusCells(WindowPicture* picture, const char* text, std::size_t length);

// Composes the window: the strip, then the frame image (bottom row first in bits, rows
// `stride` bytes apart) from window row `top` down, cut off at the window's last row.
void ComposeWindowPicture(WindowPicture* picture, const FrameHeaderData& header, const std::uint8_t* bits,
                          std::int32_t stride, std::int32_t top);

// A picture's colour table as 0xRRGGBB values, indexed by PictureIndex, for points in `point`.
void PictureColours(Colour point, Colour colours[PictureColourCount]);
