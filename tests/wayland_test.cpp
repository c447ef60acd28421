// The Linux program's Wayland decisions above the seam: options, which host, the layer run, the
// re-fit of a resized picture; and the Wayland backend's account of the damage its buffers missed.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "backends/wayland/damage.h"
#include "saver/linux_saver.h"
#include "saver/saver_run.h"
#include "test_support.h"

namespace {

const std::string Gallery =
    "-900\n3\n0.5 0 0 0.5 0 0 33\n0.5 0 0 0.5 0.5 0 33\n0.5 0 0 0.5 0.25 0.5 34\n0 0 1 1\n"
    "2\n0.5 0 0 0.5 0 0 50\n0.5 0 0 0.5 0.5 0.5 50\n0 0 1 1\n";

std::vector<LinuxHost> HostsUsed;
void RecordHost(LinuxHost host) { HostsUsed.push_back(host); }

// The Linux start-up, headless, ticking every 10 ms until onTick says no. The exit code.
int RunWayland(LinuxOptions options, LinuxEnvironment env, const std::string& ini,
        std::function<bool(std::uint32_t)> onTick = {}) {
    HostsUsed.clear();
    env.useHost = RecordHost;
    return RunLinux(options, ini, std::move(onTick), env);
}

PlatformHandle Handle(std::uintptr_t value) { return reinterpret_cast<PlatformHandle>(value); }

}  // namespace

TEST(WaylandOptionsTest, LayersOutputsAndHosts) {
    struct Case {
        std::vector<const char*> args;
        LinuxTarget target;
        platform::DesktopLayer layer;
        const char* output;
        LinuxHostChoice host;
    };
    using L = platform::DesktopLayer;
    const Case cases[] = {
        {{"--layer", "background"}, LinuxTarget::Layer, L::Background, "", LinuxHostChoice::Auto},
        {{"-layer=bottom", "--output", "DP-1"}, LinuxTarget::Layer, L::Bottom, "DP-1", LinuxHostChoice::Auto},
        {{"--output=HDMI-A-1", "--layer", "top", "--wayland"}, LinuxTarget::Layer, L::Top, "HDMI-A-1", LinuxHostChoice::Wayland},
        {{"--layer", "overlay"}, LinuxTarget::Layer, L::Overlay, "", LinuxHostChoice::Auto},
        {{"--fullscreen", "-x11"}, LinuxTarget::FullScreen, L::Background, "", LinuxHostChoice::X11},
        {{"--window", "--x11", "--wayland"}, LinuxTarget::Window, L::Background, "", LinuxHostChoice::Wayland},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.args);
        ASSERT_TRUE(p.ok) << c.args[0] << ": " << p.error;
        EXPECT_EQ(p.options.target, c.target) << c.args[0];
        EXPECT_EQ(p.options.layer, c.layer) << c.args[0];
        EXPECT_EQ(p.options.output, c.output) << c.args[0];
        EXPECT_EQ(p.options.host, c.host) << c.args[0];
    }
    const std::vector<std::pair<std::vector<const char*>, const char*>> wrong = {
        {{"--layer"}, "needs a value"},
        {{"--layer", "wallpaper"}, "background, bottom, top or overlay"},
        {{"--layer", "Background"}, "background, bottom, top or overlay"},
        {{"--layer", "top", "--x11"}, "--x11"},
        {{"--root", "--wayland"}, "--wayland"},
        {{"--window-id", "7", "--wayland"}, "--wayland"},
        {{"--output", "DP-1"}, "--output goes with --layer"},
        {{"--layer", "top", "--output="}, "--output needs"},
        {{"--wayland=1"}, "takes no value"},
    };
    for (const auto& [args, words] : wrong) {
        const Parsed p = Parse(args);
        EXPECT_FALSE(p.ok) << args[0];
        EXPECT_NE(p.error.find(words), std::string::npos) << p.error;
        EXPECT_EQ(p.error.find('\n'), std::string::npos);
    }
    EXPECT_NE(std::string(LinuxHelp).find("--layer LAYER"), std::string::npos);
    EXPECT_NE(std::string(LinuxUsage).find("--wayland | --x11"), std::string::npos);
}

