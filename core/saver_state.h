// The one process-wide record of run-time data, its shared types, and the random source beside it.
#pragma once

#include <cstdint>

#include "core/exit_codes.h"

class IfsDefinition;

// A host object (module, window, mutex) as the platform sees it; the core only stores and passes it.
using PlatformHandle = void*;

// A pixel of the frame image; y grows upwards (row 0 is the bottom row).
struct ScreenPoint {
    std::int32_t x;
    std::int32_t y;
};

// A box of points, corners included; empty when left > right. Coordinates as ScreenPoint.
struct PointBox {
    std::int32_t left = 1, bottom = 1, right = 0, top = 0;
};

// Blue in bits 0-7, green in 8-15, red in 16-23, zero above.
using Colour = std::uint32_t;

// How the saver runs, chosen from the command line. The values are part of the dump. A record
// holds 0, which names no mode, until start-up has chosen one. Window is the Linux program's
// window that input does not end (a host's, or its own on the desktop): all the points, the
// status line as the file says, the image below the status strip.
enum class RunMode : std::int32_t { Saver = 1, Configure = 2, Preview = 3, Window = 4 };

// The step of the morph cycle; 1 is unused. The values are part of the dump.
enum class Phase : std::int32_t { Morph = 0, Hold = 2, Pick = 3, Delta = 4 };

// Laid out exactly as the platform's BITMAPINFO with two colour entries, so a backend can hand
// it over unchanged.
struct FrameHeaderData {
    std::uint32_t Size;
    std::int32_t Width;
    std::int32_t Height;
    std::uint16_t Planes;
    std::uint16_t BitCount;
    std::uint32_t Compression;
    std::uint32_t SizeImage;
    std::int32_t XPelsPerMeter;
    std::int32_t YPelsPerMeter;
    std::uint32_t ClrUsed;
    std::uint32_t ClrImportant;
    std::uint32_t Colours[2];  // entry 0 black, entry 1 the colour of this frame's points
};
static_assert(sizeof(FrameHeaderData) == 48, "FrameHeaderData must match BITMAPINFO with two colours");

// The height of the status strip above the frame image, in window rows.
constexpr std::int32_t StatusStripHeight = 16;

// How a point set was made: the definition, the random source's state before its Generate, and
// the count. Making it again with these at another size gives the same set fitted to that size.
struct PointSetOrigin {
    const IfsDefinition* Definition = nullptr;
    std::uint32_t Random = 0;
    std::int32_t Count = 0;
};

// How the regulation gives points back, a decision of each host's start-up: the Windows tick
// counter's coarse steps make 0 ms intervals common, a millisecond clock paced by the display
// never gives one.
enum class PointRegulation : std::uint8_t {
    ZeroInterval,  // 100 points back on every tick whose interval measured 0 ms (Windows)
    FastRun,       // 100 points back after a run of fast ticks (every other host)
};

struct SaverState {
    // Run and window: written by start-up, read by the window procedure and the tick.
    RunMode Mode = RunMode{0};             // the run mode; 0 until the command line is read
    PlatformHandle Instance = nullptr;     // the process's module, for the window class and window
    PlatformHandle Window = nullptr;       // the saver window
    PlatformHandle InstanceLock = nullptr; // the single-instance lock, held until the process ends
    std::int32_t SavedCursorX = 0;         // cursor position taken at start-up, screen pixels
    std::int32_t SavedCursorY = 0;
    // Whether SavedCursor holds a position read from the platform; until it does, nothing is compared.
    bool SavedCursorValid = false;
    std::int32_t ScreenWidth = 0;          // window and frame image width, pixels
    std::int32_t ScreenHeight = 0;         // window height, pixels; Generate scales y to it
    std::int32_t ImageHeight = 0;          // frame image rows: ScreenHeight, less the strip without a parent
    std::uint8_t* VScreen = nullptr;       // the frame image, one byte (0 or 1) a pixel, bottom row first
    // Bytes from one row of VScreen to the next: ScreenWidth rounded up to a multiple of 4, the
    // row layout the platform's copy of an 8-bit image expects. The padding bytes stay 0.
    std::int32_t VScreenStride = 0;
    FrameHeaderData FrameHeader = {};      // describes VScreen to the platform; colour 1 set each tick
    bool ShowStatus = false;               // the status line is written on every tick

