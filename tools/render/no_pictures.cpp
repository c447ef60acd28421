// The picture writers of a build without libpng and giflib: none. The command line refuses
// --png and --gif there, so these are never reached; they fail rather than pretend.
#include "tools/render/gif_out.h"
#include "tools/render/png_out.h"

namespace {
bool Unavailable(std::string* error) {
    *error = "pictures are not available in this build";
    return false;
}
}  // namespace

bool PicturesAvailable() { return false; }

bool WritePicturePng(const WindowPicture&, const std::string&, std::string* error) { return Unavailable(error); }

bool OpenGifAnimation(GifAnimation*, const std::string&, std::int32_t, std::int32_t, std::string* error) {
    return Unavailable(error);
}

bool AddGifFrame(GifAnimation*, const WindowPicture&, std::int64_t, std::string* error) { return Unavailable(error); }

bool FinishGifAnimation(GifAnimation*, std::int64_t, std::string* error) { return Unavailable(error); }

void AbandonGifAnimation(GifAnimation*) {}
