// lumivex-render --check, the driver: reads the file, judges it and writes the report.
#pragma once

#include <cstdio>
#include <string>

#include "tools/render/check_verdict.h"

// The file the saver would read: lumivex.ini in the current directory, then the shipped definitions.
std::string FindDefinitionFile();

// Where the renderer finds the shipped lumivex.ini, its stand-in for the saver's system directory:
// PREFIX/share/lumivex for a renderer installed in PREFIX/bin, else the renderer's own folder (a
// build, where the configure copies the file beside it). No "/" at the end.
std::string ShippedDefinitionDirectory();

// Whether the screen has an image below the status strip; says why not on err.
bool ScreenFits(const CheckSettings& settings, std::FILE* err);

// The whole of --check: the report on out; 0 without a warning, 1 with, 2 when the file cannot
// be read. path empty: the saver's search (current directory, then the shipped definitions).
int RunCheck(const std::string& path, const CheckSettings& settings, bool json, std::FILE* out, std::FILE* err);
