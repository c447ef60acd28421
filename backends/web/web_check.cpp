// The renderer's check and fit for the playground: the page's text judged and framed as
// lumivex-render --check --json and --fit do it, and .ifs files brought in and out as --import
// and --export-ifs do it.
#include <emscripten/emscripten.h>

#include <cstdio>
#include <string>

#include "backends/web/web_backend.h"
#include "core/arrays.h"
#include "saver/web_saver.h"
#include "ifs/check/check.h"
#include "ifs/check/fit.h"
#include "ifs/check/ifs_format.h"

namespace {

std::string Answer;

std::string ReadFile(const char* path) {
    std::string text;
    if (std::FILE* file = std::fopen(path, "rb")) {
        char chunk[4096];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, n);
        std::fclose(file);
    }
    return text;
}

CheckSettings Screen(int width, int height) {
    CheckSettings settings;
    settings.screenWidth = width;
    settings.screenHeight = height;
    return settings;
}

// Runs one of the renderer's commands on the module's file with its two outputs written to the
// module's own files: the command's exit code, 2 when a file cannot be made.
template <typename Command>
int RunInto(const char* outPath, const char* errPath, Command command) {
    EndWebRun();
    SetMemoryBound(WebMemoryBound);
    std::FILE* out = std::fopen(outPath, "wb");
    std::FILE* err = std::fopen(errPath, "wb");
    const int code = out != nullptr && err != nullptr ? command(out, err) : 2;
    if (out != nullptr) std::fclose(out);
    if (err != nullptr) std::fclose(err);
    return code;
}

}  // namespace

extern "C" {

// The checker's report on the file for a screen of width x height: JSON lines, one per
// definition, then the summary (as lumivex-render --check --json). *code: its exit code.
EMSCRIPTEN_KEEPALIVE const char* lvx_check(int width, int height, int* code) {
    *code = RunInto("/check.out", "/check.err", [&](std::FILE* out, std::FILE* err) {
        return RunCheck(WebFilePath, Screen(width, height), true, out, err);
    });
    Answer = ReadFile("/check.out") + ReadFile("/check.err");
    return Answer.c_str();
}

// The file with every box line (and, with weights, every weight) replaced by the suggested one,
// as lumivex-render --fit writes it; *code: its exit code. What it said goes to lvx_fit_log.
EMSCRIPTEN_KEEPALIVE const char* lvx_fit(int weights, int width, int height, int* code) {
    std::remove("/fit.out");
    *code = RunInto("/fit.log", "/fit.err", [&](std::FILE* out, std::FILE* err) {
        return RunFit(WebFilePath, "/fit.out", weights != 0, Screen(width, height), out, err);
    });
    Answer = ReadFile("/fit.out");
    return Answer.c_str();
}
EMSCRIPTEN_KEEPALIVE const char* lvx_fit_log() {
    Answer = ReadFile("/fit.log") + ReadFile("/fit.err");
    return Answer.c_str();
}

// The module's file read as a .ifs file (named name in the messages) and written as the
// definition file that lumivex-render --import --size WxH writes, with the point count of the
// text shipped (the page's gallery); *code: its exit code. What it said goes to lvx_ifs_log.
EMSCRIPTEN_KEEPALIVE const char* lvx_import(const char* name, const char* shipped, int width, int height, int* code) {
    if (std::FILE* gallery = std::fopen("/shipped.ini", "wb")) {
        std::fputs(shipped, gallery);
        std::fclose(gallery);
    }
    *code = RunInto("/import.out", "/ifs.log", [&](std::FILE* out, std::FILE* log) {
        const CheckSettings settings = Screen(width, height);
        std::int32_t points = 0;
        if (!PointCountOf("/shipped.ini", &points)) {
            std::fputs("lumivex-render: the gallery has no point count\n", log);
            return 2;
        }
        return ScreenFits(settings, log) ? RunImport(WebFilePath, name, "", points, settings, out, log) : 2;
    });
    Answer = ReadFile("/import.out");
    return Answer.c_str();
}

// The module's file as the .ifs entries that lumivex-render --export-ifs writes; *code: its exit
// code. What it said goes to lvx_ifs_log.
EMSCRIPTEN_KEEPALIVE const char* lvx_export_ifs(int* code) {
    *code = RunInto("/export.ifs", "/ifs.log",
                    [&](std::FILE* out, std::FILE* log) { return RunExportIfs(WebFilePath, "", out, log); });
    Answer = ReadFile("/export.ifs");
    return Answer.c_str();
}
EMSCRIPTEN_KEEPALIVE const char* lvx_ifs_log() {
    Answer = ReadFile("/ifs.log");
    return Answer.c_str();
}

}  // extern "C"
