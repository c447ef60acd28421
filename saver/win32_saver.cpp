// The Windows saver's start-up: the run mode from the command line, the window, the definitions, the animation.
#include "saver/win32_saver.h"

#include <cstdint>
#include <cstring>

#include "anim/anim.h"
#include "core/arrays.h"
#include "ifs/loader.h"
#include "ifs/text_input.h"
#include "platform/win32_host.h"
#include "saver/saver_main.h"

RunMode ChooseRunMode(const char* commandLine) {
    RunMode mode = RunMode::Configure;
    if (std::strstr(commandLine, "/s") != nullptr) mode = RunMode::Saver;
    if (std::strstr(commandLine, "/p") != nullptr) mode = RunMode::Preview;
    if (std::strstr(commandLine, "/S") != nullptr) mode = RunMode::Saver;
    return mode;
}

PlatformHandle ParsePreviewHandle(const char* commandLine) {
    const char* at = std::strstr(commandLine, "/p");
    std::int32_t value = 0;
    if (at == nullptr || ScanIntAnyBase(at + 2, &value) == nullptr) return nullptr;
    return reinterpret_cast<PlatformHandle>(static_cast<std::intptr_t>(value));
}

StartResult InitWindow(PlatformHandle parent) {
    platform::SaverHandler = HandleSaverMessage;
    SeedRandom(static_cast<std::uint32_t>(platform::CalendarSeconds()));

    if (platform::TakeInstanceLock(&State.InstanceLock) == platform::LockOutcome::AlreadyHeld) return StartResult::AlreadyRunning;

    std::int32_t x = 0, y = 0;
    if (parent != nullptr) {
        platform::Rect rect = {0, 0, 0, 0};
        platform::ParentClientRect(parent, &rect);
        State.ScreenWidth = WrapSub(rect.right, rect.left);
        State.ScreenHeight = WrapSub(rect.bottom, rect.top);
        x = rect.left;
        y = rect.top;
    } else {
        const platform::ScreenMetrics metrics = platform::ReadScreenMetrics();
        State.ScreenWidth = metrics.virtualWidth;
        State.ScreenHeight = WrapSub(metrics.virtualHeight, 1);
        x = metrics.virtualX;
        y = metrics.virtualY;
        if (State.ScreenWidth == 0 || State.ScreenHeight == 0) {
            State.ScreenWidth = WrapSub(metrics.primaryWidth, 1);
            State.ScreenHeight = WrapSub(metrics.primaryHeight, 1);
        }
    }
    // No window has a negative size; read as unsigned, one would let every point into the image.
    if (State.ScreenWidth < 0) State.ScreenWidth = 0;
    if (State.ScreenHeight < 0) State.ScreenHeight = 0;

    if (!platform::PrepareWindowing(State.Instance)) return StartResult::ClassFailed;
    State.Window = platform::CreateSaverWindow(State.Instance, parent, x, y, State.ScreenWidth, State.ScreenHeight);
    if (State.Window == nullptr) return StartResult::WindowFailed;

    // A window shorter than the status strip has an empty image, never a negative one.
    SetImageFillsWindow(parent != nullptr);
    SetRefitOnResize(false);
    if (!AllocateFrame()) {
        ShowErrorMessage(VScreenMessage);
        return StartResult::VScreenFailed;
    }
    return StartResult::Ok;
}

int RunSaver(PlatformHandle instance, PlatformHandle parent) {
    State.Instance = instance;
    SetMemoryBound(SaverMemoryBound(platform::PhysicalMemoryBytes()));
    if (const StartResult result = InitWindow(parent); result != StartResult::Ok) return static_cast<int>(result);
    if (const int code = LoadDefinitions()) return code;
    if (const int code = PrepareAnimation()) return code;

    return RunPreparedSaver();
}

int SaverMain(PlatformHandle instance) {
    const char* commandLine = platform::CommandLine();
    State.Mode = ChooseRunMode(commandLine);
    if (State.Mode == RunMode::Configure) return 0;
    const PlatformHandle parent = State.Mode == RunMode::Preview ? ParsePreviewHandle(commandLine) : nullptr;
    return RunSaver(instance, parent);
}
