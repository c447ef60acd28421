// Reading the definition file into the saver's record.
#pragma once

#include <cstdio>

// The messages of the loader, exactly as the user sees them.
extern const char* const MissingFileMessage;  // one %s: the system directory with its "\"
extern const char* const NoDefinitionsMessage;

// Finds lumivex.ini (current directory, then the system directory), reads the point count and
// the definitions. 0 when at least one definition was read, 1 after a message box.
int LoadDefinitions();

// The same for a program that knows where its file may be: the first of the paths that opens is
// read; with none, the message `missingText` (shown as it is). 0, or 1 after a message box.
int LoadDefinitionsFrom(const char* const* paths, int pathCount, const char* missingText);

// Reads an open definition file into the record (the counts and the list); closes nothing.
void ReadDefinitionFile(std::FILE* file);
