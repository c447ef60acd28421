// The run every host shares: start-up from a plan, the frame image, the input rules and the window's messages.
#include "saver/saver_run.h"

#include <cstdint>
#include <cstring>
#include <cstdlib>

#include "anim/anim.h"
#include "ifs/ifs_definition.h"
#include "ifs/loader.h"
#include "ifs/text_input.h"
#include "core/arrays.h"
#include "platform/platform.h"

const char* const VScreenMessage = "Allocation error (VScreen)";

bool InputEndsRun(RunMode mode) { return mode != RunMode::Preview && mode != RunMode::Window; }

namespace {

// The run's plan, for what the window procedure decides later (a resize).
StartPlan Plan;
// The exit code once the message loop ends: 0, unless the run ended on a failure.
int EndCode = 0;

// Gives the frame image back to the allocator, so the memory bound no longer counts it.
void ReleaseFrame() {
    FreeBytes(State.VScreen, static_cast<std::uint64_t>(State.VScreenStride) * static_cast<std::uint64_t>(State.ImageHeight), 1);
    State.VScreen = nullptr;
}

}  // namespace

std::int32_t FrameImageHeight(std::int32_t windowHeight, bool fillsWindow) {
    const std::int32_t rows = fillsWindow ? windowHeight : WrapSub(windowHeight, StatusStripHeight);
    return rows < 0 ? 0 : rows;
}

bool AllocateFrame() {
    State.ImageHeight = FrameImageHeight(State.ScreenHeight, Plan.imageFillsWindow);
    const std::int64_t width = State.ScreenWidth;
    const std::int64_t stride = (width + 3) & ~std::int64_t{3};
    State.VScreen = stride > INT32_MAX ? nullptr : AllocateArray<std::uint8_t>(static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(State.ImageHeight));
    if (State.VScreen == nullptr) return false;
    State.VScreenStride = static_cast<std::int32_t>(stride);
    State.PlottedPoints = -1;  // a new image: nothing of it is known to a tick yet
    std::memset(State.VScreen, 0, static_cast<std::size_t>(stride) * static_cast<std::size_t>(State.ImageHeight));

    FrameHeaderData& h = State.FrameHeader;
    const Colour colour = h.Colours[1];
    h = FrameHeaderData{};
    h.Size = 40;
    h.Width = State.ScreenWidth;
    h.Height = State.ImageHeight;  // positive: bottom row first
    h.Planes = 1;
    h.BitCount = 8;
    h.Compression = 0;
    // The window's size, as the header has always carried it; 0 ("work it out") when it does
    // not fit, which is just as valid for an uncompressed image.
    const std::uint64_t windowBytes = static_cast<std::uint64_t>(width) *
        static_cast<std::uint64_t>(State.ScreenHeight);
    h.SizeImage = windowBytes > UINT32_MAX ? 0 : static_cast<std::uint32_t>(windowBytes);
    h.XPelsPerMeter = 3840;
    h.YPelsPerMeter = 3840;
    h.ClrUsed = 2;
    h.ClrImportant = 2;
    h.Colours[0] = 0;
    h.Colours[1] = colour;
    return true;
}

bool ResizeFrame(std::int32_t width, std::int32_t height) {
    if (width < 0) width = 0;
    if (height < 0) height = 0;
    if (width == State.ScreenWidth && height == State.ScreenHeight && State.VScreen != nullptr) return true;
    ReleaseFrame();
    State.ScreenWidth = width;
    State.ScreenHeight = height;
    if (!AllocateFrame() || !platform::PrepareWindowPicture(State.Window, width, height)) {
        // Nothing is drawn any more: a tick that still comes plots into an empty image.
        ReleaseFrame();
        State.ScreenWidth = State.ImageHeight = State.VScreenStride = 0;
        State.FrameHeader.Width = State.FrameHeader.Height = 0;
        State.PlottedPoints = -1;
        return false;
    }
    if (Plan.refitOnResize) RefitPointSets();
    platform::BlackenStrip(State.Window, width, StatusStripHeight);
    return true;
}

int InitWindow(const StartPlan& plan) {
    Plan = plan;
    SeedRandom(plan.seed);
    if (const int code = plan.openWindow(plan)) return code;
    // No window has a negative size; read as unsigned, one would let every point into the image.
    if (State.ScreenWidth < 0) State.ScreenWidth = 0;
    if (State.ScreenHeight < 0) State.ScreenHeight = 0;
    // A window shorter than the status strip has an empty image, never a negative one.
    if (!AllocateFrame() || !platform::PrepareWindowPicture(State.Window, State.ScreenWidth, State.ScreenHeight)) {
        ShowErrorMessage(VScreenMessage);
        return static_cast<int>(StartResult::VScreenFailed);
    }
    return 0;
}

