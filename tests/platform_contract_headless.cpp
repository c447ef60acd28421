// The seam's rules held against the headless backend, with the stand-in saver of
// platform_contract.h in place of the real one.
#include "backends/headless/headless_host.h"
#include "platform_contract.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

PlatformHandle AsHandle(std::uint64_t id) { return reinterpret_cast<PlatformHandle>(static_cast<std::uintptr_t>(id)); }

class HeadlessContractHost : public ContractHost {
public:
    void Reset() override {
        ResetHost();
        platform::SaverHandler = ContractSaverMessage;
        Host().systemDirectory = "C:\\WINDOWS\\system32";  // cut at every length below
        Host().commandLine = "lumivex-contract --window-id 0x400";
        Host().nextTick = [](std::uint32_t* now) {
            *now += 1;
            return true;
        };
        nextId_ = 0x4000;
    }
    std::uint64_t MakeHostWindow(std::int32_t width, std::int32_t height) override {
        Host().parentWindows.push_back({AsHandle(++nextId_), {0, 0, width, height}});
        return nextId_;
    }
    void DestroyHostWindow(std::uint64_t id) override { Host().DestroyWindow(AsHandle(id)); }
    bool HostWindowExists(std::uint64_t id) override {
        for (const auto& known : Host().parentWindows) {
            if (known.first == AsHandle(id)) return true;
        }
        return false;
    }
    void ResizeWindow(PlatformHandle window, std::int32_t width, std::int32_t height) override {
        Host().ResizeWindow(window, width, height);
    }
    std::uint64_t UnknownWindowId() override { return 0x3FFF; }

private:
    std::uint64_t nextId_ = 0x4000;
};

}  // namespace

ContractHost& HostUnderTest() {
    static HeadlessContractHost host;
    return host;
}

// The Windows start-up's own calls (platform/win32_host.h), which of the hosts tested here only
// the headless one has.
TEST(WindowsHostContract, CommandLineAndLock) {
    HostUnderTest().Reset();
    const char* line = platform::CommandLine();
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(std::string(line), "lumivex-contract --window-id 0x400");
    for (const platform::LockOutcome given :
         {platform::LockOutcome::Taken, platform::LockOutcome::AlreadyHeld, platform::LockOutcome::Unavailable}) {
        Host().lockOutcome = given;
        PlatformHandle lock = reinterpret_cast<PlatformHandle>(std::intptr_t{0x51});
        EXPECT_EQ(platform::TakeInstanceLock(&lock), given);
        EXPECT_EQ(lock == nullptr, given == platform::LockOutcome::Unavailable);
    }
}

TEST(WindowsHostContract, TheSystemDirectoryIsWholeOrEmpty) {
    HostUnderTest().Reset();
    const unsigned length = static_cast<unsigned>(Host().systemDirectory.size());
    for (const unsigned capacity : {length + 1, length, 1u, 0u}) {
        char buffer[64];
        std::memset(buffer, 'x', sizeof buffer);
        const unsigned written = platform::SystemDirectory(buffer, capacity);
        if (capacity == 0) {
            EXPECT_EQ(written, 0u);
            EXPECT_EQ(buffer[0], 'x') << "a capacity of 0 writes nothing";
        } else if (capacity > length) {
            EXPECT_EQ(written, length);
            EXPECT_STREQ(buffer, "C:\\WINDOWS\\system32");
        } else {
            EXPECT_EQ(written, 0u) << "capacity " << capacity;
            EXPECT_STREQ(buffer, "") << "never a cut-off name";
        }
    }
}
