// lumivex-render --import and --export-ifs: .ifs entries read and checked, written as Lumivex
// definitions with fitted boxes, and Lumivex definitions written back as .ifs entries.
#include "ifs/check/ifs_format.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "ifs/text_input.h"
#include "ifs/check/check.h"
#include "ifs/check/output_files.h"

namespace {

// Comments are cut to this many bytes: a Lumivex line holds at most 2047 characters, and what a
// longer one leaves over would be read as a line of its own.
constexpr std::size_t MostCommentBytes = 1000;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string Trim(const std::string& text) {
    std::size_t first = 0, end = text.size();
    while (first < end && IsBlank(text[first])) ++first;
    while (end > first && IsBlank(text[end - 1])) --end;
    return text.substr(first, end - first);
}

// Control characters become spaces, the whole is trimmed and cut to a line's share.
std::string Clean(const std::string& text) {
    std::string out;
    for (const char c : text) out += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
    out = Trim(out);
    return out.size() > MostCommentBytes ? Trim(out.substr(0, MostCommentBytes)) : out;
}

bool ContainsNoCase(const std::string& text, const std::string& part) {
    const auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        return s;
    };
    return lower(text).find(lower(part)) != std::string::npos;
}

// The lines of a .ifs file: a line feed, a carriage return and line feed, or a lone carriage
// return ends one; a Ctrl-Z ends the file, as in the files of old DOS programs.
std::vector<std::string> SplitIfsLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::string line;
    bool pending = false;
    for (std::size_t i = 0; i < bytes.size() && bytes[i] != 0x1A; ++i) {
        const char c = bytes[i];
        pending = true;
        if (c == '\n' || c == '\r') {
            lines.push_back(line);
            line.clear();
            pending = false;
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        } else {
            line += c;
        }
    }
    if (pending) lines.push_back(line);
    return lines;
}

// The numbers of a data line, separated by blanks or by one comma (with blanks around it or not).
// False with the reason when a field is empty or does not read as a finite number.
bool ReadFields(const std::string& text, std::vector<double>* values, std::string* why) {
    std::size_t at = 0;
    bool expectNumber = true;  // at the start and right after a comma
    bool afterComma = false;
    while (true) {
        while (at < text.size() && IsBlank(text[at])) ++at;
        if (at >= text.size()) break;
        if (text[at] == ',') {
            if (expectNumber) return *why = "an empty number before a comma", false;
            expectNumber = afterComma = true;
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && !IsBlank(text[end]) && text[end] != ',') ++end;
        const std::string word = text.substr(at, end - at);
        double value = 0;
        const char* stop = ScanDouble(word.c_str(), &value);
        if (stop == nullptr || *stop != '\0') return *why = "\"" + Clean(word) + "\" does not read as a number", false;
        if (!std::isfinite(value)) return *why = "\"" + Clean(word) + "\" is too large for a number", false;
        values->push_back(value);
        expectNumber = afterComma = false;
        at = end;
    }
    if (afterComma) return *why = "a comma with no number after it", false;
    return true;
}

// Whole percents in proportion to the shares, summing to 100: each rounded down, then the
// largest remainders take what is missing.
std::vector<std::int32_t> LargestRemainder(const std::vector<double>& shares) {
    const std::size_t n = shares.size();
    // Shares of the largest one, so that huge probabilities cannot overflow the sum.
    const double most = *std::max_element(shares.begin(), shares.end());
    double total = 0;
    for (const double share : shares) total += share / most;
    std::vector<double> raw(n);
    std::vector<std::int32_t> weights(n);
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        raw[i] = 100 * (shares[i] / most) / total;
        weights[i] = static_cast<std::int32_t>(std::floor(raw[i] + 1e-9));  // 0.07 * 100 is 7, not 7.000000000000001
        sum += weights[i];
    }
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t l, std::size_t r) { return raw[l] - weights[l] > raw[r] - weights[r]; });
    for (std::size_t k = 0; sum < 100; k = (k + 1) % n, ++sum) ++weights[order[k]];
    for (std::size_t k = 0; sum > 100; k = (k + 1) % n) {
        const std::size_t i = order[n - 1 - k];
        if (weights[i] > 0) --weights[i], --sum;
    }
    return weights;
}

