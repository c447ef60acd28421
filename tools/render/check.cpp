// lumivex-render --check: reads a definition file as the saver does and judges each definition.
#include "tools/render/check.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/saver_state.h"
#include "ifs/text_input.h"
#include "backends/headless/headless_host.h"

namespace {

// The chaos game that measures the attractor: a point on it to start from, a few iterations
// more to be safe, a first sample that tells the bulk of the attractor from stray points, and
// enough points that the extremes come within a small fraction of the attractor's size.
constexpr int SettleIterations = 100;
constexpr int BulkSamples = 16384;
constexpr std::int32_t AttractorSamples = 1000000;
constexpr double BulkQuantile = 0.001;
// A point counts when it lies within this share of the bulk's size beyond the bulk.
constexpr double OutlierReach = 0.5;
// Points beyond this magnitude have run off.
constexpr double RunOff = 1e150;
// Empty border around the attractor, as a share of the image on each side.
constexpr double Margin = 0.05;
// A map drawn less than this share of what its area asks leaves its part of the picture sparse.
constexpr double SparseShare = 1.0 / 3.0;
// Most points generated to measure the shares.
constexpr std::int32_t MostSharePoints = 1000000;
constexpr std::uint32_t ShareSeed = 1;

// A fixed-seed generator apart from the saver's random source.
struct Draws {
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    std::size_t Below(std::size_t limit) {  // from 0 to limit - 1
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::size_t>((state >> 32) % limit);
    }
};

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Percent(double share) { return Format("%.1f%%", share * 100); }

// A real number with a given count of decimals, trailing zeros dropped.
std::string Decimal(double value, int decimals) {
    if (!std::isfinite(value)) return value != value ? "nan" : (value > 0 ? "inf" : "-inf");
    char text[400];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string s = text;
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    if (s == "-0") s = "0";
    return s;
}

// Decimals that give about seven significant digits at the scale of size.
int DecimalsFor(double size) {
    if (!(size > 0) || !std::isfinite(size)) return 6;
    return std::clamp(6 - static_cast<int>(std::floor(std::log10(size))), 0, 17);
}

std::string BoxText(const PlaneBox& box) {
    const double size = std::max(std::fabs(box.xMax - box.xMin), std::fabs(box.yMax - box.yMin));
    const int decimals = DecimalsFor(size);
    return Decimal(box.xMin, decimals) + " " + Decimal(box.yMin, decimals) + " " + Decimal(box.xMax, decimals) + " " +
           Decimal(box.yMax, decimals);
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::size_t SkipSpace(const std::string& text, std::size_t at) {
    while (at < text.size() && IsSpace(text[at])) ++at;
    return at;
}

// Whatever stands after the numbers of a line, trimmed.
std::string TextAfter(const std::string& text, const std::vector<NumberSpan>& spans) {
    std::size_t at = SkipSpace(text, spans.empty() ? 0 : spans.back().last);
    std::size_t end = text.size();
    while (end > at && IsSpace(text[end - 1])) --end;
    return text.substr(at, end - at);
}

bool StartsWithNumber(const std::string& text) {
    double value = 0;
    return ScanDouble(text.c_str(), &value) != nullptr;
}

std::string Quoted(const std::string& text) {
    std::string shown = text.size() > 40 ? text.substr(0, 37) + "..." : text;
    return "\"" + shown + "\"";
}

// Collects the lines of a reading as the loader hands them over.
struct Recorder {
    FileReading* reading;
    std::int32_t line = 1;
    bool atLineStart = true;
};

void Listen(void* context, LineUse use, const char* text) {
    auto* recorder = static_cast<Recorder*>(context);
    std::vector<FileLine>& lines = recorder->reading->lines;
    if (text == nullptr) {
        if (!lines.empty() && lines.back().missing > 0 && lines.back().use == use) {
            ++lines.back().missing;
        } else {
            FileLine missing;
            missing.number = recorder->line;
            missing.use = use;
            missing.missing = 1;
            lines.push_back(missing);
        }
        return;
    }
    FileLine line;
    line.number = recorder->line;
    line.use = use;
    line.wholeLine = recorder->atLineStart;
    std::size_t length = std::strlen(text);
    const bool ends = length > 0 && text[length - 1] == '\n';
    line.text.assign(text, ends ? length - 1 : length);
    lines.push_back(std::move(line));
    recorder->atLineStart = ends;
    if (ends) ++recorder->line;
}

const char* UseName(LineUse use) {
    switch (use) {
    case LineUse::Skipped: return "skipped";
    case LineUse::Count: return "count";
    case LineUse::Header: return "header";
    case LineUse::Map: return "map";
    case LineUse::Box: return "box";
    case LineUse::Stopped: return "stopped";
    }
    return "?";
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

double LargestSingularValue(double a, double b, double c, double d) {
    // The two singular values are (p + q) / 2 and |p - q| / 2 with these two lengths.
    const double p = std::hypot(a + d, b - c);
    const double q = std::hypot(a - d, b + c);
    return (p + q) / 2;
}

double AreaFactor(const IfsTransform& map) { return std::fabs(map.a * map.d - map.b * map.c); }

std::vector<std::int32_t> DrawCounts(const IfsTransform* maps, std::int32_t count) {
    std::vector<std::int32_t> draws(static_cast<std::size_t>(std::max(count, 0)), 0);
    if (count <= 0) return draws;
    std::int32_t choice[101];
    BuildMapChoice(maps, count, choice);
    for (std::int32_t r = 0; r <= 100; ++r) ++draws[static_cast<std::size_t>(choice[r])];
    return draws;
}

bool MeasureAttractor(const IfsTransform* maps, std::int32_t count, PlaneBox* box) {
    if (count <= 0) return false;
    const auto n = static_cast<std::size_t>(count);
    const std::vector<std::int32_t> draws = DrawCounts(maps, count);

    // When every map the saver uses shrinks, the attractor is the same set whatever their
    // shares: drawing them by area reaches its far corners soonest, even where the file's
    // weights neglect a map. Otherwise the saver's own shares say where the points go.
    bool shrinking = true;
    for (std::size_t i = 0; i < n; ++i) {
        const IfsTransform& m = maps[i];
        if (draws[i] > 0 && !(LargestSingularValue(m.a, m.b, m.c, m.d) < 1)) shrinking = false;
    }
    const std::vector<std::int32_t> byArea = SuggestWeights(maps, count);
    std::vector<std::uint32_t> slots;  // each map as many times as its share
    for (std::size_t i = 0; i < n; ++i) {
        if (draws[i] == 0) continue;
        const std::int32_t share = shrinking ? std::max(byArea[i], 1) : draws[i];
        slots.insert(slots.end(), static_cast<std::size_t>(share), static_cast<std::uint32_t>(i));
    }

    // The fixed point of a shrinking map that the game uses lies on the attractor.
    double x = 0, y = 0;
    int settle = SettleIterations;
    bool onAttractor = false;
    for (std::int32_t i = 0; i < count && !onAttractor; ++i) {
        const IfsTransform& m = maps[i];
        if (draws[static_cast<std::size_t>(i)] == 0 || !(LargestSingularValue(m.a, m.b, m.c, m.d) < 1)) continue;
        const double det = (1 - m.a) * (1 - m.d) - m.b * m.c;
        if (det == 0) continue;
        x = (m.e * (1 - m.d) + m.b * m.f) / det;
        y = ((1 - m.a) * m.f + m.c * m.e) / det;
        onAttractor = std::isfinite(x) && std::isfinite(y);
    }
    if (!onAttractor) x = y = 0, settle = 10 * SettleIterations;

    Draws random;
    auto step = [&] {
        const IfsTransform& m = maps[slots[random.Below(slots.size())]];
        const double nx = m.a * x + m.b * y + m.e;
        const double ny = m.c * x + m.d * y + m.f;
        x = nx;
        y = ny;
        return std::fabs(x) < RunOff && std::fabs(y) < RunOff;  // false for NaN as well
    };
    for (int i = 0; i < settle; ++i) {
        if (!step()) return false;
    }

    // The bulk: where all but a tiny share of a first sample lie.
    std::vector<double> xs(BulkSamples), ys(BulkSamples);
    for (int i = 0; i < BulkSamples; ++i) {
        if (!step()) return false;
        xs[static_cast<std::size_t>(i)] = x;
        ys[static_cast<std::size_t>(i)] = y;
    }
    auto quantile = [](std::vector<double>& values, double q) {
        const auto k = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1));
        std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
        return values[k];
    };
    const double bx0 = quantile(xs, BulkQuantile), bx1 = quantile(xs, 1 - BulkQuantile);
    const double by0 = quantile(ys, BulkQuantile), by1 = quantile(ys, 1 - BulkQuantile);
    const double scale = std::max({std::fabs(bx0), std::fabs(bx1), std::fabs(by0), std::fabs(by1)});
    const double reach = OutlierReach * std::max(bx1 - bx0, by1 - by0) + 1e-12 * (1 + scale);
    const double lowX = bx0 - reach, highX = bx1 + reach, lowY = by0 - reach, highY = by1 + reach;

    // The extremes: every point near the bulk counts, the first sample's included.
    PlaneBox found{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
                   -std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    auto take = [&](double px, double py) {
        if (px < lowX || px > highX || py < lowY || py > highY) return;
        found.xMin = std::min(found.xMin, px);
        found.xMax = std::max(found.xMax, px);
        found.yMin = std::min(found.yMin, py);
        found.yMax = std::max(found.yMax, py);
    };
    for (int i = 0; i < BulkSamples; ++i) take(xs[static_cast<std::size_t>(i)], ys[static_cast<std::size_t>(i)]);
    for (std::int32_t i = BulkSamples; i < AttractorSamples; ++i) {
        if (!step()) return false;
        take(x, y);
    }
    if (!(found.xMin <= found.xMax && found.yMin <= found.yMax)) return false;
    *box = found;
    return true;
}

PlaneBox SuggestBox(const PlaneBox& attractor, std::int32_t screenWidth, std::int32_t screenHeight) {
    // The points of the top StatusStripHeight rows of the box fall under the strip.
    const double visible = static_cast<double>(screenHeight - StatusStripHeight) / screenHeight;
    double width = attractor.xMax - attractor.xMin;
    double height = attractor.yMax - attractor.yMin;
    if (!(width > 0) && !(height > 0)) {
        // A single point: a box of its own magnitude around it.
        const double scale = std::max(std::fabs(attractor.xMin), std::fabs(attractor.yMin));
        width = height = scale > 0 ? scale / 10 : 1;
    }
    width /= 1 - 2 * Margin;
    height /= 1 - 2 * Margin;
    const double aspect = static_cast<double>(screenWidth) / screenHeight;
    const double boxHeight = std::max(height / visible, width / aspect);
    const double boxWidth = boxHeight * aspect;
    const double cx = (attractor.xMin + attractor.xMax) / 2;
    const double cy = (attractor.yMin + attractor.yMax) / 2;
    PlaneBox box;
    box.xMin = cx - boxWidth / 2;
    box.xMax = box.xMin + boxWidth;
    box.yMin = cy - boxHeight * visible / 2;
    box.yMax = box.yMin + boxHeight;
    return box;
}

std::vector<std::int32_t> SuggestWeights(const IfsTransform* maps, std::int32_t count) {
    std::vector<std::int32_t> weights(static_cast<std::size_t>(std::max(count, 0)), 0);
    if (count <= 0) return weights;
    const auto n = static_cast<std::size_t>(count);
    const double floor = count <= 100 ? 1.0 : 0.0;
    std::vector<double> area(n);
    double total = 0;
    for (std::size_t i = 0; i < n; ++i) {
        area[i] = AreaFactor(maps[i]);
        if (!std::isfinite(area[i])) area[i] = 0;
        total += area[i];
    }
    if (!(total > 0) || !std::isfinite(total)) {
        std::fill(area.begin(), area.end(), 1.0);
        total = static_cast<double>(n);
    }
    // Maps whose share falls below the floor get the floor; the others share what is left by area.
    // Those are the smallest: take them in order of area until the next one holds its own.
    std::vector<std::size_t> small(n);
    for (std::size_t i = 0; i < n; ++i) small[i] = i;
    std::stable_sort(small.begin(), small.end(), [&](std::size_t l, std::size_t r) { return area[l] < area[r]; });
    double shared = total;
    std::size_t floored = 0;
    while (floored < n && (100 - floor * floored) * area[small[floored]] < floor * shared) {
        shared -= area[small[floored]];
        ++floored;
    }
    std::vector<double> raw(n, floor);
    for (std::size_t k = floored; k < n; ++k)
        raw[small[k]] = shared > 0 ? (100 - floor * floored) * area[small[k]] / shared : 0;
    // Whole numbers: round down, then the largest remainders take what is missing.
    std::int32_t sum = 0;
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) {
        weights[i] = static_cast<std::int32_t>(std::floor(raw[i] + 1e-9));
        sum += weights[i];
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t l, std::size_t r) { return raw[l] - weights[l] > raw[r] - weights[r]; });
    for (std::size_t k = 0; sum < 100; k = (k + 1) % n, ++sum) ++weights[order[k]];
    for (std::size_t k = 0; sum > 100; k = (k + 1) % n) {
        const std::size_t i = order[n - 1 - k];
        if (weights[i] > floor) --weights[i], --sum;
    }
    return weights;
}

