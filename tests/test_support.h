// The one set of helpers of the unit tests: a clean saver on the headless host, definitions to
// load, lumivex-render runs and their dumps, and an allocation counter.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/saver_state.h"
#include "ifs/ifs_definition.h"
#include "backends/headless/headless_host.h"
#include "saver/linux_options.h"
#include "saver/linux_saver.h"

// Heap blocks handed out in this process so far, counted where malloc hands them out (so
// operator new and the saver's arrays count too). Where no counter can be had, false.
constexpr bool CountsAllocations =
#if defined(__GLIBC__) || defined(__SANITIZE_ADDRESS__)
    true;
#else
    false;
#endif
std::uint64_t AllocationsSoFar();

// Puts the record, the host, the random source and the allocator's limits back to their start.
void ResetAll();

// A fixture that resets everything before and after each test.
class SaverTest : public ::testing::Test {
protected:
    void SetUp() override { ResetAll(); }
    void TearDown() override { ResetAll(); }
};

// One bit per phase, for tests that collect the phases a run went through.
inline int PhaseBit(Phase phase) { return 1 << static_cast<int>(phase); }
constexpr int AllPhases = 1 << 0 | 1 << 2 | 1 << 3 | 1 << 4;  // Morph, Hold, Pick, Delta

// Writes text to a fresh temporary file and returns its path.
std::string WriteTempFile(const std::string& text);
// The whole content of a file ("" when it cannot be read).
std::string ReadFileText(const std::string& path);
// A path inside the source tree.
std::string SourcePath(const std::string& relative);

// Loads definition text as the saver would, in the given mode; returns LoadDefinitions' result.
int LoadText(const std::string& text, RunMode mode = RunMode::Saver);

// Barnsley's fern: its maps, and the fern as a definition in the file's form (maps, then its box
// -2.7 -0.2 2.8 10.2).
extern const IfsTransform FernMaps[4];
std::string FernDefinition();
// The Sierpinski triangle (weights 33, 33, 34) as a definition, in the box "xmin ymin xmax ymax".
std::string TriangleDefinition(const std::string& box = "0 0 1 1");
// A file of n fractals; fractal i maps every point to (0.1 + 0.1 i, 0.5) in the unit box.
std::string FixedPointFile(int pointCount, int fractals);

// A coordinate or difference for the per-point loops: inside an image of that size, around its
// far edge, anywhere in 32 bits, or one of the extremes.
std::int32_t EdgyCoordinate(std::mt19937& random, std::int32_t size);

// A small headless start-up: definitions, screen size, mode, seed.
struct StartOptions {
    std::string ini;
    std::int32_t width = 320;
    std::int32_t height = 240;
    RunMode mode = RunMode::Saver;
    bool parent = false;
    std::uint32_t seed = 1;
};

// Runs the saver's start-up on the host's screen (HeadlessHost::UseScreen) with an empty clock:
// the message loop ends at once. Returns the exit code; the record stays as start-up left it,
// ready for ticks.
int StartSaver(const StartOptions& options);

// Runs one timer tick at tick count now, as the window procedure does.
void TickAt(std::uint32_t now);

// The frame image as rows of exactly ScreenWidth bytes, bottom row first.
std::string ImageBytes();

// A run of lumivex-render: exit code, standard output, standard error, and its peak resident
// memory as the kernel counted it.
struct RenderRun {
    int code = -1;
    std::string out;
    std::string err;
    long maxRssKb = 0;
};
// How a run is launched, beyond its arguments.
struct RenderLaunch {
    std::string outTo;              // a file (or device) for standard output instead of capturing it
    long long fileSizeLimit = -1;   // bytes a file it writes may reach (a full disk), -1 for no limit
    bool unprivileged = false;      // run as the user nobody when the tests run as root
};
// The one way the tests run lumivex-render: the program itself with these arguments, no shell.
RenderRun RenderArgs(const std::vector<std::string>& arguments, const RenderLaunch& launch = {});
// The same with the arguments as one text of shell words: split at spaces, '...' quoting (Quote).
RenderRun Render(const std::string& arguments, const RenderLaunch& launch = {});
std::string Quote(const std::string& word);
// lumivex-render started with these arguments and left running, its output to /dev/null; its
// process id. EndRender waits for it: its exit code, or 128 + the signal that ended it.
int StartRender(const std::vector<std::string>& arguments);
int EndRender(int pid);

// One line of the dump: each key's value as text, strings without their quotes and escapes,
// null as "null".
using DumpLine = std::map<std::string, std::string>;
std::vector<DumpLine> ParseDump(const std::string& text);
long long Number(const DumpLine& line, const std::string& key);

// lumivex's command line (the program's name put first), as ParseLinuxOptions reads it.
struct Parsed {
    bool ok;
    LinuxOptions options;
    std::string error;
};
Parsed Parse(std::vector<const char*> args, const char* screensaverWindow = nullptr);

// The Linux program's start-up, headless, with these options, definitions and surroundings;
// ticks every 10 ms until onTick returns false. The exit code.
int RunLinux(LinuxOptions options, const std::string& ini, std::function<bool(std::uint32_t)> onTick = {},
             LinuxEnvironment env = {});

// Tick intervals for runs of many ticks: 10 ms each, or slow ticks that drop points and zero ticks
// that give them back, so the count moves both ways in every phase.
inline std::uint32_t Steady(int) { return 10; }
inline std::uint32_t Regulated(int tick) {
    const int phase = tick % 131;
    if (phase < 4) return 100;
    if (phase >= 60 && phase < 63) return 0;
    return 10;
}
