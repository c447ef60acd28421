// PNG files of window pictures.
#pragma once

#include <cstdint>
#include <string>

#include "tools/render/frame_picture.h"

// Whether this build writes pictures at all. A build without libpng and giflib links
// no_pictures.cpp in place of png_out.cpp and gif_out.cpp: false, and writers that only fail.
bool PicturesAvailable();

// Writes the picture as an indexed PNG, complete or not at all; false with a reason.
bool WritePicturePng(const WindowPicture& picture, const std::string& path, std::string* error);
