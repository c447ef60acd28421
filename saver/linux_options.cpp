// Parsing of the Linux program's command line, in the manner of XScreenSaver's hacks.
#include "saver/linux_options.h"

#include <cstring>

const char* const LinuxUsage =
    "usage: lumivex [--window | --fullscreen | --layer LAYER [--output NAME] | --root\n"
    "                | --window-id ID] [--wayland | --x11] [--geometry WxH]\n"
    "               [--ini FILE] [--delay USECS] [--status] [--seed N]\n"
    "               [--help] [--version]";

const char* const LinuxHelp =
    "lumivex draws IFS fractals that morph into one another, the Lumivex screen saver on X11 and\n"
    "Wayland.\n"
    "\n"
    "  --window          a window of its own, 1280x800 (smaller on a smaller screen) or\n"
    "                    --geometry, resizable (the default); closing it ends the run\n"
    "  --fullscreen      its own window over the whole screen, pointer hidden; a key, a mouse\n"
    "                    button or moving the mouse ends it\n"
    "  --layer LAYER     Wayland: a live wallpaper on a layer of the desktop, background,\n"
    "                    bottom, top or overlay, on every output; input does not end it\n"
    "  --output NAME     with --layer: only on that output (as the compositor names it)\n"
    "  --root            draw into the window in XSCREENSAVER_WINDOW (hexadecimal 0x... or\n"
    "                    decimal), else into the root window: how XScreenSaver and xsecurelock\n"
    "                    start it\n"
    "  --window-id ID    draw into that window (hexadecimal 0x... or decimal)\n"
    "  --wayland         speak Wayland, whatever the environment says\n"
    "  --x11             speak X11; without either, Wayland when WAYLAND_DISPLAY is set and no\n"
    "                    X11 window is asked for (--root, --window-id, XSCREENSAVER_WINDOW)\n"
    "  --geometry WxH    the size of the --window window, each side 1 to 16384\n"
    "  --ini FILE        the definition file; without it $XDG_CONFIG_HOME/lumivex/lumivex.ini\n"
    "                    (~/.config/lumivex/lumivex.ini), then the installed lumivex.ini\n"
    "  --delay USECS     microseconds between frames at least, 1000 to 1000000 (default 10000)\n"
    "  --status          show the status line, whatever the definition file says\n"
    "  --seed N          seed of the random source (default: the time in seconds)\n"
    "  --help            this text\n"
    "  --version         the version\n"
    "\n"
    "In a window that a host handed over (--root, --window-id) input does not end the run; it ends\n"
    "on SIGTERM, SIGINT or SIGHUP, when the window is destroyed or when the display goes away.\n"
    "Neither does it on a layer, which ends with those signals, when the compositor closes it or\n"
    "goes away. On Wayland the compositor paces the frames: a hidden picture costs nothing.\n"
    "Either dash form works: -root is --root. Messages go to standard error.\n"
    "\n"
    "Exit codes: 0 at a normal end; 1 when the definition file is missing or holds no definition,\n"
    "memory for the points is short, the window's visual is not 24- or 32-bit TrueColor, the\n"
    "compositor lacks what the mode needs (a layer shell for --layer) or breaks the protocol; 2 for\n"
    "a wrong option; -3 (253) when there is no display or compositor, no such window or output;\n"
    "-4 (252) when the frame image cannot be allocated.";

namespace {

// A whole unsigned number in `base` (10 or 16), the whole text and nothing else, at most max.
bool ReadUnsigned(const char* text, int base, std::uint64_t max, std::uint64_t* value) {
    if (*text == '\0') return false;
    std::uint64_t v = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        int digit = -1;
        if (*p >= '0' && *p <= '9') digit = *p - '0';
        else if (base == 16 && *p >= 'a' && *p <= 'f') digit = *p - 'a' + 10;
        else if (base == 16 && *p >= 'A' && *p <= 'F') digit = *p - 'A' + 10;
        if (digit < 0) return false;
        v = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (v > max) return false;
    }
    *value = v;
    return true;
}

bool ReadSize(const char* text, std::int32_t* width, std::int32_t* height) {
    const char* x = std::strchr(text, 'x');
    if (x == nullptr) return false;
    const std::string w(text, static_cast<std::size_t>(x - text));
    std::uint64_t a = 0, b = 0;
    if (!ReadUnsigned(w.c_str(), 10, MaxWindowSide, &a) || !ReadUnsigned(x + 1, 10, MaxWindowSide, &b)) return false;
    if (a == 0 || b == 0) return false;
    *width = static_cast<std::int32_t>(a);
    *height = static_cast<std::int32_t>(b);
    return true;
}

}  // namespace

bool ParseWindowId(const char* text, std::uint64_t* id) {
    std::uint64_t value = 0;
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (!ReadUnsigned(hex ? text + 2 : text, hex ? 16 : 10, 0xFFFFFFFFu, &value) || value == 0) return false;
    *id = value;
    return true;
}

