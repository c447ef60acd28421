// The run every host shares, over the platform seam: one start-up from a host's plan, the frame
// image, and the window procedure's decisions.
#pragma once

#include <cstdint>

#include "core/saver_state.h"
#include "ifs/loader.h"
#include "platform/platform.h"

// What a host decides about its run. Its start-up fills one and hands it to StartSaver, which
// carries it out in the order every host shares: InitWindow, LoadDefinitions, PrepareAnimation,
// then the message loop.
struct StartPlan {
    RunMode mode = RunMode::Saver;
    std::uint32_t seed = 0;
    std::uint64_t memoryBound = 0;  // what all the saver's arrays may take together; 0: no bound
    PointRegulation regulation = PointRegulation::ZeroInterval;
    // Makes the host's window (after whatever must come first there: the Windows saver's lock):
    // sets State.Window and the window's size (State.ScreenWidth, State.ScreenHeight). 0, or the
    // exit code, after the message the failure owes the user.
    int (*openWindow)(const StartPlan& plan) = nullptr;
    const void* host = nullptr;      // what openWindow reads (the host's options)
    PlatformHandle parent = nullptr;  // the window the saver's is a child of (a preview's)
    // The frame image is as tall as the window (a child of a host's window), else it starts
    // below the status strip.
    bool imageFillsWindow = false;
    // The window's new size makes the current point sets again (RefitPointSets), so the picture
    // fits within a tick: for windows a desktop resizes, never for the Windows saver's.
    bool refitOnResize = false;
    DefinitionLookup definitions;  // where the definition file is looked for
    bool statusOn = false;         // the status line on, whatever the file says
};

// The whole run of a plan: start-up, then the message loop (or, on the page, the first moment a
// tick may come). The exit code: 0, or a failure's after its message.
int StartSaver(const StartPlan& plan);

// Seeds the random source, has the host make its window, makes the frame image for it. 0 or the
// exit code.
int InitWindow(const StartPlan& plan);

// Start-up's second half, once the window, the definitions and the animation are there: the
// cursor, the strip, the timer and the message loop. Returns the exit code.
int RunPreparedSaver();

// The rows of the frame image in a window of that height: all of them, or those below the
// status strip; never negative.
std::int32_t FrameImageHeight(std::int32_t windowHeight, bool fillsWindow);
// Allocates VScreen for ScreenWidth x ScreenHeight and fills FrameHeader; false when the
// memory is not there (no message).
bool AllocateFrame();
// The window has a new size: a new frame image (the old one given back) and the window's
// picture at that size, the strip blackened again. False, with nothing left to draw, when the
// memory is not there; the caller ends the run with the VScreen message and code.
bool ResizeFrame(std::int32_t width, std::int32_t height);

extern const char* const VScreenMessage;

// True when the message was handled (the window procedure returns 0); false when it belongs
// to the platform's default processing.
bool HandleSaverMessage(PlatformHandle window, SaverMessage message);

// Whether keys, buttons and mouse movement end the run in this mode.
bool InputEndsRun(RunMode mode);

// Gives back every array and definition a run holds and puts the record and the plan back to
// their start values, for a process that starts the saver again (the page's runs, the fuzz
// targets).
void ReleaseSaverMemory();
// Forgets the last run's plan alone (the tests, between cases that set the record up by hand).
void ForgetStartPlan();
