// The one process-wide record of run-time data, its shared types, and the random source beside it.
#pragma once

#include <cstdint>

class IfsDefinition;

// A host object (module, window, mutex) as the platform sees it; the core only stores and passes it.
using PlatformHandle = void*;

// A pixel of the frame image; y grows upwards (row 0 is the bottom row).
struct ScreenPoint {
    std::int32_t x;
    std::int32_t y;
};

// Blue in bits 0-7, green in 8-15, red in 16-23, zero above.
using Colour = std::uint32_t;

enum RunMode : std::int32_t { Saver = 1, Configure = 2, Preview = 3 };

enum Phase : std::int32_t { Morph = 0, Hold = 2, Pick = 3, Delta = 4 };

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

struct SaverState {
    // Run and window.
    std::int32_t Mode = 0;
    PlatformHandle Instance = nullptr;
    PlatformHandle Window = nullptr;
    PlatformHandle InstanceLock = nullptr;
    std::int32_t SavedCursorX = 0;
    std::int32_t SavedCursorY = 0;
    // Whether SavedCursor holds a position read from the platform; until it does, nothing is compared.
    bool SavedCursorValid = false;
    std::int32_t ScreenWidth = 0;
    std::int32_t ScreenHeight = 0;
    std::int32_t ImageHeight = 0;
    std::uint8_t* VScreen = nullptr;
    // Bytes from one row of VScreen to the next: ScreenWidth rounded up to a multiple of 4, the
    // row layout the platform's copy of an 8-bit image expects. The padding bytes stay 0.
    std::int32_t VScreenStride = 0;
    FrameHeaderData FrameHeader = {};
    std::int32_t ShowStatus = 0;

    // Definitions.
    IfsDefinition* FirstDefinition = nullptr;
    std::int32_t DefinitionCount = 0;
    IfsDefinition* PickedDefinition = nullptr;
    std::int32_t DefinitionNumber = 0;

    // Points.
    std::int32_t PointCount = 0;
    std::int32_t ShownPoints = 0;
    std::int32_t MinPoints = 0;
    std::int32_t GrowLimit = 0;
    ScreenPoint* Pts1 = nullptr;
    ScreenPoint* Pts2 = nullptr;
    ScreenPoint* PtsA = nullptr;
    std::int32_t* PtsDX = nullptr;
    std::int32_t* PtsDY = nullptr;
    std::int32_t* CosTable = nullptr;

    // Colours and timing.
    Colour ColourFrom = 0;
    Colour ColourTo = 0;
    Colour ColourNow = 0;
    std::int32_t Phase = Morph;
    std::int32_t PhaseClock = 0;
    std::uint32_t LastTick = 0;
    std::int32_t Interval1 = 0;
    std::int32_t Interval2 = 0;

    // What the last tick left in VScreen, so that the next one clears only that: exactly the
    // first PlottedPoints entries of PtsA, plotted. -1 when not known: the next tick clears the
    // whole image. Whatever writes VScreen or PtsA outside a tick sets it back to -1.
    std::int32_t PlottedPoints = -1;
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
