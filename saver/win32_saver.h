// The Windows saver's start-up, in its own order: SaverMain, InitWindow, LoadDefinitions, PrepareAnimation.
#pragma once

#include "core/saver_state.h"
#include "platform/platform.h"

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
