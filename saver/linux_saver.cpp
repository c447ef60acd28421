// Start-up of the Linux program: the window it draws in, its definition file, then the common run.
#include "saver/linux_saver.h"

#include <cinttypes>
#include <cstdio>

#include "core/arrays.h"
#include "ifs/loader.h"
#include "platform/linux_host.h"
#include "saver/saver_run.h"

namespace {

const char* const WindowTitle = "Lumivex";

const char* const MissingLinuxFileMessage =
    "I cannot find 'lumivex.ini'.\n\nI *need* that file, no nice gfx without it!\n\n"
    "Please put it either into '%s' or into '%s'. Now quitting.";
const char* const NoDisplayMessage = "I cannot open the X display '%s'. Now quitting.";
const char* const NoDisplaySetMessage = "I cannot open an X display: DISPLAY is not set. Now quitting.";
const char* const NoCompositorMessage = "I cannot reach the Wayland compositor '%s'. Now quitting.";
const char* const NoCompositorSetMessage =
    "I cannot reach a Wayland compositor: WAYLAND_DISPLAY is not set and there is none at 'wayland-0'. Now quitting.";
const char* const NoLayerShellMessage =
    "The compositor offers no layer shell (zwlr_layer_shell_v1), which --layer needs. Now quitting.";
const char* const NoWindowShellMessage =
    "The compositor offers no xdg-shell (xdg_wm_base), which a window needs. Now quitting.";
const char* const NoSuchOutputMessage = "There is no output '%s' to draw on. Now quitting.";
const char* const NoSuchWindowMessage = "There is no window %s to draw in. Now quitting.";
const char* const VisualMessage =
    "I can only draw on a 24- or 32-bit TrueColor visual, and this window has another one. Now quitting.";

// The user's folder for Lumivex, with its "/"; empty when neither variable gives one.
std::string ConfigFolder(const LinuxEnvironment& env) {
    if (env.xdgConfigHome != nullptr && env.xdgConfigHome[0] == '/') return std::string(env.xdgConfigHome) + "/lumivex/";
    if (env.home != nullptr && env.home[0] != '\0') return std::string(env.home) + "/.config/lumivex/";
    return "";
}

std::string DataFolder(const LinuxEnvironment& env) { return ShippedDefinitionFolder(env.programPath); }

// The folder part of a path, without its last "/"; empty when there is none.
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

int WindowFailure(platform::WindowOutcome outcome, const LinuxOptions& options, const LinuxEnvironment& env,
                  LinuxHost host) {
    const bool layer = options.target == LinuxTarget::Layer;
    if (host == LinuxHost::Wayland) {
        switch (outcome) {
            case platform::WindowOutcome::NoDisplay:
                if (env.waylandDisplay == nullptr || env.waylandDisplay[0] == '\0') ShowErrorMessage(NoCompositorSetMessage);
                else ShowErrorMessage(FormatMessageText(NoCompositorMessage, env.waylandDisplay).c_str());
                return static_cast<int>(StartResult::WindowFailed);
            case platform::WindowOutcome::NoSuchWindow:
                ShowErrorMessage(FormatMessageText(NoSuchOutputMessage, options.output.c_str()).c_str());
                return static_cast<int>(StartResult::WindowFailed);
            case platform::WindowOutcome::Unsupported:
                ShowErrorMessage(layer ? NoLayerShellMessage : NoWindowShellMessage);
                return FailedExitCode;
            default:
                break;
        }
    }
    switch (outcome) {
        case platform::WindowOutcome::Unsupported:
            ShowErrorMessage(NoLayerShellMessage);
            return FailedExitCode;
        case platform::WindowOutcome::NoDisplay:
            if (env.display == nullptr || env.display[0] == '\0') ShowErrorMessage(NoDisplaySetMessage);
            else ShowErrorMessage(FormatMessageText(NoDisplayMessage, env.display).c_str());
            return static_cast<int>(StartResult::WindowFailed);
        case platform::WindowOutcome::NoSuchWindow: {
            char id[32];
            std::snprintf(id, sizeof id, "0x%" PRIx64, options.windowId);
            ShowErrorMessage(FormatMessageText(NoSuchWindowMessage, id).c_str());
            return static_cast<int>(StartResult::WindowFailed);
        }
        case platform::WindowOutcome::UnsupportedVisual:
            ShowErrorMessage(VisualMessage);
            return FailedExitCode;
        case platform::WindowOutcome::Ok:
            break;
    }
    return 0;
}

}  // namespace

std::string ShippedDefinitionFolder(const std::string& programPath) {
    const std::string folder = FolderOf(programPath);
    if (programPath.empty() || programPath[0] != '/') return "/usr/share/lumivex/";
    std::string prefix;
    if (EndsWith(folder, "/bin")) prefix = FolderOf(folder);
    else if (EndsWith(folder, "/xscreensaver")) prefix = FolderOf(FolderOf(folder));
    else return folder + "/";
    return prefix + "/share/lumivex/";
}

void FitWindowToScreen(const platform::ScreenMetrics& screen, std::int32_t* width, std::int32_t* height) {
    const bool primary = screen.primaryWidth > 0 && screen.primaryHeight > 0;
    const std::int64_t screenWidth = primary ? screen.primaryWidth : screen.virtualWidth;
    const std::int64_t screenHeight = primary ? screen.primaryHeight : screen.virtualHeight;
    if (screenWidth <= 0 || screenHeight <= 0 || *width <= 0 || *height <= 0) return;
    const std::int64_t maxWidth = screenWidth * 9 / 10, maxHeight = screenHeight * 9 / 10;
    const std::int64_t w = *width, h = *height;
    if (w <= maxWidth && h <= maxHeight) return;
    std::int64_t fitWidth = maxWidth, fitHeight = h * maxWidth / w;  // as wide as allowed
    if (w * maxHeight < h * maxWidth) {                            // else as tall as allowed
        fitHeight = maxHeight;
        fitWidth = w * maxHeight / h;
    }
    *width = static_cast<std::int32_t>(fitWidth < 1 ? 1 : fitWidth);
    *height = static_cast<std::int32_t>(fitHeight < 1 ? 1 : fitHeight);
}

