// What the X11 backend offers its own entry point besides the seam.
#pragma once

// SIGTERM, SIGINT and SIGHUP wake the message loop, which hands them to the saver as Close.
// Installed first thing, so a signal during start-up ends the run as soon as the loop starts.
void InstallEndSignals();

// The program's words (its path first), which CommandLine gives back joined by spaces.
void KeepCommandLine(int argc, const char* const* argv);
