// lumivex-render: runs the saver headless on a simulated clock and records what every tick drew.
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "backends/headless/headless_host.h"
#include "core/messages.h"
#include "core/saver_state.h"
#include "ifs/loader.h"
#include "saver/linux_saver.h"
#include "saver/saver_run.h"
#include "saver/win32_saver.h"
#include "ifs/check/check.h"
#include "ifs/check/fit.h"
#include "ifs/check/ifs_format.h"
#include "ifs/check/output_files.h"
#include "tools/render/render_options.h"
#include "tools/render/render_outputs.h"

#if !defined(_WIN32)
#include <signal.h>
#include <unistd.h>
#endif

namespace {

// Where the renderer finds the shipped lumivex.ini, its stand-in for the saver's system directory:
// PREFIX/share/lumivex for a renderer installed in PREFIX/bin, else the renderer's own folder (a
// build, where the configure copies the file beside it). No "/" at the end.
std::string ShippedDefinitionDirectory();

// The files the renderer reads the definitions from, in order: the one asked for, else
// lumivex.ini here, then the shipped definitions.
std::vector<std::string> DefinitionFiles(const std::string& asked) {
    if (!asked.empty()) return {asked};
    return {"lumivex.ini", ShippedDefinitionDirectory() + "/lumivex.ini"};
}

// The first of them that opens, as the saver would take it; the last when none does (its error
// names it).
std::string FindDefinitionFile(const std::string& asked) {
    const std::vector<std::string> files = DefinitionFiles(asked);
    for (const std::string& path : files) {
        if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
            std::fclose(file);
            return path;
        }
    }
    return files.back();
}

std::string ShippedDefinitionDirectory() {
    const std::string folder = ProgramDirectory();
    if (folder.empty() || folder[0] != '/') return folder;
    // The Linux saver's rule, for a program of this name in that folder.
    std::string shipped = ShippedDefinitionFolder(folder + "/lumivex-render");
    if (shipped.size() > 1) shipped.pop_back();
    return shipped;
}

const char* const MissingBesideMessage =
    "I cannot find 'lumivex.ini'.\n\nI *need* that file, no nice gfx without it!\n\n"
    "Please put it either into the current directory or into '%s/'. Now quitting.";

// Ctrl-C, SIGTERM and SIGHUP end a run without leaving any of it behind. Once the ticks run, the
// handler only notes the signal: the run ends after its tick, removes its outputs, then dies of
// the signal. Before, start-up may be blocked on a FIFO or busy with millions of points: the
// handler removes what start-up left (the dump's partial file, the folders --png made) itself.
volatile sig_atomic_t Ticking = 0;
volatile sig_atomic_t Interrupted = 0;
const char* volatile StartupFile = nullptr;
constexpr int MaxStartupFolders = 64;
const char* StartupFolders[MaxStartupFolders];
volatile sig_atomic_t StartupFolderCount = 0;

[[noreturn]] void DieOf(int number) {
#if !defined(_WIN32)
    signal(number, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, number);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(number);
    _exit(128 + number);
#else
    std::_Exit(128 + number);
#endif
}

#if !defined(_WIN32)

void OnEndSignal(int number) {
    if (Ticking != 0) {
        Interrupted = number;
        return;
    }
    if (StartupFile != nullptr) unlink(StartupFile);
    for (int i = 0; i < StartupFolderCount; ++i) rmdir(StartupFolders[i]);
    DieOf(number);
}

void InstallEndSignals() {
    struct sigaction action = {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGINT, SIGHUP}) sigaction(number, &action, nullptr);
}

void HoldEndSignals(bool hold) {
    sigset_t set;
    sigemptyset(&set);
    for (int number : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, number);
    sigprocmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}
#else
void InstallEndSignals() {}  // the Windows build ends on Ctrl-C as its C runtime does
void HoldEndSignals(bool) {}
#endif

int Refuse(const std::string& why) {
    std::fprintf(stderr, "lumivex-render: %s\n", why.c_str());
    return 2;
}

