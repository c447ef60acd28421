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
    std::uint32_t* picture = nullptr;
    std::int32_t pictureWidth = 0, pictureHeight = 0;
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
    std::string statusText;
};

WebHost& Web();

// Marks a window rectangle as changed, for the page to copy to its canvas.
void MarkDirty(const platform::Rect& rect);
// Converts the frame presented last in full (the end of a run of ticks without converting).
void ConvertWholeFrame();
