// The platform seam in a web page: a canvas's picture kept in memory, the page's clock and events.
// The page (site/lumivex.js) drives the run: it sets the clock, calls each tick and copies the
// changed rectangles of the picture to its canvas.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "backends/web/web_backend.h"
#include "core/font8x16.h"
#include "core/convert.h"
#include "platform/desktop_host.h"

namespace {

WebHost TheWeb;
// The one canvas: the saver's window.
PlatformHandle const Canvas = reinterpret_cast<PlatformHandle>(std::intptr_t{1});
bool WindowAlive = false;

constexpr std::uint32_t Opaque = 0xFF000000u;

// 0x00RRGGBB as the canvas's bytes R, G, B, A read as one little-endian word.
std::uint32_t CanvasPixel(Colour c) {
    return Opaque | (c & 0xFFu) << 16 | (c & 0xFF00u) | (c >> 16 & 0xFFu);
}

// The last presented frame, kept for a conversion that comes later.
struct Frame {
    FrameHeaderData header{};
    const std::uint8_t* bits = nullptr;
    std::int32_t stride = 0, top = 0;
} Last;

// Writes window rows [top, bottom) x columns [left, right) of the image part from the frame.
void ConvertRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom) {
    WebHost& w = TheWeb;
    if (w.picture == nullptr || Last.bits == nullptr || w.points) return;
    const std::int32_t rows = Last.header.Height < 0 ? 0 : Last.header.Height;
    const std::int32_t imageWidth = std::min(w.pictureWidth, Last.header.Width < 0 ? 0 : Last.header.Width);
    top = std::max(top, Last.top);
    bottom = std::min({bottom, w.pictureHeight, Last.top + rows});
    left = std::max(left, 0);
    right = std::min(right, imageWidth);
    if (left >= right) return;
    if (top >= bottom) return;
    const std::uint32_t colours[2] = {Opaque, CanvasPixel(Last.header.Colours[1])};
    // Window row y is image row rows - 1 - (y - Last.top) from the foot: the lowest row asked for first.
    ConvertFrameRows(Last.bits + static_cast<std::size_t>(rows - (bottom - Last.top)) * Last.stride + left,
                     static_cast<std::size_t>(Last.stride), static_cast<std::size_t>(right - left),
                     static_cast<std::size_t>(bottom - top), colours,
                     w.picture + static_cast<std::size_t>(top) * w.pictureWidth + left, static_cast<std::size_t>(w.pictureWidth));
}

// Sets the picture's pixels of image points (row 0 at the image's foot) to one colour; points
// outside the image change nothing, as in the image itself.
void SetPoints(const ScreenPoint* points, std::int32_t count, std::uint32_t pixel) {
    WebHost& w = TheWeb;
    const std::int32_t rows = Last.header.Height < 0 ? 0 : Last.header.Height;
    const std::int32_t width = std::min(w.pictureWidth, Last.header.Width < 0 ? 0 : Last.header.Width);
    const std::int32_t shown = std::min(rows, w.pictureHeight - Last.top);  // a child preview's foot is cut off
    for (std::int32_t i = 0; i < count; ++i) {
        const ScreenPoint p = points[i];
        if (p.x < 0 || p.x >= width || p.y < rows - shown || p.y >= rows) continue;
        w.picture[static_cast<std::size_t>(Last.top + rows - 1 - p.y) * w.pictureWidth + p.x] = pixel;
    }
}

}  // namespace

WebHost& Web() { return TheWeb; }

const FrameHeaderData& LastFrameHeader() { return Last.header; }
std::int32_t LastFrameTop() { return Last.top; }

void MarkDirty(const platform::Rect& r) {
    platform::Rect c = {std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, TheWeb.pictureWidth),
                        std::min(r.bottom, TheWeb.pictureHeight)};
    if (c.left >= c.right || c.top >= c.bottom) return;
    // A handful of rectangles at most: beyond that, the page copies their bounds.
    if (TheWeb.dirty.size() >= 16) {
        platform::Rect& b = TheWeb.dirty.front();
        for (const platform::Rect& d : TheWeb.dirty) {
            b.left = std::min(b.left, d.left);
            b.top = std::min(b.top, d.top);
            b.right = std::max(b.right, d.right);
            b.bottom = std::max(b.bottom, d.bottom);
        }
        TheWeb.dirty.resize(1);
    }
    TheWeb.dirty.push_back(c);
}

void ConvertWholeFrame() {
    if (!TheWeb.wholePending) return;
    TheWeb.wholePending = false;
    ConvertRect(0, 0, TheWeb.pictureWidth, TheWeb.pictureHeight);
    MarkDirty({0, 0, TheWeb.pictureWidth, TheWeb.pictureHeight});
}

