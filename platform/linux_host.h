// What the Linux program's start-up asks of its host besides the seam: a window handed over, a
// layer of the desktop, the timer's period. The Linux backends (X11, Wayland) and the headless one
// implement it.
#pragma once

#include <cstdint>

#include "platform/desktop_host.h"

namespace platform {

// Takes a window that a host made for the saver to draw in (id 0: the screen's root window, as
// large as the screen). The backend only follows its size and its destruction: it never maps,
// moves, raises, resizes or destroys it, and selects no input that another client may hold. A
// window gone reaches the saver as Destroy.
WindowOutcome AdoptHostWindow(std::uint64_t id, PlatformHandle* window);
// The desktop's layers that a picture can sit on, bottom first: under the windows (Background,
// Bottom) or over them (Top, Overlay).
enum class DesktopLayer { Background, Bottom, Top, Overlay };
// The picture on a layer of the desktop, stretched over every output (or only the output named
// `output`, when not null), following outputs that come and go. It takes no keyboard focus and
// pushes nothing aside. The window's size is that of the first output shown on; the others
// show the same frame. Unsupported when the host has no such layers; every output gone or the
// host closing the layer reaches the saver as Destroy.
WindowOutcome CreateLayerWindow(DesktopLayer layer, const char* output, PlatformHandle* window);
// The period of the timer that StartFrameTimer starts, in microseconds (10000 unless set).
void SetFrameTimerPeriod(std::uint32_t microseconds);

}  // namespace platform
