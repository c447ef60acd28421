// lumivex_bench: the cost of a frame tick and of the chaos game, beside the machine's own floors.
//
// Every case runs on the first definition of the shipped gallery, loaded through the saver's
// own start-up (window geometry, loader, animation set-up) on the headless backend. The floors
// are the least the same work could cost: one memset of the image, one pass over the morph
// arrays, the bare plot, the bare chaos game. At the end a table of medians and the ratios of
// each tick to its floor are printed.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "anim/anim.h"
#include "anim/morph.h"
#include "ifs/ifs_definition.h"
#include "ifs/loader.h"
#include "backends/headless/headless_host.h"
#include "saver/saver_run.h"
#include "saver/win32_saver.h"
#include "core/saver_state.h"
#include "core/convert.h"

namespace {

struct Screen {
    std::int32_t width, height;
};
const Screen Screens[] = {{1920, 1080}, {3840, 2160}};
const std::int32_t PointCounts[] = {10000, 100000, 1000000};

// The easing index of the morph cases: half way, where the points are spread the most.
constexpr std::int32_t MidMorph = 1500;

std::string ScreenName(const Screen& s) { return std::to_string(s.width) + "x" + std::to_string(s.height); }

// The saver as it stands after start-up for one screen and point count; rebuilt only when
// the next case needs another one.
struct Setup {
    Screen screen = {0, 0};
    std::int32_t points = -1;
    std::uint8_t* copyTarget = nullptr;  // stands in for the window in the copy floor
};
Setup Current;

void FreeArrays() {
    for (void* p : {static_cast<void*>(State.VScreen), static_cast<void*>(State.Pts1), static_cast<void*>(State.Pts2),
                    static_cast<void*>(State.PtsA), static_cast<void*>(State.PtsLast),
                    static_cast<void*>(State.PtsDX), static_cast<void*>(State.PtsDY),
                    static_cast<void*>(State.CosTable), static_cast<void*>(Current.copyTarget)}) {
        std::free(p);
    }
    Current.copyTarget = nullptr;
}

bool Prepare(benchmark::State& bench, const Screen& screen, std::int32_t points) {
    if (Current.screen.width == screen.width && Current.screen.height == screen.height && Current.points == points)
        return true;
    FreeArrays();
    ResetSaverState();
    ResetHost();
    Current = Setup{};
    HeadlessHost& host = Host();
    host.calendarSeconds = 1;
    host.UseScreen(screen.width, screen.height);
    host.useDefinitionFile = true;
    host.definitionFile = LUMIVEX_GALLERY;
    State.Mode = RunMode::Saver;
    if (InitWindow(WindowsPlan(nullptr)) != 0 || LoadDefinitions() != 0) {
        bench.SkipWithError("start-up failed (is the gallery readable?)");
        return false;
    }
    // Only the first definition (the fern of the gallery): every Pick generates the same fractal.
    State.FirstDefinition->Next = nullptr;
    State.DefinitionCount = 1;
    SetPointCount(points);
    if (PrepareAnimation() != 0) {
        bench.SkipWithError("point arrays could not be allocated");
        return false;
    }
    Current.copyTarget = static_cast<std::uint8_t*>(
        std::malloc(static_cast<std::size_t>(State.VScreenStride) * static_cast<std::size_t>(State.ImageHeight) + 1));
    Current.screen = screen;
    Current.points = points;
    return true;
}

std::size_t ImageBytes() {
    return static_cast<std::size_t>(State.VScreenStride) * static_cast<std::size_t>(State.ImageHeight);
}

void CountPoints(benchmark::State& bench, std::int32_t points) {
    bench.SetItemsProcessed(static_cast<std::int64_t>(bench.iterations()) * points);
    // Seconds per point: the console shows it as "n" for nanoseconds.
    bench.counters["per_point"] = benchmark::Counter(
        static_cast<double>(points), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// A whole tick in one phase: the phase and its clock are put back before every tick, so every
// iteration is the same tick of the cycle.
void TickIn(benchmark::State& bench, const Screen& screen, std::int32_t points, Phase phase,
            std::int32_t clock) {
    if (!Prepare(bench, screen, points)) return;
    HeadlessHost& host = Host();
    for (auto _ : bench) {
        State.Phase = phase;
        State.PhaseClock = clock;
        host.now += 10;
        FrameTick(State.Window);
    }
    benchmark::DoNotOptimize(State.VScreen[0]);
    CountPoints(bench, points);
}

void MorphTick(benchmark::State& bench, Screen screen, std::int32_t points) {
    TickIn(bench, screen, points, Phase::Morph, MidMorph);
}

// A hold tick after the first: the target set stands still.
void HoldTick(benchmark::State& bench, Screen screen, std::int32_t points) {
    if (!Prepare(bench, screen, points)) return;
    State.Phase = Phase::Hold;
    State.PhaseClock = 0;
    FrameTick(State.Window);
    TickIn(bench, screen, points, Phase::Hold, 1);
}

void PickTick(benchmark::State& bench, Screen screen, std::int32_t points) {
    TickIn(bench, screen, points, Phase::Pick, 0);
}

void GenerateAlone(benchmark::State& bench, Screen screen, std::int32_t points) {
    if (!Prepare(bench, screen, points)) return;
    Colour colour = 0;
    for (auto _ : bench) {
        State.FirstDefinition->Generate(points, State.Pts2, &colour, State.ScreenWidth, State.ScreenHeight);
        benchmark::ClobberMemory();
    }
    CountPoints(bench, points);
}

// Floor: one memset of the whole image.
void FloorClear(benchmark::State& bench, Screen screen) {
    if (!Prepare(bench, screen, Current.points > 0 ? Current.points : PointCounts[0])) return;
    for (auto _ : bench) {
        std::memset(State.VScreen, 0, ImageBytes());
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(static_cast<std::int64_t>(bench.iterations()) * static_cast<std::int64_t>(ImageBytes()));
}

// Not part of a tick's floor: what copying the image once costs, the stand-in for the copy to
// the window (which the platform does, and which depends on the display).
void CopyImage(benchmark::State& bench, Screen screen) {
    if (!Prepare(bench, screen, Current.points > 0 ? Current.points : PointCounts[0])) return;
    for (auto _ : bench) {
        std::memcpy(Current.copyTarget, State.VScreen, ImageBytes());
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(static_cast<std::int64_t>(bench.iterations()) * static_cast<std::int64_t>(ImageBytes()));
}

// Floor: one pass over the morph arrays, 24 bytes a point: a source point and two differences
// read, a point written.
void FloorStream(benchmark::State& bench, Screen screen, std::int32_t points) {
    if (!Prepare(bench, screen, points)) return;
    const ScreenPoint* source = State.Pts1;
    const std::int32_t* dx = State.PtsDX;
    const std::int32_t* dy = State.PtsDY;
    ScreenPoint* out = State.PtsA;
    for (auto _ : bench) {
        std::int32_t i = 0;
#if defined(__SSE2__)
        for (; i + 4 <= points; i += 4) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dx + i));
            const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dy + i));
            const __m128i p0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
            const __m128i p1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i + 2));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_add_epi32(p0, _mm_unpacklo_epi32(x, y)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 2), _mm_add_epi32(p1, _mm_unpackhi_epi32(x, y)));
        }
