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

}  // namespace

extern "C" {

// The checker's report on the file for a screen of width x height: JSON lines, one per
// definition, then the summary (as lumivex-render --check --json). *code: its exit code.
EMSCRIPTEN_KEEPALIVE const char* lvx_check(int width, int height, int* code) {
    EndWebRun();
    CheckSettings settings;
    settings.screenWidth = width;
    settings.screenHeight = height;
    SetMemoryBound(WebMemoryBound);
    std::FILE* out = std::fopen("/check.out", "wb");
    std::FILE* err = std::fopen("/check.err", "wb");
    *code = out != nullptr && err != nullptr ? RunCheck(WebFilePath, settings, true, out, err) : 2;
    if (out != nullptr) std::fclose(out);
    if (err != nullptr) std::fclose(err);
    Answer = ReadFile("/check.out") + ReadFile("/check.err");
    return Answer.c_str();
}

// The file with every box line (and, with weights, every weight) replaced by the suggested one,
// as lumivex-render --fit writes it; *code: its exit code. What it said goes to lvx_fit_log.
EMSCRIPTEN_KEEPALIVE const char* lvx_fit(int weights, int width, int height, int* code) {
    EndWebRun();
    CheckSettings settings;
    settings.screenWidth = width;
    settings.screenHeight = height;
    SetMemoryBound(WebMemoryBound);
    std::remove("/fit.out");
    std::FILE* out = std::fopen("/fit.log", "wb");
    std::FILE* err = std::fopen("/fit.err", "wb");
    *code = out != nullptr && err != nullptr ? RunFit(WebFilePath, "/fit.out", weights != 0, settings, out, err) : 2;
    if (out != nullptr) std::fclose(out);
    if (err != nullptr) std::fclose(err);
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
    EndWebRun();
    CheckSettings settings;
    settings.screenWidth = width;
    settings.screenHeight = height;
    SetMemoryBound(WebMemoryBound);
    std::FILE* log = std::fopen("/ifs.log", "wb");
    std::FILE* out = std::fopen("/import.out", "wb");
    std::FILE* gallery = std::fopen("/shipped.ini", "wb");
    if (gallery != nullptr) {
        std::fputs(shipped, gallery);
        std::fclose(gallery);
    }
    std::int32_t points = 0;
    *code = 2;
    if (log != nullptr && out != nullptr) {
        if (!PointCountOf("/shipped.ini", &points)) std::fputs("lumivex-render: the gallery has no point count\n", log);
        else if (ScreenFits(settings, log)) *code = RunImport(WebFilePath, name, "", points, settings, out, log);
    }
    if (out != nullptr) std::fclose(out);
    if (log != nullptr) std::fclose(log);
    Answer = ReadFile("/import.out");
    return Answer.c_str();
}

// The module's file as the .ifs entries that lumivex-render --export-ifs writes; *code: its exit
// code. What it said goes to lvx_ifs_log.
EMSCRIPTEN_KEEPALIVE const char* lvx_export_ifs(int* code) {
    EndWebRun();
    SetMemoryBound(WebMemoryBound);
    std::FILE* log = std::fopen("/ifs.log", "wb");
    std::FILE* out = std::fopen("/export.ifs", "wb");
    *code = log != nullptr && out != nullptr ? RunExportIfs(WebFilePath, "", out, log) : 2;
    if (out != nullptr) std::fclose(out);
    if (log != nullptr) std::fclose(log);
    Answer = ReadFile("/export.ifs");
    return Answer.c_str();
}
EMSCRIPTEN_KEEPALIVE const char* lvx_ifs_log() {
    Answer = ReadFile("/ifs.log");
    return Answer.c_str();
}

}  // extern "C"
