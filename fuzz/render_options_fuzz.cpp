// Fuzz target: lumivex-render's command line, the input split into arguments at NUL bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tools/render/render_options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words = SplitAtNul(data, size);
    words.insert(words.begin(), "lumivex-render");
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    argv.push_back(nullptr);

    RenderOptions options;
    std::string error;
    if (!ParseRenderOptions(static_cast<int>(words.size()), argv.data(), &options, &error)) {
        if (error.empty()) Broken("a refused command line without a reason");
        return 0;
    }
    if (options.width < 1 || options.width > MaxRenderSide || options.height < 1 || options.height > MaxRenderSide)
        Broken("a screen size outside 1 to the largest side");
    // What the renderer then asks of the options, for the first ticks and the last.
    const std::uint32_t total = TickTotal(options);
    for (std::uint32_t i = 1; i <= total && i <= 64; ++i) {
        TickAt(options, i);
        KeepsTick(options, i);
    }
    if (total > 0) {
        TickAt(options, total);
        KeepsTick(options, total);
    }
    return 0;
}
