// Output files of the renderer: written under a partial name and renamed once complete.
#pragma once

#include <cstdint>
#include <string>

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

// Makes the directory when it is missing and checks that files can be created in it.
bool PrepareOutputDirectory(const std::string& directory, std::string* error);

// DIR/frame-NNNNN.png for the number-th kept frame (from 1).
std::string FramePngPath(const std::string& directory, std::uint32_t number);
