// The platform seam: what the saver needs from its host, in the saver's own terms.
// Each backend (win32, headless) implements every function here; the linker picks one.
// A backend only carries out what it is asked: every decision lies above this line.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/saver_state.h"

namespace platform {

// The whole command line of the process, program path included.
const char* CommandLine();

// Seconds since 1970-01-01 00:00 UTC.
std::int64_t CalendarSeconds();

enum class LockOutcome { Taken, AlreadyHeld, Unavailable };
// Creates (or opens) the named single-instance mutex; *lock receives its handle, if any.
LockOutcome TakeInstanceLock(PlatformHandle* lock);

struct Rect {
    std::int32_t left, top, right, bottom;
};
// The client rectangle of the parent window; leaves *rect as it is when the query fails.
void ParentClientRect(PlatformHandle parent, Rect* rect);

struct ScreenMetrics {
    std::int32_t virtualX, virtualY, virtualWidth, virtualHeight;
    std::int32_t primaryWidth, primaryHeight;
};
ScreenMetrics ReadScreenMetrics();

bool RegisterSaverClass(PlatformHandle instance);
// A visible window: a child of parent when parent is set, a popup otherwise. Null on failure.
PlatformHandle CreateSaverWindow(PlatformHandle instance, PlatformHandle parent, std::int32_t x,
                                 std::int32_t y, std::int32_t width, std::int32_t height);

// A modal box with one OK button and no owner; returns when the user has closed it.
void ShowMessage(const char* caption, const char* text);

// False when the position cannot be read.
bool ReadCursorPosition(std::int32_t* x, std::int32_t* y);
void HideCursor();
void ShowCursorAgain();

// Shows and updates the window.
void ShowSaverWindow(PlatformHandle window);
// Fills window rows 0 to height-1, columns 0 to width-1, with black.
void BlackenStrip(PlatformHandle window, std::int32_t width, std::int32_t height);
// A 10 ms timer, identifier 0, whose expiry reaches the window as a timer message.
void StartFrameTimer(PlatformHandle window);
// Gets, translates and dispatches messages until the quit message.
void RunMessageLoop();

void DestroySaverWindow(PlatformHandle window);
// Takes the window out of the topmost band and posts the quit message with code 0.
void LeaveTopmostAndQuit(PlatformHandle window);
// Begins and ends painting, drawing nothing.
void PaintNothing(PlatformHandle window);

// Milliseconds since the system started, wrapping at 2^32.
std::uint32_t TickCount();

// Copies the frame image to the window with its top row at window row top: `header` describes
// it, `bits` holds header.Height rows bottom row first, each `stride` bytes apart. When `status`
// is not null, writes it at window position (0, 0) afterwards, black on white, in the system font.
void PresentFrame(PlatformHandle window, const FrameHeaderData& header, const std::uint8_t* bits,
                  std::int32_t stride, std::int32_t top, const char* status, int statusLength);

// Writes the system directory into buffer (capacity bytes, NUL-terminated); returns its length.
unsigned SystemDirectory(char* buffer, unsigned capacity);

// The machine's physical memory in bytes (0 when unknown): more than that is never asked for.
std::uint64_t PhysicalMemoryBytes();

// Opens a definition file for reading in binary (the loader does its own text-mode rules).
std::FILE* OpenDefinitionFile(const char* path);

// --- Hosts that hand a window over, and windows of the program's own on a desktop (Linux) ---

enum class WindowOutcome { Ok, NoDisplay, NoSuchWindow, UnsupportedVisual };
// Takes a window that a host made for the saver to draw in (id 0: the screen's root window). The
// backend only follows its size and its destruction: it never maps, moves, raises or resizes it,
// and selects no input that another client may hold. A window gone reaches the saver as Destroy.
WindowOutcome AdoptHostWindow(std::uint64_t id, PlatformHandle* window);
// A visible top-level window of the program's own: titled and resizable, or covering the screen in
// the desktop's full-screen state.
WindowOutcome CreateDesktopWindow(bool fullScreen, const char* title, std::int32_t width, std::int32_t height,
                                  PlatformHandle* window);
// Makes room for the window's whole picture at width x height, for a backend that composes it
// itself; false when the memory is not there.
bool PrepareWindowPicture(PlatformHandle window, std::int32_t width, std::int32_t height);
// The period of the timer that StartFrameTimer starts, in microseconds (10000 unless set).
void SetFrameTimerPeriod(std::uint32_t microseconds);

}  // namespace platform
