// The one list of the seam's rules that every host can be held to natively (platform_contract.h).
#include <string>

#include <gtest/gtest.h>

#include "platform_contract.h"

using platform::WindowOutcome;

ContractRecord& Record() {
    static ContractRecord record;
    return record;
}

bool ContractSaverMessage(PlatformHandle window, SaverMessage message) {
    ++Record().handedUp[static_cast<int>(message)];
    switch (message) {
        case SaverMessage::Destroy:
            platform::EndMessageLoop(window);
            return true;
        case SaverMessage::Paint:
            platform::AcceptPaint(window);
            return true;
        case SaverMessage::Close:
            platform::DestroySaverWindow(window);
            return true;
        case SaverMessage::Timer:
            if (Record().onTimer) Record().onTimer(window, Record().Count(SaverMessage::Timer));
            return true;
        case SaverMessage::Other:
            return false;
        default:
            return true;
    }
}

namespace {

PlatformHandle Sentinel() { return reinterpret_cast<PlatformHandle>(std::intptr_t{0x51}); }

PlatformHandle OwnWindow(std::int32_t width, std::int32_t height) {
    PlatformHandle window = nullptr;
    EXPECT_EQ(platform::CreateDesktopWindow(false, "Lumivex contract", width, height, &window), WindowOutcome::Ok);
    return window;
}

PlatformHandle Adopt(std::uint64_t id) {
    PlatformHandle window = nullptr;
    EXPECT_EQ(platform::AdoptHostWindow(id, &window), WindowOutcome::Ok) << "window " << id;
    return window;
}

// Runs the message loop on a 1 ms timer until `done` holds at a Timer (the quit posted there),
// or `limit` timers have come.
void RunLoopUntil(PlatformHandle window, const std::function<bool()>& done, int limit = 2000) {
    const int first = Record().Count(SaverMessage::Timer);
    Record().onTimer = [&](PlatformHandle w, int timers) {
        if (done() || timers - first >= limit) platform::EndMessageLoop(w);
    };
    platform::SetFrameTimerPeriod(1000);
    platform::StartFrameTimer(window);
    platform::RunMessageLoop();
    Record().onTimer = nullptr;
}

int Handed(SaverMessage message) { return Record().Count(message); }

void Fresh(ContractHost& host) {
    host.Reset();
    Record() = ContractRecord{};
}

// A fresh host and a 64x48 window in it: one of the program's own, or a host's window adopted
// (its id in *id, else 0).
PlatformHandle FreshWindow(ContractHost& host, bool adopted, std::uint64_t* id) {
    Fresh(host);
    *id = adopted ? host.MakeHostWindow(64, 48) : 0;
    return adopted ? Adopt(*id) : OwnWindow(64, 48);
}

struct ContractCheck {
    const char* name;
    void (*run)(ContractHost& host);
};

void PrintTo(const ContractCheck& check, std::ostream* out) { *out << check.name; }

const ContractCheck Checks[] = {
    {"WindowZeroIsTheRootAsLargeAsTheScreen",
     [](ContractHost&) {
         const PlatformHandle root = Adopt(0);
         ASSERT_NE(root, nullptr);
         const platform::ScreenMetrics screen = platform::ReadScreenMetrics();
         std::int32_t width = -1, height = -1;
         platform::WindowClientSize(root, &width, &height);
         EXPECT_GT(width, 0);
         EXPECT_EQ(width, screen.virtualWidth);
         EXPECT_EQ(height, screen.virtualHeight);
         platform::DestroySaverWindow(root);
         EXPECT_EQ(Handed(SaverMessage::Destroy), 1);
     }},
    {"AnUnknownIdIsNoSuchWindowAndLeavesTheHandle",
     [](ContractHost& host) {
         PlatformHandle window = Sentinel();
         EXPECT_EQ(platform::AdoptHostWindow(host.UnknownWindowId(), &window), WindowOutcome::NoSuchWindow);
         EXPECT_EQ(window, Sentinel());
     }},
    {"DestroyComesOnceBeforeDestroySaverWindowReturns",
     [](ContractHost& host) {
         for (const bool adopted : {false, true}) {
             std::uint64_t id = 0;
             const PlatformHandle window = FreshWindow(host, adopted, &id);
             ASSERT_NE(window, nullptr);
             platform::DestroySaverWindow(window);
             EXPECT_EQ(Handed(SaverMessage::Destroy), 1) << "adopted " << adopted << ": before it returns";
             platform::DestroySaverWindow(window);
             EXPECT_EQ(Handed(SaverMessage::Destroy), 1) << "adopted " << adopted << ": a window already gone";
             // The quit that the Destroy drew was posted before the loop: it ends the loop at once.
             RunLoopUntil(window, [] { return false; }, 50);
             EXPECT_EQ(Handed(SaverMessage::Timer), 0) << "adopted " << adopted;
             if (adopted) {
                 EXPECT_TRUE(host.HostWindowExists(id)) << "a host's window is the host's to destroy";
                 host.DestroyHostWindow(id);
             }
         }
     }},
    {"AWindowTheHostDestroysComesAsOneDestroy",
     [](ContractHost& host) {
         const std::uint64_t id = host.MakeHostWindow(64, 48);
         const PlatformHandle window = Adopt(id);
         host.DestroyHostWindow(id);
         RunLoopUntil(window, [] { return false; });
         EXPECT_EQ(Handed(SaverMessage::Destroy), 1);
         EXPECT_LT(Handed(SaverMessage::Timer), 2000) << "the loop ended at the Destroy";
         std::int32_t width = -7, height = -7;
         platform::WindowClientSize(window, &width, &height);
         EXPECT_EQ(width + height, -14) << "a window gone has no size to give";
         platform::DestroySaverWindow(window);
         EXPECT_EQ(Handed(SaverMessage::Destroy), 1) << "no second Destroy for a window already gone";
     }},
    {"TimersComeUntilTheQuitWhichTheLoopConsumes",
     [](ContractHost&) {
         const PlatformHandle window = OwnWindow(64, 48);
         RunLoopUntil(window, [] { return Handed(SaverMessage::Timer) == 3; });
         EXPECT_EQ(Handed(SaverMessage::Timer), 3) << "no Timer after the quit";
         RunLoopUntil(window, [] { return false; }, 5);
         EXPECT_EQ(Handed(SaverMessage::Timer), 8) << "the next loop waits for a quit of its own";
         platform::DestroySaverWindow(window);
         EXPECT_EQ(Handed(SaverMessage::Destroy), 1);
     }},
    {"AResizeComesUpAndWindowClientSizeAnswersIt",
     [](ContractHost& host) {
         for (const bool adopted : {false, true}) {
             std::uint64_t id = 0;
             const PlatformHandle window = FreshWindow(host, adopted, &id);
             ASSERT_NE(window, nullptr);
             std::int32_t width = 0, height = 0;
             platform::WindowClientSize(window, &width, &height);
             EXPECT_EQ(width, 64) << "adopted " << adopted;
             EXPECT_EQ(height, 48) << "adopted " << adopted;
             host.ResizeWindow(window, 96, 72);
             RunLoopUntil(window, [] { return Handed(SaverMessage::Resize) > 0; });
             EXPECT_EQ(Handed(SaverMessage::Resize), 1) << "adopted " << adopted;
             platform::WindowClientSize(window, &width, &height);
             EXPECT_EQ(width, 96) << "adopted " << adopted;
             EXPECT_EQ(height, 72) << "adopted " << adopted;
             platform::DestroySaverWindow(window);
             if (adopted) host.DestroyHostWindow(id);
         }
     }},
};

class Contract : public testing::TestWithParam<ContractCheck> {
protected:
    void SetUp() override { Fresh(HostUnderTest()); }
};

TEST_P(Contract, Holds) { GetParam().run(HostUnderTest()); }

INSTANTIATE_TEST_SUITE_P(Seam, Contract, testing::ValuesIn(Checks),
                         [](const testing::TestParamInfo<ContractCheck>& info) { return std::string(info.param.name); });

}  // namespace
