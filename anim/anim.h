// The animation: easing table, colour blend, set-up, the morph cycle and the frame tick.
#pragma once

#include <cstdint>

#include "core/saver_state.h"

constexpr std::int32_t CosTableSize = 3000;
constexpr std::int32_t MorphLength = 3000;  // ms of accumulated intervals
// PointRegulation::FastRun: a tick of at most FastTickMs is fast; FastRunTicks of them in a row
// give 100 points back.
constexpr std::int32_t FastTickMs = 40;
constexpr std::int32_t FastRunTicks = 50;

extern const char* const CosTableMessage;
extern const char* const PointArrayMessages[5];  // Pts1, Pts2, PtsA, PtsDX, PtsDY

// Allocates and fills CosTable; 0, or 1 after a message box.
int BuildCosTable();

// Blends from into to by k/1024, per channel, rounding towards minus infinity.
Colour BlendColour(Colour from, Colour to, std::int32_t k);

// Allocates the point arrays, builds the easing table and makes the first two point sets.
int PrepareAnimation();

// Takes MorphBox afresh from Pts1 and Pts2 (all PointCount entries).
void BoundMorph();

// Makes PtsLast equal to PtsA again, for a tick that cannot trust what it held.
void ResyncLastPoints();

// Makes Pts1 and Pts2 again from their origins at ScreenWidth x ScreenHeight, with their
// deltas, and PtsA as the phase shows it: the current pair fitted to a new window size. The
// random source and the colours are left as they were; the next tick clears the whole image.
void RefitPointSets();

// Runs one step of the current phase with the interval dt in milliseconds.
void StepPhase(std::int32_t dt);

// Whether the next step certainly leaves PtsA as it is: Pick, Delta, and Hold after its first
// tick (which copies the target set). Morph moves the points.
bool StepKeepsPoints();

// StepPhase, then the shown points of PtsA plotted into VScreen; in Morph both happen in one
// pass over the points.
void StepPhaseAndPlot(std::int32_t dt);

// One timer tick: time, clear, phase step, plot, colour, regulation, copy to the window and
// status line.
void FrameTick(PlatformHandle window);

// The status line as the tick writes it; returns its length (buffer of at least 64 bytes).
int FormatStatusLine(char* buffer, std::int32_t definitionNumber, std::int32_t shownPoints);
