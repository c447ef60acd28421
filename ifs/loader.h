// Reading the definition file into the saver's record.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// The messages of the loader, exactly as the user sees them.
extern const char* const MissingFileMessage;  // one %s: the system directory with its "\"
extern const char* const NoDefinitionsMessage;

// The messages of the start-ups other than Windows', which name the file and say what the
// system said. Each %s is the file, then (UnreadableFileMessage) the reason.
extern const char* const MissingNamedFileMessage;
extern const char* const UnreadableFileMessage;
extern const char* const EndlessFileMessage;
extern const char* const NoDefinitionsInFileMessage;

// Those start-ups read no more of a file than this: far beyond any real definition file, and
// it stops a source that never ends (/dev/zero, a pipe that is fed forever).
constexpr std::uint64_t DefinitionFileBound = std::uint64_t{256} << 20;

// Where a run looks for its definition file, and how its messages speak of it.
struct DefinitionLookup {
    const char* const* paths = nullptr;  // tried in order: the first that is there is read
    int count = 0;
    const char* missingText = nullptr;   // shown as it is when none of them is there
    // The messages name the file and what the system said (one that is there but unreadable
    // stops the search), and no more than DefinitionFileBound is read: every program but the
    // Windows saver, whose file is always lumivex.ini and whose messages are its own.
    bool namesTheFile = false;
};

// Reads the point count and the definitions from the first file of the lookup that is there. 0
// when at least one definition was read, 1 after a message box. Without paths: lumivex.ini in
// the current directory, with the Windows saver's messages.
int LoadDefinitions(const DefinitionLookup& lookup = DefinitionLookup{});

// Sets the counts of points from the file's number: a negative one turns the status line on and
// stands for its absolute value, a preview takes a tenth; MinPoints and GrowLimit follow from it.
void SetPointCount(std::int32_t count);

// What the reading made of one line, for tools that show an author how the file was read.
enum class LineUse {
    Skipped,  // before the point count, or between definitions
    Count,    // the point count
    Header,   // the number of maps of a definition
    Map,      // one map line of the definition
    Box,      // the box line that ends the definition
    Stopped,  // a header whose maps could not be allocated: the reading ended there
};
// Told every line as it was read (line feed kept), in order; a map or box line that the end of
// the file left missing comes as null.
using LineListener = void (*)(void* context, LineUse use, const char* line);

// How the reading of a file ended: at its end (or at a header it could not hold), cut at the
// bound, or on a read that failed (its errno).
struct FileEnd {
    bool tooLong = false;
    int error = 0;
};

// Reads an open definition file into the record (the counts and the list); closes nothing.
// The listener, when given, hears of every line read. A bound other than 0 ends the file after
// that many bytes.
FileEnd ReadDefinitionFile(std::FILE* file, LineListener listener = nullptr, void* context = nullptr,
                           std::uint64_t bound = 0);

// The system's reason for an errno, as a message says it: "permission denied", "is a directory".
std::string ErrorReason(int error);
