// The outputs of a renderer run, the dump and the pictures, as one: written under partial names
// while the run lasts, then committed together, or abandoned together so that a run that fails
// leaves nothing of itself behind.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "backends/headless/headless_host.h"
#include "core/saver_state.h"
#include "tools/render/picture_recorder.h"
#include "tools/render/render_options.h"

struct RenderOutputs {
    std::string dumpPath;     // the dump's file; empty for none or standard output
    std::FILE* dump = nullptr;  // where the dump goes, null for none
    bool dumpCommitted = false;
    PictureRecorder pictures;
    bool failed = false;      // a picture could not be written: the run should end
    std::string error;        // why, when failed
};

// Before the run: checks that every output can be written and opens the dump. False with a
// reason, and nothing left behind.
bool OpenOutputs(RenderOutputs* outputs, const RenderOptions& options, std::string* error);

// Once start-up is done: the dump's first line, and the pictures sized to the window.
void RecordStart(RenderOutputs* outputs, const SaverState& state);

// After tick `tick`, dt after the one before.
void RecordTickOutputs(RenderOutputs* outputs, const SaverState& state, const HeadlessHost& host, std::uint32_t tick,
                       std::int32_t dt);

// After the run. With keep (the run went to its end), completes every output and gives each its
// name; without, removes them all. False with a reason when an output could not be written, and
// then nothing is kept either.
bool CloseOutputs(RenderOutputs* outputs, bool keep, std::string* error);

// Removes every file this run wrote, committed or not; standard output and devices stay as they are.
void AbandonOutputs(RenderOutputs* outputs);
