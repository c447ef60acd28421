// Start-up of the saver in a web page, and the clean slate between two runs.
#include "saver/web_saver.h"

#include "platform/desktop_host.h"
#include "saver/saver_run.h"

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

namespace {

// The page's one window is its canvas, at the size the page gives (cut to MaxWebSide).
int OpenCanvas(const StartPlan& plan) {
    const WebStart& start = *static_cast<const WebStart*>(plan.host);
    std::int32_t width = start.width < 0 ? 0 : start.width;
    std::int32_t height = start.height < 0 ? 0 : start.height;
    if (width > MaxWebSide) width = MaxWebSide;
    if (height > MaxWebSide) height = MaxWebSide;
    PlatformHandle window = nullptr;
    const platform::WindowOutcome outcome = platform::CreateDesktopWindow(false, "Lumivex", width, height, &window);
    if (outcome != platform::WindowOutcome::Ok || window == nullptr) return static_cast<int>(StartResult::WindowFailed);
    State.Window = window;
    State.ScreenWidth = width;
    State.ScreenHeight = height;
    return 0;
}

}  // namespace

int StartWebSaver(const WebStart& start) {
    EndWebRun();
    StartPlan plan;
    // A page watches the saver: input never ends the run. The preview is the settings' preview.
    plan.mode = start.preview ? RunMode::Preview : RunMode::Window;
    plan.seed = start.seed;
    plan.memoryBound = start.memoryBound;
    // The page's ticks come from requestAnimationFrame on a millisecond clock: never 0 ms apart.
    plan.regulation = PointRegulation::FastRun;
    plan.openWindow = OpenCanvas;
    plan.host = &start;
    plan.imageFillsWindow = start.preview;
    // A page is resized: the current point sets are made again at the new size at once.
    plan.refitOnResize = true;
    // The page's file is the backend's "lumivex.ini", read with the Windows saver's messages.
    plan.statusOn = start.status && !start.preview;
    // The page's event loop is the message loop: this returns once the strip is black and the
    // backend is ready for the page's ticks.
    return StartSaver(plan);
}

void EndWebRun() { ReleaseSaverMemory(); }
