// Shared helpers of the unit tests: a clean saver and host for each test, files to load.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "shell/headless/headless_host.h"
#include "shell/saver_state.h"

// Puts the record, the host and the allocation limit back to their start values.
void ResetAll();

// Writes text to a fresh temporary file and returns its path.
std::string WriteTempFile(const std::string& text);

// Loads definition text as the saver would, in the given mode; returns LoadDefinitions' result.
int LoadText(const std::string& text, RunMode mode = Saver);

// A fixture that resets everything before and after each test.
class SaverTest : public ::testing::Test {
protected:
    void SetUp() override { ResetAll(); }
    void TearDown() override { ResetAll(); }
};
