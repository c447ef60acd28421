// lumivex-render --check: what a definition file asks of the saver, and how to frame and weigh it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ifs/ifs_definition.h"
#include "ifs/loader.h"

// A region of the plane, lower-left and upper-right corners.
struct PlaneBox {
    double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
};

// --- The numbers, as plain functions of a definition. ---

// How much the 2x2 part of a map stretches at most: its largest singular value.
double LargestSingularValue(double a, double b, double c, double d);
// How the map scales areas: |ad - bc|.
double AreaFactor(const IfsTransform& map);
// How many of the 101 draws (0 to 100) of the chaos game choose each map.
std::vector<std::int32_t> DrawCounts(const IfsTransform* maps, std::int32_t count);
// The attractor's bounding box by the chaos game, with a fixed seed, from a point on the
// attractor, ignoring the odd point far out of the rest. False when the points run off.
bool MeasureAttractor(const IfsTransform* maps, std::int32_t count, PlaneBox* box);
// A box around the attractor with a margin, as wide as the screen's aspect asks, whose top
// 16 rows (under the status strip) stay clear of it.
PlaneBox SuggestBox(const PlaneBox& attractor, std::int32_t screenWidth, std::int32_t screenHeight);
// Percent weights proportional to the maps' area factors, at least 1 each (a map of area 0, such
// as a stem, must still be drawn), summing to 100.
std::vector<std::int32_t> SuggestWeights(const IfsTransform* maps, std::int32_t count);
// A box as the line of a definition file: "xmin ymin xmax ymax".
std::string BoxLineText(const PlaneBox& box);

// What share of the saver's own point set lands inside the box and inside the image (below the
// status strip), for a full screen of screenWidth x screenHeight.
struct PointShares {
    std::int32_t points = 0;
    double inBox = 0;
    double inImage = 0;
};
PointShares MeasureShares(const IfsDefinition& def, std::int32_t points, std::int32_t screenWidth,
                          std::int32_t screenHeight);

// --- Reading a file as the saver does, line by line. ---

// Where the numbers of a line stand, [first, last) each, as the loader reads them: up to
// `reals` real numbers and then, with wholeAfter, one whole number; it stops at the first miss.
struct NumberSpan {
    std::size_t first, last;
};
std::vector<NumberSpan> NumberSpans(const std::string& text, int reals, bool wholeAfter);

struct FileLine {
    std::int32_t number = 0;  // line of the file, from 1
    LineUse use = LineUse::Skipped;
    std::int32_t missing = 0; // how many map or box lines in a row the end of the file left out
    bool wholeLine = true;    // the read began at the start of a line of the file
    std::string text;         // as read, line feed dropped
};

struct FileReading {
    std::string path;
    std::vector<FileLine> lines;
    std::int32_t pointCount = 0;
    bool showStatus = false;
    std::vector<const IfsDefinition*> definitions;  // in file order, owned by the saver's record
};

// Reads path with the saver's loader (full-screen mode) into the record; false with a reason
// when the file cannot be read.
bool ReadForCheck(const std::string& path, FileReading* reading, std::string* error);

// --- The verdict on one definition. ---

struct MapReport {
    IfsTransform map{};
    double stretch = 0;
    double area = 0;
    std::int32_t draws = 0;
    std::int32_t suggestedWeight = 0;
};

struct DefinitionReport {
    std::int32_t number = 0;  // as the status line shows it (the first also shows as 0)
    std::vector<MapReport> maps;
    std::int64_t weightSum = 0;
    double averageStretch = 0;  // weighted by the draws
    PlaneBox box;               // the definition's own
    bool attractorFound = false;
    PlaneBox attractor;
    PointShares shares;
    PlaneBox suggested;         // valid when attractorFound
    std::vector<FileLine> lines;  // header, maps, box and the lines skipped after it
    std::vector<std::string> notes;
    std::vector<std::string> warnings;
};

struct CheckSettings {
    std::int32_t screenWidth = 1920;
    std::int32_t screenHeight = 1080;
    std::int32_t pointCount = 0;  // the file's
};

// The least share of points that must land in the image.
constexpr double LeastShareInImage = 0.95;

// lines: what the loader read for this definition, header first.
DefinitionReport CheckDefinition(const IfsDefinition& def, std::int32_t number, const std::vector<FileLine>& lines,
                                 const CheckSettings& settings);

// The definitions of a reading with their lines.
std::vector<DefinitionReport> CheckReading(const FileReading& reading, const CheckSettings& settings,
                                           std::vector<std::string>* fileWarnings);

std::string ReportText(const DefinitionReport& report, const CheckSettings& settings);
std::string ReportJson(const DefinitionReport& report, const CheckSettings& settings);

// Whether the screen has an image below the status strip; says why not on err.
bool ScreenFits(const CheckSettings& settings, std::FILE* err);

// The whole of --check: the report on out; 0 without a warning, 1 with, 2 when the file cannot
// be read. path empty: the saver's search (current directory, then beside the program).
int RunCheck(const std::string& path, const CheckSettings& settings, bool json, std::FILE* out, std::FILE* err);

// The bytes of a definition file with the box lines (and, with weights, the weights) of every
// definition that can be rewritten in place replaced by the suggested ones. What changed and which
// definitions were left as they were, with why, go to the lists.
std::string FitText(const std::string& bytes, const std::vector<DefinitionReport>& reports, bool weights,
                    std::vector<std::string>* changes, std::vector<std::string>* left);

// --fit: a copy of the file at outPath with every box line (and, with weights, every weight)
// replaced by the suggested one; every other byte kept. Written under a partial name and renamed.
// 0 when every definition was fitted, 1 when some were left as they were, 2 when nothing was
// written.
int RunFit(const std::string& path, const std::string& outPath, bool weights, const CheckSettings& settings,
           std::FILE* out, std::FILE* err);