TEST(WaylandOptionsTest, WhichHostSpeaks) {
    struct Case {
        std::vector<const char*> args;
        const char* waylandDisplay;
        const char* screensaverWindow;
        LinuxHost host;
    };
    const Case cases[] = {
        {{}, "wayland-0", nullptr, LinuxHost::Wayland},
        {{}, nullptr, nullptr, LinuxHost::X11},
        {{}, "", nullptr, LinuxHost::X11},
        {{"--fullscreen"}, "wayland-1", nullptr, LinuxHost::Wayland},
        {{"--window"}, "wayland-1", "0x400001", LinuxHost::X11},   // a host of the XScreenSaver kind
        {{"--root"}, "wayland-1", nullptr, LinuxHost::X11},
        {{"--window-id", "0x400001"}, "wayland-1", nullptr, LinuxHost::X11},
        {{"--layer", "background"}, nullptr, nullptr, LinuxHost::Wayland},
        {{"--layer", "background"}, "wayland-1", "0x400001", LinuxHost::Wayland},
        {{"--x11"}, "wayland-1", nullptr, LinuxHost::X11},
        {{"--wayland"}, nullptr, nullptr, LinuxHost::Wayland},
        {{"--wayland", "--window"}, "", "0x400001", LinuxHost::Wayland},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.args, c.screensaverWindow);
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_EQ(ChooseLinuxHost(p.options, c.waylandDisplay, c.screensaverWindow), c.host)
            << (c.args.empty() ? "(none)" : c.args[0]) << " WAYLAND_DISPLAY=" << (c.waylandDisplay ? c.waylandDisplay : "unset");
    }
}

using WaylandSaverTest = SaverTest;