    // Definitions: the list the loader read, and the morph cycle's choice from it.
    IfsDefinition* FirstDefinition = nullptr;  // head of the list, in file order
    std::int32_t DefinitionCount = 0;          // length of the list
    IfsDefinition* PickedDefinition = nullptr; // chosen by the last Pick
    std::int32_t DefinitionNumber = 0;         // the number the status line shows

    // Points: every array holds PointCount entries; ticks move and draw the first ShownPoints.
    std::int32_t PointCount = 0;   // configured number of points
    std::int32_t ShownPoints = 0;  // points moved and drawn now; never above PointCount
    std::int32_t MinPoints = 0;    // regulation lowers ShownPoints only while above this
    std::int32_t GrowLimit = 0;    // regulation raises ShownPoints only while at or below this
    PointRegulation Regulation = PointRegulation::ZeroInterval;
    std::int32_t FastTicks = 0;    // FastRun: fast ticks in a row since the run last began
    ScreenPoint* Pts1 = nullptr;   // source set of the running morph
    ScreenPoint* Pts2 = nullptr;   // target set of the running morph
    ScreenPoint* PtsA = nullptr;   // the set drawn on each tick
    // The positions PtsA held before the last tick that moved the points: a move writes into this
    // array and swaps the two, so the present still knows which pixels the last frame lit. Beyond
    // the first MovedPoints entries the two arrays hold the same points.
    ScreenPoint* PtsLast = nullptr;
    std::int32_t MovedPoints = 0;
    std::int32_t* PtsDX = nullptr; // per point: target x - source x, pixels
    std::int32_t* PtsDY = nullptr; // per point: target y - source y, pixels
    std::int32_t* CosTable = nullptr;  // 3000 easing factors 0 to 1023 (value/1024), by ms of morph
    PointSetOrigin Origin1;        // how Pts1 was made (a Pts2 copied into it keeps that one's origin)
    PointSetOrigin Origin2;        // how Pts2 was made

    // Colours and timing.
    Colour ColourFrom = 0;            // colour at the start of the morph
    Colour ColourTo = 0;              // colour at the end of the morph
    Colour ColourNow = 0;             // colour of this frame's points
    ::Phase Phase = ::Phase::Morph;   // step of the morph cycle
    std::int32_t PhaseClock = 0;      // ms accumulated in the current phase
    std::uint32_t LastTick = 0;       // tick count of the previous tick, ms (wraps at 2^32)
    std::int32_t Interval1 = 0;       // interval of the previous tick, ms
    std::int32_t Interval2 = 0;       // interval of the tick before that, ms

    // What the last tick left in VScreen, so that the next one clears only that: exactly the
    // first PlottedPoints entries of PtsA, plotted. -1 when not known: the next tick clears the
    // whole image, presents it whole and takes PtsLast and the boxes below afresh. Whatever writes
    // VScreen, PtsA, Pts1 or Pts2 outside a tick sets it back to -1.
    std::int32_t PlottedPoints = -1;
    // Bounds of points, for the present's damage rectangles: every point the running morph can
    // reach (from Pts1 and Pts2, taken at each Delta), and every point the last frame plotted.
    PointBox MorphBox = {};
    PointBox PlottedBox = {};
    // The status line the last frame showed, to tell when its text changes; -1 before the first.
    char StatusShown[64] = {};
    std::int32_t StatusShownLength = -1;
};

// Two's-complement helpers: wrapping where the arithmetic must wrap, without signed overflow.
inline std::int32_t WrapAdd(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
inline std::int32_t WrapSub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
inline std::int32_t WrapMul(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

// The record every part of the program reaches.
extern SaverState State;

// Puts the record back to its start values. Arrays it held are not freed (they live until the
// process ends); tests that run start-up many times call this between runs.
void ResetSaverState();

// The random source: a 32-bit linear congruential generator.
void SeedRandom(std::uint32_t seed);
std::int32_t NextRandom();  // 0 to 32767
std::uint32_t RandomState();

// One step of the same generator on a copy of its state, for a loop that draws many numbers:
// take the state with RandomState, draw, and put it back with SeedRandom.
inline std::int32_t StepRandom(std::uint32_t* state) {
    *state = *state * 214013u + 2531011u;
    return static_cast<std::int32_t>((*state >> 16) & 0x7FFFu);
}