std::string BoxLineText(const PlaneBox& box) { return BoxText(box); }

PointShares MeasureShares(const IfsDefinition& def, std::int32_t points, std::int32_t screenWidth,
                          std::int32_t screenHeight) {
    PointShares shares;
    shares.points = std::clamp(points, 0, MostSharePoints);
    if (shares.points == 0) return shares;
    std::vector<ScreenPoint> set(static_cast<std::size_t>(shares.points));
    Colour colour = 0;
    const std::uint32_t saved = RandomState();
    SeedRandom(ShareSeed);
    def.Generate(shares.points, set.data(), &colour, screenWidth, screenHeight);
    SeedRandom(saved);
    const std::int32_t imageHeight = std::max(screenHeight - StatusStripHeight, 0);
    std::int64_t inBox = 0, inImage = 0;
    for (const ScreenPoint& p : set) {
        if (p.x < 0 || p.x >= screenWidth || p.y < 0) continue;
        if (p.y < screenHeight) ++inBox;
        if (p.y < imageHeight) ++inImage;
    }
    shares.inBox = static_cast<double>(inBox) / shares.points;
    shares.inImage = static_cast<double>(inImage) / shares.points;
    return shares;
}

std::vector<NumberSpan> NumberSpans(const std::string& text, int reals, bool wholeAfter) {
    std::vector<NumberSpan> spans;
    const char* base = text.c_str();
    const char* p = base;
    for (int i = 0; i < reals + (wholeAfter ? 1 : 0); ++i) {
        const std::size_t first = SkipSpace(text, static_cast<std::size_t>(p - base));
        const char* end = nullptr;
        if (i < reals) {
            double value = 0;
            end = ScanDouble(p, &value);
        } else {
            std::int32_t value = 0;
            end = ScanInt(p, &value);
        }
        if (end == nullptr) break;
        spans.push_back({first, static_cast<std::size_t>(end - base)});
        p = end;
    }
    return spans;
}

