// lumivex-render --check, the measure: the lines of a file as the loader reads them, and the
// numbers of a definition.
#include "ifs/check/check_measure.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/saver_state.h"
#include "ifs/text_input.h"

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

std::string FormatNumber(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Percent(double share) { return FormatNumber("%.1f%%", share * 100); }

PointShares MeasureShares(const IfsDefinition& def, std::int32_t points, std::int32_t screenWidth,
                          std::int32_t screenHeight, std::vector<ScreenPoint>* set) {
    PointShares shares;
    shares.points = std::clamp(points, 0, MostSharePoints);
    std::vector<ScreenPoint> own;
    std::vector<ScreenPoint>& drawn = set != nullptr ? *set : own;
    drawn.assign(static_cast<std::size_t>(shares.points), ScreenPoint{0, 0});
    if (shares.points == 0) return shares;
    Colour colour = 0;
    const std::uint32_t saved = RandomState();
    SeedRandom(ShareSeed);
    def.Generate(shares.points, drawn.data(), &colour, screenWidth, screenHeight);
    SeedRandom(saved);
    const std::int32_t imageHeight = std::max(screenHeight - StatusStripHeight, 0);
    std::int64_t inBox = 0, inImage = 0, clear = 0;
    std::int32_t x0 = screenWidth, x1 = -1, y0 = imageHeight, y1 = -1;
    for (const ScreenPoint& p : drawn) {
        if (p.x < 0 || p.x >= screenWidth || p.y < 0) continue;
        if (p.y < screenHeight) ++inBox;
        if (p.y >= imageHeight) continue;
        ++inImage;
        if (p.y >= StatusStripHeight) ++clear;
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
    shares.inBox = static_cast<double>(inBox) / shares.points;
    shares.inImage = static_cast<double>(inImage) / shares.points;
    shares.clearOfEdges = static_cast<double>(clear) / shares.points;
    if (x1 >= 0) shares.litWidth = x1 - x0 + 1, shares.litHeight = y1 - y0 + 1;
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

bool ReadForCheck(const std::string& path, FileReading* reading, std::string* error) {
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = "cannot read " + path + (errno != 0 ? ": " + ErrorReason(errno) : "");
        return false;
    }
    reading->path = path;
    ResetSaverState();
    State.Mode = RunMode::Saver;
    Recorder recorder{reading};
    // No more than the saver reads: a source that never ends stops the check too.
    const FileEnd end = ReadDefinitionFile(file, Listen, &recorder, DefinitionFileBound);
    std::fclose(file);
    if (end.error != 0 || end.tooLong) {
        *error = "cannot read " + path + ": " +
                 (end.tooLong ? "it goes on past 256 MB, far longer than any definition file" : ErrorReason(end.error));
        return false;
    }
    reading->pointCount = State.PointCount;
    reading->showStatus = State.ShowStatus;
    for (const IfsDefinition* def = State.FirstDefinition; def != nullptr; def = def->Next)
        reading->definitions.push_back(def);
    return true;
}

bool ReadForCheck(const std::string& path, FileReading* reading, std::FILE* err) {
    std::string error;
    if (ReadForCheck(path, reading, &error)) return true;
    std::fprintf(err, "lumivex-render: %s\n", error.c_str());
    return false;
}
