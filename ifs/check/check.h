// --check, the driver: reads the file, judges it and writes the report.
#pragma once

#include <cstdio>
#include <string>

#include "ifs/check/check_verdict.h"

// Whether the screen has an image below the status strip; says why not on err.
bool ScreenFits(const CheckSettings& settings, std::FILE* err);

// The whole of --check: the report on out; 0 without a warning, 1 with, 2 when the file cannot
// be read.
int RunCheck(const std::string& path, const CheckSettings& settings, bool json, std::FILE* out, std::FILE* err);