bool ReadForCheck(const std::string& path, FileReading* reading, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = "cannot read " + path;
        return false;
    }
    reading->path = path;
    ResetSaverState();
    State.Mode = RunMode::Saver;
    Recorder recorder{reading};
    ReadDefinitionFile(file, Listen, &recorder);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        *error = "cannot read " + path;
        return false;
    }
    reading->pointCount = State.PointCount;
    reading->showStatus = State.ShowStatus;
    for (const IfsDefinition* def = State.FirstDefinition; def != nullptr; def = def->Next)
        reading->definitions.push_back(def);
    return true;
}

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
                               Format("%.4g", report.maps[i].stretch) + " (largest singular value >= 1)");
    }
    if (!(report.averageStretch < 1))
        warnings.push_back("the maps stretch by " + Format("%.4g", report.averageStretch) +
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

std::string ReportText(const DefinitionReport& report, const CheckSettings& settings) {
    std::string text;
    const FileLine* header = report.lines.empty() ? nullptr : &report.lines.front();
    text += "IFS # " + std::to_string(report.number);
    if (report.number == 1) text += " (the status line also shows 0)";
    if (header != nullptr) text += ", line " + std::to_string(header->number);
    text += ": " + std::to_string(report.maps.size()) + (report.maps.size() == 1 ? " map\n" : " maps\n");

    std::string weights;
    for (const MapReport& map : report.maps) weights += std::to_string(map.map.weight) + " ";
    text += "  weights    " + weights + "(sum " + std::to_string(report.weightSum) + ")\n";
    for (std::size_t i = 0; i < report.maps.size(); ++i) {
        const MapReport& map = report.maps[i];
        char line[160];
        std::snprintf(line, sizeof line, "  map %-6zu stretch %.4f  area %.4f  draws %d of 101\n", i + 1, map.stretch,
                      map.area, map.draws);
        text += line;
    }
    text += "  average    stretch " + Format("%.4f", report.averageStretch) + " (weighted by the draws)\n";
    if (report.attractorFound)
        text += "  attractor  " + BoxText(report.attractor) + "\n";
    else
        text += "  attractor  none: the points run off\n";
    text += "  points     " + Percent(report.shares.inBox) + " in the box, " + Percent(report.shares.inImage) +
            " in the image (" + std::to_string(report.shares.points) + " points, " +
            std::to_string(settings.screenWidth) + "x" + std::to_string(settings.screenHeight) + ")\n";
    text += "  box        " + BoxText(report.box) + "\n";
    if (report.attractorFound) text += "  suggested  " + BoxText(report.suggested) + "\n";
    std::string suggestedWeights;
    for (const MapReport& map : report.maps) suggestedWeights += " " + std::to_string(map.suggestedWeight);
    text += "  by area    weights" + suggestedWeights + "\n";
    bool first = true;
    for (const FileLine& line : report.lines) {
        text += first ? "  lines      " : "             ";
        first = false;
        if (line.missing > 0)
            text += "(" + std::to_string(line.missing) + " " + UseName(line.use) + " line(s) missing at the end)\n";
        else
            text += std::to_string(line.number) + ": " + line.text + "\n";
    }
    for (const std::string& note : report.notes) text += "  note: " + note + "\n";
    for (const std::string& warning : report.warnings) text += "  warning: " + warning + "\n";
    return text;
}

namespace {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c >= 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string JsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char text[40];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

std::string JsonBox(const PlaneBox& box) {
    return "[" + JsonNumber(box.xMin) + "," + JsonNumber(box.yMin) + "," + JsonNumber(box.xMax) + "," +
           JsonNumber(box.yMax) + "]";
}

template <typename T, typename F>
std::string JsonList(const std::vector<T>& items, F each) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) out += (i > 0 ? "," : "") + each(items[i]);
    return out + "]";
}

}  // namespace