#endif
        for (; i < points; ++i) {
            out[i].x = WrapAdd(source[i].x, dx[i]);
            out[i].y = WrapAdd(source[i].y, dy[i]);
        }
        benchmark::ClobberMemory();
    }
    CountPoints(bench, points);
}

// Floor: the points of a morph half way plotted with the bounds test and nothing else.
void FloorPlot(benchmark::State& bench, Screen screen, std::int32_t points) {
    if (!Prepare(bench, screen, points)) return;
    const std::int32_t k = State.CosTable[MidMorph];
    for (std::int32_t i = 0; i < points; ++i) {
        State.PtsA[i].x = WrapAdd(State.Pts1[i].x, WrapMul(k, State.PtsDX[i]) >> 10);
        State.PtsA[i].y = WrapAdd(State.Pts1[i].y, WrapMul(k, State.PtsDY[i]) >> 10);
    }
    const auto w = static_cast<std::uint32_t>(State.ScreenWidth);
    const auto h = static_cast<std::uint32_t>(State.ImageHeight);
    const auto stride = static_cast<std::size_t>(State.VScreenStride);
    std::uint8_t* image = State.VScreen;
    const ScreenPoint* p = State.PtsA;
    for (auto _ : bench) {
        for (std::int32_t i = 0; i < points; ++i) {
            const auto x = static_cast<std::uint32_t>(p[i].x);
            const auto y = static_cast<std::uint32_t>(p[i].y);
            if (x < w && y < h) image[y * stride + x] = 1;
        }
        benchmark::ClobberMemory();
    }
    CountPoints(bench, points);
}

