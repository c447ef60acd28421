// Fuzz target: the Linux saver's command line and the XSCREENSAVER_WINDOW value a host hands it.
// The first byte says whether the variable is set (odd: it is, and the first word is its value);
// the rest is split into arguments at NUL bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "saver/linux_options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool variableSet = (data[0] & 1) != 0;
    std::vector<std::string> words = SplitAtNul(data + 1, size - 1);
    if (words.empty()) words.emplace_back();

    std::string variable;
    if (variableSet) {
        variable = words.front();
        words.erase(words.begin());
    }
    std::vector<const char*> argv(1, "lumivex");
    for (const std::string& w : words) argv.push_back(w.c_str());
    argv.push_back(nullptr);

    // A window id alone: a number from 1 to 2^32 - 1, or refused.
    std::uint64_t id = 0;
    if (ParseWindowId(variable.c_str(), &id) && (id == 0 || id > 0xFFFFFFFFu)) Broken("a window id outside 32 bits");

    LinuxOptions options;
    std::string error;
    if (!ParseLinuxOptions(static_cast<int>(argv.size()) - 1, argv.data(), variableSet ? variable.c_str() : nullptr,
                           &options, &error)) {
        if (error.empty() || error.find('\n') != std::string::npos) Broken("a refusal that is not one line");
        return 0;
    }
    if (options.width < 1 || options.width > MaxWindowSide || options.height < 1 || options.height > MaxWindowSide)
        Broken("a window size outside 1 to the largest side");
    if (options.delay < MinDelay || options.delay > MaxDelay) Broken("a tick period outside its range");
    if (options.windowId > 0xFFFFFFFFu) Broken("a window id outside 32 bits");
    if (options.target == LinuxTarget::WindowId && options.windowId == 0) Broken("--window-id without a window");
    return 0;
}
