// lumivex-render: runs the saver headless on a simulated clock and records what every tick drew.
#include <cstdio>
#include <ctime>
#include <string>

#include "backends/headless/headless_host.h"
#include "saver/saver_main.h"
#include "core/saver_state.h"
#include "tools/render/check.h"
#include "tools/render/dump.h"
#include "tools/render/output_files.h"
#include "tools/render/picture_recorder.h"
#include "tools/render/render_options.h"

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

    if (options.check || options.fit) {
        CheckSettings settings;
        settings.screenWidth = options.width;
        settings.screenHeight = options.height;
        if (options.check) return RunCheck(options.ini, settings, options.json, stdout, stderr);
        return RunFit(options.ini, options.out, options.fitWeights, settings, stdout, stderr);
    }

    PictureRecorder pictures;
    if (!PreparePictures(&pictures, options, &error)) {
        std::fprintf(stderr, "lumivex-render: %s\n", error.c_str());
        return 2;
    }

    // The dump, like the pictures, is written under a partial name and renamed once complete:
    // a run that fails leaves no cut-short dump.
    std::FILE* dump = nullptr;
    const bool dumpToFile = !options.dump.empty() && options.dump != "-";
    if (options.dump == "-") {
        dump = stdout;
    } else if (dumpToFile) {
        dump = std::fopen(PartialPath(options.dump).c_str(), "wb");
        if (dump == nullptr) {
            AbandonPictures(&pictures);
            std::fprintf(stderr, "lumivex-render: cannot write %s\n", options.dump.c_str());
            return 2;
        }
    }

    HeadlessHost& host = Host();
    host.echoMessages = true;
    host.calendarSeconds = options.seedGiven ? static_cast<std::int64_t>(options.seed) : static_cast<std::int64_t>(std::time(nullptr));
    // With --child, a parent window stands in for a host's preview window.
    const PlatformHandle parent = host.UseScreen(options.width, options.height, options.child);
    if (!options.ini.empty()) {
        host.useDefinitionFile = true;
        host.definitionFile = options.ini;
    } else {
        host.systemDirectory = ProgramDirectory();
    }

    const std::uint32_t total = TickTotal(options);
    std::uint32_t next = 1;
    bool picturesFailed = false;  // ends the run
    host.nextTick = [&](std::uint32_t* now) {
        if (next > total || picturesFailed) return false;
        *now = TickAt(options, next++);
        return true;
    };
    std::uint32_t previous = 0;  // the saver's LastTick starts at 0
    host.onLoopStart = [&] {
        if (dump != nullptr) std::fprintf(dump, "%s\n", StartLine(State).c_str());
        if (RecordsPictures(pictures)) picturesFailed = !StartPictures(&pictures, State.ScreenWidth, State.ScreenHeight, &error);
    };
    host.afterTick = [&](std::uint32_t tick) {
        const auto dt = static_cast<std::int32_t>(host.now - previous);
        previous = host.now;
        if (dump != nullptr)
            std::fprintf(dump, "%s\n", TickLine(State, tick, dt, host.statusDrawn ? &host.statusText : nullptr).c_str());
        if (RecordsPictures(pictures) && !picturesFailed) picturesFailed = !RecordTick(&pictures, host, tick, dt, &error);
    };

    State.Mode = options.preview ? RunMode::Preview : RunMode::Saver;
    const int code = RunSaver(reinterpret_cast<PlatformHandle>(std::intptr_t{1}), parent);

    // The dump is complete once the run is over; a dump that could not be written fails the run
    // before any picture is kept, so a failed run leaves nothing behind.
    bool dumpWritten = true;
    if (dumpToFile) {
        dumpWritten = std::ferror(dump) == 0;
        dumpWritten = std::fclose(dump) == 0 && dumpWritten;
    } else if (dump == stdout) {
        dumpWritten = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    }
    if (!dumpWritten && !picturesFailed) {
        picturesFailed = true;
        error = "cannot write the dump " + options.dump;
    }
    if (RecordsPictures(pictures) && code == 0 && !picturesFailed) picturesFailed = !FinishPictures(&pictures, &error);
    if (!picturesFailed && dumpToFile) picturesFailed = !CommitPartial(options.dump, &error);
    if (picturesFailed) {
        AbandonPictures(&pictures);
        if (dumpToFile) RemoveQuietly(PartialPath(options.dump));
        std::fprintf(stderr, "lumivex-render: %s\n", error.c_str());
        return 2;
    }
    if (RecordsPictures(pictures) && code != 0) AbandonPictures(&pictures);
    return code == 0 ? 0 : 1;
}