int StartSaver(const StartPlan& plan) {
    platform::SaverHandler = HandleSaverMessage;
    State.Mode = plan.mode;
    State.Regulation = plan.regulation;
    SetMemoryBound(plan.memoryBound);
    if (const int code = InitWindow(plan)) return code;
    if (const int code = LoadDefinitions(plan.definitions)) return code;
    if (plan.statusOn) State.ShowStatus = true;
    if (const int code = PrepareAnimation()) return code;
    return RunPreparedSaver();
}

int RunPreparedSaver() {
    EndCode = 0;
    State.SavedCursorValid = platform::ReadCursorPosition(&State.SavedCursorX, &State.SavedCursorY);
    platform::ShowSaverWindow(State.Window);
    if (State.Mode == RunMode::Saver) platform::HideCursor();
    platform::BlackenStrip(State.Window, State.ScreenWidth, StatusStripHeight);
    if (State.Mode == RunMode::Preview) State.ShowStatus = false;
    platform::StartFrameTimer(State.Window);
    platform::RunMessageLoop();
    platform::ShowCursorAgain();
    return EndCode;
}

bool HandleSaverMessage(PlatformHandle window, SaverMessage message) {
    switch (message) {
        case SaverMessage::Destroy:
            platform::EndMessageLoop(window);
            return true;
        case SaverMessage::Paint:
            platform::AcceptPaint(window);
            return true;
        case SaverMessage::KeyDown:
        case SaverMessage::LeftButtonDown:
        case SaverMessage::RightButtonDown:
        case SaverMessage::MiddleButtonDown:
            if (InputEndsRun(State.Mode)) platform::DestroySaverWindow(window);
            return true;
        case SaverMessage::Timer: {
            std::int32_t x = 0, y = 0;
            // In the Linux window that input does not end the position is never compared, and
            // reading it costs a round trip to the X server: it is not read.
            if (State.Mode != RunMode::Window && platform::ReadCursorPosition(&x, &y)) {
                if (!State.SavedCursorValid) {
                    // The start-up position could not be read: the first one read stands in.
                    State.SavedCursorX = x;
                    State.SavedCursorY = y;
                    State.SavedCursorValid = true;
                } else if ((x != State.SavedCursorX || y != State.SavedCursorY) && InputEndsRun(State.Mode)) {
                    platform::DestroySaverWindow(window);
                    return true;  // the window is gone: nothing left to draw into
                }
            }
            FrameTick(window);
            return true;
        }
        case SaverMessage::Resize: {
            std::int32_t width = State.ScreenWidth, height = State.ScreenHeight;
            platform::WindowClientSize(window, &width, &height);
            if (!ResizeFrame(width, height)) {
                ShowErrorMessage(VScreenMessage);
                EndCode = static_cast<int>(StartResult::VScreenFailed);
                platform::DestroySaverWindow(window);
            }
            return true;
        }
        case SaverMessage::Close:
            platform::DestroySaverWindow(window);
            return true;
        case SaverMessage::Other:
            break;
    }
    return false;
}

void ReleaseSaverMemory() {
    const auto points = static_cast<std::uint64_t>(State.PointCount < 0 ? 0 : State.PointCount);
    ReleaseFrame();
    for (ScreenPoint* set : {State.Pts1, State.Pts2, State.PtsA, State.PtsLast}) FreeBytes(set, points, sizeof(ScreenPoint));
    FreeBytes(State.PtsDX, points, sizeof(std::int32_t));
    FreeBytes(State.PtsDY, points, sizeof(std::int32_t));
    FreeBytes(State.CosTable, CosTableSize, sizeof(std::int32_t));
    for (IfsDefinition* def = State.FirstDefinition; def != nullptr;) {
        IfsDefinition* next = def->Next;
        std::free(def->Transforms);
        delete def;
        def = next;
    }
    // Whatever was not given back one by one (a start-up that stopped half-way) is forgotten too.
    ForgetHandedOutBytes();
    ResetSaverState();
    ForgetStartPlan();
}

void ForgetStartPlan() { Plan = StartPlan{}; }
