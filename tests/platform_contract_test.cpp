// The seam's rules (platform/platform.h) that need the headless host's own data or the real saver
// behind the backend; those any host keeps are the one list of platform_contract_checks.cpp.
#include "platform/win32_host.h"
#include "test_support.h"

using PlatformContract = SaverTest;

namespace {
PlatformHandle Handle(std::intptr_t value) { return reinterpret_cast<PlatformHandle>(value); }
}  // namespace

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
