// The pictures of a renderer run: the window after each kept tick, as PNG files and a GIF.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "backends/headless/headless_host.h"
#include "tools/render/frame_picture.h"
#include "tools/render/gif_out.h"
#include "tools/render/render_options.h"

struct PictureRecorder {
    std::string pngDirectory;  // empty: no PNG files
    std::vector<std::string> madeDirectories;  // what --png made of its path, deepest first
    std::string gifPath;       // empty: no GIF
    std::uint32_t every = 1;
    WindowPicture picture;
    GifAnimation gif;
    bool gifOpen = false;
    bool gifFinished = false;   // complete under its partial name
    bool gifCommitted = false;  // under its own name
    std::uint32_t pngWritten = 0;
    std::int64_t elapsedMs = 0;  // simulated time, from the intervals of the ticks so far
    std::uint32_t kept = 0;
    std::int64_t lastKeptMs = 0;
    std::int64_t keptSpacingMs = 0;  // between the last two kept ticks
};

inline bool RecordsPictures(const PictureRecorder& recorder) {
    return !recorder.pngDirectory.empty() || !recorder.gifPath.empty();
}

// Before the saver starts: checks that the outputs can be written (making the PNG directory).
bool PreparePictures(PictureRecorder* recorder, const RenderOptions& options, std::string* error);

// Once the window exists: sizes the picture and opens the GIF.
bool StartPictures(PictureRecorder* recorder, std::int32_t width, std::int32_t height, std::string* error);

// After tick `tick` with interval dt: takes its status line and, for a kept tick, writes its picture.
bool RecordTick(PictureRecorder* recorder, const HeadlessHost& host, std::uint32_t tick, std::int32_t dt,
                std::string* error);

// After the last tick: completes the GIF under its partial name.
bool FinishPictures(PictureRecorder* recorder, std::string* error);
// After FinishPictures: gives the GIF its name.
bool CommitPictures(PictureRecorder* recorder, std::string* error);

// Instead of committing: removes what this run wrote (the PNG files, the GIF, even once committed,
// and the folders it made for them), so no incomplete output stays behind.
void AbandonPictures(PictureRecorder* recorder);
