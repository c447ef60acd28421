// The dump lines of lumivex-render.
#include "tools/render/dump.h"

#include <cstdio>

std::uint64_t Fnv1a(const void* data, std::size_t length, std::uint64_t hash) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < length; ++i) {
        hash ^= bytes[i];
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

namespace {
std::size_t ImageWidth(const SaverState& state) {
    return state.ScreenWidth < 0 ? 0 : static_cast<std::size_t>(state.ScreenWidth);
}
}  // namespace

std::uint64_t ImageHash(const SaverState& state) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (std::int32_t row = 0; row < state.ImageHeight; ++row) {
        hash = Fnv1a(state.VScreen + static_cast<std::size_t>(row) * static_cast<std::size_t>(state.VScreenStride),
                     ImageWidth(state), hash);
    }
    return hash;
}

std::uint64_t PointsHash(const ScreenPoint* points, std::int32_t count) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (std::int32_t i = 0; i < count; ++i) {
        unsigned char bytes[8];
        const auto x = static_cast<std::uint32_t>(points[i].x);
        const auto y = static_cast<std::uint32_t>(points[i].y);
        for (int b = 0; b < 4; ++b) {
            bytes[b] = static_cast<unsigned char>(x >> (8 * b));
            bytes[4 + b] = static_cast<unsigned char>(y >> (8 * b));
        }
        hash = Fnv1a(bytes, sizeof bytes, hash);
    }
    return hash;
}

std::uint64_t LitPixels(const SaverState& state) {
    std::uint64_t lit = 0;
    for (std::int32_t row = 0; row < state.ImageHeight; ++row) {
        const std::uint8_t* line = state.VScreen + static_cast<std::size_t>(row) * static_cast<std::size_t>(state.VScreenStride);
        for (std::size_t x = 0; x < ImageWidth(state); ++x) lit += line[x] == 1;
    }
    return lit;
}

std::string HashText(std::uint64_t hash) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string StartLine(const SaverState& s) {
    char line[512];
    std::snprintf(line, sizeof line,
                  "{\"tick\":0,\"width\":%d,\"height\":%d,\"image_height\":%d,\"points\":%d,\"shown\":%d,"
                  "\"min\":%d,\"grow\":%d,\"defs\":%d,\"show_status\":%d,\"colour_from\":%u,\"colour_to\":%u,"
                  "\"pts1\":\"%s\",\"pts2\":\"%s\"}",
                  s.ScreenWidth, s.ScreenHeight, s.ImageHeight, s.PointCount, s.ShownPoints, s.MinPoints,
                  s.GrowLimit, s.DefinitionCount, s.ShowStatus ? 1 : 0, s.ColourFrom, s.ColourTo,
                  HashText(PointsHash(s.Pts1, s.PointCount)).c_str(), HashText(PointsHash(s.Pts2, s.PointCount)).c_str());
    return line;
}

std::string TickLine(const SaverState& s, std::uint32_t tick, std::int32_t dt, const std::string* status) {
    std::string statusJson = "null";
    if (status != nullptr) {
        statusJson = "\"";
        for (const char c : *status) {
            if (c == '"' || c == '\\') statusJson += '\\';
            statusJson += c;
        }
        statusJson += '"';
    }
    char line[512];
    std::snprintf(line, sizeof line,
                  "{\"tick\":%u,\"dt\":%d,\"phase\":%d,\"clock\":%d,\"shown\":%d,\"colour\":%u,\"def\":%d,"
                  "\"lit\":%llu,\"image\":\"%s\",\"status\":%s}",
                  tick, dt, static_cast<int>(s.Phase), s.PhaseClock, s.ShownPoints, s.ColourNow, s.DefinitionNumber,
                  static_cast<unsigned long long>(LitPixels(s)), HashText(ImageHash(s)).c_str(), statusJson.c_str());
    return line;
}
