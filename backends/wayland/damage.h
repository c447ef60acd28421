// Which pixels of a buffer that holds an older frame must change for it to show the newest one:
// from the damage of the last frames, the most any of two buffers in turn falls behind; and the
// point-by-point update of a 32-bit buffer from the tick's cleared and plotted lists.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// What a frame changed, as the buffers need it after its tick: the identity of its point lists
// (a later frame's cleared list is an earlier one's plotted list when both are the same array
// with the same count) and the colours it drew in.
struct FramePoints {
    bool whole = true;  // no lists: every pixel may have changed
    const ScreenPoint* cleared = nullptr;
    std::int32_t clearedCount = 0;
    const ScreenPoint* plotted = nullptr;
    std::int32_t plottedCount = 0;
    Colour colour0 = 0, colour1 = 0;
};

struct DamageHistory {
    static constexpr int Depth = 3;          // frames kept: the newest, and the two before
    std::uint64_t frame = 0;                 // frames recorded so far; frame numbers start at 1
    platform::FrameDamage last[2] = {};      // the damage of frame `frame`, then of the one before
    FramePoints points[Depth] = {};          // the points of frame `frame`, `frame` - 1, `frame` - 2
};

// The tick presented frame number history->frame + 1 with this damage, in these colours.
void RecordDamage(DamageHistory* history, const platform::FrameDamage& damage, Colour colour0 = 0, Colour colour1 = 0);

// A frame that changed nothing: no pixel, no list.
bool ChangesNothing(const platform::FrameDamage& damage);

// The window rectangles in which a buffer holding frame `held` (0: nothing known) differs from
// the newest frame: true with up to 2 * MaxRects rectangles in rects (count 0: none differs);
// false when it must be redrawn whole.
bool DamageSince(const DamageHistory& history, std::uint64_t held, platform::Rect* rects, int* count);

// The rectangle moved by (dx, dy) and cut to width x height; false when nothing is left.
bool PlaceRect(platform::Rect rect, std::int32_t dx, std::int32_t dy, std::int32_t width, std::int32_t height,
               platform::Rect* out);

// --- Point by point ---

// Where the frame lies in a buffer: the buffer's size, the frame's window at (dx, dy) in it, the
// image below `top` window rows of strip.
struct PointLayout {
    std::int32_t width = 0, height = 0;      // the buffer, in pixels
    std::int32_t dx = 0, dy = 0;             // the window's top-left corner in the buffer
    std::int32_t top = 0;                    // rows of the strip above the image
    std::int32_t imageWidth = 0, imageHeight = 0;
};
bool SameLayout(const PointLayout& a, const PointLayout& b);

// The buffer positions (row << 16 | column) of the last plotted list a buffer was brought up to
// date with: what clearing that list again writes, in this buffer or another of the same layout.
// `at` holds `capacity` entries, allocated once with the buffer.
struct KeptPoints {
    std::uint32_t* at = nullptr;
    std::int32_t capacity = 0;
    std::int32_t count = 0;
    std::uint64_t frame = 0;                 // the frame that plotted the list; 0: nothing kept
    const ScreenPoint* from = nullptr;       // the list's identity
    std::int32_t fromCount = 0;
    PointLayout layout;
    // Every lit pixel of the buffer's image lies at a kept position: clearing them leaves the image
    // blank, and the clears of the frames after that write nothing new.
    bool exact = false;
};

// One step of bringing a buffer up to date: a frame's cleared or plotted list, from the tick's
// arrays (the newest frame) or from a buffer's kept positions (an older one).
struct PointStep {
    // Mark*: a clear that changes nothing in this buffer (its image is blank) whose points still
    // changed since the last commit: only their cells are marked.
    enum Kind { ClearNewest, PlotNewest, ClearKept, PlotKept, MarkNewest, MarkKept } kind;
    const KeptPoints* kept;                  // ClearKept, PlotKept
    Colour colour;                           // the pixel value written (the frame's colour, or colour 0)
    std::uint64_t frame;                     // the frame whose change this is
};

struct PointPlan {
    static constexpr int MaxSteps = 2 * (DamageHistory::Depth - 1);
    int count = 0;
    PointStep steps[MaxSteps] = {};
    bool strip = false;                      // a rectangle of a missed frame covers the strip
    std::int64_t points = 0;                 // pixels the steps write, at most
    // After the steps, the buffer's kept list is the newest frame's (PlotNewest), this one's
    // (copied), its own as it was (nothing plotted since), or none.
    const KeptPoints* carry = nullptr;
    bool keepOwn = false;
    bool exact = false;                      // the buffer's kept list is exact afterwards
    std::uint64_t unmarked = 0;              // the last frame whose changed points cannot be marked
};

// How a buffer holding frame `held` with its kept list `own` comes to show the newest frame point
// by point: every missed frame's clears and plots in turn, the lists of older frames from the
// kept positions of `own` or of `others` (buffers of the same layout), a plot left out when the
// next frame clears the same list. An exact buffer whose kept list a frame clears is blank after
// that clear: the clears after it are left out too, until something is plotted. False when that cannot be done: nothing known, more than two
// frames behind, a whole frame or a new colour 0 among them, or a list that no buffer kept.
bool PlanPoints(const DamageHistory& history, std::uint64_t held, const KeptPoints& own, const KeptPoints* const* others,
                int otherCount, const PointLayout& layout, PointPlan* plan);

