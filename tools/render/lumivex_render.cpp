// lumivex-render: runs the saver headless on a simulated clock and records what every tick drew.
#include <cstdio>
#include <ctime>
#include <string>

#include "backends/headless/headless_host.h"
#include "core/saver_state.h"
#include "saver/saver_main.h"
#include "tools/render/check.h"
#include "tools/render/fit.h"
#include "tools/render/ifs_format.h"
#include "tools/render/render_options.h"
#include "tools/render/render_outputs.h"

namespace {

int Refuse(const std::string& why) {
    std::fprintf(stderr, "lumivex-render: %s\n", why.c_str());
    return 2;
}

// --check, --fit, --import and --export-ifs: read the file instead of running the saver.
int Judge(const RenderOptions& options) {
    CheckSettings settings;
    settings.screenWidth = options.width;
    settings.screenHeight = options.height;
    if (options.exportIfs) return RunExportIfs(options.ini, options.out, stdout, stderr);
    if (!options.import.empty()) {
        std::int32_t points = options.points;
        const std::string shipped = ProgramDirectory() + "/lumivex.ini";
        if (!options.pointsGiven && !PointCountOf(shipped, &points))
            return Refuse("--import takes the point count of " + shipped + ", which cannot be read: give --points N");
        if (!ScreenFits(settings, stderr)) return 2;
        return RunImport(options.import, options.import, options.out, points, settings, stdout, stderr);
    }
    if (options.check) return RunCheck(options.ini, settings, options.json, stdout, stderr);
    return RunFit(options.ini, options.out, options.fitWeights, settings, stdout, stderr);
}

// The saver on the headless host, tick by tick, into the outputs: 0 after the last tick, 1 when
// the saver stops with its message, 2 when an output cannot be written. Only a run that reaches
// its end keeps its outputs.
int Record(const RenderOptions& options) {
    RenderOutputs outputs;
    std::string error;
    if (!OpenOutputs(&outputs, options, &error)) return Refuse(error);

    HeadlessHost& host = Host();
    host.echoMessages = true;
    host.calendarSeconds = options.seedGiven ? static_cast<std::int64_t>(options.seed) : static_cast<std::int64_t>(std::time(nullptr));
    // With --child, a parent window stands in for a host's preview window.
    const PlatformHandle parent = host.UseScreen(options.width, options.height, options.child);
    if (!options.ini.empty()) {
        host.useDefinitionFile = true;
        host.definitionFile = options.ini;
    } else {
        host.systemDirectory = ShippedDefinitionDirectory();
    }

    const std::uint32_t total = TickTotal(options);
    std::uint32_t next = 1;
    host.nextTick = [&](std::uint32_t* now) {
        if (next > total || outputs.failed) return false;
        *now = TickAt(options, next++);
        return true;
    };
    std::uint32_t previous = 0;  // the saver's LastTick starts at 0
    host.onLoopStart = [&] { RecordStart(&outputs, State); };
    host.afterTick = [&](std::uint32_t tick) {
        const auto dt = static_cast<std::int32_t>(host.now - previous);
        previous = host.now;
        RecordTickOutputs(&outputs, State, host, tick, dt);
    };

    State.Mode = options.preview ? RunMode::Preview : RunMode::Saver;
    const int code = RunSaver(reinterpret_cast<PlatformHandle>(std::intptr_t{1}), parent);
    if (!CloseOutputs(&outputs, code == 0, &error)) return Refuse(error);
    return code == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
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
