// The run every host shares, over the platform seam: the frame image and the window procedure's decisions.
#pragma once

#include "core/saver_state.h"
#include "platform/platform.h"

// Start-up's second half, once the window, the definitions and the animation are there: the
// cursor, the strip, the timer and the message loop. Returns the exit code.
int RunPreparedSaver();

// The rows of the frame image in a window of that height: all of them, or those below the
// status strip; never negative.
std::int32_t FrameImageHeight(std::int32_t windowHeight, bool fillsWindow);
// Which of the two a start-up that does not go through InitWindow wants (InitWindow sets it).
void SetImageFillsWindow(bool fills);
// Whether ResizeFrame makes the current point sets again at the new size (RefitPointSets), so
// the picture fits the window within a tick; off unless a start-up turns it on (the Linux
// program's windows are resized by their desktop; the Windows saver's never are).
void SetRefitOnResize(bool refit);
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

// Gives back every array and definition a run holds and puts the record back to its start
// values, for a process that starts the saver again (the page's runs, the fuzz targets).
void ReleaseSaverMemory();
