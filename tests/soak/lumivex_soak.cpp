// lumivex-soak: the saver on a definition file for millions of ticks on a random clock, with the
// invariants of the tick and the morph cycle checked after every one.
//
// usage: lumivex-soak [--ticks N] [--seed S] [--size WxH] FILE
// Prints ticks per second at the end; exits 1 naming the tick at the first broken invariant.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/saver_state.h"
#include "backends/headless/headless_host.h"
#include "saver/saver_run.h"
#include "saver/win32_saver.h"

namespace {

// The clock's own random source, apart from the saver's.
struct Random {
    std::uint64_t state;
    std::uint32_t Next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<std::uint32_t>(state >> 32);
    }
};

// The next tick count: mostly 0 to 40 ms on, some ticks at once (0 ms), some slow, some long
// enough to end a phase, some past 2^31 (negative as signed), some jumps to just before the
// counter wraps.
struct Clock {
    Random random;
    std::uint32_t now;
    std::uint64_t zero = 0, slow = 0, huge = 0, wraps = 0;
    std::uint32_t slowRun = 0;  // slow ticks come in runs, so the regulation drops points

    std::uint32_t Next() {
        const std::uint32_t kind = slowRun > 0 ? 960 : random.Next() % 1000;
        const std::uint32_t before = now;
        if (slowRun > 0) --slowRun;
        else if (kind >= 940 && kind < 980) slowRun = random.Next() % 8;
        if (kind < 860) {
            now += random.Next() % 41;
        } else if (kind < 940) {
            ++zero;
        } else if (kind < 980) {
            now += 71 + random.Next() % 60;
            ++slow;
        } else if (kind < 990) {
            now += 1500 + random.Next() % 5000;
        } else if (kind < 995) {
            now += 0x80000000u + random.Next() % 0x80000000u;
            ++huge;
        } else {
            now = 0xFFFFFFFFu - random.Next() % 100;
        }
        if (now < before) ++wraps;
        return now;
    }
};

std::uint32_t Channel(Colour c, int shift) { return (c >> shift) & 0xFF; }

struct Soak {
    std::uint32_t ticks = 0;
    std::string failure;
    std::int32_t plotted = 0;  // the shown count the coming tick plots with
    std::vector<std::uint8_t> expected;  // the image the shown points make, for the full check
    Random sample{0x9E3779B97F4A7C15ULL};
    std::uint64_t morphs = 0;
    std::int32_t fewestShown = INT32_MAX, mostShown = INT32_MIN;

    bool Fail(std::uint32_t tick, const std::string& what) {
        failure = "tick " + std::to_string(tick) + ": " + what;
        return false;
    }

    bool InImage(const ScreenPoint& p) const {
        return p.x >= 0 && p.x < State.ScreenWidth && p.y >= 0 && p.y < State.ImageHeight;
    }
    std::size_t ByteOf(const ScreenPoint& p) const {
        return static_cast<std::size_t>(p.y) * static_cast<std::size_t>(State.VScreenStride) + static_cast<std::size_t>(p.x);
    }