// Floor: the chaos game with the same draws, map choice and affine maps as Generate, and
// nothing else: no projection, no store.
void FloorChaos(benchmark::State& bench, Screen screen, std::int32_t points) {
    if (!Prepare(bench, screen, points)) return;
    const IfsDefinition& def = *State.FirstDefinition;
    std::int32_t choice[101];
    BuildMapChoice(def.Transforms, def.TransformCount, choice);
    const IfsTransform* maps[101];
    for (int r = 0; r <= 100; ++r) maps[r] = def.Transforms + choice[r];
    std::uint32_t seed = 1;
    for (auto _ : bench) {
        double x = def.XMin + def.Width * 0.5;
        double y = def.YMin + def.Height * 0.5;
        for (std::int32_t i = 0; i < points; ++i) {
            seed = seed * 214013u + 2531011u;
            const IfsTransform& t = *maps[((seed >> 16) & 0x7FFFu) % 101u];
            const double nx = t.a * x + t.b * y + t.e;
            const double ny = t.c * x + t.d * y + t.f;
            x = nx;
            y = ny;
        }
        benchmark::DoNotOptimize(x);
        benchmark::DoNotOptimize(y);
    }
    CountPoints(bench, points);
}

// The X11 present path: the 8-bit frame turned into the window's 32-bit pixels, against the
// floor of writing those 32-bit pixels once. Own buffers, a frame with every 37th pixel lit.
struct PresentBuffers {
    std::vector<std::uint8_t> frame;
    std::vector<std::uint32_t> picture;
};

PresentBuffers MakePresentBuffers(const Screen& screen) {
    const std::size_t stride = (static_cast<std::size_t>(screen.width) + 3) & ~std::size_t{3};
    PresentBuffers b;
    b.frame.assign(stride * static_cast<std::size_t>(screen.height), 0);
    for (std::size_t i = 0; i < b.frame.size(); i += 37) b.frame[i] = 1;
    b.picture.assign(static_cast<std::size_t>(screen.width) * static_cast<std::size_t>(screen.height), 0);
    return b;
}

