// The seam's rules held against the X11 backend on a real display (run under Xvfb), with the
// stand-in saver of platform_contract.h in place of the real one. The host's own actions (its
// windows, a resize) go through a second connection, as another client's would.
#include <gtest/gtest.h>  // before Xlib, whose macros (None, Bool, Status) its templates would meet

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "backends/linux/linux_backend.h"
#include "tests/platform_contract.h"

namespace {


int IgnoreError(Display*, XErrorEvent*) { return 0; }

class X11ContractHost : public ContractHost {
public:
    void Reset() override {
        platform::SaverHandler = ContractSaverMessage;
        // A quit that a check left posted is consumed by a loop of its own, as it would be.
        platform::ReadScreenMetrics();
        platform::EndMessageLoop(nullptr);
        platform::RunMessageLoop();
    }
    std::uint64_t MakeHostWindow(std::int32_t width, std::int32_t height) override {
        Display* display = Host();
        const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, static_cast<unsigned>(width),
                                                  static_cast<unsigned>(height), 0, 0, 0);
        XMapWindow(display, window);
        XSync(display, False);
        return window;
    }
    void DestroyHostWindow(std::uint64_t id) override {
        XDestroyWindow(Host(), static_cast<Window>(id));
        XSync(Host(), False);
    }
    bool HostWindowExists(std::uint64_t id) override {
        XWindowAttributes attributes;
        return XGetWindowAttributes(Host(), static_cast<Window>(id), &attributes) != 0;
    }
    void ResizeWindow(PlatformHandle window, std::int32_t width, std::int32_t height) override {
        XResizeWindow(Host(), static_cast<Window>(reinterpret_cast<std::uintptr_t>(window)), static_cast<unsigned>(width),
                      static_cast<unsigned>(height));
        XSync(Host(), False);
    }
    std::uint64_t UnknownWindowId() override {
        const std::uint64_t id = MakeHostWindow(1, 1);
        DestroyHostWindow(id);
        return id;
    }

private:
    Display* Host() {
        if (display_ == nullptr) {
            display_ = XOpenDisplay(nullptr);
            if (display_ == nullptr) {
                std::fprintf(stderr, "no X display: this test runs under Xvfb\n");
                std::exit(1);
            }
        }
        return display_;
    }
    Display* display_ = nullptr;
};

}  // namespace

ContractHost& HostUnderTest() {
    static X11ContractHost host;
    return host;
}

int main(int argc, char** argv) {
    // The backend installs its own (also quiet) handler once it connects; until then a query of
    // a window gone must not end the program.
    XSetErrorHandler(IgnoreError);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
