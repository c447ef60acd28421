// Start-up: run modes, the preview handle, geometry, exit codes and order, and the input rules.
#include <algorithm>
#include <string>
#include <vector>

#include "core/arrays.h"
#include "saver/saver_run.h"
#include "saver/win32_saver.h"
#include "test_support.h"

using StartupTest = SaverTest;
using Calls = std::vector<std::string>;

namespace {

const std::string Ini = "-500\n1\n0.5 0 0 0.5 0 0 100\n0 0 1 1\n";

// Runs SaverMain on a command line with the given number of ticks.
int RunCommandLine(const std::string& commandLine, int ticks = 0) {
    HeadlessHost& host = Host();
    host.commandLine = commandLine;
    host.useDefinitionFile = true;
    host.definitionFile = WriteTempFile(Ini);
    int left = ticks;
    host.nextTick = [&left](std::uint32_t* now) {
        *now += 10;
        return left-- > 0;
    };
    const int code = SaverMain(reinterpret_cast<PlatformHandle>(std::intptr_t{1}));
    std::remove(host.definitionFile.c_str());
    return code;
}

PlatformHandle Handle(std::intptr_t value) { return reinterpret_cast<PlatformHandle>(value); }

}  // namespace

TEST(RunModeTest, SubstringSearchesInOrder) {
    EXPECT_EQ(ChooseRunMode(""), RunMode::Configure);
    EXPECT_EQ(ChooseRunMode("lumivex.scr"), RunMode::Configure);
    EXPECT_EQ(ChooseRunMode("lumivex.scr /c:1234"), RunMode::Configure);
    EXPECT_EQ(ChooseRunMode("lumivex.scr /P 12"), RunMode::Configure) << "the upper-case preview switch is not recognised";
    EXPECT_EQ(ChooseRunMode("lumivex.scr /s"), RunMode::Saver);
    EXPECT_EQ(ChooseRunMode("lumivex.scr /S"), RunMode::Saver);
    EXPECT_EQ(ChooseRunMode("lumivex.scr /start"), RunMode::Saver);
    EXPECT_EQ(ChooseRunMode("C:/tools/lumivex.scr"), RunMode::Configure);
    EXPECT_EQ(ChooseRunMode("C:/savers/lumivex.scr"), RunMode::Saver) << "a path with /s in it";
    EXPECT_EQ(ChooseRunMode("lumivex.scr /p 12"), RunMode::Preview);
    EXPECT_EQ(ChooseRunMode("lumivex.scr /s /p 12"), RunMode::Preview);
    EXPECT_EQ(ChooseRunMode("lumivex.scr /p 12 /S"), RunMode::Saver);
}

TEST(RunModeTest, PreviewHandleIsReadLikePercentI) {
    for (const char* line : {"x.scr /p 26", "x.scr /p0x1A", "x.scr /p 032", "x.scr /p\t+26 /p 9"}) {
        EXPECT_EQ(ParsePreviewHandle(line), Handle(26)) << line;
    }
    for (const char* line : {"x.scr /p", "x.scr /p ", "x.scr /p 0", "x.scr /p abc", "x.scr /s"}) {
        EXPECT_EQ(ParsePreviewHandle(line), nullptr) << line;
    }
    EXPECT_EQ(ParsePreviewHandle("/p 99999999999"), Handle(2147483647)) << "out of range saturates";
    EXPECT_EQ(ParsePreviewHandle("/p -7"), Handle(-7));
}

TEST(RunModeTest, OnlyPreviewIgnoresInput) {
    EXPECT_TRUE(InputEndsRun(RunMode::Saver));
    EXPECT_FALSE(InputEndsRun(RunMode::Preview));
}

TEST_F(StartupTest, NoSwitchEndsAtOnceAndCreatesNothing) {
    EXPECT_EQ(RunCommandLine("lumivex.scr"), 0);
    EXPECT_EQ(Host().calls, (Calls{"CommandLine"}));
    EXPECT_EQ(State.Mode, RunMode::Configure);
}

