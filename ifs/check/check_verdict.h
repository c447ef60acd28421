// lumivex-render --check, the verdict: what each definition of a file asks of the saver, with a
// warning for anything the author most likely did not mean.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ifs/check/check_measure.h"

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

// The definitions of a reading with their lines; what concerns the file as a whole goes to fileWarnings.
std::vector<DefinitionReport> CheckReading(const FileReading& reading, const CheckSettings& settings,
                                           std::vector<std::string>* fileWarnings);

// The warnings of the reports and of the file, all told.
std::size_t WarningCount(const std::vector<DefinitionReport>& reports, const std::vector<std::string>& fileWarnings);