// --check, --fit, --import and --export-ifs: read the file instead of running the saver.
int Judge(const RenderOptions& options) {
    CheckSettings settings;
    settings.screenWidth = options.width;
    settings.screenHeight = options.height;
    if (options.exportIfs) return RunExportIfs(FindDefinitionFile(options.ini), options.out, stdout, stderr);
    if (!options.import.empty()) {
        std::int32_t points = options.points;
        const std::string shipped = ShippedDefinitionDirectory() + "/lumivex.ini";
        if (!options.pointsGiven && !PointCountOf(shipped, &points))
            return Refuse("--import takes the point count of " + shipped + ", which cannot be read: give --points N");
        if (!ScreenFits(settings, stderr)) return 2;
        return RunImport(options.import, options.import, options.out, points, settings, stdout, stderr);
    }
    if (options.check) return RunCheck(FindDefinitionFile(options.ini), settings, options.json, stdout, stderr);
    return RunFit(options.ini, options.out, options.fitWeights, settings, stdout, stderr);
}

// The saver on the headless host, tick by tick, into the outputs: 0 after the last tick, 1 when
// the saver stops with its message, 2 when an output cannot be written. Only a run that reaches
// its end keeps its outputs.
int Record(const RenderOptions& options) {
    RenderOutputs outputs;
    std::string error;
    // The outputs are made with the ending signals held back, so the handler knows all of them.
    HoldEndSignals(true);
    const bool opened = OpenOutputs(&outputs, options, &error);
    const std::string dumpPartial = outputs.dumpPath.empty() ? "" : PartialPath(outputs.dumpPath);
    if (!dumpPartial.empty() && dumpPartial != outputs.dumpPath) StartupFile = dumpPartial.c_str();
    for (const std::string& folder : outputs.pictures.madeDirectories) {
        if (StartupFolderCount < MaxStartupFolders) StartupFolders[StartupFolderCount++] = folder.c_str();
    }
    HoldEndSignals(false);
    if (!opened) return Refuse(error);

    HeadlessHost& host = Host();
    host.echoMessages = true;
    host.echoPrefix = "lumivex-render: ";
    host.calendarSeconds = options.seedGiven ? static_cast<std::int64_t>(options.seed) : static_cast<std::int64_t>(std::time(nullptr));
    // With --child, a parent window stands in for a host's preview window.
    const PlatformHandle parent = host.UseScreen(options.width, options.height, options.child);
    // The file asked for, else lumivex.ini here, then the shipped definitions; the messages name it.
    const std::vector<std::string> paths = DefinitionFiles(options.ini);
    std::vector<const char*> names;
    for (const std::string& path : paths) names.push_back(path.c_str());
    const std::string missing = options.ini.empty()
        ? FormatMessageText(MissingBesideMessage, ShippedDefinitionDirectory().c_str())
        : FormatMessageText(MissingNamedFileMessage, options.ini.c_str());

    const std::uint32_t total = TickTotal(options);
    std::uint32_t next = 1;
    host.nextTick = [&](std::uint32_t* now) {
        if (next > total || outputs.failed || Interrupted != 0) return false;
        *now = TickAt(options, next++);
        return true;
    };
    std::uint32_t previous = 0;  // the saver's LastTick starts at 0
    host.onLoopStart = [&] {
        Ticking = 1;
        RecordStart(&outputs, State);
    };
    host.afterTick = [&](std::uint32_t tick) {
        const auto dt = static_cast<std::int32_t>(host.now - previous);
        previous = host.now;
        RecordTickOutputs(&outputs, State, host, tick, dt);
    };

    // The Windows saver's run, with the renderer's file lookup and the host's rule for points.
    State.Mode = options.preview ? RunMode::Preview : RunMode::Saver;
    State.Instance = reinterpret_cast<PlatformHandle>(std::intptr_t{1});
    StartPlan plan = WindowsPlan(parent);
    plan.regulation = options.regulation;
    plan.definitions = DefinitionLookup{names.data(), static_cast<int>(names.size()), missing.c_str(), true};
    const int code = StartSaver(plan);
    // From here on a signal is only noted (a start-up that failed never set Ticking).
    Ticking = 1;
    const bool closed = CloseOutputs(&outputs, code == 0 && Interrupted == 0, &error);
    if (Interrupted != 0) {
        AbandonOutputs(&outputs);
        DieOf(Interrupted);
    }
    if (!closed) return Refuse(error);
    return code == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    InstallEndSignals();
    RenderOptions options;
    std::string error;
    if (!ParseRenderOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "lumivex-render: %s (usage: lumivex-render --help)\n", error.c_str());
        return 2;
    }
    if (options.version) {
        std::printf("lumivex-render %s\n", LUMIVEX_VERSION);
        return 0;
    }
    if (options.help) {
        std::printf("%s\n\n%s\n", RenderUsage, RenderHelp);
        return 0;
    }
    if (options.check || options.fit || !options.import.empty() || options.exportIfs) return Judge(options);
    return Record(options);
}
