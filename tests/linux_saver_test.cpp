// The Linux program above the seam: its command line, its files, its windows, resizing, the pixel conversion.
#include <algorithm>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "core/arrays.h"
#include "core/messages.h"
#include "saver/linux_saver.h"
#include "saver/saver_run.h"
#include "test_support.h"

namespace {

PlatformHandle Handle(std::uintptr_t value) { return reinterpret_cast<PlatformHandle>(value); }

const std::string Gallery =
    "-900\n3\n0.5 0 0 0.5 0 0 33\n0.5 0 0 0.5 0.5 0 33\n0.5 0 0 0.5 0.25 0.5 34\n0 0 1 1\n"
    "2\n0.5 0 0 0.5 0 0 50\n0.5 0 0 0.5 0.5 0.5 50\n0 0 1 1\n";


}  // namespace

TEST(LinuxOptionsTest, EitherDashFormAndBothValueForms) {
    Parsed p = Parse({});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.options.target, LinuxTarget::Window);
    EXPECT_EQ(p.options.width, 1280);
    EXPECT_EQ(p.options.height, 800);
    EXPECT_FALSE(p.options.geometryGiven);
    std::istringstream usage(LinuxUsage);
    for (std::string line; std::getline(usage, line);) EXPECT_LE(line.size(), 80u) << "--help's usage: " << line;
    EXPECT_EQ(p.options.delay, 10000u);
    EXPECT_FALSE(p.options.status || p.options.seedGiven || p.options.help || p.options.version);

    p = Parse({"-window-id", "0x1A", "--delay=2500", "-status", "--seed", "4294967295", "-ini", "a b.ini", "--geometry=16384x1"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.options.target, LinuxTarget::WindowId);
    EXPECT_EQ(p.options.windowId, 26u);
    EXPECT_EQ(p.options.delay, 2500u);
    EXPECT_TRUE(p.options.status);
    EXPECT_TRUE(p.options.seedGiven);
    EXPECT_EQ(p.options.seed, 4294967295u);
    EXPECT_EQ(p.options.ini, "a b.ini");
    EXPECT_EQ(p.options.width, 16384);
    EXPECT_EQ(p.options.height, 1);
    EXPECT_TRUE(p.options.geometryGiven);

    p = Parse({"--window-id", "26", "--fullscreen"});
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.options.target, LinuxTarget::FullScreen) << "the last target wins";
    EXPECT_TRUE(Parse({"-h"}).options.help);
    EXPECT_TRUE(Parse({"--version"}).options.version);
}

TEST(LinuxOptionsTest, RootTakesTheWindowFromTheEnvironment) {
    for (const char* value : {"0x3a00007", "0X3A00007", "60817415"}) {
        const Parsed p = Parse({"-root"}, value);
        ASSERT_TRUE(p.ok) << value;
        EXPECT_EQ(p.options.target, LinuxTarget::Root);
        EXPECT_EQ(p.options.windowId, 0x3a00007u) << value;
    }
    EXPECT_EQ(Parse({"--root"}).options.windowId, 0u) << "unset: the root window";
    EXPECT_EQ(Parse({"--root"}, "").options.windowId, 0u) << "empty: the root window";
    EXPECT_TRUE(Parse({"--window"}, "garbage").ok) << "only --root reads the variable";
    for (const char* value : {"garbage", "0x", "12abc", "-5", "0", "0x100000000", " 12"}) {
        const Parsed p = Parse({"--root"}, value);
        EXPECT_FALSE(p.ok) << value;
        EXPECT_NE(p.error.find("XSCREENSAVER_WINDOW"), std::string::npos) << p.error;
    }
}

