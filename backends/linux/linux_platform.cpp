// The seam on Linux: what X11 and Wayland share, and the rest handed to the backend in use.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

#include "backends/linux/linux_backend.h"
#include "core/exit_codes.h"

namespace {

const LinuxBackend* Active = &X11Backend;
std::uint64_t PeriodNs = 10000000;
int SignalPipe[2] = {-1, -1};
// Until the message loop runs, nothing reads the pipe: start-up may be blocked opening a FIFO,
// reading an endless file or making millions of points.
volatile sig_atomic_t LoopRunning = 0;

void OnEndSignal(int) {
    // A signal during start-up ends the program at once, quietly, as one in the loop does.
    if (LoopRunning == 0) _exit(EndSignalExitCode);
    const int saved = errno;
    const char byte = 1;
    if (write(SignalPipe[1], &byte, 1) < 0) {
        // A full pipe already holds the wake-up.
    }
    errno = saved;
}

}  // namespace

void UseLinuxHost(LinuxHost host) { Active = host == LinuxHost::Wayland ? &WaylandBackend : &X11Backend; }


void InstallEndSignals() {
    if (SignalPipe[0] >= 0) return;
    if (pipe(SignalPipe) != 0) return;
    for (int fd : SignalPipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action = {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGTERM, SIGINT, SIGHUP}) sigaction(number, &action, nullptr);
}

int EndSignalFd() { return SignalPipe[0]; }

bool TakeEndSignals() {
    if (SignalPipe[0] < 0) return false;
    bool taken = false;
    char bytes[16];
    while (read(SignalPipe[0], bytes, sizeof bytes) > 0) taken = true;
    return taken;
}

std::uint64_t MonotonicNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
}

std::uint64_t FramePeriodNs() { return PeriodNs; }

namespace platform {

std::int64_t CalendarSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

void ShowMessage(const char*, const char* text) {
    // No one is there to click a box: one line on standard error.
    std::fprintf(stderr, "lumivex: %s\n", OneLineMessage(text).c_str());
}

std::uint32_t TickCount() { return static_cast<std::uint32_t>(MonotonicNs() / 1000000u); }

std::uint64_t PhysicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) : 0;
}

std::FILE* OpenDefinitionFile(const char* path) { return std::fopen(path, "rb"); }

void SetFrameTimerPeriod(std::uint32_t microseconds) { PeriodNs = static_cast<std::uint64_t>(microseconds) * 1000u; }

// The backend's own.
void WindowClientSize(PlatformHandle window, std::int32_t* width, std::int32_t* height) {
    Active->WindowClientSize(window, width, height);
}
ScreenMetrics ReadScreenMetrics() { return Active->ReadScreenMetrics(); }
bool ReadCursorPosition(std::int32_t* x, std::int32_t* y) { return Active->ReadCursorPosition(x, y); }
void HideCursor() { Active->HideCursor(); }
void ShowCursorAgain() { Active->ShowCursorAgain(); }
void ShowSaverWindow(PlatformHandle window) { Active->ShowSaverWindow(window); }
void BlackenStrip(PlatformHandle window, std::int32_t width, std::int32_t height) {
    Active->BlackenStrip(window, width, height);
}
void StartFrameTimer(PlatformHandle window) { Active->StartFrameTimer(window); }
void RunMessageLoop() {
    LoopRunning = 1;
    Active->RunMessageLoop();
}
void DestroySaverWindow(PlatformHandle window) { Active->DestroySaverWindow(window); }
void EndMessageLoop(PlatformHandle window) { Active->EndMessageLoop(window); }
void AcceptPaint(PlatformHandle window) { Active->AcceptPaint(window); }
void PresentFrame(PlatformHandle window, const FrameHeaderData& header, const std::uint8_t* bits, std::int32_t stride,
                  std::int32_t top, const char* status, int statusLength, const FrameDamage& damage) {
    Active->PresentFrame(window, header, bits, stride, top, status, statusLength, damage);
}
WindowOutcome AdoptHostWindow(std::uint64_t id, PlatformHandle* window) { return Active->AdoptHostWindow(id, window); }
WindowOutcome CreateDesktopWindow(bool fullScreen, const char* title, std::int32_t width, std::int32_t height,
                                  PlatformHandle* window) {
    return Active->CreateDesktopWindow(fullScreen, title, width, height, window);
}
WindowOutcome CreateLayerWindow(DesktopLayer layer, const char* output, PlatformHandle* window) {
    return Active->CreateLayerWindow(layer, output, window);
}
bool PrepareWindowPicture(PlatformHandle window, std::int32_t width, std::int32_t height) {
    return Active->PrepareWindowPicture(window, width, height);
}

}  // namespace platform
