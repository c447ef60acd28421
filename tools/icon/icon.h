// The program icon: a fern drawn by the saver's own chaos game, as a 32x32, 256-colour .ico file,
// and at other sizes for the desktop's icon theme.
#pragma once

#include <cstdint>
#include <vector>

constexpr int IconSide = 32;
constexpr int IconColours = 256;

// The ground colour (palette entry 0) and the ends of the fern's green ramp (entries 1 and 255),
// each 0x00RRGGBB.
constexpr std::uint32_t IconGround = 0x2A0F40;
constexpr std::uint32_t IconFernDark = 0x145A1E;
constexpr std::uint32_t IconFernBright = 0x78FF5A;

// The fern drawn on a side x side square: one palette index per pixel, bottom row first (as the
// .ico stores it); FernIconIndices(IconSide) is the .ico's picture.
std::vector<std::uint8_t> FernIconIndices(int side);
// The colour of a palette index, 0x00RRGGBB: the ground for 0, then the green ramp.
std::uint32_t FernIconColour(int index);

// The whole .ico file: directory, one entry, header, palette, colour indices and an opaque mask.
std::vector<std::uint8_t> BuildFernIcon();