// The cells (CellSize x CellSize buffer pixels) that hold a changed point, for the damage given
// to the compositor. `marks` holds columns x rows bytes, allocated once with the buffer.
struct DamageCells {
    static constexpr int Shift = 6;
    static constexpr std::int32_t CellSize = 1 << Shift;
    std::uint8_t* marks = nullptr;
    std::int32_t columns = 0, rows = 0;
    std::int64_t marked = 0;
};
void ClearCells(DamageCells* cells);

// Carries out the plan in `pixels` (layout.width x layout.height, 32 bits a pixel): the newest
// frame's lists from `newest`, the image points mapped through `layout`. The newest frame's
// plotted list becomes `own`'s kept positions (or none, past its capacity). The points of the
// steps of frames after `shown` are marked in `cells` (null: none). The pixels written.
std::int64_t RunPointPlan(const PointPlan& plan, std::uint32_t* pixels, const PointLayout& layout,
                          const platform::FrameDamage& newest, std::uint64_t newestFrame, KeptPoints* own,
                          DamageCells* cells, std::uint64_t shown);

// Takes the newest frame's plotted list as `own`'s kept positions without drawing (a buffer that
// was drawn from rectangles); none when the frame has no list or it does not fit.
void KeepNewest(const DamageHistory& history, const platform::FrameDamage& newest, const PointLayout& layout,
                KeptPoints* own);

// Whether every lit pixel of the frame image lies at one of `kept`'s positions, in a buffer that
// shows the frame whole: as many lit pixels in the image as kept positions, told apart. The
// positions are marked in the top byte of `pixels` (which the compositor does not read) while
// they are counted, and the marks taken away again. For a buffer just drawn from the image.
bool KeptHoldsEveryLitPixel(const KeptPoints& kept, std::uint32_t* pixels, const PointLayout& layout,
                            const FrameHeaderData& header, const std::uint8_t* bits, std::int32_t stride);

// The damage to give the compositor from the marked cells: the buffer's rows of cells taken in
// `bands` bands of equal height (one row of cells a band when `bands` is 0), one rectangle a band
// from its first marked column to its last, bands of the same columns joined, cut to the buffer.
// The band edges stay where they are from frame to frame, so that the compositor's union of the
// last frames' damage has no more rectangles than one frame's. Up to `capacity` rectangles; false
// when there would be more.
bool CellRects(const DamageCells& cells, std::int32_t width, std::int32_t height, int bands, platform::Rect* rects,
               int capacity, int* count);
// The bands the damage is given in (docs/performance.md has the measurements that chose them):
// at most 17 rectangles and the strip at 1920x1080 and 3840x2160.
constexpr int DamageBands = 24;

// --- A buffer brought up to date ---

// The frame as the tick presents it: its 8-bit image below `top` rows of strip, in a window of
// windowWidth x windowHeight.
struct FrameImage {
    const FrameHeaderData* header;
    const std::uint8_t* bits;
    std::int32_t stride, top;
    std::int32_t windowWidth, windowHeight;
};

// Where the frame lies in a buffer of width x height: the window in its middle.
PointLayout LayoutFor(const FrameImage& frame, std::int32_t width, std::int32_t height);

// Converts the window pixels of `area` from the frame into the buffer, the window at (dx, dy) in
// it; window pixels outside the image (the strip, beyond the image) go black.
void DrawInto(std::uint32_t* pixels, std::int32_t width, std::int32_t height, const platform::Rect& area,
              std::int32_t dx, std::int32_t dy, const FrameImage& frame);

struct BufferUpdate {
    bool byPoints = false;       // point by point; else from rectangles or whole
    bool strip = false;          // the strip was drawn again: the status text goes over it
    bool cellsKnown = false;     // `cells` holds every change since the commit of frame `shown`
    std::int64_t points = 0;     // pixels written point by point
    std::int64_t converted = 0;  // pixels converted from the image
};

// Brings a buffer of width x height holding frame `held` (with its kept list `own`; `other`: the
// kept list of the surface's other buffer, or null) up to the newest frame of `history`, which the
// tick presents now with `newest` and `frame` (`newest` changed nothing: its lists are not the
// newest frame's, and the buffer is drawn from rectangles). Point by point where PlanPoints can,
// else from the rectangles since `held`, else whole; the points since frame `shown` marked in
// `cells`, which the caller cleared. Afterwards the buffer holds the newest frame.
BufferUpdate UpdateBuffer(const DamageHistory& history, const platform::FrameDamage& newest, const FrameImage& frame,
                          std::uint32_t* pixels, std::int32_t width, std::int32_t height, std::uint64_t held,
                          KeptPoints* own, const KeptPoints* other, DamageCells* cells, std::uint64_t shown);

// The damage to give the compositor for a commit of the newest frame after frame `shown`: the
// tick's rectangles, or the bands of `cells` (with the strip where it changed) when they are known
// and cost less; all the buffer when nothing is known. Rectangles in buffer pixels; the name of the
// choice ("box", "cells" or "whole").
constexpr int GivenDamageMax = 2 * platform::FrameDamage::MaxRects + 33;
const char* ChooseDamage(const DamageHistory& history, std::uint64_t shown, const DamageCells& cells, bool cellsKnown,
                         const FrameImage& frame, std::int32_t width, std::int32_t height, platform::Rect* rects,
                         int* count);

// What a damage costs the compositor, in pixels: its area and, for each rectangle, what a
// rectangle costs beyond its pixels.
constexpr std::int64_t RectangleCost = 2048;
std::int64_t DamageCost(const platform::Rect* rects, int count);
