// The Windows saver's start-up, in its own order: SaverMain, InitWindow, LoadDefinitions, PrepareAnimation.
#pragma once

#include "core/saver_state.h"
#include "platform/platform.h"
#include "saver/saver_run.h"

// The run mode a command line selects: plain, case-sensitive substring searches, in the order
// "/s", "/p", "/S", each overriding the one before.
RunMode ChooseRunMode(const char* commandLine);

// The parent window named after the first "/p", read as a "%i" integer; none when unreadable.
PlatformHandle ParsePreviewHandle(const char* commandLine);

// Where the Windows saver looks for lumivex.ini: the current directory, then the system
// directory, with its own messages. Valid until the next call.
DefinitionLookup WindowsDefinitionLookup();

// The Windows saver's plan for a Mode already chosen (State.Mode) and its parent: seeded by the
// calendar, the lock, the popup over the virtual screen or the child of the parent, half the
// physical memory, points given back after a 0 ms tick, the Windows lookup.
StartPlan WindowsPlan(PlatformHandle parent);

// The entry: the process exit code.
int SaverMain(PlatformHandle instance);

// Start-up from the window on, for a Mode already chosen: window, definitions, animation,
// then the message loop. Returns the exit code.
int RunSaver(PlatformHandle instance, PlatformHandle parent);
