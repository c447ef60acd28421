// The browser's run: start-up on a canvas, the page's settings, and a clean slate for the next run.
#pragma once

#include <cstdint>

// What a page asks of a run.
struct WebStart {
    std::uint32_t seed = 0;
    std::int32_t width = 0;   // the canvas, device pixels
    std::int32_t height = 0;
    // The Windows settings preview: a tenth of the points, no status line, the image as tall as
    // the window (its lowest rows under the strip's height fall outside, as in a child window).
    bool preview = false;
    bool status = false;      // the status line on, whatever the file says
    // What all the saver's arrays together may take: a file's counts beyond it end the run with
    // the saver's own message instead of taking the tab's memory.
    std::uint64_t memoryBound = 0;
};

// The most a page lets the saver's arrays take: a million points at 1920x1080 need about 40 MB,
// a full 8K screen's frame 33 MB.
constexpr std::uint64_t WebMemoryBound = 384ull << 20;

// The largest canvas side a page hands over; anything larger is cut to it.
constexpr std::int32_t MaxWebSide = 16384;

// The rules of the page's own size parameter "WxH": two whole numbers from 1 to MaxWebSide. False
// for anything else (the page then fills its window instead).
bool ParseWebSize(const char* text, std::int32_t* width, std::int32_t* height);

// Start-up with the file the backend offers as "lumivex.ini": the window, the frame, the
// definitions, the animation; then the run goes on tick by tick as the page calls for them.
// 0, or the saver's exit code after its message (the backend has recorded it).
int StartWebSaver(const WebStart& start);

// Gives back everything a run allocated (the frame, the point arrays, the easing table, the
// definitions) and puts the record back to its start values: the page starts a new run on every
// edit, and the saver itself never frees what a run holds.
void EndWebRun();