TEST_F(StartupTest, SaverRunsInOrderAndEndsOnAKey) {
    Host().afterTick = [](std::uint32_t tick) {
        if (tick == 3) HandleSaverMessage(State.Window, SaverMessage::KeyDown);
    };
    EXPECT_EQ(RunCommandLine("lumivex.scr /s", 100), 0);
    EXPECT_EQ(Host().ticksRun, 3u);
    EXPECT_EQ(Host().calls, (Calls{"CommandLine", "TakeInstanceLock", "PrepareWindowing", "CreateSaverWindow",
                                   "PrepareWindowPicture", "ShowSaverWindow", "HideCursor", "BlackenStrip", "StartFrameTimer", "RunMessageLoop",
                                   "DestroySaverWindow", "EndMessageLoop", "ShowCursorAgain"}));
    EXPECT_EQ(Host().cursorShowCount, 0);
    EXPECT_EQ(State.ShowStatus, 1);
    EXPECT_EQ(State.PointCount, 500);
}

TEST_F(StartupTest, PreviewKeepsTheCursorAndClearsTheStatusLine) {
    Host().parentWindows.push_back({Handle(0x1A), {0, 0, 152, 112}});
    Host().afterTick = [](std::uint32_t) {
        for (auto m : {SaverMessage::KeyDown, SaverMessage::LeftButtonDown, SaverMessage::RightButtonDown,
                       SaverMessage::MiddleButtonDown}) {
            EXPECT_TRUE(HandleSaverMessage(State.Window, m));
        }
        Host().cursorX += 5;
    };
    EXPECT_EQ(RunCommandLine("lumivex.scr /p 26", 20), 0);
    EXPECT_EQ(Host().ticksRun, 20u) << "input and mouse movement do not end a preview";
    EXPECT_FALSE(Host().windowDestroyed);
    EXPECT_EQ(Host().windowParent, Handle(26));
    EXPECT_EQ(State.ScreenWidth, 152);
    EXPECT_EQ(State.ScreenHeight, 112);
    EXPECT_EQ(State.ImageHeight, 112);
    EXPECT_EQ(State.PointCount, 50);
    EXPECT_EQ(State.ShowStatus, 0);
    EXPECT_FALSE(Host().statusDrawn);
    EXPECT_EQ(Host().cursorShowCount, 1) << "the cursor is only shown again, never hidden";
}

TEST_F(StartupTest, PreviewWithoutAReadableHandleIsAFullScreenPopup) {
    Host().metrics = {-1280, 0, 3200, 1201, 1920, 1200};
    Host().afterTick = [](std::uint32_t) { HandleSaverMessage(State.Window, SaverMessage::KeyDown); };
    EXPECT_EQ(RunCommandLine("lumivex.scr /p", 5), 0);
    EXPECT_EQ(Host().windowParent, nullptr);
    EXPECT_EQ(Host().windowX, -1280);
    EXPECT_EQ(Host().windowWidth, 3200);
    EXPECT_EQ(Host().windowHeight, 1200);
    EXPECT_EQ(State.ImageHeight, 1200 - 16);
    EXPECT_EQ(Host().ticksRun, 5u) << "a key does not end a preview";
}

TEST_F(StartupTest, GeometryFallsBackToThePrimaryScreen) {
    Host().metrics = {0, 0, 0, 0, 1024, 768};
    EXPECT_EQ(RunCommandLine("x /s"), 0);
    EXPECT_EQ(State.ScreenWidth, 1023);
    EXPECT_EQ(State.ScreenHeight, 767);
    EXPECT_EQ(State.ImageHeight, 751);
}

TEST_F(StartupTest, FailuresReturnTheirCodes) {
    Host().lockOutcome = platform::LockOutcome::AlreadyHeld;
    EXPECT_EQ(RunCommandLine("x /s"), -1);
    EXPECT_EQ(Host().calls, (Calls{"CommandLine", "TakeInstanceLock"}));
    EXPECT_TRUE(Host().messages.empty());

    ResetAll();
    Host().lockOutcome = platform::LockOutcome::Unavailable;
    EXPECT_EQ(RunCommandLine("x /s"), 0) << "a run without a lock goes on";

    ResetAll();
    Host().windowingFails = true;
    EXPECT_EQ(RunCommandLine("x /s"), -2);
    ResetAll();
    Host().createFails = true;
    EXPECT_EQ(RunCommandLine("x /s"), -3);
    ResetAll();
    EXPECT_EQ(RunCommandLine("x /p 12345"), -3) << "a handle that names no window";
    EXPECT_TRUE(Host().messages.empty());

    ResetAll();
    FailAllocationsAfter(0);
    EXPECT_EQ(RunCommandLine("x /s"), -4);
    EXPECT_EQ(Host().messages, (std::vector<std::string>{"Allocation error (VScreen)"}));
    EXPECT_EQ(Host().captions.at(0), "Lumivex: Error");

    ResetAll();
    Host().commandLine = "x /s";
    Host().systemDirectory = "/nonexistent";
    EXPECT_EQ(SaverMain(nullptr), 1);
    EXPECT_EQ(Host().messages.size(), 1u);
    EXPECT_EQ(std::count(Host().calls.begin(), Host().calls.end(), "StartFrameTimer"), 0);
}

