// Looping animated GIFs of window pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/render/frame_picture.h"

// The shortest frame, in hundredths of a second: browsers slow down anything shorter.
constexpr int GifShortestDelay = 2;

// A GIF being written. A frame is written once the next one shows how long it lasts. When
// any of the functions below fails, the partial file is gone.
struct GifAnimation {
    void* file = nullptr;    // giflib's handle
    void* stream = nullptr;  // the partial file it writes to
    std::string path;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int64_t firstMs = 0;  // the time of the first frame; delays count from it
    bool pending = false;      // a frame waits for its length
    std::vector<std::uint8_t> pendingPixels;
    Colour pendingColour = 0;
    std::int64_t pendingStart = 0;  // hundredths of a second after the first frame
    // What a viewer shows once the frames written so far are drawn.
    bool drawn = false;
    std::vector<std::uint8_t> drawnPixels;
    Colour drawnColour = 0;
    std::uint32_t framesWritten = 0;
};

// Creates the file under its partial name and writes the header; false with a reason.
bool OpenGifAnimation(GifAnimation* gif, const std::string& path, std::int32_t width, std::int32_t height,
                      std::string* error);

// Adds the picture shown from atMs on (simulated milliseconds, never decreasing). A picture equal
// to the one before, or arriving less than GifShortestDelay after it, is merged into it.
bool AddGifFrame(GifAnimation* gif, const WindowPicture& picture, std::int64_t atMs, std::string* error);

// Writes the last frame, shown until endMs, and closes the file, complete but still under its
// partial name: CommitPartial(path) gives it its name, RemoveQuietly(PartialPath(path)) drops it.
bool FinishGifAnimation(GifAnimation* gif, std::int64_t endMs, std::string* error);

// Closes and removes the partial file, when a run ends without finishing the animation.
void AbandonGifAnimation(GifAnimation* gif);
