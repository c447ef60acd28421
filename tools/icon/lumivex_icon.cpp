// lumivex-icon: writes the program icon (a fern from the saver's own chaos game) to a file.
#include <cstdio>

#include "tools/icon/icon.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lumivex-icon FILE.ico\n");
        return 2;
    }
    const std::vector<std::uint8_t> ico = BuildFernIcon();
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "lumivex-icon: cannot write %s\n", argv[1]);
        return 1;
    }
    const bool written = std::fwrite(ico.data(), 1, ico.size(), out) == ico.size();
    if (std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "lumivex-icon: writing %s failed\n", argv[1]);
        return 1;
    }
    return 0;
}
