// PNG files of window pictures, through libpng: a three-entry palette, two bits a pixel.
#include "tools/render/png_out.h"

#include <png.h>

#include <cstdio>
#include <filesystem>

#include "ifs/check/output_files.h"

bool PicturesAvailable() { return true; }

bool WritePicturePng(const WindowPicture& picture, const std::string& path, std::string* error) {
    Colour colours[PictureColourCount];
    PictureColours(picture.colour, colours);
    png_byte colourMap[PictureColourCount * 3];
    for (int i = 0; i < PictureColourCount; ++i) {
        colourMap[i * 3] = static_cast<png_byte>(colours[i] >> 16);
        colourMap[i * 3 + 1] = static_cast<png_byte>(colours[i] >> 8);
        colourMap[i * 3 + 2] = static_cast<png_byte>(colours[i]);
    }

    const std::string partial = PartialPath(path);
    std::FILE* file = std::fopen(partial.c_str(), "wb");
    if (file == nullptr) {
        *error = "cannot write " + path;
        return false;
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(picture.width);
    image.height = static_cast<png_uint_32>(picture.height);
    // With a colour map of up to four entries libpng writes a palette image of two bits a pixel.
    image.format = PNG_FORMAT_RGB | PNG_FORMAT_FLAG_COLORMAP;
    image.colormap_entries = PictureColourCount;
    const bool written = png_image_write_to_stdio(&image, file, 0, picture.pixels.data(), picture.width, colourMap) != 0;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        *error = "cannot write " + path + (written ? std::string() : std::string(": ") + image.message);
        RemoveQuietly(partial);
        return false;
    }
    return CommitPartial(path, error);
}
