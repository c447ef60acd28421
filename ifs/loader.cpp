// The definition-file loader: point count, then a list of fractal definitions.
#include "ifs/loader.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "core/arrays.h"
#include "ifs/ifs_definition.h"
#include "ifs/text_input.h"
#include "platform/platform.h"

const char* const MissingFileMessage =
    "I cannot find 'lumivex.ini'.\n\nI *need* that file, no nice gfx without it!\n\n"
    "Please put it either into current directory or into the system directory ('%s'). Now quitting.";
const char* const NoDefinitionsMessage =
    "I cannot start, there are no IFS definitions in the lumivex.ini file.\n\n"
    "No definitons mean no gfx, no screensaver. Sorry.\n\nQuitting now.";

const char* const MissingNamedFileMessage =
    "I cannot find '%s'.\n\nI *need* that file, no nice gfx without it!\n\nNow quitting.";
const char* const UnreadableFileMessage = "I cannot read '%s': %s.\n\nNow quitting.";
const char* const EndlessFileMessage =
    "I cannot read '%s': it goes on past 256 MB, far longer than any definition file.\n\nNow quitting.";
const char* const NoDefinitionsInFileMessage =
    "I cannot start, there are no IFS definitions in '%s'.\n\n"
    "No definitons mean no gfx, no screensaver. Sorry.\n\nQuitting now.";

namespace {

// The unreadable-file message for this file and errno.
std::string UnreadableText(const char* path, int error) {
    std::string text = FormatMessageText(UnreadableFileMessage, path);
    const std::size_t at = text.find("%s", text.find(path) + std::strlen(path));
    if (at != std::string::npos) text.replace(at, 2, ErrorReason(error));
    return text;
}

// Fills a map from one line; fields the line does not supply stay 0.
void ReadMapLine(const char* line, IfsTransform* t) {
    double* fields[6] = {&t->a, &t->b, &t->c, &t->d, &t->e, &t->f};
    *t = IfsTransform{};
    const char* p = line;
    for (double* field : fields) {
        p = ScanDouble(p, field);
        if (p == nullptr) return;
    }
    ScanInt(p, &t->weight);
}

void ReadBoxLine(const char* line, IfsDefinition* def) {
    double box[4] = {0, 0, 0, 0};
    const char* p = line;
    for (double& value : box) {
        p = ScanDouble(p, &value);
        if (p == nullptr) {
            value = 0;
            break;
        }
    }
    def->XMin = box[0];
    def->YMin = box[1];
    def->Width = box[2] - box[0];
    def->Height = box[3] - box[1];
}

}  // namespace

void SetPointCount(std::int32_t count) {
    if (count < 0) {
        State.ShowStatus = true;
        count = count == std::numeric_limits<std::int32_t>::min() ? std::numeric_limits<std::int32_t>::max() : -count;
    }
    if (State.Mode == RunMode::Preview) count /= 10;
    State.PointCount = count;
    State.ShownPoints = count;
    State.MinPoints = static_cast<std::int32_t>((static_cast<std::int64_t>(count) * 3) >> 2);
    State.GrowLimit = count - 100;
}

