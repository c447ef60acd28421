// Looping animated GIFs of window pictures, through giflib. Each frame carries its own colours
// (the tick's colour changes during a morph) and covers the rectangle around the pixels that
// changed since the frame before. Within it every pixel is written as it is: in a morph nearly
// every lit pixel changes, and two symbols compress better than three with a transparent one.
#include "tools/render/gif_out.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstdio>
#include <new>

#include "ifs/check/output_files.h"

namespace {

constexpr std::int64_t LongestDelay = 65535;

GifFileType* File(GifAnimation* gif) { return static_cast<GifFileType*>(gif->file); }

// giflib writes through this into our own stream, so the file gets ordinary permissions and
// every write error is seen.
int WriteBytes(GifFileType* file, const GifByteType* bytes, int length) {
    auto* stream = static_cast<std::FILE*>(file->UserData);
    return static_cast<int>(std::fwrite(bytes, 1, static_cast<std::size_t>(length), stream));
}

// Closes both giflib's handle and the stream; false when anything failed to reach the file.
bool CloseFiles(GifAnimation* gif, int* code) {
    bool ok = true;
    if (gif->file != nullptr) ok = EGifCloseFile(File(gif), code) == GIF_OK;
    gif->file = nullptr;
    if (gif->stream != nullptr) ok = std::fclose(static_cast<std::FILE*>(gif->stream)) == 0 && ok;
    gif->stream = nullptr;
    return ok;
}

bool Fail(GifAnimation* gif, std::string* error, int code) {
    *error = "cannot write " + gif->path + ": " + (GifErrorString(code) != nullptr ? GifErrorString(code) : "giflib error");
    return false;
}

bool FailWith(GifAnimation* gif, std::string* error) {
    return Fail(gif, error, File(gif) != nullptr ? File(gif)->Error : E_GIF_ERR_WRITE_FAILED);
}

std::int64_t Hundredths(const GifAnimation* gif, std::int64_t ms) { return (ms - gif->firstMs) / 10; }

// Whether pixel i looks different in the frame than on the viewer's canvas.
bool Changed(const GifAnimation* gif, std::size_t i) {
    const std::uint8_t now = gif->pendingPixels[i];
    const std::uint8_t before = gif->drawnPixels[i];
    return now != before || (now == PicturePoint && gif->pendingColour != gif->drawnColour);
}

bool WritePending(GifAnimation* gif, std::int64_t delay, std::string* error) {
    const auto width = static_cast<std::size_t>(gif->width);
    const auto height = static_cast<std::size_t>(gif->height);
    // The rectangle around every changed pixel; the whole picture for the first frame.
    std::size_t left = 0, top = 0, right = width, bottom = height;
    if (gif->drawn) {
        left = width, top = height, right = 0, bottom = 0;
        for (std::size_t y = 0; y < height; ++y) {
            for (std::size_t x = 0; x < width; ++x) {
                if (!Changed(gif, y * width + x)) continue;
                left = std::min(left, x), right = std::max(right, x + 1);
                top = std::min(top, y), bottom = std::max(bottom, y + 1);
            }
        }
        if (right == 0) left = 0, top = 0, right = 1, bottom = 1;  // nothing changed: one pixel again
    }

    Colour colours[PictureColourCount];
    PictureColours(gif->pendingColour, colours);
    GifColorType entries[4] = {};
    for (int i = 0; i < PictureColourCount; ++i) {
        entries[i].Red = static_cast<GifByteType>(colours[i] >> 16);
        entries[i].Green = static_cast<GifByteType>(colours[i] >> 8);
        entries[i].Blue = static_cast<GifByteType>(colours[i]);
    }
    ColorMapObject* map = GifMakeMapObject(4, entries);
    if (map == nullptr) return Fail(gif, error, E_GIF_ERR_NOT_ENOUGH_MEM);

    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSE_DO_NOT;
    control.UserInputFlag = false;
    control.DelayTime = static_cast<int>(std::min(std::max<std::int64_t>(delay, GifShortestDelay), LongestDelay));
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    GifByteType extension[4];
    const std::size_t extensionLength = EGifGCBToExtension(&control, extension);

    bool ok = EGifPutExtension(File(gif), GRAPHICS_EXT_FUNC_CODE, static_cast<int>(extensionLength), extension) == GIF_OK &&
              EGifPutImageDesc(File(gif), static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                               static_cast<int>(bottom - top), false, map) == GIF_OK;
    GifFreeMapObject(map);
    for (std::size_t y = top; ok && y < bottom; ++y) {
        ok = EGifPutLine(File(gif), gif->pendingPixels.data() + y * width + left, static_cast<int>(right - left)) == GIF_OK;
    }
    if (!ok) return FailWith(gif, error);

    gif->drawnPixels.swap(gif->pendingPixels);
    gif->drawnColour = gif->pendingColour;
    gif->drawn = true;
    gif->pending = false;
    ++gif->framesWritten;
    return true;
}

}  // namespace

