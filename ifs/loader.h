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

// Finds lumivex.ini (current directory, then the system directory), reads the point count and
// the definitions. 0 when at least one definition was read, 1 after a message box. After
// UseDefinitionFiles, the first of those files instead, as LoadDefinitionsFrom reads it.
int LoadDefinitions();

// For a program other than the Windows saver that starts through LoadDefinitions (the renderer):
// the files LoadDefinitions reads from now on (the arrays stay the caller's); a count of 0 goes
// back to the Windows search.
void UseDefinitionFiles(const char* const* paths, int pathCount, const char* missingText);

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

// The same for a program that knows where its file may be: the first of the paths that is there
// is read, no more than DefinitionFileBound of it; with none, the message `missingText` (shown as
// it is). A file that is there but cannot be read (permission, a directory, a loop of links, a
// read that fails), one that goes on past the bound, or one without definitions is named in its
// message. 0, or 1 after a message box.
int LoadDefinitionsFrom(const char* const* paths, int pathCount, const char* missingText);

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
