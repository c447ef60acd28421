// Error message boxes.
#include "platform/messages.h"

#include <cstring>

#include "platform/platform.h"

void ShowErrorMessage(const char* text) { platform::ShowMessage(ErrorCaption, text); }

std::string FormatMessageText(const char* message, const char* argument) {
    std::string text = message;
    const std::size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, argument);
    return text;
}
