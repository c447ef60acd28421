// Output files of the renderer: written under a partial name and renamed once complete.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The name a file is written under until it is complete: path.partial, or path itself when it
// names something that is there and is not a regular file (a device such as /dev/null or
// /dev/full, a pipe): a rename would replace it, so it is written in place.
std::string PartialPath(const std::string& path);

// Renames path's partial file to path (nothing to do when it was written in place); false with
// a reason.
bool CommitPartial(const std::string& path, std::string* error);

// Removes a regular file if it is there, quietly; anything else (a device, a directory) stays.
void RemoveQuietly(const std::string& path);

// Whether a file can be created at path: creates it and removes it again.
bool CanCreateFile(const std::string& path);

// Makes the directory when it is missing, with its missing parents, and checks that files can be
// created in it. Each directory it made is added to *made, the deepest first, so that a run that
// keeps nothing can take them away again (RemoveMadeDirectories).
bool PrepareOutputDirectory(const std::string& directory, std::vector<std::string>* made, std::string* error);

// Removes the directories PrepareOutputDirectory made, deepest first, each only if it is empty.
void RemoveMadeDirectories(std::vector<std::string>* made);

// DIR/frame-NNNNN.png for the number-th kept frame (from 1).
std::string FramePngPath(const std::string& directory, std::uint32_t number);
