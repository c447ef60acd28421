// The pictures of a renderer run. A build without libpng and giflib never gets --png or --gif
// past the command line, so nothing here writes a file there.
#include "tools/render/picture_recorder.h"

#include <cstdio>

#include "ifs/check/output_files.h"
#include "tools/render/png_out.h"

bool PreparePictures(PictureRecorder* recorder, const RenderOptions& options, std::string* error) {
    recorder->pngDirectory = options.png;
    recorder->gifPath = options.gif;
    recorder->every = options.every == 0 ? 1 : options.every;
    if (!recorder->pngDirectory.empty() && !PrepareOutputDirectory(recorder->pngDirectory, &recorder->madeDirectories, error))
        return false;
    if (!recorder->gifPath.empty()) {
        // The GIF is opened once the window's size is known; find a bad path before the run.
        if (!CanCreateFile(PartialPath(recorder->gifPath))) {
            *error = "cannot write " + recorder->gifPath;
            RemoveMadeDirectories(&recorder->madeDirectories);
            return false;
        }
    }
    return true;
}

bool StartPictures(PictureRecorder* recorder, std::int32_t width, std::int32_t height, std::string* error) {
    if (!StartWindowPicture(&recorder->picture, width, height)) {
        *error = "not enough memory for the pictures";
        return false;
    }
    if (!recorder->gifPath.empty()) {
        if (!OpenGifAnimation(&recorder->gif, recorder->gifPath, width, height, error)) return false;
        recorder->gifOpen = true;
    }
    return true;
}

bool RecordTick(PictureRecorder* recorder, const HeadlessHost& host, std::uint32_t tick, std::int32_t dt,
                std::string* error) {
    if (host.statusDrawn) DrawStatusCells(&recorder->picture, host.statusText.data(), host.statusText.size());
    // A clock that runs backwards shows the frame for no time at all.
    if (dt > 0) recorder->elapsedMs += dt;
    if (tick % recorder->every != 0) return true;

    if (recorder->kept > 0) recorder->keptSpacingMs = recorder->elapsedMs - recorder->lastKeptMs;
    recorder->lastKeptMs = recorder->elapsedMs;
    ++recorder->kept;
    ComposeWindowPicture(&recorder->picture, host.frameHeader, host.frameBits, host.frameStride, host.frameTop);
    if (!recorder->pngDirectory.empty()) {
        if (!WritePicturePng(recorder->picture, FramePngPath(recorder->pngDirectory, recorder->pngWritten + 1), error))
            return false;
        ++recorder->pngWritten;
    }
    if (recorder->gifOpen && !AddGifFrame(&recorder->gif, recorder->picture, recorder->elapsedMs, error)) {
        recorder->gifOpen = false;
        return false;
    }
    return true;
}

bool FinishPictures(PictureRecorder* recorder, std::string* error) {
    if (!recorder->gifOpen) return true;
    recorder->gifOpen = false;
    // The last frame lasts as long as the ones before it.
    recorder->gifFinished = FinishGifAnimation(&recorder->gif, recorder->lastKeptMs + recorder->keptSpacingMs, error);
    return recorder->gifFinished;
}

bool CommitPictures(PictureRecorder* recorder, std::string* error) {
    if (!recorder->gifFinished) return true;
    if (!CommitPartial(recorder->gifPath, error)) return false;
    recorder->gifFinished = false;
    recorder->gifCommitted = true;
    return true;
}

void AbandonPictures(PictureRecorder* recorder) {
    if (recorder->gifOpen) AbandonGifAnimation(&recorder->gif);
    if (recorder->gifFinished) RemoveQuietly(PartialPath(recorder->gifPath));
    if (recorder->gifCommitted) RemoveQuietly(recorder->gifPath);
    recorder->gifOpen = recorder->gifFinished = recorder->gifCommitted = false;
    for (std::uint32_t n = 1; n <= recorder->pngWritten; ++n) RemoveQuietly(FramePngPath(recorder->pngDirectory, n));
    recorder->pngWritten = 0;
    RemoveMadeDirectories(&recorder->madeDirectories);
}
