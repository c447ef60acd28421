// The platform seam: what the saver needs from its host for the run, in the saver's own terms.
// Every backend (backends/win32, backends/linux with x11 and wayland, backends/web,
// backends/headless) implements every function here; the linker picks one. What only some hosts
// need at start-up lies beside it: platform/win32_host.h (the Windows saver's command line, lock,
// window and system directory), platform/desktop_host.h (a window of the program's own: Linux
// and the page) and platform/linux_host.h (a window handed over, a desktop layer, the timer's
// period). A backend only carries out what it is asked: every decision lies above this line.
//
// Besides these functions a backend owes the saver one thing: its window procedure (or event
// dispatch) hands every message of the saver window to the saver through platform::Deliver,
// translated into a SaverMessage, and gives the message the platform's default processing when
// that returns false. Everything runs on the one thread of the message loop.
//
// The order of a run: each host's start-up makes its window (CreateSaverWindow,
// CreateDesktopWindow, AdoptHostWindow or CreateLayerWindow), then ShowSaverWindow, BlackenStrip,
// StartFrameTimer; then RunMessageLoop, which hands up the window's messages one at a time until
// the quit:
// - Timer comes only once StartFrameTimer has run, at most once a period; a late one is not made
//   up for with a burst.
// - Whoever ends the run calls DestroySaverWindow. The window's Destroy reaches the saver before
//   that call returns, and once only; the saver answers it with EndMessageLoop. A window that the
//   host destroys reaches the saver as Destroy in the same way, once.
// - EndMessageLoop posts the quit: no Timer reaches the saver after it, and RunMessageLoop
//   returns once the message being handled is done. A quit posted before RunMessageLoop starts
//   ends it at once.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/messages.h"
#include "core/saver_state.h"

// What a backend's window procedure receives, in the saver's terms.
// Paint: the host asks for the window to be painted (answered with AcceptPaint).
// Resize: the window has a new size (ask WindowClientSize). Close: the window's close button, or
// the host ending the run (a signal); the run ends with 0 in every mode. Win32 hands up neither:
// WM_SIZE takes the default path (the saver keeps its start-up size there), and so does
// WM_CLOSE, which destroys the window (Destroy).
enum class SaverMessage { Destroy, Paint, KeyDown, LeftButtonDown, RightButtonDown, MiddleButtonDown, Timer, Other,
                          Resize, Close };