TEST_F(WaylandSaverTest, ALayerRunIsWatchedNotEndedByInput) {
    Host().windowWidth = 400;
    Host().windowHeight = 300;
    LinuxOptions options;
    options.target = LinuxTarget::Layer;
    options.layer = platform::DesktopLayer::Overlay;
    options.output = "DP-2";
    LinuxEnvironment env;
    env.waylandDisplay = "wayland-1";
    const int code = RunWayland(options, env, Gallery, [](std::uint32_t tick) {
        if (tick == 3) {
            for (SaverMessage m : {SaverMessage::KeyDown, SaverMessage::LeftButtonDown, SaverMessage::RightButtonDown,
                                   SaverMessage::MiddleButtonDown})
                HandleSaverMessage(State.Window, m);
            Host().cursorX += 7;
        }
        if (tick == 20) HandleSaverMessage(State.Window, SaverMessage::Close);
        return tick < 50;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Host().ticksRun, 20u) << "input goes by; the compositor closing the layer ends it";
    EXPECT_EQ(HostsUsed, std::vector<LinuxHost>{LinuxHost::Wayland});
    EXPECT_EQ(Host().layer, platform::DesktopLayer::Overlay);
    EXPECT_EQ(Host().layerOutput, "DP-2");
    EXPECT_EQ(State.Mode, RunMode::Window);
    EXPECT_EQ(std::count(Host().calls.begin(), Host().calls.end(), "HideCursor"), 0);
    EXPECT_EQ(State.ScreenWidth, 400);
    EXPECT_EQ(State.ImageHeight, 300 - StatusStripHeight);

    // What goes wrong on a compositor: one message each, and the code.
    struct Failure {
        LinuxTarget target;
        platform::WindowOutcome outcome;
        const char* waylandDisplay;
        int code;
        const char* message;
    };
    const Failure failures[] = {
        {LinuxTarget::Layer, platform::WindowOutcome::Unsupported, "wayland-1", 1,
         "The compositor offers no layer shell (zwlr_layer_shell_v1), which --layer needs. Now quitting."},
        {LinuxTarget::Window, platform::WindowOutcome::Unsupported, "wayland-1", 1,
         "The compositor offers no xdg-shell (xdg_wm_base), which a window needs. Now quitting."},
        {LinuxTarget::Layer, platform::WindowOutcome::NoDisplay, "wayland-9", -3,
         "I cannot reach the Wayland compositor 'wayland-9'. Now quitting."},
        {LinuxTarget::Layer, platform::WindowOutcome::NoDisplay, nullptr, -3,
         "I cannot reach a Wayland compositor: WAYLAND_DISPLAY is not set and there is none at 'wayland-0'. Now quitting."},
        {LinuxTarget::Layer, platform::WindowOutcome::NoSuchWindow, "wayland-1", -3,
         "There is no output 'DP-2' to draw on. Now quitting."},
    };
    for (const Failure& f : failures) {
        ResetAll();
        Host().desktopOutcome = f.outcome;
        options.target = f.target;
        env.waylandDisplay = f.waylandDisplay;
        EXPECT_EQ(RunWayland(options, env, Gallery), f.code) << f.message;
        ASSERT_EQ(Host().messages.size(), 1u) << f.message;
        EXPECT_EQ(Host().messages[0], f.message);
    }
}

TEST_F(WaylandSaverTest, AResizedWindowShowsAtOnceWhatARunAtThatSizeShows) {
    // Resized after tick t (in a morph, in a hold, at the pick, at the delta, after the first
    // hold's end), the next tick's image is the one a run started at the new size shows at that
    // tick: the current pair was made again for the new size.
    for (const std::uint32_t resizeAt : {50u, 320u, 450u, 451u, 452u, 600u}) {
        std::string resized, fresh;
        std::uint32_t random = 0;
        for (int pass = 0; pass < 2; ++pass) {
            ResetAll();
            Host().parentWindows.push_back({Handle(77), {0, 0, pass == 0 ? 320 : 500, pass == 0 ? 240 : 380}});
            LinuxOptions options;
            options.target = LinuxTarget::WindowId;
            options.windowId = 77;
            options.seedGiven = true;
            options.seed = 1234;
            const int code = RunWayland(options, LinuxEnvironment{}, Gallery, [&](std::uint32_t tick) {
                if (pass == 0 && tick == resizeAt) {
                    Host().parentWindows[0].second = {0, 0, 500, 380};
                    const std::uint32_t before = RandomState();
                    HandleSaverMessage(State.Window, SaverMessage::Resize);
                    EXPECT_EQ(RandomState(), before) << "the re-fit draws no random numbers";
                }
                if (tick <= resizeAt) return true;
                (pass == 0 ? resized : fresh) = ImageBytes();
                if (pass == 0) random = RandomState();
                else EXPECT_EQ(RandomState(), random);
                return false;
            });
            ASSERT_EQ(code, 0);
        }
        EXPECT_FALSE(resized.empty());
        EXPECT_TRUE(resized == fresh) << "resized after tick " << resizeAt;
    }
}

TEST(WaylandDamageTest, WhatABufferMissed) {
    using platform::FrameDamage;
    using platform::Rect;
    FrameDamage whole = {};
    whole.whole = true;
    FrameDamage a = {};
    a.count = 2;
    a.rects[0] = {0, 0, 10, 10};
    a.rects[1] = {5, 20, 9, 30};
    FrameDamage b = {};
    b.count = 1;
    b.rects[0] = {100, 100, 110, 120};
    FrameDamage none = {};
    FrameDamage broken = {};
    broken.count = 9;

    DamageHistory history;
    Rect rects[2 * FrameDamage::MaxRects];
    int count = -1;
    EXPECT_FALSE(DamageSince(history, 0, rects, &count)) << "nothing recorded: all of it";
    RecordDamage(&history, whole);  // frame 1
    RecordDamage(&history, a);      // frame 2
    RecordDamage(&history, b);      // frame 3
    struct Case {
        std::uint64_t held;
        bool known;
        int count;
    };
    for (const Case c : {Case{3, true, 0}, Case{2, true, 1}, Case{1, true, 3}, Case{0, false, 0}, Case{4, false, 0}}) {
        const bool known = DamageSince(history, c.held, rects, &count);
        EXPECT_EQ(known, c.known) << "held " << c.held;
        if (known) {
            EXPECT_EQ(count, c.count) << "held " << c.held;
        }
    }
    DamageSince(history, 1, rects, &count);
    EXPECT_EQ(rects[0].left, 100);
    EXPECT_EQ(rects[2].top, 20);
    RecordDamage(&history, none);  // frame 4: frame 1 is now three behind
    EXPECT_FALSE(DamageSince(history, 1, rects, &count));
    EXPECT_TRUE(DamageSince(history, 3, rects, &count));
    EXPECT_EQ(count, 0);
    RecordDamage(&history, whole);  // frame 5
    EXPECT_FALSE(DamageSince(history, 4, rects, &count)) << "a whole frame behind it";
    RecordDamage(&history, broken);  // frame 6: a count out of range is taken as whole
    EXPECT_FALSE(DamageSince(history, 5, rects, &count));

    Rect out;
    EXPECT_TRUE(PlaceRect({0, 0, 10, 10}, 5, 5, 12, 100, &out));
    EXPECT_EQ(out.left, 5);
    EXPECT_EQ(out.right, 12) << "cut at the buffer's edge";
    EXPECT_EQ(out.bottom, 15);
    EXPECT_TRUE(PlaceRect({0, 0, 10, 10}, -4, -4, 100, 100, &out));
    EXPECT_EQ(out.left, 0);
    EXPECT_EQ(out.right, 6);
    EXPECT_FALSE(PlaceRect({0, 0, 10, 10}, 20, 0, 15, 100, &out));
    EXPECT_FALSE(PlaceRect({0, 0, 10, 10}, 0, -10, 100, 100, &out));
}

namespace {

// How the compositor gives buffers back: sway on pixman holds the one committed until the next
// commit; a compositor that copies releases it at once; a slow one takes a frame only now and
// then and holds both for a while (too slowly: buffers fall further behind than the frames kept,
// and are drawn from rectangles).
enum class Release { AtNextCommit, AtOnce, Slowly, TooSlowly };

// One surface of the Wayland backend, its two buffers brought up to date as Paint does, with
// what the compositor was last given.
struct SurfaceModel {
    struct Buffer {
        std::vector<std::uint32_t> pixels;
        std::vector<std::uint32_t> store;
        KeptPoints kept;
        std::uint64_t held = 0;
        bool busy = false;
        int heldFor = 0;  // commits of the other buffer it has been held through
    };
    std::int32_t width = 0, height = 0;
    Buffer buffers[2];
    std::vector<std::uint8_t> marks;
    DamageCells cells;
    std::uint64_t shown = 0;
    std::vector<std::uint32_t> screen;  // what the compositor shows: updated only inside the damage
    int commits = 0, byPoints = 0, converted = 0, cellDamage = 0;
    std::int64_t pointsWritten = 0;

    void Size(std::int32_t w, std::int32_t h) {
        width = w;
        height = h;
        for (Buffer& b : buffers) {
            b.pixels.assign(static_cast<std::size_t>(w) * h, 0x123456u);  // anything: a new buffer is drawn whole
            b.store.resize(1 << 16);
            b.kept = KeptPoints{};
            b.kept.at = b.store.data();
            b.kept.capacity = static_cast<std::int32_t>(b.store.size());
            b.held = 0;
            b.busy = false;
        }
        cells = DamageCells{};
        cells.columns = (w + DamageCells::CellSize - 1) / DamageCells::CellSize;
        cells.rows = (h + DamageCells::CellSize - 1) / DamageCells::CellSize;
        marks.assign(static_cast<std::size_t>(cells.columns) * cells.rows, 0);
        cells.marks = marks.data();
        shown = 0;
        screen.assign(static_cast<std::size_t>(w) * h, 0x654321u);
    }

    // False when both buffers are held: no commit.
    bool Paint(const DamageHistory& history, const platform::FrameDamage& newest, const FrameImage& frame,
               Release release) {
        Buffer* b = nullptr;
        for (Buffer& candidate : buffers) {
            if (!candidate.busy && (b == nullptr || candidate.held > b->held)) b = &candidate;
        }
        if (b == nullptr) return false;
        Buffer* other = b == &buffers[0] ? &buffers[1] : &buffers[0];
        ClearCells(&cells);
        const BufferUpdate update = UpdateBuffer(history, newest, frame, b->pixels.data(), width, height, b->held, &b->kept,
                                                 &other->kept, &cells, shown);
        b->held = history.frame;
        platform::Rect rects[GivenDamageMax];
        int count = 0;
        const std::string kind = ChooseDamage(history, shown, cells, update.cellsKnown, frame, width, height, rects, &count);
        for (int i = 0; i < count; ++i) {
            for (std::int32_t y = rects[i].top; y < rects[i].bottom; ++y)
                for (std::int32_t x = rects[i].left; x < rects[i].right; ++x)
                    screen[static_cast<std::size_t>(y) * width + x] = b->pixels[static_cast<std::size_t>(y) * width + x];
        }
        shown = history.frame;
        ++commits;
        byPoints += update.byPoints;
        converted += !update.byPoints;
        cellDamage += kind == "cells";
        pointsWritten += update.points;
        if (release == Release::AtOnce) return true;
        b->busy = true;
        b->heldFor = 0;
        if (release == Release::AtNextCommit) other->busy = false;
        return true;
    }

    // A tick goes by: a slow compositor gives a buffer back two (or three) ticks after its commit.
    void Tick(Release release) {
        const int ticks = release == Release::Slowly ? 2 : 3;
        for (Buffer& b : buffers) {
            if ((release == Release::Slowly || release == Release::TooSlowly) && b.busy && ++b.heldFor >= ticks)
                b.busy = false;
        }
    }
};

// The frame as a buffer of width x height shows it: the window in the middle, its strip and
// margins black (the status text is the backend's, drawn over the strip).
std::vector<std::uint32_t> Expected(const HeadlessHost& host, std::int32_t width, std::int32_t height) {
    const FrameHeaderData& header = host.frameHeader;
    const std::int32_t windowWidth = header.Width, windowHeight = host.frameTop + header.Height;
    const std::int32_t dx = (width - windowWidth) / 2, dy = (height - windowHeight) / 2;
    std::vector<std::uint32_t> picture(static_cast<std::size_t>(width) * height, 0);
    for (std::int32_t y = 0; y < header.Height; ++y) {
        for (std::int32_t x = 0; x < header.Width; ++x) {
            const std::int32_t bx = x + dx, by = dy + host.frameTop + header.Height - 1 - y;
            if (bx < 0 || bx >= width || by < 0 || by >= height) continue;
            const bool lit = host.frameBits[static_cast<std::size_t>(y) * host.frameStride + x] != 0;
            picture[static_cast<std::size_t>(by) * width + bx] = (lit ? header.Colours[1] : header.Colours[0]) & 0xFFFFFFu;
        }
    }
    return picture;
}

}  // namespace

TEST_F(WaylandSaverTest, BuffersKeptPointByPointShowTheFrameAndTheDamageHoldsEveryChange) {
    struct Case {
        const char* name;
        std::int32_t points;  // negative: status line on
        std::int32_t width, height;
        std::int32_t margin;  // the buffer this much larger than the window each way (another output)
        Release release;
        std::uint32_t (*interval)(int);
        int ticks;
        int resizeAt;  // the buffers made again at this tick (a new scale): drawn whole once
    };
    const Case cases[] = {
        {"held until the next commit, regulated, status line", -3000, 203, 160, 0, Release::AtNextCommit, Regulated, 1500, 700},
        {"released at once", 2000, 180, 150, 0, Release::AtOnce, Steady, 1200, -1},
        {"released slowly, frames missed", -1500, 150, 120, 0, Release::Slowly, Regulated, 1500, -1},
        {"released too slowly: from rectangles", -1500, 150, 120, 0, Release::TooSlowly, Regulated, 800, -1},
        {"a larger output", -2000, 160, 120, 9, Release::AtNextCommit, Regulated, 1200, 500},
        {"more points than pixels", 9000, 64, 48, 0, Release::AtNextCommit, Regulated, 900, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetAll();
        ASSERT_EQ(StartSaver({std::to_string(c.points) + "\n" + FernDefinition() + TriangleDefinition("-0.5 -0.5 1.5 2"),
                              c.width, c.height, RunMode::Saver, false, 11}),
                  0);
        HeadlessHost& host = Host();
        DamageHistory history;
        SurfaceModel surface;
        int nothing = 0, paints = 0, morphPaints = 0, morphByPoints = 0;
        for (int tick = 0; tick < c.ticks; ++tick) {
            const Phase phase = State.Phase;
            TickAt(host.now + c.interval(tick));
            const platform::FrameDamage& damage = host.frameDamage;
            const FrameImage frame = {&host.frameHeader, host.frameBits, host.frameStride, host.frameTop,
                                      host.frameHeader.Width, host.frameTop + host.frameHeader.Height};
            const std::int32_t width = frame.windowWidth + 2 * c.margin, height = frame.windowHeight + 2 * c.margin;
            if (surface.width != width || surface.height != height || tick == c.resizeAt) surface.Size(width, height);
            // As PresentFrame: a frame that changed nothing is no frame, and a surface that shows
            // the newest one is left alone.
            if (ChangesNothing(damage)) ++nothing;
            else RecordDamage(&history, damage, host.frameHeader.Colours[0], host.frameHeader.Colours[1]);
            surface.Tick(c.release);
            if (surface.shown != 0 && surface.shown == history.frame) continue;
            const int byPoints = surface.byPoints;
            if (!surface.Paint(history, damage, frame, c.release)) continue;
            ++paints;
            if (phase == Phase::Morph) {
                ++morphPaints;
                morphByPoints += surface.byPoints - byPoints;
            }
            const std::vector<std::uint32_t> expected = Expected(host, width, height);
            const SurfaceModel::Buffer& b = surface.buffers[0].held == history.frame ? surface.buffers[0] : surface.buffers[1];
            ASSERT_TRUE(b.pixels == expected) << "the buffer differs from the frame after tick " << tick;
            ASSERT_TRUE(surface.screen == expected) << "a change outside the damage after tick " << tick;
        }
        EXPECT_GT(nothing, 100) << "hold ticks that changed nothing";
        EXPECT_GT(paints, c.ticks / 4);
        if (c.release == Release::TooSlowly) {
            // Point by point only where frames that changed nothing made it fewer than three.
            EXPECT_LT(surface.byPoints * 10, surface.converted) << "three frames behind: from rectangles";
            continue;
        }
        EXPECT_GT(morphByPoints, morphPaints * 9 / 10) << "morph frames point by point: " << morphByPoints << " of " << morphPaints;
        EXPECT_LE(surface.converted, paints / 20 + 4) << "frames drawn from rectangles";
        if (c.width >= 150) {
            EXPECT_GT(surface.cellDamage, 0) << "the cells' damage chosen sometimes";
        }
        if (c.release == Release::AtNextCommit && c.points == -3000) {
            // Two frames behind, exact: the buffer's own points and the newest ones, not the frame
            // between as well.
            EXPECT_LE(surface.pointsWritten, static_cast<std::int64_t>(paints) * 5 * 3000 / 2);
        }
    }
}

TEST(WaylandDamageTest, HowABufferIsBroughtUpToDate) {
    // Three point lists standing for the tick's arrays: a morph clears the list the frame before plotted.
    static ScreenPoint a[4] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}}, b[4] = {{5, 5}, {6, 6}, {7, 7}, {8, 8}},
                       c[2] = {{9, 9}, {10, 10}};
    using platform::FrameDamage;
    auto frame = [](const ScreenPoint* cleared, int clearedCount, const ScreenPoint* plotted, int plottedCount) {
        FrameDamage d = {};
        d.count = 1;
        d.rects[0] = {0, 20, 30, 40};
        d.cleared = cleared;
        d.clearedCount = clearedCount;
        d.plotted = plotted;
        d.plottedCount = plottedCount;
        return d;
    };
    FrameDamage whole = {};
    whole.whole = true;
    PointLayout layout;
    layout.width = 40;
    layout.height = 50;
    layout.top = 16;
    layout.imageWidth = 40;
    layout.imageHeight = 34;
    std::uint32_t ownStore[8], otherStore[8];
    using K = PointStep::Kind;
    struct Case {
        const char* name;
        std::vector<FrameDamage> frames;  // recorded in turn; the last is the newest
        std::uint64_t held;
        int ownFrame;                     // the frame whose plotted list the buffer kept (0: none)
        bool exact;
        int otherFrame;                   // the other buffer's
        bool possible;
        std::vector<K> steps;
        bool exactAfter;
    };
    const Case cases[] = {
        {"one behind, exact: own points cleared, blank", {frame(b, 4, a, 4), frame(a, 4, b, 4)}, 1, 1, true, 0, true,
         {K::ClearKept, K::PlotNewest}, true},
        {"one behind, not exact: the tick's clears", {frame(b, 4, a, 4), frame(a, 4, b, 4)}, 1, 1, false, 0, true,
         {K::ClearNewest, K::PlotNewest}, false},
        {"two behind, exact: the frame between left out, its clear only marked",
         {frame(b, 4, a, 4), frame(a, 4, b, 4), frame(b, 4, a, 4)}, 1, 1, true, 2, true,
         {K::ClearKept, K::MarkNewest, K::PlotNewest}, true},
        {"two behind, not exact: every clear", {frame(b, 4, a, 4), frame(a, 4, b, 4), frame(b, 4, a, 4)}, 1, 1, false, 2,
         true, {K::ClearKept, K::ClearNewest, K::PlotNewest}, false},
        {"two behind, a hold's points given back between: plotted from the other buffer",
         {frame(b, 4, a, 4), frame(nullptr, 0, c, 2), frame(nullptr, 0, nullptr, 0)}, 1, 1, true, 2, true, {K::PlotKept},
         false},
        {"two behind, the other buffer did not keep that list", {frame(b, 4, a, 4), frame(nullptr, 0, c, 2),
         frame(nullptr, 0, nullptr, 0)}, 1, 1, true, 0, false, {}, false},
        {"two behind, an older clear nobody kept", {frame(b, 4, a, 4), frame(a, 4, b, 4), frame(b, 4, a, 4)}, 1, 0, false,
         2, false, {}, false},
        {"a whole frame missed", {frame(b, 4, a, 4), whole, frame(a, 4, b, 4)}, 1, 1, true, 0, false, {}, false},
        {"three behind", {frame(b, 4, a, 4), frame(a, 4, b, 4), frame(b, 4, a, 4), frame(a, 4, b, 4)}, 1, 1, true, 3, false,
         {}, false},
        {"nothing known", {frame(b, 4, a, 4), frame(a, 4, b, 4)}, 0, 0, false, 0, false, {}, false},
        {"up to date", {frame(b, 4, a, 4)}, 1, 1, true, 0, true, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DamageHistory history;
        std::vector<const FrameDamage*> recorded;
        for (const FrameDamage& f : c.frames) {
            RecordDamage(&history, f, 0, 0x00FF00);
            recorded.push_back(&f);
        }
        auto keep = [&](KeptPoints* kept, std::uint32_t* store, int frameNumber) {
            *kept = KeptPoints{};
            kept->at = store;
            kept->capacity = 8;
            if (frameNumber == 0) return;
            const FrameDamage& f = *recorded[static_cast<std::size_t>(frameNumber - 1)];
            kept->frame = static_cast<std::uint64_t>(frameNumber);
            kept->from = f.plotted;
            kept->fromCount = f.plottedCount;
            kept->count = f.plottedCount;
            kept->layout = layout;
        };
        KeptPoints own, other;
        keep(&own, ownStore, c.ownFrame);
        own.exact = c.exact;
        keep(&other, otherStore, c.otherFrame);
        const KeptPoints* others[1] = {&other};
        PointPlan plan;
        ASSERT_EQ(PlanPoints(history, c.held, own, others, 1, layout, &plan), c.possible);
        if (!c.possible) continue;
        std::vector<K> kinds;
        for (int i = 0; i < plan.count; ++i) kinds.push_back(plan.steps[i].kind);
        EXPECT_EQ(kinds, c.steps);
        EXPECT_EQ(plan.exact, c.exactAfter);
        EXPECT_TRUE(plan.strip == false) << "the rectangles lie below the strip";
    }
    // A new colour 0 repaints everything.
    DamageHistory history;
    RecordDamage(&history, frame(b, 4, a, 4), 0, 1);
    RecordDamage(&history, frame(a, 4, b, 4), 7, 1);
    KeptPoints own;
    own.at = ownStore;
    own.capacity = 8;
    PointPlan plan;
    EXPECT_FALSE(PlanPoints(history, 1, own, nullptr, 0, layout, &plan));
}

TEST(WaylandDamageTest, TheCellsGivenInBands) {
    // A buffer of 5 x 4 cells, the last column and row cut short.
    std::uint8_t marks[20];
    DamageCells cells;
    cells.marks = marks;
    cells.columns = 5;
    cells.rows = 4;
    const std::int32_t width = 4 * 64 + 10, height = 3 * 64 + 20;
    struct Case {
        const char* name;
        const char* rows[4];  // x: a marked cell
        int bands;
        std::vector<platform::Rect> rects;
    };
    const Case cases[] = {
        {"nothing", {".....", ".....", ".....", "....."}, 4, {}},
        {"one cell", {".....", "..x..", ".....", "....."}, 4, {{128, 64, 192, 128}}},
        {"a band from its first column to its last", {"x...x", ".....", ".....", "....."}, 4, {{0, 0, width, 64}}},
        {"the same columns below: one rectangle", {".xx..", ".x.x.", ".x..x", "....."}, 4,
         {{64, 0, 192, 64}, {64, 64, 256, 128}, {64, 128, width, 192}}},
        {"a band like the one above joins it", {".xx..", ".xx..", ".x.x.", "....."}, 4,
         {{64, 0, 192, 128}, {64, 128, 256, 192}}},
        {"cut at the buffer's corner", {".....", ".....", ".....", "...xx"}, 4, {{192, 192, width, height}}},
        {"two rows of cells a band", {"x....", "....x", ".....", ".x..."}, 2, {{0, 0, width, 128}, {64, 128, 128, height}}},
        {"a row of cells a band (0)", {"x....", "..x..", ".....", "....."}, 0, {{0, 0, 64, 64}, {128, 64, 192, 128}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int r = 0; r < 4; ++r)
            for (int col = 0; col < 5; ++col) marks[r * 5 + col] = c.rows[r][col] == 'x' ? 1 : 0;
        platform::Rect rects[8];
        int count = -1;
        ASSERT_TRUE(CellRects(cells, width, height, c.bands, rects, 8, &count));
        ASSERT_EQ(static_cast<std::size_t>(count), c.rects.size());
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(rects[i].left, c.rects[i].left) << i;
            EXPECT_EQ(rects[i].top, c.rects[i].top) << i;
            EXPECT_EQ(rects[i].right, c.rects[i].right) << i;
            EXPECT_EQ(rects[i].bottom, c.rects[i].bottom) << i;
        }
    }
    platform::Rect one[1];
    int count = 0;
    for (int i = 0; i < 20; ++i) marks[i] = static_cast<std::uint8_t>(i % 3 == 0);
    EXPECT_FALSE(CellRects(cells, width, height, 0, one, 1, &count)) << "more rectangles than room";
    // The cost: the pixels and a price a rectangle.
    const platform::Rect box[1] = {{0, 0, 100, 100}}, split[2] = {{0, 0, 10, 10}, {50, 50, 60, 60}};
    EXPECT_EQ(DamageCost(box, 1), 10000 + RectangleCost);
    EXPECT_LT(DamageCost(split, 2), DamageCost(box, 1));
}
