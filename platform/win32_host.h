// What the Windows saver's start-up asks of its host besides the seam: the command line, the
// single-instance lock, the preview's parent, the saver's own window and the system directory. The Win32 backend
// implements it, and the headless one, which plays the Windows start-up in the tests.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace platform {

// The whole command line of the process, program path included; never null. Valid until the
// process ends. A host that hands the program an argument vector gives its words (the program's
// path first) joined by single spaces.
const char* CommandLine();

enum class LockOutcome { Taken, AlreadyHeld, Unavailable };
// Creates (or opens) the named single-instance lock "MUTEX_Velloran_Lumivex" and holds it until
// the process ends. *lock receives its handle: non-null when Taken or AlreadyHeld, null when
// Unavailable (the host has no lock to give; the run goes on without one).
LockOutcome TakeInstanceLock(PlatformHandle* lock);

// The client rectangle of a window the saver did not make (the preview's parent), in pixels;
// leaves *rect as it is when the query fails (no such window).
void ParentClientRect(PlatformHandle parent, Rect* rect);

// Makes ready whatever the host needs before the saver's window is made (on Win32 the window
// class "_Velloran_LUMIVEX", whose procedure hands messages to Deliver, with the arrow
// cursor and no icon or background; nothing elsewhere). False when the host refuses: start-up
// ends with its code.
bool PrepareWindowing(PlatformHandle instance);
// A visible window of width x height pixels at (x, y), nothing drawn in it: a child of parent
// when parent is set (at x, y in the parent's client area), a borderless popup otherwise. Null
// on failure, also when parent names no window.
PlatformHandle CreateSaverWindow(PlatformHandle instance, PlatformHandle parent, std::int32_t x,
                                 std::int32_t y, std::int32_t width, std::int32_t height);

// Writes the system directory (no trailing separator) into buffer, NUL-terminated, and returns
// its length. When it does not fit with its NUL (or cannot be read), writes an empty name and
// returns 0: a cut-off directory would name another one. A capacity of 0 writes nothing.
unsigned SystemDirectory(char* buffer, unsigned capacity);

}  // namespace platform