TEST(LinuxOptionsTest, WrongOptionsAndValuesSayWhichInOneLine) {
    const std::vector<std::vector<const char*>> wrong = {
        {"--bogus"}, {"file.ini"}, {"-"}, {"--ini"}, {"--ini", ""}, {"--window-id"}, {"--window-id", "0"},
        {"--window-id", "0xFFFFFFFFF"}, {"--window-id", "1e3"}, {"--delay", "999"}, {"--delay", "1000001"},
        {"--delay", "ten"}, {"--delay", "-1"}, {"--geometry", "0x10"}, {"--geometry", "10x16385"},
        {"--geometry", "10"}, {"--geometry", "10x"}, {"--seed", "4294967296"}, {"--seed", "-1"},
        {"--status=1"}, {"--root=yes"}, {"--bo\ngus"}, {"--geometry", "1\n2"}, {"--ini=x", "\r\n"}};
    for (const auto& args : wrong) {
        const Parsed p = Parse(args);
        EXPECT_FALSE(p.ok) << args[0];
        EXPECT_FALSE(p.error.empty()) << args[0];
        EXPECT_EQ(p.error.find_first_of("\r\n"), std::string::npos) << p.error;
    }
    EXPECT_TRUE(Parse({"--delay", "1000"}).ok);
    EXPECT_TRUE(Parse({"--delay", "1000000"}).ok);
    EXPECT_TRUE(Parse({"--window-id", "0xFFFFFFFF"}).ok);
}

// The shipped file is found from where the program is, so that one build serves any prefix.
TEST(LinuxFilesTest, ShippedFileIsFoundFromTheProgramsOwnPlace) {
    const struct {
        const char* program;
        const char* folder;
    } cases[] = {
        {"/usr/local/libexec/xscreensaver/lumivex", "/usr/local/share/lumivex/"},  // the hack
        {"/usr/lib/xscreensaver/lumivex", "/usr/share/lumivex/"},                  // a distribution's hack folder
        {"/usr/local/bin/lumivex", "/usr/local/share/lumivex/"},                    // a copy on the PATH
        {"/home/ann/.local/bin/lumivex", "/home/ann/.local/share/lumivex/"},
        {"/tmp/x/lumivex-install-1/bin/lumivex", "/tmp/x/lumivex-install-1/share/lumivex/"},
        {"/home/ann/lumivex/build/default/lumivex", "/home/ann/lumivex/build/default/"},  // not installed
        {"/home/ann/binary/lumivex", "/home/ann/binary/"},  // "bin" only as a whole folder name
        {"", "/usr/share/lumivex/"},                        // the program's place unknown
        {"lumivex", "/usr/share/lumivex/"},                 // nor a relative one
    };
    for (const auto& c : cases) EXPECT_EQ(ShippedDefinitionFolder(c.program), c.folder) << c.program;

    LinuxOptions options;
    LinuxEnvironment env;
    env.programPath = "/home/ann/lumivex/build/default/lumivex";
    EXPECT_EQ(DefinitionFileCandidates(options, env),
              (std::vector<std::string>{"/home/ann/lumivex/build/default/lumivex.ini"}));
    EXPECT_NE(MissingDefinitionMessage(options, env).find("'/home/ann/lumivex/build/default/'"), std::string::npos);
}

TEST(LinuxFilesTest, TheUsualPlacesInOrder) {
    LinuxOptions options;
    LinuxEnvironment env;
    env.programPath = "/opt/lx/libexec/xscreensaver/lumivex";
    env.home = "/home/ann";
    EXPECT_EQ(DefinitionFileCandidates(options, env),
              (std::vector<std::string>{"/home/ann/.config/lumivex/lumivex.ini", "/opt/lx/share/lumivex/lumivex.ini"}));
    env.xdgConfigHome = "/cfg";
    EXPECT_EQ(DefinitionFileCandidates(options, env).front(), "/cfg/lumivex/lumivex.ini");
    env.xdgConfigHome = "relative/cfg";  // not absolute: not to be used
    EXPECT_EQ(DefinitionFileCandidates(options, env).front(), "/home/ann/.config/lumivex/lumivex.ini");
    env.home = nullptr;
    EXPECT_EQ(DefinitionFileCandidates(options, env), (std::vector<std::string>{"/opt/lx/share/lumivex/lumivex.ini"}));
    const std::string message = MissingDefinitionMessage(options, env);
    EXPECT_NE(message.find("'/opt/lx/share/lumivex/'"), std::string::npos) << message;
    EXPECT_NE(message.find("Now quitting."), std::string::npos) << message;

    options.ini = "/tmp/mine.ini";
    EXPECT_EQ(DefinitionFileCandidates(options, env), (std::vector<std::string>{"/tmp/mine.ini"}));
    EXPECT_EQ(OneLineMessage(MissingDefinitionMessage(options, env).c_str()),
              "I cannot find '/tmp/mine.ini'. I *need* that file, no nice gfx without it! Now quitting.");
    EXPECT_EQ(OneLineMessage("a\n\nb\r\nc\n"), "a b c ");
}

