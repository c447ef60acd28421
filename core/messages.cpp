// The texts of the saver's messages.
#include "core/messages.h"

std::string FormatMessageText(const char* message, const char* argument) {
    std::string text = message;
    const std::size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, argument);
    return text;
}

std::string OneLineMessage(const char* text) {
    std::string line;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '\n' || *p == '\r') {
            while (p[1] == '\n' || p[1] == '\r') ++p;
            line += ' ';
        } else {
            line += *p;
        }
    }
    return line;
}
