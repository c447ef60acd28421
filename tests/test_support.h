// Shared helpers of the unit tests: a clean saver and host for each test, files to load.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/headless/headless_host.h"
#include "core/saver_state.h"

// How many times operator new has run in this process.
std::uint64_t NewCount();

// Puts the record, the host and the allocation limit back to their start values.
void ResetAll();

// Writes text to a fresh temporary file and returns its path.
std::string WriteTempFile(const std::string& text);

// Loads definition text as the saver would, in the given mode; returns LoadDefinitions' result.
// One bit per phase, for tests that collect the phases a run went through.
inline int PhaseBit(Phase phase) { return 1 << static_cast<int>(phase); }

int LoadText(const std::string& text, RunMode mode = RunMode::Saver);

// A fixture that resets everything before and after each test.
class SaverTest : public ::testing::Test {
protected:
    void SetUp() override { ResetAll(); }
    void TearDown() override { ResetAll(); }
};

// A small headless start-up: definitions, screen size, mode, seed.
struct StartOptions {
    std::string ini;
    std::int32_t width = 320;
    std::int32_t height = 240;
    RunMode mode = RunMode::Saver;
    bool parent = false;
    std::uint32_t seed = 1;
};

// Runs the saver's start-up with an empty clock (the message loop ends at once); returns the
// exit code. The record stays as start-up left it, ready for ticks.
int StartSaver(const StartOptions& options);

// Runs one timer tick at tick count now, as the window procedure does.
void TickAt(std::uint32_t now);

// The frame image as rows of exactly ScreenWidth bytes, bottom row first.
std::string ImageBytes();

// A file of n fractals; fractal i maps every point to (0.1 + 0.1 i, 0.5) in the unit box.
std::string FixedPointFile(int pointCount, int fractals);
