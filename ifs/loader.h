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

// Reads an open definition file into the record (the counts and the list); closes nothing.
void ReadDefinitionFile(std::FILE* file);