namespace {

bool KnownOption(const std::string& name) {
    if (name == "h") return true;
    for (const char* known : LinuxOptionNames) {
        if (name == known) return true;
    }
    return false;
}

bool ReadLinuxOptions(int argc, const char* const* argv, const char* screensaverWindow, LinuxOptions* options,
                      std::string* error) {
    bool windowIdGiven = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-' || arg[1] == '\0') {
            *error = std::string("unexpected argument '") + arg + "'";
            return false;
        }
        std::string name = arg + (arg[1] == '-' ? 2 : 1);
        std::string inlineValue;
        bool hasInline = false;
        if (const std::size_t eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.erase(eq);
            hasInline = true;
        }
        if (!KnownOption(name)) {
            *error = "unknown option '" + std::string(arg) + "'";
            return false;
        }
        const std::string shown = "--" + name;
        auto value = [&](std::string* out) {
            if (hasInline) {
                *out = inlineValue;
                return true;
            }
            if (i + 1 >= argc) {
                *error = shown + " needs a value";
                return false;
            }
            *out = argv[++i];
            return true;
        };
        auto flag = [&]() {
            if (!hasInline) return true;
            *error = shown + " takes no value";
            return false;
        };
        std::string text;
        std::uint64_t number = 0;
        if (name == "root") {
            if (!flag()) return false;
            options->target = LinuxTarget::Root;
        } else if (name == "window") {
            if (!flag()) return false;
            options->target = LinuxTarget::Window;
        } else if (name == "fullscreen") {
            if (!flag()) return false;
            options->target = LinuxTarget::FullScreen;
        } else if (name == "window-id") {
            if (!value(&text)) return false;
            if (!ParseWindowId(text.c_str(), &options->windowId)) {
                *error = "--window-id wants a window id (decimal or 0x... hexadecimal), not '" + text + "'";
                return false;
            }
            options->target = LinuxTarget::WindowId;
            windowIdGiven = true;
        } else if (name == "layer") {
            if (!value(&text)) return false;
            static const char* const names[] = {"background", "bottom", "top", "overlay"};
            int found = -1;
            for (int n = 0; n < 4; ++n) {
                if (text == names[n]) found = n;
            }
            if (found < 0) {
                *error = "--layer wants background, bottom, top or overlay, not '" + text + "'";
                return false;
            }
            options->layer = static_cast<platform::DesktopLayer>(found);
            options->target = LinuxTarget::Layer;
        } else if (name == "output") {
            if (!value(&text)) return false;
            if (text.empty()) {
                *error = "--output needs an output name";
                return false;
            }
            options->output = text;
        } else if (name == "wayland" || name == "x11") {
            if (!flag()) return false;
            options->host = name == "x11" ? LinuxHostChoice::X11 : LinuxHostChoice::Wayland;
        } else if (name == "geometry") {
            if (!value(&text)) return false;
            if (!ReadSize(text.c_str(), &options->width, &options->height)) {
                *error = "--geometry wants WxH, each side 1 to 16384, not '" + text + "'";
                return false;
            }
            options->geometryGiven = true;
        } else if (name == "ini") {
            if (!value(&text)) return false;
            if (text.empty()) {
                *error = "--ini needs a file name";
                return false;
            }
            options->ini = text;
        } else if (name == "delay") {
            if (!value(&text)) return false;
            if (!ReadUnsigned(text.c_str(), 10, MaxDelay, &number) || number < MinDelay) {
                *error = "--delay wants microseconds from 1000 to 1000000, not '" + text + "'";
                return false;
            }
            options->delay = static_cast<std::uint32_t>(number);
        } else if (name == "status") {
            if (!flag()) return false;
            options->status = true;
        } else if (name == "seed") {
            if (!value(&text)) return false;
            if (!ReadUnsigned(text.c_str(), 10, 0xFFFFFFFFu, &number)) {
                *error = "--seed wants a number from 0 to 4294967295, not '" + text + "'";
                return false;
            }
            options->seed = static_cast<std::uint32_t>(number);
            options->seedGiven = true;
        } else if (name == "help" || name == "h") {
            if (!flag()) return false;
            options->help = true;
        } else if (name == "version") {
            if (!flag()) return false;
            options->version = true;
        } else {
            *error = "unknown option '" + std::string(arg) + "'";
            return false;
        }
    }
    const bool x11Window = options->target == LinuxTarget::Root || options->target == LinuxTarget::WindowId;
    if (options->target == LinuxTarget::Layer && options->host == LinuxHostChoice::X11) {
        *error = "--layer is a Wayland layer and cannot go with --x11";
        return false;
    }
    if (x11Window && options->host == LinuxHostChoice::Wayland) {
        *error = "--root and --window-id draw in X11 windows and cannot go with --wayland";
        return false;
    }
    if (!options->output.empty() && options->target != LinuxTarget::Layer) {
        *error = "--output goes with --layer";
        return false;
    }
    if (options->target == LinuxTarget::Root) {
        options->windowId = 0;
        if (screensaverWindow != nullptr && *screensaverWindow != '\0' &&
            !ParseWindowId(screensaverWindow, &options->windowId)) {
            *error = std::string("XSCREENSAVER_WINDOW holds '") + screensaverWindow + "', which is no window id";
            return false;
        }
    } else if (!windowIdGiven) {
        options->windowId = 0;
    }
    return true;
}

}  // namespace

LinuxHost ChooseLinuxHost(const LinuxOptions& options, const char* waylandDisplay, const char* screensaverWindow) {
    if (options.host != LinuxHostChoice::Auto) return options.host == LinuxHostChoice::X11 ? LinuxHost::X11 : LinuxHost::Wayland;
    if (options.target == LinuxTarget::Layer) return LinuxHost::Wayland;
    if (options.target == LinuxTarget::Root || options.target == LinuxTarget::WindowId) return LinuxHost::X11;
    // A host of the XScreenSaver kind made a window for its hack: it is an X11 window.
    if (screensaverWindow != nullptr && *screensaverWindow != '\0') return LinuxHost::X11;
    return waylandDisplay != nullptr && *waylandDisplay != '\0' ? LinuxHost::Wayland : LinuxHost::X11;
}

bool ParseLinuxOptions(int argc, const char* const* argv, const char* screensaverWindow, LinuxOptions* options,
                       std::string* error) {
    if (ReadLinuxOptions(argc, argv, screensaverWindow, options, error)) return true;
    // The reason quotes what it was given; a line feed or other control character in an argument
    // must not break the one line a host logs.
    for (char& c : *error) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    return false;
}