using LinuxSaverTest = SaverTest;

TEST_F(LinuxSaverTest, AHostsWindowShowsTheFullScreenPictureOfTheSameSeed) {
    // The picture in a host's window is the full-screen saver's of the same size and seed: all
    // the points, the status line, the image below the strip. Input ends nothing.
    Host().parentWindows.push_back({Handle(0x3a00007), {0, 0, 320, 240}});
    Host().lockOutcome = platform::LockOutcome::AlreadyHeld;  // Linux takes no lock
    Host().calendarSeconds = 1;                               // --seed decides
    LinuxOptions options;
    options.target = LinuxTarget::WindowId;
    options.windowId = 0x3a00007;
    options.seedGiven = true;
    options.seed = 99;
    options.delay = 20000;
    std::string linuxImage, linuxStatus;
    const int code = RunLinux(options, Gallery, [&](std::uint32_t tick) {
        if (tick == 5) {
            for (SaverMessage m : {SaverMessage::KeyDown, SaverMessage::LeftButtonDown, SaverMessage::MiddleButtonDown})
                HandleSaverMessage(State.Window, m);
            Host().cursorX += 5;
        }
        if (tick < 700) return true;
        linuxImage = ImageBytes();
        linuxStatus = Host().statusText;
        return false;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(State.Mode, RunMode::Window);
    EXPECT_EQ(Host().ticksRun, 700u) << "input ended the run in a host's window";
    EXPECT_EQ(std::count(Host().calls.begin(), Host().calls.end(), "TakeInstanceLock"), 0);
    EXPECT_EQ(std::count(Host().calls.begin(), Host().calls.end(), "HideCursor"), 0);
    EXPECT_EQ(Host().timerPeriod, 20000u);
    EXPECT_EQ(State.ImageHeight, 240 - StatusStripHeight);
    EXPECT_EQ(State.PointCount, 900);
    EXPECT_EQ(Host().frameTop, StatusStripHeight);

    ResetAll();
    StartOptions start;
    start.ini = Gallery;
    start.seed = 99;
    ASSERT_EQ(StartSaver(start), 0);
    for (std::uint32_t tick = 1; tick <= 700; ++tick) TickAt(10 * tick);
    EXPECT_EQ(ImageBytes(), linuxImage);
    EXPECT_EQ(Host().statusText, linuxStatus);
    EXPECT_FALSE(linuxStatus.empty());
}

TEST_F(LinuxSaverTest, RootDrawsOnTheWholeScreenUntilTheRootGoes) {
    // --root without XSCREENSAVER_WINDOW: window 0, the root window, as large as the screen. The
    // host may resize it (a new screen size) and end it; input ends nothing.
    Host().metrics = {0, 0, 320, 240, 320, 240};
    const Parsed p = Parse({"--root"});
    ASSERT_TRUE(p.ok);
    std::int32_t firstWidth = 0, firstHeight = 0, firstImage = 0;
    const int code = RunLinux(p.options, Gallery, [&](std::uint32_t tick) {
        if (tick == 1) {
            firstWidth = State.ScreenWidth;
            firstHeight = State.ScreenHeight;
            firstImage = State.ImageHeight;
            HandleSaverMessage(State.Window, SaverMessage::KeyDown);
        }
        if (tick == 5) Host().ResizeWindow(State.Window, 400, 300);
        if (tick == 10) Host().DestroyWindow(State.Window);
        return tick < 50;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(State.Mode, RunMode::Window);
    EXPECT_EQ(firstWidth, 320);
    EXPECT_EQ(firstHeight, 240);
    EXPECT_EQ(firstImage, 240 - StatusStripHeight);
    EXPECT_EQ(State.ScreenWidth, 400) << "the root's new size";
    EXPECT_EQ(State.ScreenHeight, 300);
    EXPECT_EQ(Host().pictureWidth, 400);
    EXPECT_EQ(Host().ticksRun, 10u) << "the root gone ends the run at once";
    EXPECT_EQ(std::count(Host().calls.begin(), Host().calls.end(), "EndMessageLoop"), 1);
    EXPECT_TRUE(Host().messages.empty());
}

TEST(LinuxSaverFitTest, TheDefaultWindowFitsTheScreenItOpensOn) {
    const struct {
        platform::ScreenMetrics screen;
        std::int32_t width, height;
    } cases[] = {
        {{0, 0, 1920, 1080, 1920, 1080}, 1280, 800},  // fits
        {{0, 0, 1024, 768, 1024, 768}, 921, 575},     // nine tenths of the width, its shape kept
        {{0, 0, 1366, 768, 1366, 768}, 1105, 691},    // nine tenths of the height
        {{0, 0, 3000, 768, 1024, 768}, 921, 575},     // the primary monitor, not all of them
        {{0, 0, 800, 600, 0, 0}, 720, 450},           // no primary: the whole screen
        {{0, 0, 0, 0, 0, 0}, 1280, 800},              // a host that cannot tell (Wayland)
        {{0, 0, 2, 2, 2, 2}, 1, 1},
    };
    for (const auto& c : cases) {
        std::int32_t width = 1280, height = 800;
        FitWindowToScreen(c.screen, &width, &height);
        EXPECT_EQ(width, c.width) << c.screen.virtualWidth << "x" << c.screen.virtualHeight;
        EXPECT_EQ(height, c.height) << c.screen.virtualWidth << "x" << c.screen.virtualHeight;
    }
    // The start-up asks the screen for the default window only, not for --geometry.
    for (const bool geometry : {false, true}) {
        ResetAll();
        Host().metrics = {0, 0, 1024, 768, 1024, 768};
        const Parsed p = Parse(geometry ? std::vector<const char*>{"--geometry", "1280x800"} : std::vector<const char*>{});
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(RunLinux(p.options, "500\n1\n0 0 0 0 0.5 0.5 100\n0 0 1 1\n", [](std::uint32_t tick) {
                      if (tick == 2) HandleSaverMessage(State.Window, SaverMessage::Close);
                      return tick < 50;
                  }), 0);
        EXPECT_EQ(Host().windowWidth, geometry ? 1280 : 921);
        EXPECT_EQ(Host().windowHeight, geometry ? 800 : 575);
    }
    ResetAll();
}

TEST_F(LinuxSaverTest, DesktopWindowsAndHowTheyEnd) {
    Host().metrics = {0, 0, 640, 480, 640, 480};
    LinuxOptions options;
    options.target = LinuxTarget::FullScreen;
    options.status = true;
    EXPECT_EQ(RunLinux(options, "500\n1\n0 0 0 0 0.5 0.5 100\n0 0 1 1\n", [](std::uint32_t tick) {
                  if (tick == 3) HandleSaverMessage(State.Window, SaverMessage::RightButtonDown);
                  return tick < 50;
              }), 0);
    EXPECT_EQ(Host().ticksRun, 3u) << "a button ends the full-screen run";
    EXPECT_TRUE(Host().desktopFullScreen);
    EXPECT_EQ(Host().desktopTitle, "Lumivex");
    EXPECT_EQ(State.ScreenWidth, 640);
    EXPECT_EQ(State.ScreenHeight, 480) << "the whole screen, its last row too";
    EXPECT_EQ(Host().cursorShowCount, 0) << "hidden, then shown again";
    EXPECT_TRUE(State.ShowStatus) << "--status, though the count is positive";
    EXPECT_EQ(State.Mode, RunMode::Saver);

    ResetAll();
    options = LinuxOptions{};
    options.width = 300;
    options.height = 200;
    EXPECT_EQ(RunLinux(options, "500\n1\n0 0 0 0 0.5 0.5 100\n0 0 1 1\n", [](std::uint32_t tick) {
                  if (tick == 3) HandleSaverMessage(State.Window, SaverMessage::KeyDown);
                  if (tick == 6) HandleSaverMessage(State.Window, SaverMessage::Close);
                  return tick < 50;
              }), 0);
    EXPECT_EQ(Host().ticksRun, 6u) << "a key does not end the desktop window, closing it does";
    EXPECT_FALSE(Host().desktopFullScreen);
    EXPECT_EQ(State.ScreenWidth, 300);
    EXPECT_EQ(State.ImageHeight, 200 - StatusStripHeight);
    EXPECT_TRUE(Host().windowDestroyed);

    // Failures of the window: their messages and codes.
    for (auto [outcome, expected] : {std::pair{platform::WindowOutcome::NoDisplay, -3},
                                     std::pair{platform::WindowOutcome::UnsupportedVisual, 1}}) {
        ResetAll();
        Host().desktopOutcome = outcome;
        EXPECT_EQ(RunLinux(LinuxOptions{}, "500\n"), expected);
        ASSERT_EQ(Host().messages.size(), 1u);
    }
    ResetAll();
    options = LinuxOptions{};
    options.target = LinuxTarget::WindowId;
    options.windowId = 0xBEEF;
    EXPECT_EQ(RunLinux(options, "500\n"), -3);
    ASSERT_EQ(Host().messages.size(), 1u);
    EXPECT_EQ(Host().messages[0], "There is no window 0xbeef to draw in. Now quitting.");
}

TEST_F(LinuxSaverTest, AResizedWindowGetsANewFrameAndGivesTheOldOneBack) {
    Host().parentWindows.push_back({Handle(77), {0, 0, 320, 240}});
    LinuxOptions options;
    options.target = LinuxTarget::WindowId;
    options.windowId = 77;
    const std::int32_t sizes[][2] = {{500, 400}, {64, 10}, {0, 0}, {321, 257}, {200, 300}};
    std::uint64_t otherBytes = 0;  // everything but the frame image
    const int code = RunLinux(options, Gallery, [&](std::uint32_t tick) {
        if (tick == 1) {
            otherBytes = AllocatedBytes() - static_cast<std::uint64_t>(State.VScreenStride) * State.ImageHeight;
            // Room for the arrays there are now and one frame of 500 x 400, no more: every old
            // frame must be given back for the resizes below to go through.
            SetMemoryBound(otherBytes + 500 * 384);
        }
        // Every tick draws within the frame it has (the sanitizer build watches the bytes).
        EXPECT_EQ(Host().frameHeader.Width, State.ScreenWidth);
        EXPECT_EQ(Host().frameHeader.Height, State.ImageHeight);
        const std::uint32_t step = tick / 40;
        if (tick % 40 == 0 && step <= 10) {
            const auto* size = sizes[step % 5];
            Host().parentWindows[0].second = {0, 0, size[0], size[1]};
            const int strips = Host().stripsBlackened;
            HandleSaverMessage(State.Window, SaverMessage::Resize);
            EXPECT_EQ(State.ScreenWidth, size[0]);
            EXPECT_EQ(State.ScreenHeight, size[1]);
            EXPECT_EQ(State.ImageHeight, size[1] > 16 ? size[1] - 16 : 0);
            EXPECT_EQ(Host().pictureWidth, size[0]);
            EXPECT_EQ(Host().pictureHeight, size[1]);
            EXPECT_EQ(Host().stripsBlackened, strips + 1);
            EXPECT_EQ(State.PlottedPoints, -1);
        }
        return tick < 900;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Host().ticksRun, 900u);
    EXPECT_TRUE(Host().messages.empty()) << Host().messages[0];
    EXPECT_EQ(AllocatedBytes(), otherBytes + static_cast<std::uint64_t>(State.VScreenStride) * State.ImageHeight)
        << "the last frame and nothing else was added";
    // A Pick after the last resize made points for the new size.
    bool inside = true;
    for (std::int32_t i = 0; i < State.ShownPoints; ++i)
        inside = inside && State.Pts2[i].x >= 0 && State.Pts2[i].x <= 500 && State.Pts2[i].y >= 0 && State.Pts2[i].y <= 400;
    EXPECT_TRUE(inside);
}

// The arrays may take half of the machine's memory, on both start-ups: a count whose arrays need
// 40 % of it runs, one that needs 60 % is refused at once with the saver's own message. Each
// start-up sets its own regulation.
TEST_F(LinuxSaverTest, TheArraysTakeAtMostHalfOfTheMachinesMemory) {
    constexpr std::uint64_t Physical = std::uint64_t{64} << 20;
    constexpr std::uint64_t PerPoint = 4 * sizeof(ScreenPoint) + 2 * sizeof(std::int32_t);
    for (const bool linux : {true, false}) {
        for (const auto& [percent, code] : {std::pair{40, 0}, std::pair{60, 1}}) {
            ResetAll();
            ForgetHandedOutBytes();  // what earlier tests left counted
            Host().physicalMemory = Physical;
            const std::string ini = std::to_string(Physical * percent / 100 / PerPoint) + "\n" + FernDefinition();
            const int result = linux ? RunLinux(LinuxOptions{}, ini, [](std::uint32_t) { return false; })
                                     : StartSaver({ini, 64, 48});
            EXPECT_EQ(result, code) << (linux ? "Linux " : "Windows ") << percent << " %: " << (Host().messages.empty() ? "" : Host().messages.back());
            // Each start-up also chooses how points come back.
            EXPECT_EQ(State.Regulation, linux ? PointRegulation::FastRun : PointRegulation::ZeroInterval);
            if (code != 0) {
                ASSERT_FALSE(Host().messages.empty());
                EXPECT_EQ(Host().messages.back().rfind("Not enough memory (Pts", 0), 0u) << Host().messages.back();
            }
        }
    }
}

TEST_F(LinuxSaverTest, AFrameThatCannotBeAllocatedAfterAResizeEndsTheRun) {
    Host().parentWindows.push_back({Handle(77), {0, 0, 320, 240}});
    LinuxOptions options;
    options.target = LinuxTarget::WindowId;
    options.windowId = 77;
    const int code = RunLinux(options, Gallery, [](std::uint32_t tick) {
        if (tick == 10) {
            SetAllocationLimit(1000);
            Host().parentWindows[0].second = {0, 0, 400, 300};
            HandleSaverMessage(State.Window, SaverMessage::Resize);
        }
        return tick < 100;
    });
    EXPECT_EQ(code, static_cast<int>(StartResult::VScreenFailed));
    EXPECT_EQ(Host().ticksRun, 10u);
    ASSERT_EQ(Host().messages.size(), 1u);
    EXPECT_EQ(Host().messages[0], VScreenMessage);

    ResetAll();
    Host().parentWindows.push_back({Handle(77), {0, 0, 320, 240}});
    Host().pictureFails = true;  // the window's own picture is part of the frame too
    EXPECT_EQ(RunLinux(options, Gallery), static_cast<int>(StartResult::VScreenFailed));
}
