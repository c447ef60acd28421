// Composing the window's picture from a presented frame and the status line.
#include "tools/render/frame_picture.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/font8x16.h"

bool StartWindowPicture(WindowPicture* picture, std::int32_t width, std::int32_t height) {
    picture->width = width < 0 ? 0 : width;
    picture->height = height < 0 ? 0 : height;
    const auto w = static_cast<std::size_t>(picture->width);
    try {
        picture->strip.assign(w * StatusStripHeight, PictureBlack);
        picture->pixels.assign(w * static_cast<std::size_t>(picture->height), PictureBlack);
    } catch (const std::bad_alloc&) {
        return false;
    }
    picture->colour = 0;
    return true;
}

void DrawStatusCells(WindowPicture* picture, const char* text, std::size_t length) {
    const auto width = static_cast<std::size_t>(picture->width);
    DrawTextCells<std::uint8_t>(picture->strip.data(), width, width, StatusStripHeight, text, length, PictureBlack,
                                PictureWhite);
}

void ComposeWindowPicture(WindowPicture* picture, const FrameHeaderData& header, const std::uint8_t* bits,
                          std::int32_t stride, std::int32_t top) {
    const auto width = static_cast<std::size_t>(picture->width);
    const std::int32_t height = picture->height;
    picture->colour = header.Colours[1];
    std::fill(picture->pixels.begin(), picture->pixels.end(), PictureBlack);

    const std::int32_t stripRows = std::min(height, StatusStripHeight);
    if (stripRows > 0) std::memcpy(picture->pixels.data(), picture->strip.data(), width * static_cast<std::size_t>(stripRows));

    // The image's own size, as the frame header gives it to the platform's copy.
    const std::int32_t imageRows = header.Height < 0 ? 0 : header.Height;
    const std::size_t imageWidth = std::min(width, static_cast<std::size_t>(header.Width < 0 ? 0 : header.Width));
    if (bits == nullptr) return;
    for (std::int32_t r = 0; r < imageRows; ++r) {
        const std::int64_t windowRow = static_cast<std::int64_t>(top) + r;
        if (windowRow < 0) continue;
        if (windowRow >= height) break;
        // Row r from the top is row imageRows - 1 - r of the bottom-first image.
        const std::uint8_t* in = bits + static_cast<std::size_t>(imageRows - 1 - r) * static_cast<std::size_t>(stride);
        std::uint8_t* out = picture->pixels.data() + static_cast<std::size_t>(windowRow) * width;
        for (std::size_t x = 0; x < imageWidth; ++x) out[x] = in[x] != 0 ? PicturePoint : PictureBlack;
    }
}

void PictureColours(Colour point, Colour colours[PictureColourCount]) {
    colours[PictureBlack] = 0;
    colours[PicturePoint] = point;
    colours[PictureWhite] = PictureWhiteColour;
}
