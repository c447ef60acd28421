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
#include "saver/saver_main.h"
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