// One entry while it is read.
struct OpenEntry {
    std::string name;
    std::int32_t line = 0;
    bool threeD = false;
    std::vector<std::vector<double>> rows;
    std::vector<std::int32_t> rowLines;
    std::vector<std::string> comments;
    bool bad = false;
};

class IfsReader {
public:
    IfsReader(const std::string& fileName, IfsReading* reading) : file_(fileName), reading_(reading) {}

    void Read(const std::vector<std::string>& lines) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const auto number = static_cast<std::int32_t>(i + 1);
            const std::size_t semicolon = lines[i].find(';');
            std::string body = lines[i].substr(0, semicolon);
            const std::string comment = semicolon == std::string::npos ? "" : Clean(lines[i].substr(semicolon + 1));
            // A name line while an entry is open: that entry lacks its closing brace.
            if (open_ && body.find('{') < body.find('}')) {
                Problem(open_->line, "no closing brace before the next entry at line " + std::to_string(number));
                Finish();
            }
            if (!comment.empty()) (open_ ? open_->comments : pending_).push_back(comment);
            Parts(body, number);
        }
        if (open_) {
            Problem(open_->line, "no closing brace: the file ends at line " + std::to_string(lines.size()));
            Finish();
        }
        reading_->trailing = pending_;
    }

private:
    std::string EntryName(const OpenEntry& entry) const { return "entry \"" + entry.name + "\""; }

    void Problem(std::int32_t line, const std::string& what) {
        reading_->problems.push_back(file_ + ":" + std::to_string(line) + ": " + EntryName(*open_) + ": " + what);
        open_->bad = true;
    }

    void Stray(std::int32_t line, const std::string& what) {
        const std::string where = lastName_.empty() ? "before the first entry" : "after entry \"" + lastName_ + "\"";
        reading_->problems.push_back(file_ + ":" + std::to_string(line) + ": " + what + ", " + where);
    }

    // One line's text before its comment, in turns outside and inside entries: a line may open
    // and close several. A loop, not a recursion: a line of a million braces costs no stack.
    void Parts(const std::string& body, std::int32_t line) {
        std::size_t at = 0;
        while (at <= body.size()) {
            if (open_) {
                const std::size_t close = body.find('}', at);
                const std::string data = body.substr(at, close == std::string::npos ? std::string::npos : close - at);
                if (!Trim(data).empty() && !open_->threeD) Row(data, line);
                if (close == std::string::npos) return;
                Finish();
                at = close + 1;
                continue;
            }
            const std::size_t brace = body.find_first_of("{}", at);
            if (brace == std::string::npos) {
                if (!Trim(body.substr(at)).empty()) Stray(line, "text outside any entry, \"" + Clean(body.substr(at)) + "\"");
                return;
            }
            if (body[brace] == '}') {
                Stray(line, "a closing brace outside any entry");
                at = brace + 1;
                continue;
            }
            open_.reset(new OpenEntry);
            open_->line = line;
            open_->name = Clean(body.substr(at, brace - at));
            if (open_->name.empty()) open_->name = "unnamed, line " + std::to_string(line);
            open_->threeD = ContainsNoCase(open_->name, "(3D)");
            open_->comments = pending_;
            pending_.clear();
            at = brace + 1;
        }
    }

    void Row(const std::string& data, std::int32_t line) {
        std::vector<double> values;
        std::string why;
        if (!ReadFields(data, &values, &why)) {
            Problem(line, why);
        } else if (values.size() != 6 && values.size() != 7) {
            Problem(line, std::to_string(values.size()) + " numbers, not 6 or 7 (a b c d e f and a probability)");
        } else {
            open_->rows.push_back(values);
            open_->rowLines.push_back(line);
        }
    }

    void Finish() {
        OpenEntry& entry = *open_;
        ++reading_->entriesSeen;
        lastName_ = entry.name;
        if (entry.threeD) {
            Problem(entry.line, "three-dimensional, and Lumivex draws in the plane: skipped");
        } else if (!entry.bad && entry.rows.empty()) {
            Problem(entry.line, "empty: no maps");
        } else if (!entry.bad && entry.rows.size() > MostImportedMaps) {
            Problem(entry.line, std::to_string(entry.rows.size()) + " maps, more than the " +
                                    std::to_string(MostImportedMaps) +
                                    " a Lumivex definition can weigh in whole percents");
        }
        if (!entry.bad) Weigh(entry);
        if (!entry.bad) {
            IfsEntry good;
            good.name = entry.name;
            good.line = entry.line;
            good.comments = entry.comments;
            for (const std::vector<double>& row : entry.rows)
                good.maps.push_back({row[0], row[1], row[2], row[3], row[4], row[5], 0});
            good.probabilities = entry.rows.front().size() == 7;
            if (good.probabilities) {
                std::vector<double> shares;
                for (const std::vector<double>& row : entry.rows) shares.push_back(row[6]);
                const std::vector<std::int32_t> weights = LargestRemainder(shares);
                for (std::size_t i = 0; i < weights.size(); ++i) good.maps[i].weight = weights[i];
            } else {
                const std::vector<std::int32_t> weights =
                    SuggestWeights(good.maps.data(), static_cast<std::int32_t>(good.maps.size()));
                for (std::size_t i = 0; i < weights.size(); ++i) good.maps[i].weight = weights[i];
            }
            reading_->entries.push_back(std::move(good));
        }
        open_.reset();
    }

    // The probabilities: on every map line or on none, none below 0, and some above 0.
    void Weigh(OpenEntry& entry) {
        const std::size_t width = entry.rows.front().size();
        double sum = 0;
        for (std::size_t i = 0; i < entry.rows.size(); ++i) {
            if (entry.rows[i].size() != width) {
                Problem(entry.rowLines[i], width == 7 ? "no probability, where line " + std::to_string(entry.rowLines[0]) +
                                                            " has one"
                                                      : "a probability, where line " +
                                                            std::to_string(entry.rowLines[0]) + " has none");
                return;
            }
            if (width == 7 && entry.rows[i][6] < 0) {
                Problem(entry.rowLines[i], "a probability below 0");
                return;
            }
            if (width == 7) sum += entry.rows[i][6];
        }
        if (width == 7 && !(sum > 0)) {
            Problem(entry.line, "its probabilities sum to 0");
        } else if (width == 7 && std::fabs(sum - 1) > 1e-6) {
            reading_->notes.push_back(file_ + ":" + std::to_string(entry.line) + ": " + EntryName(entry) +
                                      ": its probabilities sum to " + FormatNumber("%.6g", sum) +
                                      ", not 1: the weights are scaled to 100");
        }
    }

    std::string file_;
    IfsReading* reading_;
    std::unique_ptr<OpenEntry> open_;
    std::vector<std::string> pending_;  // comments outside entries, for the next one
    std::string lastName_;
};

