// Every exit code of the saver's programs, in one place.
#pragma once

#include <cstdint>

// What start-up up to the frame image ends with: 0 or the negative exit code of a failure.
enum class StartResult : std::int32_t {
    Ok = 0,
    AlreadyRunning = -1,     // the single-instance lock is held by another run (silent)
    ClassFailed = -2,        // the window class could not be registered (silent)
    WindowFailed = -3,       // the window could not be created (silent)
    VScreenFailed = -4,      // the frame image could not be allocated ("Allocation error (VScreen)")
};

// After the message that said why: the definition file, the memory for the points, a host that
// lacks what the run needs (a visual, a shell).
constexpr int FailedExitCode = 1;
// A command line the Linux program does not understand (after one line on standard error).
constexpr int UsageExitCode = 2;
// The display connection lost under the saver: the host went away, which ends the run as a
// destroyed window does.
constexpr int LostDisplayExitCode = 0;
// An ending signal (SIGTERM, SIGINT, SIGHUP) before the message loop runs: the run ends as a
// closed window's does.
constexpr int EndSignalExitCode = 0;
// The compositor ended the connection over a protocol error (after one line on standard error).
constexpr int ProtocolErrorExitCode = 1;
