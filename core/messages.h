// The texts of the saver's messages: the caption, the "%s" in a message, the one-line form.
#pragma once

#include <string>

constexpr const char* ErrorCaption = "Lumivex: Error";

// The message with its one "%s" replaced by argument (any other text stays as it is).
std::string FormatMessageText(const char* message, const char* argument);

// The message on one line, for a program that writes it to standard error: every run of line
// breaks becomes one space.
std::string OneLineMessage(const char* text);
