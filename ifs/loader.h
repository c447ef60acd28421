// Reading the definition file into the saver's record.
#pragma once

#include <cstdint>
#include <cstdio>

// The messages of the loader, exactly as the user sees them.
extern const char* const MissingFileMessage;  // one %s: the system directory with its "\"
extern const char* const NoDefinitionsMessage;

// Finds lumivex.ini (current directory, then the system directory), reads the point count and
// the definitions. 0 when at least one definition was read, 1 after a message box.
int LoadDefinitions();

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

// The same for a program that knows where its file may be: the first of the paths that opens is
// read; with none, the message `missingText` (shown as it is). 0, or 1 after a message box.
int LoadDefinitionsFrom(const char* const* paths, int pathCount, const char* missingText);

// Reads an open definition file into the record (the counts and the list); closes nothing.
// The listener, when given, hears of every line read.
void ReadDefinitionFile(std::FILE* file, LineListener listener = nullptr, void* context = nullptr);
