// lumivex-render --check, the measure: a file's lines as the saver reads them, and the numbers of
// each definition (how its maps stretch and are drawn, where its attractor lies, where its points land).
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

// Where the saver's own point set lands on a full screen of screenWidth x screenHeight: the share
// inside the box, inside the image (below the status strip), and inside the image clear of a band
// as tall as the strip at its bottom too; and the size of the bounding box of the points in the image.
struct PointShares {
    std::int32_t points = 0;
    double inBox = 0;
    double inImage = 0;
    double clearOfEdges = 0;
    std::int32_t litWidth = 0, litHeight = 0;
};
// The points are drawn with a fixed seed, the saver's random source left as it was; with set
// given, they are left there too.
PointShares MeasureShares(const IfsDefinition& def, std::int32_t points, std::int32_t screenWidth,
                          std::int32_t screenHeight, std::vector<ScreenPoint>* set = nullptr);

// Numbers as the reports write them: with a printf format, and a share as a percentage.
std::string FormatNumber(const char* format, double value);
std::string Percent(double share);

// --- Reading a file as the saver does, line by line. ---

// Where the numbers of a line stand, [first, last) each, as the loader reads them: up to
// `reals` real numbers and then, with wholeAfter, one whole number; it stops at the first miss.
struct NumberSpan {
    std::size_t first, last;
};
std::vector<NumberSpan> NumberSpans(const std::string& text, int reals, bool wholeAfter);
// Whatever stands after the numbers of a line, trimmed.
std::string TextAfter(const std::string& text, const std::vector<NumberSpan>& spans);
// Whether the text starts with a number as the loader reads one.
bool StartsWithNumber(const std::string& text);

struct FileLine {
    std::int32_t number = 0;  // line of the file, from 1
    LineUse use = LineUse::Skipped;
    std::int32_t missing = 0; // how many map or box lines in a row the end of the file left out
    bool wholeLine = true;    // the read began at the start of a line of the file
    std::string text;         // as read, line feed dropped
};

// A line's use as the reports name it.
const char* UseName(LineUse use);

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
// The same, saying the reason on err as lumivex-render does.
bool ReadForCheck(const std::string& path, FileReading* reading, std::FILE* err);
