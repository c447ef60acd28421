// The Linux program's run: its command line, where its definition file is, which window it draws in.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "saver/linux_options.h"

// What the Linux program reads from its surroundings; null where a variable is unset.
struct LinuxEnvironment {
    const char* screensaverWindow = nullptr;  // XSCREENSAVER_WINDOW
    const char* xdgConfigHome = nullptr;      // XDG_CONFIG_HOME
    const char* home = nullptr;               // HOME
    const char* display = nullptr;            // DISPLAY
    const char* waylandDisplay = nullptr;     // WAYLAND_DISPLAY
    std::string programPath;                  // the program's own file, links resolved; empty when unknown
    const char* version = "";                 // printed by --version
    // Makes the platform functions speak to that host from now on; null where the program has
    // only one (the tests' headless host).
    void (*useHost)(LinuxHost host) = nullptr;
};

// Where the shipped definitions are, found from the program's own place so that one build serves
// any prefix: PREFIX/share/lumivex/ for a program in PREFIX/bin/ or PREFIX/libexec/xscreensaver/
// (any PREFIX/*/xscreensaver/), else the program's own folder (a build that is not installed).
// Without the program's path, /usr/share/lumivex/. Ends in "/".
std::string ShippedDefinitionFolder(const std::string& programPath);

// The files the definitions are looked for in, in order: --ini alone, else the user's
// configuration ($XDG_CONFIG_HOME, an absolute path, else ~/.config), then the shipped copy.
std::vector<std::string> DefinitionFileCandidates(const LinuxOptions& options, const LinuxEnvironment& env);

// The missing-file message of the Linux program: the Windows one, naming the places it looked.
std::string MissingDefinitionMessage(const LinuxOptions& options, const LinuxEnvironment& env);

// The default window on a screen too small for it: shrunk, its shape kept, to nine tenths of the
// screen's width and height at most, leaving room for panels and the title bar. The screen is the
// host's primary one (else the whole); unchanged where the host cannot tell (0) or the window fits.
void FitWindowToScreen(const platform::ScreenMetrics& screen, std::int32_t* width, std::int32_t* height);

// The run for parsed options: window, definitions, animation, message loop. The exit code.
int RunLinuxSaver(const LinuxOptions& options, const LinuxEnvironment& env);

// The whole program: parses the command line, answers --help and --version, runs. The exit code.
int LinuxSaverMain(int argc, const char* const* argv, const LinuxEnvironment& env);
