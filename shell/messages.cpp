// Error message boxes.
#include "shell/messages.h"

#include <cstring>

#include "shell/platform.h"

void ShowErrorMessage(const char* text) { platform::ShowMessage(ErrorCaption, text); }

std::string FormatMessageText(const char* message, const char* argument) {
    std::string text = message;
    const std::size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, argument);
    return text;
}
