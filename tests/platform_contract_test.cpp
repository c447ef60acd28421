// The seam's rules (platform/platform.h) that need the headless host's own data or the real saver
// behind the backend; those any host keeps are the list of platform_contract_checks.cpp.
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "saver/saver_main.h"
#include "test_support.h"

using PlatformContract = SaverTest;

namespace {
PlatformHandle Handle(std::intptr_t value) { return reinterpret_cast<PlatformHandle>(value); }
}  // namespace

TEST_F(PlatformContract, SystemDirectoryIsWholeOrEmpty) {
    Host().systemDirectory = "C:\\WINDOWS\\system32";  // 19 characters
    char buffer[32];
    const auto attempt = [&buffer](unsigned capacity) {
        std::memset(buffer, 'x', sizeof buffer);
        return platform::SystemDirectory(buffer, capacity);
    };
    EXPECT_EQ(attempt(20), 19u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS\\system32");
    EXPECT_EQ(attempt(19), 0u) << "no room for the NUL: an empty name, never a cut-off one";
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(attempt(1), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(attempt(0), 0u);
    EXPECT_EQ(buffer[0], 'x') << "a capacity of 0 writes nothing";
}

TEST_F(PlatformContract, AnUnavailableLockLeavesNoHandle) {
    const platform::LockOutcome outcomes[] = {platform::LockOutcome::Taken, platform::LockOutcome::AlreadyHeld,
                                              platform::LockOutcome::Unavailable};
    for (const platform::LockOutcome outcome : outcomes) {
        Host().lockOutcome = outcome;
        PlatformHandle lock = Handle(5);
        EXPECT_EQ(platform::TakeInstanceLock(&lock), outcome);
        EXPECT_EQ(lock == nullptr, outcome == platform::LockOutcome::Unavailable);
    }
}

TEST_F(PlatformContract, FailedQueriesLeaveTheirAnswersAlone) {
    platform::Rect rect = {1, 2, 3, 4};
    platform::ParentClientRect(Handle(99), &rect);  // no such window
    EXPECT_EQ(rect.left + rect.top + rect.right + rect.bottom, 10);
    EXPECT_EQ(platform::CreateSaverWindow(nullptr, Handle(99), 0, 0, 10, 10), nullptr);
    Host().cursorReadable = false;
    std::int32_t x = 7, y = 8;
    EXPECT_FALSE(platform::ReadCursorPosition(&x, &y));
    EXPECT_EQ(x, 7);
    EXPECT_EQ(y, 8);
}

TEST_F(PlatformContract, DestroyDeliversTheDestroyMessageOnceBeforeItReturns) {
    ASSERT_EQ(StartSaver({FixedPointFile(10, 1)}), 0);
    Host().calls.clear();
    platform::DestroySaverWindow(State.Window);
    EXPECT_TRUE(Host().quitPosted) << "the saver's Destroy handler has run";
    platform::DestroySaverWindow(State.Window);
    EXPECT_EQ(Host().calls, (std::vector<std::string>{"DestroySaverWindow", "EndMessageLoop", "DestroySaverWindow"}));
}

TEST_F(PlatformContract, TheLoopHandsTimerMessagesToTheSaverUntilTheQuit) {
    ASSERT_EQ(StartSaver({FixedPointFile(10, 1)}), 0);
    Host().nextTick = [](std::uint32_t* now) {
        *now += 10;
        return true;
    };
    Host().afterTick = [](std::uint32_t tick) {
        if (tick == 3) platform::EndMessageLoop(State.Window);
    };
    platform::RunMessageLoop();
    EXPECT_EQ(Host().ticksRun, 3u);
    EXPECT_EQ(Host().framesPresented, 3) << "each timer message reached the saver's tick";
}

TEST_F(PlatformContract, FramesComeWithTheStrideOfAnEightBitDib) {
    for (const std::int32_t width : {1, 2, 3, 4, 5, 37, 640}) {
        ResetAll();
        ASSERT_EQ(StartSaver({FixedPointFile(10, 1), width, 20}), 0);
        TickAt(10);
        EXPECT_EQ(Host().frameHeader.Width, width);
        EXPECT_EQ(Host().frameStride, (width + 3) / 4 * 4) << "width " << width;
        EXPECT_EQ(Host().frameBits, State.VScreen);
    }
}

TEST(PlatformContractNative, PhysicalMemoryIsKnownOnThisMachine) {
    EXPECT_GE(platform::PhysicalMemoryBytes(), std::uint64_t{64} << 20);
}