// The shortest decimal that the saver reads back as the same number.
std::string Exact(double value) {
    if (value == 0) return "0";
    char text[40];
    for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        double back = 0;
        if (ScanDouble(text, &back) != nullptr && back == value) break;
    }
    return text;
}

// A weight as a probability: weight / 100, written exactly.
std::string Probability(std::int32_t weight) {
    const std::int64_t w = weight;
    const std::int64_t whole = (w < 0 ? -w : w) / 100, hundredths = (w < 0 ? -w : w) % 100;
    std::string text = (w < 0 ? "-" : "") + std::to_string(whole);
    if (hundredths != 0) {
        char fraction[4];
        std::snprintf(fraction, sizeof fraction, "%02d", static_cast<int>(hundredths));
        text += ".";
        text += fraction;
        if (text.back() == '0') text.pop_back();
    }
    return text;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return Clean(slash == std::string::npos ? path : path.substr(slash + 1));
}

// A comment line of a definition file as text: markers and blanks dropped; "" for a line that
// is no comment (blank, or a stray number).
std::string CommentText(const std::string& line) {
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || StartsWithNumber(trimmed)) return "";
    // One marker only, so that a comment which itself starts with one comes back as it was.
    for (const char* marker : {"//", ";", "#", "%", "!"}) {
        if (trimmed.rfind(marker, 0) == 0) return Clean(trimmed.substr(std::string(marker).size()));
    }
    return Clean(trimmed);
}

// A comment line as an entry's name: no brace and no semicolon, and not taken for a 3D entry.
std::string EntryNameFrom(const std::string& comment) {
    std::string name;
    for (const char c : comment) name += c == '{' || c == '}' || c == ';' ? ' ' : c;
    for (std::size_t at; (at = name.find("(3")) != std::string::npos && ContainsNoCase(name.substr(at, 4), "(3d)");)
        name.replace(at, 4, "(3-D)");
    return Trim(name);
}

