// Start-up of the saver in a web page, and the clean slate between two runs.
#include "saver/web_saver.h"

#include <cstdlib>

#include "anim/anim.h"
#include "core/arrays.h"
#include "ifs/ifs_definition.h"
#include "ifs/loader.h"
#include "platform/desktop_host.h"
#include "saver/saver_main.h"

namespace {

bool ReadSide(const char** at, std::int32_t* side) {
    const char* p = *at;
    std::int64_t value = 0;
    if (*p < '0' || *p > '9') return false;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + (*p - '0');
        if (value > MaxWebSide) return false;
        ++p;
    }
    if (value < 1) return false;
    *side = static_cast<std::int32_t>(value);
    *at = p;
    return true;
}

}  // namespace

bool ParseWebSize(const char* text, std::int32_t* width, std::int32_t* height) {
    if (text == nullptr) return false;
    std::int32_t w = 0, h = 0;
    if (!ReadSide(&text, &w) || (*text != 'x' && *text != 'X')) return false;
    ++text;
    if (!ReadSide(&text, &h) || *text != '\0') return false;
    *width = w;
    *height = h;
    return true;
}

int StartWebSaver(const WebStart& start) {
    EndWebRun();
    platform::SaverHandler = HandleSaverMessage;
    // A page watches the saver: input never ends the run. The preview is the settings' preview.
    State.Mode = start.preview ? RunMode::Preview : RunMode::Window;
    SetMemoryBound(start.memoryBound);
    SeedRandom(start.seed);
    // The page's ticks come from requestAnimationFrame on a millisecond clock: never 0 ms apart.
    State.Regulation = PointRegulation::FastRun;
    // A page is resized: the current point sets are made again at the new size at once.
    SetRefitOnResize(true);

    std::int32_t width = start.width < 0 ? 0 : start.width;
    std::int32_t height = start.height < 0 ? 0 : start.height;
    if (width > MaxWebSide) width = MaxWebSide;
    if (height > MaxWebSide) height = MaxWebSide;
    PlatformHandle window = nullptr;
    const platform::WindowOutcome outcome =
        platform::CreateDesktopWindow(false, "Lumivex", width, height, &window);
    if (outcome != platform::WindowOutcome::Ok || window == nullptr) return static_cast<int>(StartResult::WindowFailed);
    State.Window = window;
    State.ScreenWidth = width;
    State.ScreenHeight = height;
    SetImageFillsWindow(start.preview);
    if (!AllocateFrame() || !platform::PrepareWindowPicture(window, width, height)) {
        ShowErrorMessage(VScreenMessage);
        return static_cast<int>(StartResult::VScreenFailed);
    }
    if (const int code = LoadDefinitions()) return code;
    if (start.status && !start.preview) State.ShowStatus = true;
    if (const int code = PrepareAnimation()) return code;
    // The page's event loop is the message loop: this returns once the strip is black and the
    // backend is ready for the page's ticks.
    return RunPreparedSaver();
}

void EndWebRun() {
    SetRefitOnResize(false);
    ReleaseSaverMemory();
}