std::string ReportJson(const DefinitionReport& report, const CheckSettings& settings) {
    std::string out = "{\"ifs\":" + std::to_string(report.number);
    out += ",\"line\":" + std::to_string(report.lines.empty() ? 0 : report.lines.front().number);
    out += ",\"maps\":" + JsonList(report.maps, [](const MapReport& m) {
        const IfsTransform& t = m.map;
        return "{\"abcdef\":[" + JsonNumber(t.a) + "," + JsonNumber(t.b) + "," + JsonNumber(t.c) + "," +
               JsonNumber(t.d) + "," + JsonNumber(t.e) + "," + JsonNumber(t.f) + "],\"weight\":" +
               std::to_string(t.weight) + ",\"stretch\":" + JsonNumber(m.stretch) + ",\"area\":" + JsonNumber(m.area) +
               ",\"draws\":" + std::to_string(m.draws) + ",\"suggested_weight\":" +
               std::to_string(m.suggestedWeight) + "}";
    });
    out += ",\"weight_sum\":" + std::to_string(report.weightSum);
    out += ",\"average_stretch\":" + JsonNumber(report.averageStretch);
    out += ",\"attractor\":" + (report.attractorFound ? JsonBox(report.attractor) : std::string("null"));
    out += ",\"points\":" + std::to_string(report.shares.points);
    out += ",\"in_box\":" + JsonNumber(report.shares.inBox);
    out += ",\"in_image\":" + JsonNumber(report.shares.inImage);
    out += ",\"screen\":[" + std::to_string(settings.screenWidth) + "," + std::to_string(settings.screenHeight) + "]";
    out += ",\"box\":" + JsonBox(report.box);
    out += ",\"suggested_box\":" + (report.attractorFound ? JsonBox(report.suggested) : std::string("null"));
    out += ",\"suggested_box_line\":" + (report.attractorFound ? JsonString(BoxText(report.suggested)) : std::string("null"));
    out += ",\"lines\":" + JsonList(report.lines, [](const FileLine& l) {
        return "{\"line\":" + std::to_string(l.number) + ",\"use\":\"" + UseName(l.use) + "\"" +
               (l.missing > 0 ? ",\"missing\":" + std::to_string(l.missing) : ",\"text\":" + JsonString(l.text)) + "}";
    });
    out += ",\"notes\":" + JsonList(report.notes, JsonString);
    out += ",\"warnings\":" + JsonList(report.warnings, JsonString);
    return out + "}";
}