bool ReadWholeFile(const std::string& path, std::string* bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes->append(chunk, n);
    const bool failed = std::ferror(file) != 0;  // a directory opens, and fails here
    std::fclose(file);
    return !failed;
}

// The output whole on out, or under outPath's partial name and then renamed: complete or absent.
bool WriteOutput(const std::string& bytes, const std::string& outPath, std::FILE* out, std::FILE* err) {
    if (outPath.empty()) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() && std::fflush(out) == 0) return true;
        std::fprintf(err, "lumivex-render: cannot write to standard output\n");
        return false;
    }
    const std::string partial = PartialPath(outPath);
    std::FILE* file = std::fopen(partial.c_str(), "wb");
    bool written = file != nullptr;
    if (file != nullptr) {
        written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        written = std::fclose(file) == 0 && written;
    }
    std::string error;
    if (!written) {
        RemoveQuietly(partial);
        std::fprintf(err, "lumivex-render: cannot write %s\n", outPath.c_str());
        return false;
    }
    if (!CommitPartial(outPath, &error)) {
        std::fprintf(err, "lumivex-render: %s\n", error.c_str());
        return false;
    }
    return true;
}

}  // namespace

IfsReading ReadIfsText(const std::string& bytes, const std::string& fileName) {
    IfsReading reading;
    IfsReader(fileName, &reading).Read(SplitIfsLines(bytes));
    return reading;
}

std::string ImportedText(const IfsReading& reading, std::int32_t pointCount, const CheckSettings& settings,
                         const std::string& sourceName, std::vector<std::string>* notes) {
    std::string text = "; Lumivex definitions imported from " + BaseName(sourceName) + " by lumivex-render --import,\n" +
                       "; boxes fitted for " + std::to_string(settings.screenWidth) + "x" +
                       std::to_string(settings.screenHeight) + "\n" + std::to_string(pointCount) + "\n";
    for (const IfsEntry& entry : reading.entries) {
        text += "; " + entry.name + "\n";
        for (const std::string& comment : entry.comments) text += "; " + comment + "\n";
        const auto count = static_cast<std::int32_t>(entry.maps.size());
        text += std::to_string(count) + "\n";
        for (const IfsTransform& m : entry.maps)
            text += Exact(m.a) + " " + Exact(m.b) + " " + Exact(m.c) + " " + Exact(m.d) + " " + Exact(m.e) + " " +
                    Exact(m.f) + " " + std::to_string(m.weight) + "\n";
        PlaneBox attractor;
        if (MeasureAttractor(entry.maps.data(), count, &attractor)) {
            text += BoxLineText(SuggestBox(attractor, settings.screenWidth, settings.screenHeight)) + "\n";
        } else {
            text += "-1 -1 1 1\n";
            notes->push_back("entry \"" + entry.name + "\": its points run off, so it has no box to fit: "
                             "it gets -1 -1 1 1 (see --check)");
        }
    }
    for (const std::string& comment : reading.trailing) text += "; " + comment + "\n";
    return text;
}