TEST_F(StartupTest, AWindowShorterThanTheStripHasAnEmptyImage) {
    Host().metrics = {0, 0, 50, 11, 50, 11};
    EXPECT_EQ(RunCommandLine("x /s", 30), 0);
    EXPECT_EQ(State.ScreenHeight, 10);
    EXPECT_EQ(State.ImageHeight, 0);
    EXPECT_EQ(Host().ticksRun, 30u);
}

TEST_F(StartupTest, HugeScreensFailCleanly) {
    Host().metrics = {0, 0, 2147483647, 2147483647, 0, 0};
    SetAllocationLimit(std::uint64_t{1} << 32);
    EXPECT_EQ(RunCommandLine("x /s"), -4);
    EXPECT_EQ(Host().messages.at(0), "Allocation error (VScreen)");
    ResetAll();
    Host().metrics = {0, 0, -40, 100, 0, 0};  // nonsense metrics must not write outside the image
    EXPECT_EQ(RunCommandLine("x /s", 30), 0);
    EXPECT_EQ(State.ScreenWidth, 0);
    EXPECT_EQ(State.VScreenStride, 0);
    ResetAll();
    Host().parentWindows.push_back({Handle(5), {10, 10, 0, -30}});
    EXPECT_EQ(RunCommandLine("x /p 5", 30), 0);
    EXPECT_EQ(State.ScreenWidth, 0);
    EXPECT_EQ(State.ScreenHeight, 0);
    EXPECT_EQ(State.ImageHeight, 0);
}

TEST_F(StartupTest, AMouseMoveOfOnePixelEndsTheSaverAtTheNextTick) {
    Host().cursorX = 400;
    Host().cursorY = 300;
    Host().afterTick = [](std::uint32_t tick) {
        if (tick == 4) Host().cursorY += 1;
    };
    EXPECT_EQ(RunCommandLine("x /s", 100), 0);
    EXPECT_EQ(Host().ticksRun, 5u);
    EXPECT_TRUE(Host().windowDestroyed);
    EXPECT_EQ(Host().framesPresented, 4) << "the tick that ends the run draws nothing";
}

TEST_F(StartupTest, AnUnreadableCursorIsNeverCompared) {
    Host().cursorReadable = false;
    Host().afterTick = [](std::uint32_t tick) {
        if (tick == 3) {
            Host().cursorReadable = true;  // the first position read stands in for the start-up one
            Host().cursorX = 77;
        }
        if (tick == 6) Host().cursorReadable = false;
        if (tick == 8) {
            Host().cursorReadable = true;
            Host().cursorX = 78;
        }
    };
    EXPECT_EQ(RunCommandLine("x /s", 100), 0);
    EXPECT_EQ(Host().ticksRun, 9u);
}

TEST_F(StartupTest, EachButtonEndsTheSaverButOtherMessagesDoNot) {
    for (auto m : {SaverMessage::LeftButtonDown, SaverMessage::RightButtonDown, SaverMessage::MiddleButtonDown}) {
        ResetAll();
        Host().afterTick = [m](std::uint32_t tick) {
            EXPECT_FALSE(HandleSaverMessage(State.Window, SaverMessage::Other));
            EXPECT_TRUE(HandleSaverMessage(State.Window, SaverMessage::Paint));
            if (tick == 2) HandleSaverMessage(State.Window, m);
        };
        EXPECT_EQ(RunCommandLine("x /s", 50), 0);
        EXPECT_EQ(Host().ticksRun, 2u);
    }
}
