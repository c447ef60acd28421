// What the web backend's platform functions and its exports to the page share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

// Where the page's definition file lies in the module's memory file system.
constexpr const char* WebFilePath = "/lumivex.ini";

struct WebHost {
    // The canvas, in device pixels.
    std::int32_t width = 0, height = 0;
    // The window's picture, RGBA bytes rows from the top: what the page puts on its canvas.
    // When the page draws the points itself (points), only the status strip's rows are held.
    std::uint32_t* picture = nullptr;
    std::int32_t pictureWidth = 0, pictureHeight = 0, pictureRows = 0;
    // The page draws the frame's points on its own (WebGL): the image is never converted, the
    // rectangles only say that something changed. Takes effect at the next picture.
    bool points = false;
    // The strip's pixels changed since the page last took them.
    bool stripChanged = false;
    // The rectangles of the picture changed since the page last took them, window pixels.
    std::vector<platform::Rect> dirty;
    // While false, a present only keeps the status strip up to date and leaves the image for
    // the last tick of a run of ticks (a still of N ticks converts one frame, not N).
    bool converting = true;
    bool wholePending = false;
    // The clock the page sets before each tick, ms, wrapping.
    std::uint32_t now = 0;
    // The messages the saver showed since the run began, in order.
    std::vector<std::string> messages;
    bool ended = false;  // the run's window was destroyed
    // The status line the strip shows, while stripHoldsText (drawn since the strip was last
    // blackened).
    std::string statusText;
    bool stripHoldsText = false;
};

WebHost& Web();

// Marks a window rectangle as changed, for the page to copy to its canvas.
void MarkDirty(const platform::Rect& rect);
// The header and the image's top row (window row) of the frame presented last.
const FrameHeaderData& LastFrameHeader();
std::int32_t LastFrameTop();
// Converts the frame presented last in full (the end of a run of ticks without converting).
void ConvertWholeFrame();
