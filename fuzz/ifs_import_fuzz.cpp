// Fuzz target: the .ifs reader of lumivex-render --import and the playground. Bytes in, entries
// and their problems out.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "ifs/check/ifs_format.h"

namespace {

// What becomes a comment line of the definition file: one line, no control character, short
// enough that the saver reads it as one line.
void CheckCommentText(const std::string& text) {
    if (text.size() > 1000) Broken("a comment longer than a line may hold");
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) Broken("a control character in a comment or name");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const IfsReading reading = ReadIfsText(bytes, "f.ifs");
    if (reading.entries.size() > reading.entriesSeen) Broken("more good entries than entries");
    for (const IfsEntry& entry : reading.entries) {
        if (entry.maps.empty() || entry.maps.size() > MostImportedMaps) Broken("an entry of no maps or too many");
        if (entry.name.empty()) Broken("an entry without a name");
        CheckCommentText(entry.name);
        for (const std::string& comment : entry.comments) CheckCommentText(comment);
        std::int64_t sum = 0;
        for (const IfsTransform& m : entry.maps) {
            for (const double v : {m.a, m.b, m.c, m.d, m.e, m.f}) {
                if (!std::isfinite(v)) Broken("a number that is not finite");
            }
            if (m.weight < 0) Broken("a negative weight");
            sum += m.weight;
        }
        if (sum != 100) Broken("weights that do not sum to 100");
    }
    for (const std::string& comment : reading.trailing) CheckCommentText(comment);
    for (const std::string& problem : reading.problems) {
        if (problem.rfind("f.ifs:", 0) != 0 || problem.size() < 7 || problem[6] < '1' || problem[6] > '9')
            Broken("a problem that does not name the file and the line");
    }
    return 0;
}
