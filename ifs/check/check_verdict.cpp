// lumivex-render --check, the verdict: the warnings and notes on each definition of a file.
#include "ifs/check/check_verdict.h"

#include <cmath>

#include "core/saver_state.h"
#include "ifs/text_input.h"

namespace {

// A map drawn less than this share of what its area asks leaves its part of the picture sparse.
constexpr double SparseShare = 1.0 / 3.0;

std::string Quoted(const std::string& text) {
    std::string shown = text.size() > 40 ? text.substr(0, 37) + "..." : text;
    return "\"" + shown + "\"";
}

// The warnings about the lines of one definition: what the loader read is not what the author
// most likely meant.
void CheckLines(const std::vector<FileLine>& lines, DefinitionReport* report) {
    std::int32_t mapIndex = 0;
    for (const FileLine& line : lines) {
        const std::string at = "line " + std::to_string(line.number);
        if (line.missing > 0) {
            report->warnings.push_back("the file ends before this definition does: " + std::to_string(line.missing) +
                                       (line.use == LineUse::Box ? " box line" : " map line(s)") +
                                       " missing, read as all 0");
            continue;
        }
        if (line.use == LineUse::Header) {
            std::int32_t n = 0;
            const char* end = ScanInt(line.text.c_str(), &n);
            if (end != nullptr && (*end == '.' || StartsWithNumber(end)))
                report->warnings.push_back(at + " is read as a header of " + std::to_string(n) + (n == 1 ? " map" : " maps") +
                                           " but holds more than one whole number: a comment or a map line out of step?");
        } else if (line.use == LineUse::Map) {
            ++mapIndex;
            const auto spans = NumberSpans(line.text, 6, true);
            const std::string after = TextAfter(line.text, spans);
            if (spans.size() < 7) {
                report->warnings.push_back(at + " (map " + std::to_string(mapIndex) + ") holds " +
                                           std::to_string(spans.size()) +
                                           " numbers, not 7: the rest read as 0 (a comment or short line among the map lines?)");
            } else if (!after.empty()) {
                report->warnings.push_back(at + " (map " + std::to_string(mapIndex) + ") has text after its 7 numbers, " +
                                           Quoted(after) + ", which the saver ignores");
            }
        } else if (line.use == LineUse::Box) {
            const auto spans = NumberSpans(line.text, 4, false);
            if (spans.size() < 4) {
                report->warnings.push_back(at + " (the box) holds " + std::to_string(spans.size()) +
                                           " numbers, not 4: the rest read as 0");
            } else if (StartsWithNumber(line.text.substr(spans.back().last))) {
                report->warnings.push_back(at + " (the box) holds more than 4 numbers: is it a map line? (check the "
                                           "number of maps in the header)");
            }
        } else if (line.use == LineUse::Skipped) {
            report->warnings.push_back(at + ", after this definition, starts with a number but is skipped (not a "
                                       "positive number of maps): a definition out of step?");
        }
    }
}

}  // namespace

