// lumivex-render --check, the report: the verdicts as text for a person or as JSON lines for a program.
#pragma once

#include <string>
#include <vector>

#include "ifs/check/check_verdict.h"

// One definition: a block of text, or one JSON object (no line feed).
std::string ReportText(const DefinitionReport& report, const CheckSettings& settings);
std::string ReportJson(const DefinitionReport& report, const CheckSettings& settings);

// The text report's first line and the empty line after it: the file, its points, the screen.
std::string ReadingText(const FileReading& reading, std::size_t definitions, const CheckSettings& settings);

// The closing line: how many definitions and warnings, which definitions have warnings.
std::string SummaryText(const std::vector<DefinitionReport>& reports, const std::vector<std::string>& fileWarnings);

// The closing JSON object (no line feed): the summary line, the file and its own warnings.
std::string SummaryJson(const FileReading& reading, const std::vector<DefinitionReport>& reports,
                        const std::vector<std::string>& fileWarnings);
