// The Windows saver's start-up: the run mode from the command line, the window, the definitions, the animation.
#include "saver/win32_saver.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "core/arrays.h"
#include "ifs/loader.h"
#include "ifs/text_input.h"
#include "platform/win32_host.h"

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

namespace {

// The lock, the geometry, the window class and the window, in the Windows saver's order.
int OpenSaverWindow(const StartPlan& plan) {
    if (platform::TakeInstanceLock(&State.InstanceLock) == platform::LockOutcome::AlreadyHeld)
        return static_cast<int>(StartResult::AlreadyRunning);

    std::int32_t x = 0, y = 0;
    if (plan.parent != nullptr) {
        platform::Rect rect = {0, 0, 0, 0};
        platform::ParentClientRect(plan.parent, &rect);
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
    if (State.ScreenWidth < 0) State.ScreenWidth = 0;
    if (State.ScreenHeight < 0) State.ScreenHeight = 0;

    if (!platform::PrepareWindowing(State.Instance)) return static_cast<int>(StartResult::ClassFailed);
    State.Window = platform::CreateSaverWindow(State.Instance, plan.parent, x, y, State.ScreenWidth, State.ScreenHeight);
    if (State.Window == nullptr) return static_cast<int>(StartResult::WindowFailed);
    return 0;
}

}  // namespace

DefinitionLookup WindowsDefinitionLookup() {
    static std::string shownDirectory, path, missing;
    static const char* paths[2];
    char directory[2048] = {0};
    platform::SystemDirectory(directory, sizeof directory);
    shownDirectory = std::string(directory) + "\\";
    path = shownDirectory + "lumivex.ini";
    missing = FormatMessageText(MissingFileMessage, shownDirectory.c_str());
    paths[0] = "lumivex.ini";
    paths[1] = path.c_str();
    return DefinitionLookup{paths, 2, missing.c_str(), false};
}

StartPlan WindowsPlan(PlatformHandle parent) {
    StartPlan plan;
    plan.mode = State.Mode;
    plan.seed = static_cast<std::uint32_t>(platform::CalendarSeconds());
    plan.memoryBound = SaverMemoryBound(platform::PhysicalMemoryBytes());
    plan.regulation = PointRegulation::ZeroInterval;
    plan.openWindow = OpenSaverWindow;
    plan.parent = parent;
    plan.imageFillsWindow = parent != nullptr;
    plan.definitions = WindowsDefinitionLookup();
    return plan;
}

int RunSaver(PlatformHandle instance, PlatformHandle parent) {
    State.Instance = instance;
    return StartSaver(WindowsPlan(parent));
}
int SaverMain(PlatformHandle instance) {
    const char* commandLine = platform::CommandLine();
    State.Mode = ChooseRunMode(commandLine);
    if (State.Mode == RunMode::Configure) return 0;
    const PlatformHandle parent = State.Mode == RunMode::Preview ? ParsePreviewHandle(commandLine) : nullptr;
    return RunSaver(instance, parent);
}