bool OpenGifAnimation(GifAnimation* gif, const std::string& path, std::int32_t width, std::int32_t height,
                      std::string* error) {
    *gif = GifAnimation{};
    gif->path = path;
    gif->width = width < 1 ? 1 : width;
    gif->height = height < 1 ? 1 : height;
    const std::size_t size = static_cast<std::size_t>(gif->width) * static_cast<std::size_t>(gif->height);
    try {
        gif->pendingPixels.assign(size, PictureBlack);
        gif->drawnPixels.assign(size, PictureBlack);
    } catch (const std::bad_alloc&) {
        *error = "not enough memory for the pictures of " + path;
        return false;
    }

    std::FILE* stream = std::fopen(PartialPath(path).c_str(), "wb");
    if (stream == nullptr) {
        *error = "cannot write " + path;
        return false;
    }
    gif->stream = stream;
    int code = 0;
    GifFileType* file = EGifOpen(stream, WriteBytes, &code);
    if (file == nullptr) {
        Fail(gif, error, code);
        AbandonGifAnimation(gif);
        return false;
    }
    gif->file = file;
    EGifSetGifVersion(file, true);
    // A plain black global table; every frame brings its own colours.
    GifColorType black[4] = {};
    ColorMapObject* map = GifMakeMapObject(4, black);
    bool ok = map != nullptr && EGifPutScreenDesc(file, gif->width, gif->height, 8, PictureBlack, map) == GIF_OK;
    GifFreeMapObject(map);
    // Loop for ever: the application extension that browsers read.
    static const GifByteType Loop[3] = {1, 0, 0};
    ok = ok && EGifPutExtensionLeader(file, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
         EGifPutExtensionBlock(file, 11, "NETSCAPE2.0") == GIF_OK && EGifPutExtensionBlock(file, 3, Loop) == GIF_OK &&
         EGifPutExtensionTrailer(file) == GIF_OK;
    if (!ok) {
        FailWith(gif, error);
        AbandonGifAnimation(gif);
        return false;
    }
    return true;
}

bool AddGifFrame(GifAnimation* gif, const WindowPicture& picture, std::int64_t atMs, std::string* error) {
    if (picture.pixels.size() != gif->pendingPixels.size()) {
        *error = "a picture of another size cannot go into " + gif->path;
        AbandonGifAnimation(gif);
        return false;
    }
    if (gif->framesWritten == 0 && !gif->pending) gif->firstMs = atMs;
    const std::int64_t at = Hundredths(gif, atMs);
    if (gif->pending) {
        const bool same = picture.pixels == gif->pendingPixels && picture.colour == gif->pendingColour;
        if (same || at - gif->pendingStart < GifShortestDelay) return true;
        if (!WritePending(gif, at - gif->pendingStart, error)) {
            AbandonGifAnimation(gif);
            return false;
        }
    }
    std::copy(picture.pixels.begin(), picture.pixels.end(), gif->pendingPixels.begin());
    gif->pendingColour = picture.colour;
    gif->pendingStart = at;
    gif->pending = true;
    return true;
}

bool FinishGifAnimation(GifAnimation* gif, std::int64_t endMs, std::string* error) {
    if (!gif->pending && gif->framesWritten == 0) {
        *error = "no frame to write to " + gif->path;
        AbandonGifAnimation(gif);
        return false;
    }
    if (gif->pending && !WritePending(gif, Hundredths(gif, endMs) - gif->pendingStart, error)) {
        AbandonGifAnimation(gif);
        return false;
    }
    int code = E_GIF_ERR_CLOSE_FAILED;
    if (!CloseFiles(gif, &code)) {
        Fail(gif, error, code);
        RemoveQuietly(PartialPath(gif->path));
        return false;
    }
    return true;
}

void AbandonGifAnimation(GifAnimation* gif) {
    int code = 0;
    CloseFiles(gif, &code);
    RemoveQuietly(PartialPath(gif->path));
}