    bool Check(std::uint32_t tick) {
        const SaverState& s = State;
        switch (s.Phase) {
            case Phase::Morph:
                if (s.PhaseClock < 0 || s.PhaseClock > 2999)
                    return Fail(tick, "easing index " + std::to_string(s.PhaseClock) + " outside 0-2999 in Morph");
                break;
            case Phase::Hold:
                // 0 when Morph has just ended; its first tick counts from 1.
                if (s.PhaseClock < 0 || s.PhaseClock > 3000)
                    return Fail(tick, "hold clock " + std::to_string(s.PhaseClock) + " outside 0-3000");
                break;
            case Phase::Pick:
            case Phase::Delta:
                if (s.PhaseClock != 0) return Fail(tick, "clock " + std::to_string(s.PhaseClock) + " in Pick or Delta");
                break;
            default:
                return Fail(tick, "phase " + std::to_string(static_cast<int>(s.Phase)) + " is none of the four");
        }
        if (s.Phase == Phase::Pick) ++morphs;

        // Regulation: never above the configured count, and below MinPoints by less than 100.
        const std::int32_t floor = std::min(s.PointCount, s.MinPoints - 99);
        if (s.ShownPoints > s.PointCount || s.ShownPoints < floor)
            return Fail(tick, "ShownPoints " + std::to_string(s.ShownPoints) + " outside " + std::to_string(floor) + "-" +
                                  std::to_string(s.PointCount));
        fewestShown = std::min(fewestShown, s.ShownPoints);
        mostShown = std::max(mostShown, s.ShownPoints);

        for (const int shift : {0, 8, 16}) {
            const std::uint32_t from = Channel(s.ColourFrom, shift), to = Channel(s.ColourTo, shift);
            const std::uint32_t now = Channel(s.ColourNow, shift);
            if (now < std::min(from, to) || now > std::max(from, to))
                return Fail(tick, "ColourNow channel " + std::to_string(shift / 8) + " is " + std::to_string(now) +
                                      ", not between " + std::to_string(from) + " and " + std::to_string(to));
        }
        if ((s.ColourNow >> 24) != 0) return Fail(tick, "ColourNow has bits above red");

        // The image: only 0 and 1, never more lit bytes than points plotted, and every sampled
        // point that lies inside it lit. Now and then the whole image against the points.
        const std::int32_t shown = std::max(plotted, 0);
        if (s.PlottedPoints != shown)
            return Fail(tick, "PlottedPoints " + std::to_string(s.PlottedPoints) + " for " + std::to_string(shown) + " shown");
        const std::size_t bytes = static_cast<std::size_t>(s.VScreenStride) * static_cast<std::size_t>(s.ImageHeight);
        // Eight bytes at a time: with every byte 0 or 1, one multiplication adds them up.
        std::size_t lit = 0;
        std::size_t i = 0;
        for (; i + 8 <= bytes; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, s.VScreen + i, 8);
            if ((word & 0xFEFEFEFEFEFEFEFEULL) != 0) return Fail(tick, "an image byte other than 0 or 1");
            lit += static_cast<std::size_t>((word * 0x0101010101010101ULL) >> 56);
        }
        for (; i < bytes; ++i) {
            if (s.VScreen[i] > 1) return Fail(tick, "an image byte other than 0 or 1");
            lit += s.VScreen[i];
        }
        if (lit > static_cast<std::size_t>(shown)) return Fail(tick, std::to_string(lit) + " lit bytes for " + std::to_string(shown) + " points");
        for (int k = 0; k < 8 && shown > 0; ++k) {
            const ScreenPoint& p = s.PtsA[sample.Next() % static_cast<std::uint32_t>(shown)];
            if (InImage(p) && s.VScreen[ByteOf(p)] != 1)
                return Fail(tick, "point (" + std::to_string(p.x) + ", " + std::to_string(p.y) + ") is not lit");
        }
        if (tick % 997 == 0) {
            expected.assign(bytes, 0);
            for (std::int32_t i = 0; i < shown; ++i) {
                if (InImage(s.PtsA[i])) expected[ByteOf(s.PtsA[i])] = 1;
            }
            if (bytes != 0 && std::memcmp(expected.data(), s.VScreen, bytes) != 0)
                return Fail(tick, "the image differs from the shown points");
        }
        plotted = s.ShownPoints;
        return true;
    }
};

int Usage() {
    std::fprintf(stderr, "usage: lumivex-soak [--ticks N] [--seed S] [--size WxH] FILE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t total = 10000000;
    std::uint64_t seed = 1;
    int width = 320, height = 240;
    const char* file = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--ticks" && i + 1 < argc) total = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--seed" && i + 1 < argc) seed = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--size" && i + 1 < argc && std::sscanf(argv[++i], "%dx%d", &width, &height) == 2) continue;
        else if (file == nullptr && arg[0] != '-') file = argv[i];
        else return Usage();
    }
    if (file == nullptr || width < 1 || height < 1 || total > UINT32_MAX) return Usage();

    HeadlessHost& host = Host();
    host.useDefinitionFile = true;
    host.definitionFile = file;
    host.echoMessages = true;
    host.calendarSeconds = static_cast<std::int64_t>(seed);
    host.UseScreen(width, height);

    Clock clock{Random{seed * 0x2545F4914F6CDD1DULL + 1}, 0};
    clock.now = clock.random.Next();  // the first tick: any time since the system started
    Soak soak;
    bool broken = false;
    host.onLoopStart = [&] { soak.plotted = State.ShownPoints; };
    host.nextTick = [&](std::uint32_t* now) {
        if (broken || soak.ticks == total) return false;
        *now = clock.Next();
        ++soak.ticks;
        return true;
    };
    const auto start = std::chrono::steady_clock::now();
    host.afterTick = [&](std::uint32_t tick) {
        broken = !soak.Check(tick);
        if (tick % 1000000 == 0) {  // progress of a long run
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::fprintf(stderr, "lumivex-soak: %u ticks, %.0f ticks/s\n", tick, tick / (seconds > 0 ? seconds : 1));
        }
    };

    State.Mode = RunMode::Saver;
    const int code = RunSaver(reinterpret_cast<PlatformHandle>(std::intptr_t{1}), nullptr);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (code != 0) {
        std::fprintf(stderr, "lumivex-soak: the saver did not start (exit code %d)\n", code);
        return 1;
    }
    if (broken) {
        std::fprintf(stderr, "lumivex-soak: %s\n", soak.failure.c_str());
        return 1;
    }
    std::printf("lumivex-soak: %u ticks in %.1f s, %.0f ticks/s, %dx%d, %d points, seed %" PRIu64 "\n", soak.ticks,
                seconds, soak.ticks / (seconds > 0 ? seconds : 1), width, height, State.PointCount, seed);
    std::printf("lumivex-soak: %" PRIu64 " morph cycles; intervals of 0 ms %" PRIu64 ", slow %" PRIu64 ", past 2^31 %" PRIu64
                ", counter wraps %" PRIu64 "; shown points %d to %d; every invariant held\n",
                soak.morphs, clock.zero, clock.slow, clock.huge, clock.wraps, soak.fewestShown, soak.mostShown);
    return 0;
}