void PresentConvert(benchmark::State& bench, Screen screen) {
    PresentBuffers b = MakePresentBuffers(screen);
    const std::size_t stride = b.frame.size() / static_cast<std::size_t>(screen.height);
    const std::uint32_t colours[2] = {0, 0x7FCF00};
    for (auto _ : bench) {
        ConvertFrameRows(b.frame.data(), stride, static_cast<std::size_t>(screen.width),
                         static_cast<std::size_t>(screen.height), colours, b.picture.data(),
                         static_cast<std::size_t>(screen.width));
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(static_cast<std::int64_t>(bench.iterations()) * static_cast<std::int64_t>(b.picture.size() * 4));
}

// Floor: one memset of the 32-bit picture.
void FloorWrite32(benchmark::State& bench, Screen screen) {
    PresentBuffers b = MakePresentBuffers(screen);
    for (auto _ : bench) {
        std::memset(b.picture.data(), 0, b.picture.size() * 4);
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(static_cast<std::int64_t>(bench.iterations()) * static_cast<std::int64_t>(b.picture.size() * 4));
}

// The console report plus, at the end, the medians in one table and the ratios to the floors.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    explicit RatioReporter(bool colour) : ConsoleReporter(colour ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            // With repetitions, take the median; a single run stands for itself.
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            if (run.run_type == Run::RT_Iteration && run.repetitions > 1) continue;
            std::string name = run.run_name.function_name;
            medians_[name] = run.GetAdjustedCPUTime() * NanosecondsPer(run.time_unit);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::FILE* out = stdout;
        std::fprintf(out, "\nMedians of CPU time: per tick in microseconds, per point in nanoseconds.\n\n");
        std::fprintf(out, "| screen | points | Morph tick | Hold tick | Pick tick | Generate | clear | stream | plot | "
                          "chaos game | floor (clear+stream+plot) | Morph / floor | Generate / chaos |\n");
        std::fprintf(out, "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
        for (const Screen& screen : Screens) {
            const std::string s = ScreenName(screen);
            for (const std::int32_t n : PointCounts) {
                const std::string p = s + "/" + std::to_string(n);
                const double morph = Get("MorphTick/" + p), hold = Get("HoldTick/" + p), pick = Get("PickTick/" + p);
                const double generate = Get("Generate/" + p), clear = Get("FloorClear/" + s);
                const double stream = Get("FloorStream/" + p), plot = Get("FloorPlot/" + p);
                const double chaos = Get("FloorChaos/" + p);
                if (morph < 0 && generate < 0) continue;
                const double floor = clear >= 0 && stream >= 0 && plot >= 0 ? clear + stream + plot : -1;
                std::fprintf(out, "| %s | %d | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", s.c_str(), n,
                             Cell(morph, n).c_str(), Cell(hold, n).c_str(), Cell(pick, n).c_str(),
                             Cell(generate, n).c_str(), Cell(clear, -1).c_str(), Cell(stream, n).c_str(),
                             Cell(plot, n).c_str(), Cell(chaos, n).c_str(), Cell(floor, n).c_str(),
                             Ratio(morph, floor).c_str(), Ratio(generate, chaos).c_str());
            }
            const double copy = Get("CopyImage/" + s);
            if (copy >= 0) std::fprintf(out, "\nCopy of the %s image (memcpy, the stand-in for the copy to the window): %.1f us\n\n", s.c_str(), copy / 1000);
            const double convert = Get("PresentConvert/" + s), write32 = Get("FloorWrite32/" + s);
            if (convert >= 0)
                std::fprintf(out, "X11 present path, %s: 8-to-32-bit conversion %.1f us, floor (memset of the 32-bit picture) %.1f us, ratio %s\n\n",
                             s.c_str(), convert / 1000, write32 / 1000, Ratio(convert, write32).c_str());
        }
        std::fflush(out);
    }

private:
    static double NanosecondsPer(benchmark::TimeUnit unit) {
        switch (unit) {
            case benchmark::kSecond: return 1e9;
            case benchmark::kMillisecond: return 1e6;
            case benchmark::kMicrosecond: return 1e3;
            default: return 1;
        }
    }
    double Get(const std::string& name) const {
        const auto it = medians_.find(name);
        return it == medians_.end() ? -1 : it->second;
    }
    static std::string Cell(double ns, std::int32_t points) {
        if (ns < 0) return "-";
        char text[64];
        if (points > 0) std::snprintf(text, sizeof text, "%.1f (%.2f)", ns / 1000, ns / points);
        else std::snprintf(text, sizeof text, "%.1f", ns / 1000);
        return text;
    }
    static std::string Ratio(double a, double b) {
        if (a < 0 || b <= 0) return "-";
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", a / b);
        return text;
    }

    std::map<std::string, double> medians_;
};

void RegisterAll() {
    for (const Screen& screen : Screens) {
        const std::string s = ScreenName(screen);
        for (const std::int32_t n : PointCounts) {
            const std::string p = "/" + s + "/" + std::to_string(n);
            using Case = void (*)(benchmark::State&, Screen, std::int32_t);
            const std::pair<const char*, Case> cases[] = {
                {"MorphTick", MorphTick}, {"HoldTick", HoldTick},     {"PickTick", PickTick},
                {"Generate", GenerateAlone}, {"FloorStream", FloorStream}, {"FloorPlot", FloorPlot},
                {"FloorChaos", FloorChaos},
            };
            for (const auto& c : cases) {
                benchmark::RegisterBenchmark((c.first + p).c_str(), c.second, screen, n)->Unit(benchmark::kMicrosecond);
            }
        }
        // After the point cases of the screen, so they reuse its set-up.
        benchmark::RegisterBenchmark(("FloorClear/" + s).c_str(), FloorClear, screen)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("CopyImage/" + s).c_str(), CopyImage, screen)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("PresentConvert/" + s).c_str(), PresentConvert, screen)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("FloorWrite32/" + s).c_str(), FloorWrite32, screen)->Unit(benchmark::kMicrosecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Colour only on a terminal, and never when asked not to (read before the library takes
    // its flags out of the command line).
    bool colour = isatty(fileno(stdout)) != 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--benchmark_color=", 18) == 0) colour = std::strcmp(argv[i] + 18, "false") != 0 && colour;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RegisterAll();
    RatioReporter reporter(colour);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    FreeArrays();
    return 0;
}
