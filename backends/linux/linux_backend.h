// The Linux program's two display backends behind one seam: the functions that differ between
// X11 and Wayland, and what both share (the clock, the frame period, the ending signals).
#pragma once

#include <cstdint>

#include "platform/linux_host.h"
#include "saver/linux_options.h"

// The seam functions a display backend implements for itself; the rest are shared
// (backends/linux/linux_platform.cpp), which forwards these to the backend chosen at start-up.
struct LinuxBackend {
    decltype(&platform::WindowClientSize) WindowClientSize;
    decltype(&platform::ReadScreenMetrics) ReadScreenMetrics;
    decltype(&platform::ReadCursorPosition) ReadCursorPosition;
    decltype(&platform::HideCursor) HideCursor;
    decltype(&platform::ShowCursorAgain) ShowCursorAgain;
    decltype(&platform::ShowSaverWindow) ShowSaverWindow;
    decltype(&platform::BlackenStrip) BlackenStrip;
    decltype(&platform::StartFrameTimer) StartFrameTimer;
    decltype(&platform::RunMessageLoop) RunMessageLoop;
    decltype(&platform::DestroySaverWindow) DestroySaverWindow;
    decltype(&platform::EndMessageLoop) EndMessageLoop;
    decltype(&platform::AcceptPaint) AcceptPaint;
    decltype(&platform::PresentFrame) PresentFrame;
    decltype(&platform::AdoptHostWindow) AdoptHostWindow;
    decltype(&platform::CreateDesktopWindow) CreateDesktopWindow;
    decltype(&platform::CreateLayerWindow) CreateLayerWindow;
    decltype(&platform::PrepareWindowPicture) PrepareWindowPicture;
};

extern const LinuxBackend X11Backend;      // backends/x11/x11_platform.cpp
extern const LinuxBackend WaylandBackend;  // backends/wayland/wayland_platform.cpp

// Makes the seam speak to that backend from now on (X11 until called).
void UseLinuxHost(LinuxHost host);

// SIGTERM, SIGINT and SIGHUP, once the message loop runs, only write to a pipe, whose reading end
// the loop polls (EndSignalFd, -1 when the pipe could not be made) and empties (TakeEndSignals,
// true when a signal came). Installed first thing: before the loop, whatever start-up is doing,
// they end the program at once with 0.
void InstallEndSignals();
int EndSignalFd();
bool TakeEndSignals();

// CLOCK_MONOTONIC in nanoseconds.
std::uint64_t MonotonicNs();
// The frame period that SetFrameTimerPeriod set, in nanoseconds.
std::uint64_t FramePeriodNs();