namespace {

// The file the saver would read: the current directory, then beside the program.
std::string FindDefinitionFile() {
    if (std::FILE* file = std::fopen("lumivex.ini", "rb")) {
        std::fclose(file);
        return "lumivex.ini";
    }
    return ProgramDirectory() + "/lumivex.ini";
}

}  // namespace

bool ScreenFits(const CheckSettings& settings, std::FILE* err) {
    if (settings.screenHeight > StatusStripHeight && settings.screenWidth > 0) return true;
    std::fprintf(err, "lumivex-render: --check and --fit need a screen taller than the %d-row status strip\n",
                 StatusStripHeight);
    return false;
}

int RunCheck(const std::string& path, const CheckSettings& given, bool json, std::FILE* out, std::FILE* err) {
    if (!ScreenFits(given, err)) return 2;
    FileReading reading;
    std::string error;
    if (!ReadForCheck(path.empty() ? FindDefinitionFile() : path, &reading, &error)) {
        std::fprintf(err, "lumivex-render: %s\n", error.c_str());
        return 2;
    }
    CheckSettings settings = given;
    settings.pointCount = reading.pointCount;
    std::vector<std::string> fileWarnings;
    const std::vector<DefinitionReport> reports = CheckReading(reading, settings, &fileWarnings);

    std::size_t warnings = fileWarnings.size();
    std::string flagged;
    for (const DefinitionReport& report : reports) {
        warnings += report.warnings.size();
        if (!report.warnings.empty()) flagged += (flagged.empty() ? "" : ", ") + std::to_string(report.number);
    }
    if (!json) {
        std::fprintf(out, "%s: %d points%s, %zu definition%s, checked for %dx%d\n\n", reading.path.c_str(),
                     reading.pointCount, reading.showStatus ? " (status line on)" : "", reports.size(),
                     reports.size() == 1 ? "" : "s", settings.screenWidth, settings.screenHeight);
    }
    for (const DefinitionReport& report : reports) {
        if (json) std::fprintf(out, "%s\n", ReportJson(report, settings).c_str());
        else std::fprintf(out, "%s\n", ReportText(report, settings).c_str());
    }
    std::string summary = std::to_string(reports.size()) + (reports.size() == 1 ? " definition, " : " definitions, ") +
                          std::to_string(warnings) +
                          (warnings == 1 ? " warning" : " warnings");
    if (!flagged.empty()) summary += " (IFS # " + flagged + ")";
    summary += warnings == 0 ? ": ready for the saver" : "";
    if (json) {
        std::fprintf(out, "{\"summary\":%s,\"file\":%s,\"point_count\":%d,\"definitions\":%zu,\"warnings\":%zu,"
                          "\"file_warnings\":%s}\n",
                     JsonString(summary).c_str(), JsonString(reading.path).c_str(), reading.pointCount, reports.size(),
                     warnings, JsonList(fileWarnings, JsonString).c_str());
    } else {
        for (const std::string& warning : fileWarnings) std::fprintf(out, "warning: %s\n", warning.c_str());
        std::fprintf(out, "%s\n", summary.c_str());
    }
    if (std::fflush(out) != 0) return 2;
    return warnings == 0 ? 0 : 1;
}
