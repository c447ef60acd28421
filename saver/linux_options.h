// The command line of the Linux program lumivex, read without touching anything else.
#pragma once

#include <cstdint>
#include <string>

#include "platform/linux_host.h"

// Where the saver draws.
enum class LinuxTarget {
    Window,      // a window of its own on the desktop (the default)
    FullScreen,  // its own window covering the screen; input ends the run
    Root,        // the window in XSCREENSAVER_WINDOW, else the root window
    WindowId,    // the window named on the command line
    Layer,       // a layer of the Wayland desktop, on every output or one (a live wallpaper)
};

// Which display system the program speaks: chosen from the options and the environment, or forced.
enum class LinuxHost { X11, Wayland };
enum class LinuxHostChoice { Auto, X11, Wayland };

struct LinuxOptions {
    LinuxTarget target = LinuxTarget::Window;
    std::uint64_t windowId = 0;  // Root and WindowId: the window; 0 with Root: the root window
    std::int32_t width = 1280;   // Window: the size of the window (the default fitted to the screen)
    std::int32_t height = 800;
    bool geometryGiven = false;  // --geometry: that size, fitted to nothing
    platform::DesktopLayer layer = platform::DesktopLayer::Background;  // Layer: which one
    std::string output;          // Layer: the one output to draw on; empty: every output
    LinuxHostChoice host = LinuxHostChoice::Auto;  // --wayland, --x11
    std::string ini;             // empty: the usual places
    std::uint32_t delay = 10000; // microseconds between ticks
    bool status = false;         // the status line on, whatever the file says
    bool seedGiven = false;
    std::uint32_t seed = 0;
    bool help = false;
    bool version = false;
};

constexpr std::int32_t MaxWindowSide = 16384;
constexpr std::uint32_t MinDelay = 1000;     // 1 ms: anything shorter would keep a core busy
constexpr std::uint32_t MaxDelay = 1000000;  // 1 s

// Every option lumivex takes, without its dashes (and h, short for help): the parser knows no other.
constexpr const char* LinuxOptionNames[] = {"window", "fullscreen", "layer",   "output", "root", "window-id",
                                            "wayland", "x11",       "geometry", "ini",   "delay", "status",
                                            "seed",   "help",       "version"};

extern const char* const LinuxUsage;  // the synopsis, wrapped to 80 columns
extern const char* const LinuxHelp;   // every option, for --help

// A window id as hosts write it: decimal, or hexadecimal after "0x"/"0X"; nothing else around it.
// False when the text is no such number, is 0, or exceeds 32 bits.
bool ParseWindowId(const char* text, std::uint64_t* id);

// Wayland when forced, for --layer, or when waylandDisplay (WAYLAND_DISPLAY) is set and no X11
// window was asked for (--root, --window-id, or XSCREENSAVER_WINDOW set by a host); else X11.
LinuxHost ChooseLinuxHost(const LinuxOptions& options, const char* waylandDisplay, const char* screensaverWindow);

// Reads argv[1..argc-1]; every option may be spelt with one dash or two, and its value may follow
// as the next argument or after "=". screensaverWindow is the value of XSCREENSAVER_WINDOW (null
// when unset), read for --root. False with a one-line reason in *error.
bool ParseLinuxOptions(int argc, const char* const* argv, const char* screensaverWindow, LinuxOptions* options,
                       std::string* error);
