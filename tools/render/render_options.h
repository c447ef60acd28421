// The command line of lumivex-render.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/saver_state.h"

struct RenderOptions {
    std::string ini;  // empty: the saver's own search
    std::int32_t width = 800;
    std::int32_t height = 600;
    bool preview = false;
    bool child = false;
    bool seedGiven = false;
    std::uint32_t seed = 0;
    std::uint32_t ticks = 600;
    std::uint32_t dt = 10;
    bool startGiven = false;
    std::uint32_t start = 0;
    std::vector<std::uint32_t> clock;  // when not empty, the tick counts read, one per tick
    // --regulation: which host's rule gives points back (the Windows saver's unless asked).
    PointRegulation regulation = PointRegulation::ZeroInterval;
    bool regulationGiven = false;
    std::string dump;                  // "-" for standard output
    std::string png;                   // a directory for one PNG per kept tick
    std::string gif;                   // an animated GIF of the kept ticks
    std::uint32_t every = 1;           // keep ticks every, 2 * every, ...
    bool help = false;
    bool version = false;
    bool sizeGiven = false;
    // --check and --fit: judge a definition file instead of running the saver.
    bool check = false;
    bool fit = false;
    bool json = false;         // --check as JSON lines
    bool fitWeights = false;   // --fit also replaces the weights
    std::string out;           // the file --fit, --import or --export-ifs writes
    // --import FILE.ifs and --export-ifs: .ifs entries into definitions, and back.
    std::string import;
    bool exportIfs = false;
    bool pointsGiven = false;
    std::int32_t points = 0;   // --points: the imported file's point count
};

// The screen --check and --fit frame for when --size is not given.
constexpr std::int32_t CheckWidth = 1920;
constexpr std::int32_t CheckHeight = 1080;

constexpr std::int32_t MaxRenderSide = 16384;

// Every option lumivex-render takes (and -h, short for --help): the parser knows no other.
constexpr const char* RenderOptionNames[] = {
    "--ini", "--size", "--preview", "--child", "--seed", "--ticks", "--dt", "--start", "--clock", "--regulation", "--dump",
    "--png", "--gif", "--every", "--check", "--json", "--fit", "--weights", "--out", "--import", "--export-ifs", "--points", "--help",
    "--version"};

extern const char* const RenderUsage;  // one line per way of running
extern const char* const RenderHelp;   // every option, for --help

// Reads argv[1..argc-1]; false with a one-line reason in *error when an option is wrong.
bool ParseRenderOptions(int argc, const char* const* argv, RenderOptions* options, std::string* error);

// The tick count read at tick i (from 1).
std::uint32_t TickAt(const RenderOptions& options, std::uint32_t i);
// How many ticks the run has.
std::uint32_t TickTotal(const RenderOptions& options);
// Whether tick i (from 1) is kept for the pictures.
inline bool KeepsTick(const RenderOptions& options, std::uint32_t i) { return i % options.every == 0; }