std::string ExportedText(const FileReading& reading, std::vector<std::string>* warnings) {
    // The comment lines above each definition, after the point count; whether the file ends in it.
    std::vector<std::vector<std::string>> comments(reading.definitions.size());
    std::vector<bool> cutShort(reading.definitions.size(), false);
    std::vector<std::string> pending;
    bool counted = false;
    std::size_t next = 0;
    for (const FileLine& line : reading.lines) {
        if (line.use == LineUse::Count) {
            counted = true;
        } else if (line.use == LineUse::Skipped && counted && line.wholeLine) {
            const std::string comment = CommentText(line.text);
            if (!comment.empty()) pending.push_back(comment);
        } else if (line.use == LineUse::Header) {
            if (next < comments.size()) comments[next] = pending;
            pending.clear();
            ++next;
        } else if ((line.use == LineUse::Map || line.use == LineUse::Box) && line.missing > 0 && next > 0 &&
                   next <= cutShort.size()) {
            cutShort[next - 1] = true;
        } else if (line.use == LineUse::Stopped) {
            break;
        }
    }
    std::string text;
    for (std::size_t i = 0; i < reading.definitions.size(); ++i) {
        const IfsDefinition& def = *reading.definitions[i];
        const std::string number = std::to_string(i + 1);
        std::string name = comments[i].empty() ? "" : EntryNameFrom(comments[i][0]);
        if (name.empty()) name = "lumivex-" + number;
        const std::string which = "IFS # " + number + " (\"" + name + "\")";
        text += name + " {\n";
        for (std::size_t k = 1; k < comments[i].size(); ++k) text += "  ; " + comments[i][k] + "\n";
        std::int64_t sum = 0;
        bool negative = false;
        for (std::int32_t k = 0; k < def.TransformCount; ++k) {
            const IfsTransform& m = def.Transforms[k];
            text += "  " + Exact(m.a) + " " + Exact(m.b) + " " + Exact(m.c) + " " + Exact(m.d) + " " + Exact(m.e) +
                    " " + Exact(m.f) + " " + Probability(m.weight) + "\n";
            sum += m.weight;
            negative = negative || m.weight < 0;
        }
        text += "}\n\n";
        if (cutShort[i])
            warnings->push_back(which + ": the file ends inside it; its missing lines are written as the saver "
                                "reads them, all 0");
        if (negative) warnings->push_back(which + ": a negative weight, which an import refuses as a probability");
        else if (sum != 100)
            warnings->push_back(which + ": its weights sum to " + std::to_string(sum) +
                                ", not 100: an import scales them to 100");
        if (static_cast<std::size_t>(def.TransformCount) > MostImportedMaps)
            warnings->push_back(which + ": " + std::to_string(def.TransformCount) + " maps, more than an import takes (" +
                                std::to_string(MostImportedMaps) + ")");
    }
    for (const std::string& comment : pending) text += "; " + comment + "\n";
    return text;
}

bool PointCountOf(const std::string& path, std::int32_t* count) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    LineReader reader(file);
    char line[LineCapacity];
    bool found = false;
    while (!found && reader.ReadLine(line)) found = ScanInt(line, count) != nullptr;
    std::fclose(file);
    return found;
}

int RunImport(const std::string& path, const std::string& displayName, const std::string& outPath,
              std::int32_t pointCount, const CheckSettings& settings, std::FILE* out, std::FILE* err) {
    std::string bytes;
    if (!ReadWholeFile(path, &bytes)) {
        std::fprintf(err, "lumivex-render: cannot read %s\n", displayName.c_str());
        return 2;
    }
    const IfsReading reading = ReadIfsText(bytes, displayName);
    for (const std::string& problem : reading.problems) std::fprintf(err, "%s\n", problem.c_str());
    for (const std::string& note : reading.notes) std::fprintf(err, "note: %s\n", note.c_str());
    if (reading.entries.empty()) {
        std::fprintf(err, "lumivex-render: %s: %s, nothing written\n", displayName.c_str(),
                     reading.entriesSeen == 0 ? "no entries" : "no entry could be imported");
        return 1;
    }
    std::vector<std::string> notes;
    const std::string text = ImportedText(reading, pointCount, settings, displayName, &notes);
    if (!WriteOutput(text, outPath, out, err)) return 2;
    for (const std::string& note : notes) std::fprintf(err, "note: %s\n", note.c_str());
    std::fprintf(err, "lumivex-render: imported %zu of %zu entries from %s%s%s, boxes fitted for %dx%d\n",
                 reading.entries.size(), reading.entriesSeen, displayName.c_str(), outPath.empty() ? "" : " into ",
                 outPath.c_str(), settings.screenWidth, settings.screenHeight);
    return reading.problems.empty() ? 0 : 1;
}

int RunExportIfs(const std::string& path, const std::string& outPath, std::FILE* out, std::FILE* err) {
    FileReading reading;
    if (!ReadForCheck(path, &reading, err)) return 2;
    if (reading.definitions.empty()) {
        std::fprintf(err, "lumivex-render: %s holds no definitions, nothing written\n", path.c_str());
        return 1;
    }
    std::vector<std::string> warnings;
    const std::string text = ExportedText(reading, &warnings);
    if (!WriteOutput(text, outPath, out, err)) return 2;
    for (const std::string& warning : warnings) std::fprintf(err, "warning: %s\n", warning.c_str());
    std::fprintf(err, "lumivex-render: exported %zu definitions of %s%s%s\n", reading.definitions.size(),
                 path.c_str(), outPath.empty() ? "" : " to ", outPath.c_str());
    return warnings.empty() ? 0 : 1;
}