namespace platform {

// The saver's answer to one message of its window: true when handled, false when the message
// belongs to the platform's default processing.
using MessageHandler = bool (*)(PlatformHandle window, SaverMessage message);
// Whom the backend hands the messages to: start-up sets it before it asks for a window (the
// saver's HandleSaverMessage; a contract test's stand-in).
inline MessageHandler SaverHandler = nullptr;
// A message to the saver; false (the default processing) while no handler is set.
inline bool Deliver(PlatformHandle window, SaverMessage message) {
    return SaverHandler != nullptr && SaverHandler(window, message);
}

// Seconds since 1970-01-01 00:00 UTC: the seed of the random source.
std::int64_t CalendarSeconds();

struct Rect {
    std::int32_t left, top, right, bottom;
};
// The size in pixels of the saver's own window (made or adopted): asked at start-up and at each
// Resize. Leaves *width and *height as they are when the query fails (the window is gone).
void WindowClientSize(PlatformHandle window, std::int32_t* width, std::int32_t* height);

// What a tick changed in the window, in window pixels (row 0 at the top, the status strip
// included): each rectangle holds columns left to right-1 and rows top to bottom-1. With whole
// set, anything may have changed; otherwise every changed pixel lies in one of the first count
// rectangles, and count 0 means that nothing changed.
//
// Without whole, the image's changed pixels are also named one by one, for a backend that would
// rather update pixels than rectangles: the pixels of the clearedCount points of `cleared` went
// to colour 0, then those of the plottedCount points of `plotted` to colour 1 (the header's
// colour of this frame; a point lit in both ends up lit). Points are in image coordinates, as
// PlotPoints takes them (row 0 at the bottom of the image); those outside the image change
// nothing. No other pixel of the image changed. The status strip changed only where a rectangle
// covers it. The arrays stay valid until the next tick.
struct FrameDamage {
    static constexpr int MaxRects = 8;
    bool whole;
    int count;
    Rect rects[MaxRects];
    const ScreenPoint* cleared;
    std::int32_t clearedCount;
    const ScreenPoint* plotted;
    std::int32_t plottedCount;
};

struct ScreenMetrics {
    std::int32_t virtualX, virtualY, virtualWidth, virtualHeight;  // all monitors together
    std::int32_t primaryWidth, primaryHeight;                       // the primary monitor
};
// The screen geometry in pixels, as the host reports it: 0 where it cannot tell. The values are
// passed on raw; start-up decides what to make of them (one row less, the primary fallback).
ScreenMetrics ReadScreenMetrics();

// A modal box with one OK button, the caption and the text, and no owner; returns when the user
// has closed it. A host without message boxes shows the text another way: on standard error
// (the headless host records it, and lumivex-render prints it there).
void ShowMessage(const char* caption, const char* text);

// The cursor position in screen pixels. False when the position cannot be read: *x and *y are
// then left as they are.
bool ReadCursorPosition(std::int32_t* x, std::int32_t* y);
// Hides the cursor: one step down on a display counter, as Win32's ShowCursor(FALSE).
void HideCursor();
// One step back up on that counter. Start-up calls it once at the end of every run, whether or
// not HideCursor was called (a preview never hides it).
void ShowCursorAgain();

// Shows the window and has it update itself at once.
void ShowSaverWindow(PlatformHandle window);
// Fills window rows 0 to height-1, columns 0 to width-1 (row 0 at the top), with black.
void BlackenStrip(PlatformHandle window, std::int32_t width, std::int32_t height);
// A 10 ms timer, identifier 0, whose every expiry reaches the saver as Timer.
void StartFrameTimer(PlatformHandle window);
// Gets, translates and dispatches messages (each to Deliver, as above) until the quit
// that EndMessageLoop posts; then returns, the quit consumed.
void RunMessageLoop();

// Destroys the window. Before it returns, the backend has delivered
// Deliver(window, SaverMessage::Destroy) once (on Win32, DestroyWindow sends WM_DESTROY
// on the spot), so the quit is posted by the time the caller goes on. A window already destroyed
// is left alone: no second Destroy message.
void DestroySaverWindow(PlatformHandle window);
// Posts the quit that ends RunMessageLoop (the saver's answer to Destroy). On Win32 the window
// also leaves the topmost band first, and the quit carries code 0.
void EndMessageLoop(PlatformHandle window);
// The host asked for the window to be painted: the request is answered, nothing is drawn now.
// Win32 validates the window drawing nothing; a backend that composes its own picture repaints
// it whole at the next PresentFrame.
void AcceptPaint(PlatformHandle window);

// Milliseconds since the system started, wrapping at 2^32.
std::uint32_t TickCount();

// Copies the frame image to the window with its top row at window row top, each pixel the
// header's colour entry of its byte: `header` describes it, `bits` holds header.Height rows
// bottom row first, each `stride` bytes apart. `stride` must be header.Width rounded up to a
// multiple of 4 (the rows of an 8-bit DIB): the Win32 backend takes the stride from the header
// and ignores the argument; others use it. When `status` is not null, writes its statusLength
// characters at window position (0, 0) afterwards, black on white, in the system font; where
// that font's cell is taller than the `top` rows of the strip (a display scaled above 96 DPI),
// in the same face at a cell that fits, so that the line stays within the strip.
//
// `damage` says which window pixels may differ from the frame presented before: a backend that
// keeps its own picture of the window may convert and send only those (the Win32 backend draws
// everything). A backend repaints in full on its own when the window may have been spoiled
// (exposed, resized, a buffer lost).
void PresentFrame(PlatformHandle window, const FrameHeaderData& header, const std::uint8_t* bits,
                  std::int32_t stride, std::int32_t top, const char* status, int statusLength,
                  const FrameDamage& damage);

// The machine's physical memory in bytes, 0 when unknown. Start-up bounds all the saver's
// arrays together by a share of it (SaverMemoryBound; 0 means no bound).
std::uint64_t PhysicalMemoryBytes();

// Opens a definition file for reading in binary (the loader does its own text-mode rules): a
// path of the start-up's lookup, "lumivex.ini" (the current directory) or, on Windows, the
// system directory, "\" and "lumivex.ini". Null when the file cannot be opened, with errno
// saying why where the host has one.
std::FILE* OpenDefinitionFile(const char* path);

// Makes room for the window's whole picture at width x height, for a backend that composes it
// itself; false when the memory is not there.
bool PrepareWindowPicture(PlatformHandle window, std::int32_t width, std::int32_t height);

}  // namespace platform

// A message box with the caption "Lumivex: Error" and one OK button (ShowMessage).
inline void ShowErrorMessage(const char* text) { platform::ShowMessage(ErrorCaption, text); }
