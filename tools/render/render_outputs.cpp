// The outputs of a renderer run, committed or abandoned as a whole.
#include "tools/render/render_outputs.h"

#include "tools/render/dump.h"
#include "ifs/check/output_files.h"

bool OpenOutputs(RenderOutputs* outputs, const RenderOptions& options, std::string* error) {
    if (!PreparePictures(&outputs->pictures, options, error)) return false;
    if (options.dump == "-") {
        outputs->dump = stdout;
    } else if (!options.dump.empty()) {
        outputs->dump = std::fopen(PartialPath(options.dump).c_str(), "wb");
        if (outputs->dump == nullptr) {
            AbandonPictures(&outputs->pictures);
            *error = "cannot write " + options.dump;
            return false;
        }
        outputs->dumpPath = options.dump;
    }
    return true;
}

void RecordStart(RenderOutputs* outputs, const SaverState& state) {
    if (outputs->dump != nullptr) std::fprintf(outputs->dump, "%s\n", StartLine(state).c_str());
    if (RecordsPictures(outputs->pictures) && !outputs->failed)
        outputs->failed = !StartPictures(&outputs->pictures, state.ScreenWidth, state.ScreenHeight, &outputs->error);
}

void RecordTickOutputs(RenderOutputs* outputs, const SaverState& state, const HeadlessHost& host, std::uint32_t tick,
                       std::int32_t dt) {
    if (outputs->dump != nullptr)
        std::fprintf(outputs->dump, "%s\n", TickLine(state, tick, dt, host.statusDrawn ? &host.statusText : nullptr).c_str());
    if (RecordsPictures(outputs->pictures) && !outputs->failed)
        outputs->failed = !RecordTick(&outputs->pictures, host, tick, dt, &outputs->error);
}

namespace {

// Closes the dump; false when any of it could not be written.
bool CloseDump(RenderOutputs* outputs) {
    std::FILE* dump = outputs->dump;
    outputs->dump = nullptr;
    if (dump == nullptr) return true;
    if (dump == stdout) return std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    const bool written = std::ferror(dump) == 0;
    return std::fclose(dump) == 0 && written;
}

}  // namespace

bool CloseOutputs(RenderOutputs* outputs, bool keep, std::string* error) {
    // Everything is complete under its partial name before anything takes its own: a dump that
    // could not be written fails the run before any picture is kept.
    bool ok = !outputs->failed;
    if (!ok) *error = outputs->error;
    const std::string dumpName = outputs->dumpPath.empty() ? "-" : outputs->dumpPath;
    if (!CloseDump(outputs) && ok) {
        ok = false;
        *error = "cannot write the dump " + dumpName;
    }
    if (!keep || !ok) {
        AbandonOutputs(outputs);
        return ok;
    }
    if (RecordsPictures(outputs->pictures)) ok = FinishPictures(&outputs->pictures, error);
    if (ok) ok = CommitPictures(&outputs->pictures, error);
    if (ok && !outputs->dumpPath.empty()) {
        ok = CommitPartial(outputs->dumpPath, error);
        outputs->dumpCommitted = ok;
    }
    if (!ok) AbandonOutputs(outputs);
    return ok;
}

void AbandonOutputs(RenderOutputs* outputs) {
    CloseDump(outputs);
    AbandonPictures(&outputs->pictures);
    if (!outputs->dumpPath.empty()) {
        RemoveQuietly(PartialPath(outputs->dumpPath));
        if (outputs->dumpCommitted) RemoveQuietly(outputs->dumpPath);
        outputs->dumpCommitted = false;
    }
}