std::vector<std::string> DefinitionFileCandidates(const LinuxOptions& options, const LinuxEnvironment& env) {
    if (!options.ini.empty()) return {options.ini};
    std::vector<std::string> paths;
    const std::string config = ConfigFolder(env);
    if (!config.empty()) paths.push_back(config + "lumivex.ini");
    paths.push_back(DataFolder(env) + "lumivex.ini");
    return paths;
}

std::string MissingDefinitionMessage(const LinuxOptions& options, const LinuxEnvironment& env) {
    if (!options.ini.empty()) return FormatMessageText(MissingNamedFileMessage, options.ini.c_str());
    const std::string config = ConfigFolder(env);
    std::string text = FormatMessageText(MissingLinuxFileMessage, config.empty() ? "~/.config/lumivex/" : config.c_str());
    return FormatMessageText(text.c_str(), DataFolder(env).c_str());
}

namespace {

// What the Linux program's window step reads.
struct LinuxStart {
    const LinuxOptions& options;
    const LinuxEnvironment& env;
    LinuxHost host;
};

// The window the options name: a host's, the program's own, a layer of the desktop, the screen.
int OpenLinuxWindow(const StartPlan& plan) {
    const LinuxStart& start = *static_cast<const LinuxStart*>(plan.host);
    const LinuxOptions& options = start.options;
    PlatformHandle window = nullptr;
    platform::WindowOutcome outcome = platform::WindowOutcome::NoDisplay;
    switch (options.target) {
        case LinuxTarget::Root:
        case LinuxTarget::WindowId:
            outcome = platform::AdoptHostWindow(options.windowId, &window);
            break;
        case LinuxTarget::Window: {
            std::int32_t width = options.width, height = options.height;
            if (!options.geometryGiven) FitWindowToScreen(platform::ReadScreenMetrics(), &width, &height);
            outcome = platform::CreateDesktopWindow(false, WindowTitle, width, height, &window);
            break;
        }
        case LinuxTarget::Layer:
            outcome = platform::CreateLayerWindow(options.layer, options.output.empty() ? nullptr : options.output.c_str(),
                                                  &window);
            break;
        case LinuxTarget::FullScreen: {
            const platform::ScreenMetrics screen = platform::ReadScreenMetrics();
            outcome = platform::CreateDesktopWindow(true, WindowTitle, screen.virtualWidth, screen.virtualHeight, &window);
            break;
        }
    }
    if (outcome != platform::WindowOutcome::Ok || window == nullptr) return WindowFailure(outcome, options, start.env, start.host);
    State.Window = window;
    // The picture fills the window, the status strip on top and the image below it.
    State.ScreenWidth = State.ScreenHeight = 0;
    platform::WindowClientSize(window, &State.ScreenWidth, &State.ScreenHeight);
    return 0;
}

}  // namespace

int RunLinuxSaver(const LinuxOptions& options, const LinuxEnvironment& env) {
    const LinuxStart start{options, env, ChooseLinuxHost(options, env.waylandDisplay, env.screensaverWindow)};
    if (env.useHost != nullptr) env.useHost(start.host);
    platform::SetFrameTimerPeriod(options.delay);
    // No single-instance lock: XScreenSaver and xsecurelock run one saver per monitor.
    const std::vector<std::string> paths = DefinitionFileCandidates(options, env);
    std::vector<const char*> names;
    for (const std::string& path : paths) names.push_back(path.c_str());
    const std::string missing = MissingDefinitionMessage(options, env);

    StartPlan plan;
    // A host's window and the desktop window are watched, not ended by input; full screen is /s.
    plan.mode = options.target == LinuxTarget::FullScreen ? RunMode::Saver : RunMode::Window;
    plan.seed = options.seedGiven ? options.seed : static_cast<std::uint32_t>(platform::CalendarSeconds());
    plan.memoryBound = SaverMemoryBound(platform::PhysicalMemoryBytes());
    // Ticks paced by the display on a millisecond clock never measure 0 ms: points come back
    // after a run of fast ticks instead.
    plan.regulation = PointRegulation::FastRun;
    plan.openWindow = OpenLinuxWindow;
    plan.host = &start;
    // Desktops resize these windows (a tiling compositor right after they appear): the picture
    // follows at once, not at the next fractal.
    plan.refitOnResize = true;
    plan.definitions = DefinitionLookup{names.data(), static_cast<int>(names.size()), missing.c_str(), true};
    plan.statusOn = options.status;
    return StartSaver(plan);
}

int LinuxSaverMain(int argc, const char* const* argv, const LinuxEnvironment& env) {
    LinuxOptions options;
    std::string error;
    if (!ParseLinuxOptions(argc, argv, env.screensaverWindow, &options, &error)) {
        std::fprintf(stderr, "lumivex: %s (usage: lumivex --help)\n", error.c_str());
        return UsageExitCode;
    }
    if (options.help) {
        std::printf("%s\n\n%s\n", LinuxUsage, LinuxHelp);
        return 0;
    }
    if (options.version) {
        std::printf("lumivex %s\n", env.version);
        return 0;
    }
    return RunLinuxSaver(options, env);
}
