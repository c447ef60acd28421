// A window of the program's own on a desktop, for the start-ups that make one (the Linux program,
// the page). Implemented by the Linux backends, the web backend and the headless one.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace platform {

// How getting a window went. Ok: *window is set and the saver draws into it. NoDisplay: no
// display could be reached, or it made no window. NoSuchWindow: the id names no window there (a
// host that hands over no windows answers this to every id). UnsupportedVisual: the window is
// there but in a pixel format the backend does not draw in. Except with Ok, *window is left as
// it is and nothing is shown. Unsupported: the host lacks what was asked for (a compositor
// without the layer shell).
enum class WindowOutcome { Ok, NoDisplay, NoSuchWindow, UnsupportedVisual, Unsupported };
// A visible top-level window of the program's own: titled and resizable, or covering the screen in
// the desktop's full-screen state.
WindowOutcome CreateDesktopWindow(bool fullScreen, const char* title, std::int32_t width, std::int32_t height,
                                  PlatformHandle* window);

}  // namespace platform
