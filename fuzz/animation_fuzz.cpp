// Fuzz target: the definition file, then start-up and a few hundred ticks on a clock from the
// input. The input is the file, a NUL byte, and the script of the run: the first tick count,
// the screen, the mode and the seed, then one byte per tick choosing its interval.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/saver_state.h"
#include "fuzz/fuzz_support.h"
#include "backends/headless/headless_host.h"
#include "saver/saver_run.h"
#include "saver/win32_saver.h"

namespace {

// A few thousand points at most, so a tick and a Pick stay cheap.
constexpr std::uint64_t MemoryBound = 512 * 1024;
constexpr std::uint32_t MaxTicks = 300;

// Reads the script; past its end every read gives 0.
struct Script {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    bool Done() const { return at >= size; }
    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
    std::uint32_t Word() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(Byte()) << (8 * i);
        return v;
    }
};

// The interval of one tick: mostly a frame's worth, sometimes 0, slow, long enough to end a
// phase, past 2^31 (negative as signed), or a jump to just before the counter wraps.
std::uint32_t NextTickCount(Script* script, std::uint32_t now) {
    const std::uint8_t op = script->Byte();
    if (op < 160) return now + op % 41;
    if (op < 180) return now;
    if (op < 200) return now + 70 + op % 40;
    if (op < 215) return now + 1500 + script->Byte() * 40u;
    if (op < 230) return now + 0x80000000u + script->Word() % 0x80000000u;
    if (op < 245) return 0xFFFFFFFFu - script->Byte();
    return now + script->Word();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    BeginInput(MemoryBound);
    const auto* nul = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
    const std::size_t fileSize = nul != nullptr ? static_cast<std::size_t>(nul - data) : size;
    OfferDefinitionFile(data, fileSize);
    Script script{data + fileSize, size - fileSize};
    script.Byte();  // the NUL

    std::uint32_t now = script.Word();
    const std::int32_t width = 1 + script.Byte() % 96;
    const std::int32_t height = 1 + script.Byte() % 72;
    const std::uint8_t flags = script.Byte();
    HeadlessHost& host = Host();
    host.calendarSeconds = script.Word();
    const bool child = (flags & 2) != 0;
    const PlatformHandle parent = host.UseScreen(width, height, child);

    // Without a script the run still takes the common intervals and the hard ones in turn.
    const bool scripted = !script.Done();
    static const std::uint32_t Plain[] = {10, 0, 100, 100, 100, 5000, 0x80000005u, 16, 0, 2999, 1, 0xFFFFFFF0u};
    std::uint32_t ticks = 0;
    host.nextTick = [&](std::uint32_t* tick) {
        if (ticks == MaxTicks || (scripted && script.Done())) return false;
        now = scripted ? NextTickCount(&script, now) : now + Plain[ticks % (sizeof Plain / sizeof Plain[0])];
        *tick = now;
        ++ticks;
        return true;
    };
    host.afterTick = [&](std::uint32_t) {
        if (State.ShownPoints > State.PointCount) Broken("more points shown than there are");
        if (State.Phase == Phase::Morph && (State.PhaseClock < 0 || State.PhaseClock > 2999))
            Broken("the easing index left 0 to 2999");
    };

    State.Mode = (flags & 1) != 0 ? RunMode::Preview : RunMode::Saver;
    RunSaver(reinterpret_cast<PlatformHandle>(std::intptr_t{1}), parent);
    EndInput();
    return 0;
}
