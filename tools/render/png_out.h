// PNG files of window pictures.
#pragma once

#include <cstdint>
#include <string>

#include "tools/render/frame_picture.h"


// Writes the picture as an indexed PNG, complete or not at all; false with a reason.
bool WritePicturePng(const WindowPicture& picture, const std::string& path, std::string* error);
