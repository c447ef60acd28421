// lumivex-render --import and --export-ifs: the plain-text .ifs files of IFS collections, read
// into Lumivex definitions and written from them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ifs/ifs_definition.h"
#include "ifs/check/check_measure.h"
#include "ifs/check/check_verdict.h"

// The most maps an imported definition may have: weights are whole percents summing to 100, so
// a map beyond the hundredth could never be drawn.
constexpr std::size_t MostImportedMaps = 100;

// One good entry of a .ifs file, its weights already in percent.
struct IfsEntry {
    std::string name;
    std::int32_t line = 0;              // its name line, from 1
    std::vector<IfsTransform> maps;
    bool probabilities = false;         // the weights come from the file's probabilities, else by area
    std::vector<std::string> comments;  // before it, on its name line and inside it, in order
};

struct IfsReading {
    std::vector<IfsEntry> entries;        // the good ones, in file order
    std::size_t entriesSeen = 0;          // good, bad, three-dimensional
    std::vector<std::string> problems;    // "FILE:LINE: entry "NAME": what", one per fault
    std::vector<std::string> notes;       // what was read but changed (probabilities not summing to 1)
    std::vector<std::string> trailing;    // comments after the last entry
};

// Reads the bytes of a .ifs file; fileName names it in the messages.
IfsReading ReadIfsText(const std::string& bytes, const std::string& fileName);

// The Lumivex definition file of a reading's good entries: a comment naming the source, the point
// count line, then each entry as comment lines (its name first, then its comments) and a
// definition whose box is the one --fit suggests for the screen of settings. Entries whose points
// run off get a unit box and a line in notes.
std::string ImportedText(const IfsReading& reading, std::int32_t pointCount, const CheckSettings& settings,
                         const std::string& sourceName, std::vector<std::string>* notes);

// The definitions of a reading as .ifs entries: each named by the first comment line above it
// (else lumivex-N), the other comment lines inside it, probabilities from the weights. What the
// import would not give back as it is goes to warnings.
std::string ExportedText(const FileReading& reading, std::vector<std::string>* warnings);

// The point count of a definition file, read as the saver reads it; false when it cannot be read
// or holds none.
bool PointCountOf(const std::string& path, std::int32_t* count);

// --import: the .ifs file at path (named displayName in the messages) as a definition file at
// outPath, or on out when outPath is empty; written whole or not at all. Problems and notes go to
// err. 0 when every entry came in, 1 when some (or all: then nothing is written) were skipped, 2
// when the file cannot be read or the output cannot be written.
int RunImport(const std::string& path, const std::string& displayName, const std::string& outPath,
              std::int32_t pointCount, const CheckSettings& settings, std::FILE* out, std::FILE* err);

// --export-ifs: the definition file at path as .ifs entries at outPath, or on out when outPath
// is empty. 0 when written, 1 when written with a warning (or not at all for a file without
// definitions), 2 when the file cannot be read or the output cannot be written.
int RunExportIfs(const std::string& path, const std::string& outPath, std::FILE* out, std::FILE* err);