namespace platform {

std::int64_t CalendarSeconds() { return 0; }  // the page hands the seed over itself

void WindowClientSize(PlatformHandle window, std::int32_t* width, std::int32_t* height) {
    if (window != Canvas || !WindowAlive) return;
    *width = TheWeb.width;
    *height = TheWeb.height;
}

ScreenMetrics ReadScreenMetrics() { return {0, 0, TheWeb.width, TheWeb.height, TheWeb.width, TheWeb.height}; }


void ShowMessage(const char* caption, const char* text) {
    (void)caption;
    TheWeb.messages.emplace_back(text);
}

bool ReadCursorPosition(std::int32_t*, std::int32_t*) { return false; }  // a page is never ended by the pointer
void HideCursor() {}
void ShowCursorAgain() {}
void ShowSaverWindow(PlatformHandle) {}

void BlackenStrip(PlatformHandle, std::int32_t width, std::int32_t height) {
    const std::int32_t rows = std::min(height, TheWeb.pictureRows);
    const std::int32_t columns = std::min(width, TheWeb.pictureWidth);
    if (TheWeb.picture == nullptr || rows <= 0 || columns <= 0) return;
    for (std::int32_t y = 0; y < rows; ++y)
        std::fill_n(TheWeb.picture + static_cast<std::size_t>(y) * TheWeb.pictureWidth, columns, Opaque);
    TheWeb.stripChanged = true;
    TheWeb.stripHoldsText = false;
    MarkDirty({0, 0, columns, rows});
}

void StartFrameTimer(PlatformHandle) {}  // the page's animation frames are the timer
void RunMessageLoop() {}                 // the page's event loop is the message loop

void DestroySaverWindow(PlatformHandle window) {
    if (!WindowAlive) return;
    WindowAlive = false;
    platform::Deliver(window, SaverMessage::Destroy);
}
void EndMessageLoop(PlatformHandle) { TheWeb.ended = true; }
void AcceptPaint(PlatformHandle) { TheWeb.wholePending = true; }  // the canvas keeps its pixels; never asked

std::uint32_t TickCount() { return TheWeb.now; }

void PresentFrame(PlatformHandle, const FrameHeaderData& header, const std::uint8_t* bits, std::int32_t stride,
                  std::int32_t top, const char* status, int statusLength, const FrameDamage& damage) {
    WebHost& w = TheWeb;
    Last = Frame{header, bits, stride, top};
    if (w.picture == nullptr) return;
    if (!w.converting || w.wholePending) {
        w.wholePending = true;
    } else if (damage.whole) {
        ConvertRect(0, top, w.pictureWidth, w.pictureHeight);
        MarkDirty({0, top, w.pictureWidth, w.pictureHeight});
    } else {
        // The picture shows the last frame: the points that changed are set one by one, the
        // cleared first (a point in both lists ends up lit), the strip by the status line below.
        if (!w.points) {
            SetPoints(damage.cleared, damage.clearedCount, Opaque);
            SetPoints(damage.plotted, damage.plottedCount, CanvasPixel(header.Colours[1]));
        }
        for (int i = 0; i < damage.count && i < FrameDamage::MaxRects; ++i) MarkDirty(damage.rects[i]);
    }
    const auto length = static_cast<std::size_t>(statusLength > 0 ? statusLength : 0);
    // The line is drawn again only when its text changed or the strip was blackened since: a
    // frame that changed nothing leaves the page nothing to copy.
    if (status != nullptr && length > 0 && (!w.stripHoldsText || w.statusText.compare(0, std::string::npos, status, length) != 0)) {
        DrawTextCells<std::uint32_t>(w.picture, static_cast<std::size_t>(w.pictureWidth),
                                     static_cast<std::size_t>(w.pictureWidth), std::min(StatusStripHeight, w.pictureRows),
                                     status, length, Opaque, CanvasPixel(0xFFFFFF));
        w.stripChanged = true;
        const auto cells = static_cast<std::int32_t>(std::min<std::size_t>(length * FontCellWidth, static_cast<std::size_t>(w.pictureWidth)));
        MarkDirty({0, 0, cells, StatusStripHeight});
        w.statusText.assign(status, length);
        w.stripHoldsText = true;
    }
}

std::uint64_t PhysicalMemoryBytes() { return 0; }  // start-up bounds the arrays by the page's bound

std::FILE* OpenDefinitionFile(const char*) {
    // The page offers one file, whatever name the saver asks for.
    return std::fopen(WebFilePath, "rb");
}

WindowOutcome CreateDesktopWindow(bool, const char*, std::int32_t width, std::int32_t height, PlatformHandle* window) {
    // The page's one window is its canvas, at the size the page gives.
    TheWeb.width = width;
    TheWeb.height = height;
    WindowAlive = true;
    *window = Canvas;
    return WindowOutcome::Ok;
}

bool PrepareWindowPicture(PlatformHandle, std::int32_t width, std::int32_t height) {
    std::free(TheWeb.picture);
    TheWeb.picture = nullptr;
    TheWeb.pictureWidth = TheWeb.pictureHeight = TheWeb.pictureRows = 0;
    TheWeb.dirty.clear();
    TheWeb.wholePending = false;
    Last = Frame{};
    // Drawing points, the page needs the status strip's pixels alone.
    const std::int32_t rows = TheWeb.points ? std::min(height, StatusStripHeight) : height;
    const std::uint64_t pixels = static_cast<std::uint64_t>(width < 0 ? 0 : width) * static_cast<std::uint64_t>(rows < 0 ? 0 : rows);
    if (pixels > (std::uint64_t{1} << 28)) return false;
    TheWeb.picture = static_cast<std::uint32_t*>(std::malloc(pixels == 0 ? 4 : static_cast<std::size_t>(pixels) * 4));
    if (TheWeb.picture == nullptr) return false;
    TheWeb.pictureWidth = width;
    TheWeb.pictureHeight = height;
    TheWeb.pictureRows = rows < 0 ? 0 : rows;
    std::fill_n(TheWeb.picture, static_cast<std::size_t>(pixels), Opaque);
    TheWeb.stripChanged = true;
    TheWeb.stripHoldsText = false;
    MarkDirty({0, 0, width, height});
    return true;
}

}  // namespace platform
