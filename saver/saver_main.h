// Start-up, run modes and the window procedure's decisions, written once over the platform seam.
#pragma once

#include "core/saver_state.h"

// The run mode a command line selects: plain, case-sensitive substring searches, in the order
// "/s", "/p", "/S", each overriding the one before.
RunMode ChooseRunMode(const char* commandLine);

// The parent window named after the first "/p", read as a "%i" integer; none when unreadable.
PlatformHandle ParsePreviewHandle(const char* commandLine);

// The entry: the process exit code.
int SaverMain(PlatformHandle instance);

// Start-up from the window on, for a Mode already chosen: window, definitions, animation,
// then the message loop. Returns the exit code.
int RunSaver(PlatformHandle instance, PlatformHandle parent);

// Seeds the random source, takes the single-instance lock, fixes the geometry, creates the
// window and the frame image.
StartResult InitWindow(PlatformHandle parent);

extern const char* const VScreenMessage;

// What a backend's window procedure receives, in the saver's terms.
enum class SaverMessage { Destroy, Paint, KeyDown, LeftButtonDown, RightButtonDown, MiddleButtonDown, Timer, Other };

// True when the message was handled (the window procedure returns 0); false when it belongs
// to the platform's default processing.
bool HandleSaverMessage(PlatformHandle window, SaverMessage message);

// Whether keys, buttons and mouse movement end the run in this mode.
bool InputEndsRun(RunMode mode);