FileEnd ReadDefinitionFile(std::FILE* file, LineListener listener, void* context, std::uint64_t bound) {
    LineReader reader(file, bound);
    const auto end = [&reader] { return FileEnd{reader.TooLong(), reader.Error()}; };
    char line[LineCapacity];
    auto tell = [&](LineUse use, const char* text) {
        if (listener != nullptr) listener(context, use, text);
    };

    std::int32_t count = 0;
    while (reader.ReadLine(line)) {
        const bool isCount = ScanInt(line, &count) != nullptr;
        tell(isCount ? LineUse::Count : LineUse::Skipped, line);
        if (isCount) break;
    }
    SetPointCount(count);

    IfsDefinition* last = nullptr;
    std::vector<IfsTransform> maps;  // the map lines of one definition, as the file supplies them
    while (reader.ReadLine(line)) {
        std::int32_t n = 0;
        if (ScanInt(line, &n) == nullptr || n < 1) {
            tell(LineUse::Skipped, line);
            continue;
        }
        // A header whose n maps could not be allocated ends the file here. The decision is made on
        // n, but only the maps the file supplies are held: a 12-byte file must not cost gigabytes.
        if (!CanAllocate(static_cast<std::uint64_t>(n), sizeof(IfsTransform))) {
            tell(LineUse::Stopped, line);
            return end();
        }
        tell(LineUse::Header, line);
        maps.clear();
        bool ended = false;
        try {
            for (std::int32_t i = 0; i < n && !ended; ++i) {
                if (!reader.ReadLine(line)) {
                    ended = true;
                } else {
                    maps.emplace_back();
                    ReadMapLine(line, &maps.back());
                    tell(LineUse::Map, line);
                }
            }
        } catch (const std::bad_alloc&) {
            tell(LineUse::Stopped, nullptr);
            return end();  // no room for the maps this file does supply
        }
        // A line missing at the end of the file reads as an empty one: its fields stay 0. The
        // missing maps all have weight 0, and a map of weight 0 is chosen only as the last map,
        // so one zero map stands for all of them in the chaos game.
        const auto supplied = static_cast<std::int32_t>(maps.size());
        if (listener != nullptr) {
            for (std::int32_t i = supplied; i < n; ++i) tell(LineUse::Map, nullptr);
        }
        const std::int32_t kept = supplied < n ? supplied + 1 : n;
        auto* def = new (std::nothrow) IfsDefinition(kept);
        if (def == nullptr || def->Transforms == nullptr) {
            delete def;
            tell(LineUse::Stopped, nullptr);
            return end();  // no room for this definition: keep what was read so far
        }
        std::copy(maps.begin(), maps.end(), def->Transforms);
        if (kept > supplied) def->Transforms[supplied] = IfsTransform{};
        if (!ended && !reader.ReadLine(line)) ended = true;
        ReadBoxLine(ended ? "" : line, def);
        tell(LineUse::Box, ended ? nullptr : line);

        if (last == nullptr) State.FirstDefinition = def;
        else last->Next = def;
        last = def;
        ++State.DefinitionCount;
        if (ended) return end();
    }
    return end();
}

namespace {

// Not there (the next place is tried), as against there and unreadable.
bool Absent(int error) { return error == 0 || error == ENOENT || error == ENOTDIR; }

}  // namespace

int LoadDefinitions(const DefinitionLookup& lookup) {
    static const char* const Here[] = {"lumivex.ini"};
    static const std::string HereMissing = FormatMessageText(MissingNamedFileMessage, Here[0]);
    const DefinitionLookup& look = lookup.count > 0 ? lookup : DefinitionLookup{Here, 1, HereMissing.c_str(), false};
    State.FirstDefinition = nullptr;
    State.DefinitionCount = 0;
    State.ShowStatus = false;

    for (int i = 0; i < look.count; ++i) {
        const char* path = look.paths[i];
        errno = 0;
        std::FILE* file = platform::OpenDefinitionFile(path);
        if (file == nullptr) {
            // The Windows saver tries the next place whatever the reason; the others tell the
            // user why a file that is there cannot be read.
            const int error = errno;
            if (!look.namesTheFile || Absent(error)) continue;
            ShowErrorMessage(UnreadableText(path, error).c_str());
            return 1;
        }
        const FileEnd end = ReadDefinitionFile(file, nullptr, nullptr, look.namesTheFile ? DefinitionFileBound : 0);
        std::fclose(file);
        std::string text;
        if (!look.namesTheFile) {
            if (State.FirstDefinition != nullptr) return 0;
            text = NoDefinitionsMessage;
        } else if (end.error != 0) {
            text = UnreadableText(path, end.error);
        } else if (end.tooLong) {
            text = FormatMessageText(EndlessFileMessage, path);
        } else if (State.FirstDefinition == nullptr) {
            text = FormatMessageText(NoDefinitionsInFileMessage, path);
        } else {
            return 0;
        }
        ShowErrorMessage(text.c_str());
        return 1;
    }
    ShowErrorMessage(look.missingText);
    return 1;
}

std::string ErrorReason(int error) {
    std::string reason = std::strerror(error);
    if (!reason.empty() && reason[0] >= 'A' && reason[0] <= 'Z' && (reason.size() < 2 || reason[1] < 'A' || reason[1] > 'Z'))
        reason[0] = static_cast<char>(reason[0] - 'A' + 'a');
    return reason;
}
