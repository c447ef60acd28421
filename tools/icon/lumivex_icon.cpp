// lumivex-icon: writes the program icon (a fern from the saver's own chaos game) to a file: the
// Windows .ico, or a square PNG for the desktop's icon theme.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/icon/icon.h"

namespace {

int WriteIco(const char* path) {
    const std::vector<std::uint8_t> ico = BuildFernIcon();
    std::FILE* out = std::fopen(path, "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "lumivex-icon: cannot write %s\n", path);
        return 1;
    }
    const bool written = std::fwrite(ico.data(), 1, ico.size(), out) == ico.size();
    if (std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "lumivex-icon: writing %s failed\n", path);
        return 1;
    }
    return 0;
}

// An indexed PNG of the fern, top row first as PNG stores it.
int WritePng(int side, const char* path) {
    const std::vector<std::uint8_t> indices = FernIconIndices(side);
    std::vector<png_byte> rows(indices.size());
    for (int y = 0; y < side; ++y) {
        std::memcpy(&rows[static_cast<std::size_t>(y) * side], &indices[static_cast<std::size_t>(side - 1 - y) * side],
                    static_cast<std::size_t>(side));
    }
    png_byte colourMap[IconColours * 3];
    for (int i = 0; i < IconColours; ++i) {
        const std::uint32_t colour = FernIconColour(i);
        colourMap[i * 3] = static_cast<png_byte>(colour >> 16);
        colourMap[i * 3 + 1] = static_cast<png_byte>(colour >> 8);
        colourMap[i * 3 + 2] = static_cast<png_byte>(colour);
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(side);
    image.height = static_cast<png_uint_32>(side);
    image.format = PNG_FORMAT_RGB | PNG_FORMAT_FLAG_COLORMAP;
    image.colormap_entries = IconColours;
    if (png_image_write_to_file(&image, path, 0, rows.data(), side, colourMap) == 0) {
        std::fprintf(stderr, "lumivex-icon: writing %s failed: %s\n", path, image.message);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && argv[1][0] != '-') return WriteIco(argv[1]);
    if (argc == 4 && std::strcmp(argv[1], "--png") == 0) {
        char* end = nullptr;
        const long side = std::strtol(argv[2], &end, 10);
        if (*end == '\0' && side >= 16 && side <= 512) return WritePng(static_cast<int>(side), argv[3]);
    }
    std::fprintf(stderr, "usage: lumivex-icon FILE.ico | lumivex-icon --png SIDE FILE.png (SIDE 16 to 512)\n");
    return 2;
}
