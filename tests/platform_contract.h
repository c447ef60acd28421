// The seam's rules that any backend keeps, written once and run against each host that can run
// here: the headless one (platform_contract_headless.cpp) and X11 under Xvfb
// (x11/platform_contract_x11.cpp).
//
// Each program links its backend as it is and hands it ContractSaverMessage as the saver's
// handler: a stand-in that counts what it is handed and answers as the saver does (Destroy with
// EndMessageLoop, Close with DestroySaverWindow, Paint with AcceptPaint).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/linux_host.h"

// What a check asks of the host itself, beside the seam.
class ContractHost {
public:
    virtual ~ContractHost() = default;
    // Before each check: the host as the program started (no saver window, no quit pending).
    virtual void Reset() = 0;
    // A window the host makes for the saver, as a screen locker does; its id.
    virtual std::uint64_t MakeHostWindow(std::int32_t width, std::int32_t height) = 0;
    virtual void DestroyHostWindow(std::uint64_t id) = 0;
    virtual bool HostWindowExists(std::uint64_t id) = 0;
    // The window gets a new size, as a user or window manager gives it.
    virtual void ResizeWindow(PlatformHandle window, std::int32_t width, std::int32_t height) = 0;
    // An id that names no window.
    virtual std::uint64_t UnknownWindowId() = 0;
};

// The host the checks of this program run against.
ContractHost& HostUnderTest();

// The stand-in saver's record and its hook for each Timer (count so far).
struct ContractRecord {
    int handedUp[static_cast<int>(SaverMessage::Close) + 1] = {};
    std::function<void(PlatformHandle window, int timers)> onTimer;
    int Count(SaverMessage message) const { return handedUp[static_cast<int>(message)]; }
};
ContractRecord& Record();

bool ContractSaverMessage(PlatformHandle window, SaverMessage message);
