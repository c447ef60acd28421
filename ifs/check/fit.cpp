// lumivex-render --fit: a copy of a definition file with the suggested boxes (and weights).
#include "ifs/check/fit.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "ifs/check/check.h"
#include "ifs/check/output_files.h"

namespace {

// A line of the file as bytes: [first, contentEnd) is what the saver reads of it, the line feed
// (and a carriage return right before it) not included.
struct RawLine {
    std::size_t first, contentEnd;
};

std::vector<RawLine> SplitLines(const std::string& bytes) {
    std::vector<RawLine> lines;
    std::size_t first = 0;
    while (first < bytes.size()) {
        const std::size_t feed = bytes.find('\n', first);
        if (feed == std::string::npos) {
            lines.push_back({first, bytes.size()});
            break;
        }
        const std::size_t end = feed > first && bytes[feed - 1] == '\r' ? feed - 1 : feed;
        lines.push_back({first, end});
        first = feed + 1;
    }
    return lines;
}

struct Edit {
    std::size_t first, last;
    std::string text;
};

// Why a definition's lines cannot be rewritten in place, or empty when they can.
std::string Unfit(const DefinitionReport& report, const std::string& bytes, const std::vector<RawLine>& raw,
                  bool weights) {
    if (!report.attractorFound) return "its points run off, so there is no box to suggest";
    for (const FileLine& line : report.lines) {
        if (line.use != LineUse::Map && line.use != LineUse::Box) continue;
        if (line.missing > 0) return "the file ends inside it";
        const auto index = static_cast<std::size_t>(line.number - 1);
        if (!line.wholeLine || index >= raw.size() ||
            bytes.compare(raw[index].first, raw[index].contentEnd - raw[index].first, line.text) != 0)
            return "line " + std::to_string(line.number) + " is not read as a line of its own";
        const std::size_t numbers = line.use == LineUse::Box ? NumberSpans(line.text, 4, false).size()
                                                             : NumberSpans(line.text, 6, true).size();
        if (line.use == LineUse::Box && numbers < 4) return "its box line holds fewer than 4 numbers";
        if (line.use == LineUse::Map && weights && numbers < 7) return "a map line holds fewer than 7 numbers";
    }
    return "";
}

}  // namespace

// The fitted bytes; what was changed and which definitions were left alone go to the lists.
std::string FitText(const std::string& bytes, const std::vector<DefinitionReport>& reports, bool weights,
                    std::vector<std::string>* changes, std::vector<std::string>* left) {
    const std::vector<RawLine> raw = SplitLines(bytes);
    std::vector<Edit> edits;
    for (const DefinitionReport& report : reports) {
        const std::string why = Unfit(report, bytes, raw, weights);
        if (!why.empty()) {
            left->push_back("IFS # " + std::to_string(report.number) + " left as it is: " + why);
            continue;
        }
        std::size_t map = 0;
        for (const FileLine& line : report.lines) {
            if (line.use != LineUse::Map && line.use != LineUse::Box) continue;
            const std::size_t start = raw[static_cast<std::size_t>(line.number - 1)].first;
            if (line.use == LineUse::Box) {
                const auto spans = NumberSpans(line.text, 4, false);
                const std::string box = BoxLineText(report.suggested);
                edits.push_back({start + spans.front().first, start + spans.back().last, box});
                changes->push_back("line " + std::to_string(line.number) + ": box " +
                                   line.text.substr(spans.front().first, spans.back().last - spans.front().first) +
                                   " -> " + box);
            } else if (line.use == LineUse::Map && weights) {
                const auto spans = NumberSpans(line.text, 6, true);
                const std::string weight = std::to_string(report.maps[map].suggestedWeight);
                if (report.maps[map].map.weight != report.maps[map].suggestedWeight) {
                    edits.push_back({start + spans.back().first, start + spans.back().last, weight});
                    changes->push_back("line " + std::to_string(line.number) + ": weight " +
                                       std::to_string(report.maps[map].map.weight) + " -> " + weight);
                }
            }
            if (line.use == LineUse::Map) ++map;
        }
    }
    std::sort(edits.begin(), edits.end(), [](const Edit& l, const Edit& r) { return l.first < r.first; });
    std::string out;
    std::size_t from = 0;
    for (const Edit& edit : edits) {
        out.append(bytes, from, edit.first - from);
        out += edit.text;
        from = edit.last;
    }
    out.append(bytes, from, std::string::npos);
    return out;
}

int RunFit(const std::string& path, const std::string& outPath, bool weights, const CheckSettings& given,
           std::FILE* out, std::FILE* err) {
    if (!ScreenFits(given, err)) return 2;
    FileReading reading;
    if (!ReadForCheck(path, &reading, err)) return 2;
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        std::fprintf(err, "lumivex-render: cannot read %s\n", path.c_str());
        return 2;
    }
    CheckSettings settings = given;
    settings.pointCount = reading.pointCount;
    std::vector<std::string> fileWarnings, changes, left;
    const std::vector<DefinitionReport> reports = CheckReading(reading, settings, &fileWarnings);
    const std::string fitted = FitText(bytes, reports, weights, &changes, &left);

    // Written whole under the partial name, then renamed: the output is complete or absent.
    const std::string partial = PartialPath(outPath);
    std::FILE* file = std::fopen(partial.c_str(), "wb");
    bool written = file != nullptr;
    if (file != nullptr) {
        written = std::fwrite(fitted.data(), 1, fitted.size(), file) == fitted.size();
        written = std::fclose(file) == 0 && written;
    }
    if (!written) {
        RemoveQuietly(partial);
        std::fprintf(err, "lumivex-render: cannot write %s\n", outPath.c_str());
        return 2;
    }
    std::string error;
    if (!CommitPartial(outPath, &error)) {
        std::fprintf(err, "lumivex-render: %s\n", error.c_str());
        return 2;
    }
    for (const std::string& change : changes) std::fprintf(out, "%s\n", change.c_str());
    for (const std::string& reason : left) std::fprintf(out, "%s\n", reason.c_str());
    for (const std::string& warning : fileWarnings) std::fprintf(out, "warning: %s\n", warning.c_str());
    std::fprintf(out, "wrote %s: %zu of %zu definitions fitted for %dx%d%s\n", outPath.c_str(),
                 reports.size() - left.size(), reports.size(), settings.screenWidth, settings.screenHeight,
                 weights ? ", weights by area" : "");
    return left.empty() && !reports.empty() ? 0 : 1;
}