DefinitionReport CheckDefinition(const IfsDefinition& def, std::int32_t number, const std::vector<FileLine>& lines,
                                 const CheckSettings& settings) {
    DefinitionReport report;
    report.number = number;
    report.lines = lines;
    const std::int32_t count = def.TransformCount;
    const std::vector<std::int32_t> draws = DrawCounts(def.Transforms, count);
    const std::vector<std::int32_t> suggested = SuggestWeights(def.Transforms, count);
    for (std::int32_t i = 0; i < count; ++i) {
        MapReport map;
        map.map = def.Transforms[i];
        map.stretch = LargestSingularValue(map.map.a, map.map.b, map.map.c, map.map.d);
        map.area = AreaFactor(map.map);
        map.draws = draws[static_cast<std::size_t>(i)];
        map.suggestedWeight = suggested[static_cast<std::size_t>(i)];
        report.weightSum += map.map.weight;
        report.averageStretch += map.draws * map.stretch / 101.0;
        report.maps.push_back(map);
    }
    report.box = {def.XMin, def.YMin, def.XMin + def.Width, def.YMin + def.Height};
    report.attractorFound = MeasureAttractor(def.Transforms, count, &report.attractor);
    if (report.attractorFound)
        report.suggested = SuggestBox(report.attractor, settings.screenWidth, settings.screenHeight);
    report.shares = MeasureShares(def, settings.pointCount > 0 ? settings.pointCount : 10000, settings.screenWidth,
                                  settings.screenHeight);

    std::vector<std::string>& warnings = report.warnings;
    for (std::size_t i = 0; i < report.maps.size(); ++i) {
        if (!(report.maps[i].stretch < 1))
            warnings.push_back("map " + std::to_string(i + 1) + " does not shrink: it stretches by up to " +
                               FormatNumber("%.4g", report.maps[i].stretch) + " (largest singular value >= 1)");
    }
    if (!(report.averageStretch < 1))
        warnings.push_back("the maps stretch by " + FormatNumber("%.4g", report.averageStretch) +
                           " on average (weighted by their draws): the points run off instead of settling");
    if (report.weightSum != 100 && count > 0) {
        const std::int32_t last = draws.back();
        const std::int32_t lastWeight = def.Transforms[count - 1].weight;
        std::string text = "the weights sum to " + std::to_string(report.weightSum) +
                           ", not 100: the draw runs 0 to 100, so the last map gets " + std::to_string(last) +
                           " of the 101 draws";
        if (report.weightSum < 100)
            text += " (its weight " + std::to_string(lastWeight) + " and the draws " +
                    std::to_string(report.weightSum + 1) + " to 100)";
        else
            text += " where its weight asks for " + std::to_string(lastWeight);
        warnings.push_back(text);
    }
    if (count > 1) {
        for (std::size_t i = 0; i < report.maps.size(); ++i) {
            const MapReport& map = report.maps[i];
            if (map.draws / 101.0 < SparseShare * map.suggestedWeight / 100.0)
                warnings.push_back("map " + std::to_string(i + 1) + " gets " + std::to_string(map.draws) +
                                   " of the 101 draws where its area asks for about " +
                                   std::to_string(map.suggestedWeight) + ": its part of the picture stays sparse");
        }
    }
    const bool flatBox = !(std::fabs(def.Width) > 0 && std::fabs(def.Width) < HUGE_VAL && std::fabs(def.Height) > 0 &&
                           std::fabs(def.Height) < HUGE_VAL);
    if (!report.attractorFound) {
        warnings.push_back("the chaos game runs off to infinity: nothing to see");
    } else if (flatBox) {
        warnings.push_back("the box has no width or no height: the saver piles every point into one column or row");
    } else if (report.shares.points > 0 && report.shares.inImage < LeastShareInImage) {
        warnings.push_back("only " + Percent(report.shares.inImage) + " of the points land in the image at " +
                           std::to_string(settings.screenWidth) + "x" + std::to_string(settings.screenHeight) +
                           " (" + Percent(report.shares.inBox) + " in the box): try the suggested box");
    }
    CheckLines(lines, &report);

    if (report.attractorFound) {
        const double visible =
            static_cast<double>(settings.screenHeight - StatusStripHeight) / settings.screenHeight;
        const double width = std::fabs(report.box.xMax - report.box.xMin);
        const double height = std::fabs(report.box.yMax - report.box.yMin) * visible;
        if (width > 0 && height > 0)
            report.notes.push_back("the fractal spans " + Percent((report.attractor.xMax - report.attractor.xMin) / width) +
                                   " of the image's width and " +
                                   Percent((report.attractor.yMax - report.attractor.yMin) / height) + " of its height");
    }
    if (report.box.xMax < report.box.xMin || report.box.yMax < report.box.yMin)
        report.notes.push_back("the box's corners are the wrong way round: the picture is mirrored");
    return report;
}

std::vector<DefinitionReport> CheckReading(const FileReading& reading, const CheckSettings& settings,
                                           std::vector<std::string>* fileWarnings) {
    std::vector<DefinitionReport> reports;
    std::vector<std::vector<FileLine>> groups;
    for (const FileLine& line : reading.lines) {
        if (line.use == LineUse::Header) {
            groups.emplace_back(1, line);
        } else if (line.use == LineUse::Map || line.use == LineUse::Box) {
            if (!groups.empty()) groups.back().push_back(line);
        } else if (line.use == LineUse::Skipped && StartsWithNumber(line.text)) {
            if (!groups.empty()) groups.back().push_back(line);  // a stray line after a definition
            else fileWarnings->push_back("line " + std::to_string(line.number) +
                                         ", before the first definition, starts with a number but is skipped");
        } else if (line.use == LineUse::Stopped) {
            fileWarnings->push_back("the reading stops at line " + std::to_string(line.number) +
                                    ": the maps of this header do not fit in memory");
        }
    }
    if (reading.definitions.empty())
        fileWarnings->push_back("no definitions: the saver stops with its message");
    if (reading.pointCount == 0) fileWarnings->push_back("the point count is 0: the saver draws nothing");
    for (std::size_t i = 0; i < reading.definitions.size() && i < groups.size(); ++i) {
        reports.push_back(CheckDefinition(*reading.definitions[i], static_cast<std::int32_t>(i + 1), groups[i], settings));
    }
    return reports;
}

std::size_t WarningCount(const std::vector<DefinitionReport>& reports, const std::vector<std::string>& fileWarnings) {
    std::size_t warnings = fileWarnings.size();
    for (const DefinitionReport& report : reports) warnings += report.warnings.size();
    return warnings;
}
