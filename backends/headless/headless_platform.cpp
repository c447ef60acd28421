// The platform seam for a simulated host: no window, no screen, a scripted clock.
#include <cstdio>
#include <cstring>
#include <string>

#include "backends/headless/headless_host.h"
#include "core/messages.h"
#include "platform/platform.h"

#if defined(__linux__)
#include <unistd.h>
#endif

namespace {
HeadlessHost TheHost;
// Any non-null values serve as the one window's handle and its parent's.
PlatformHandle const WindowHandle = reinterpret_cast<PlatformHandle>(static_cast<std::intptr_t>(0x5A7E));
PlatformHandle const ParentHandle = reinterpret_cast<PlatformHandle>(static_cast<std::intptr_t>(0x7001));
// What AdoptHostWindow(0) hands back: the screen's root window.
PlatformHandle const RootHandle = reinterpret_cast<PlatformHandle>(static_cast<std::intptr_t>(0x2B0));
}  // namespace

PlatformHandle HeadlessHost::UseScreen(std::int32_t width, std::int32_t height, bool child) {
    if (!child) {
        metrics = {0, 0, width, height + 1, width + 1, height + 1};
        return nullptr;
    }
    parentWindows.push_back({ParentHandle, {0, 0, width, height}});
    return ParentHandle;
}

void HeadlessHost::DestroyWindow(PlatformHandle handle) {
    for (auto it = parentWindows.begin(); it != parentWindows.end(); ++it) {
        if (it->first == handle) {
            parentWindows.erase(it);
            break;
        }
    }
    if (handle == window) windowGone = true;
}

void HeadlessHost::ResizeWindow(PlatformHandle handle, std::int32_t width, std::int32_t height) {
    if (handle == WindowHandle && window == WindowHandle) {
        windowWidth = width;
        windowHeight = height;
    }
    if (handle == RootHandle) {  // the screen itself has a new size
        metrics.virtualWidth = width;
        metrics.virtualHeight = height;
    }
    for (auto& known : parentWindows) {
        if (known.first == handle) known.second = {0, 0, width, height};
    }
    if (handle == window) resizePending = true;
}

HeadlessHost& Host() { return TheHost; }
void ResetHost() { TheHost = HeadlessHost{}; }

std::string ProgramDirectory() {
#if defined(__linux__)
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length > 0) {
        path[length] = '\0';
        std::string text = path;
        const std::size_t slash = text.rfind('/');
        if (slash != std::string::npos) return text.substr(0, slash == 0 ? 1 : slash);
    }
#endif
    return ".";
}

namespace platform {

const char* CommandLine() {
    TheHost.calls.push_back("CommandLine");
    return TheHost.commandLine.c_str();
}

std::int64_t CalendarSeconds() { return TheHost.calendarSeconds; }

LockOutcome TakeInstanceLock(PlatformHandle* lock) {
    TheHost.calls.push_back("TakeInstanceLock");
    *lock = TheHost.lockOutcome == LockOutcome::Unavailable ? nullptr : reinterpret_cast<PlatformHandle>(std::intptr_t{1});
    return TheHost.lockOutcome;
}

void ParentClientRect(PlatformHandle parent, Rect* rect) {
    for (const auto& window : TheHost.parentWindows) {
        if (window.first == parent) *rect = window.second;
    }
}

void WindowClientSize(PlatformHandle window, std::int32_t* width, std::int32_t* height) {
    if (window != TheHost.window || TheHost.windowGone) return;
    if (window == WindowHandle) {
        *width = TheHost.windowWidth;
        *height = TheHost.windowHeight;
    } else if (window == RootHandle) {
        *width = TheHost.metrics.virtualWidth;
        *height = TheHost.metrics.virtualHeight;
    } else {
        for (const auto& known : TheHost.parentWindows) {
            if (known.first == window) {
                *width = known.second.right - known.second.left;
                *height = known.second.bottom - known.second.top;
            }
        }
    }
}

ScreenMetrics ReadScreenMetrics() { return TheHost.metrics; }

bool PrepareWindowing(PlatformHandle) {
    TheHost.calls.push_back("PrepareWindowing");
    return !TheHost.windowingFails;
}

PlatformHandle CreateSaverWindow(PlatformHandle, PlatformHandle parent, std::int32_t x, std::int32_t y,
                                 std::int32_t width, std::int32_t height) {
    TheHost.calls.push_back("CreateSaverWindow");
    if (TheHost.createFails) return nullptr;
    if (parent != nullptr) {
        bool exists = false;
        for (const auto& window : TheHost.parentWindows) exists = exists || window.first == parent;
        if (!exists) return nullptr;
    }
    TheHost.window = WindowHandle;
    TheHost.windowParent = parent;
    TheHost.windowX = x;
    TheHost.windowY = y;
    TheHost.windowWidth = width;
    TheHost.windowHeight = height;
    return WindowHandle;
}

void ShowMessage(const char* caption, const char* text) {
    TheHost.calls.push_back("ShowMessage");
    TheHost.captions.emplace_back(caption);
    TheHost.messages.emplace_back(text);
    if (TheHost.echoMessages && TheHost.echoPrefix != nullptr)
        std::fprintf(stderr, "%s%s\n", TheHost.echoPrefix, OneLineMessage(text).c_str());
    else if (TheHost.echoMessages)
        std::fprintf(stderr, "%s\n", text);
}

bool ReadCursorPosition(std::int32_t* x, std::int32_t* y) {
    if (!TheHost.cursorReadable) return false;
    *x = TheHost.cursorX;
    *y = TheHost.cursorY;
    return true;
}

void HideCursor() {
    TheHost.calls.push_back("HideCursor");
    --TheHost.cursorShowCount;
}

void ShowCursorAgain() {
    TheHost.calls.push_back("ShowCursorAgain");
    ++TheHost.cursorShowCount;
}

void ShowSaverWindow(PlatformHandle) { TheHost.calls.push_back("ShowSaverWindow"); }

void BlackenStrip(PlatformHandle, std::int32_t, std::int32_t) {
    TheHost.calls.push_back("BlackenStrip");
    ++TheHost.stripsBlackened;
}

void StartFrameTimer(PlatformHandle) { TheHost.calls.push_back("StartFrameTimer"); }

void RunMessageLoop() {
    TheHost.calls.push_back("RunMessageLoop");
    if (TheHost.onLoopStart) TheHost.onLoopStart();
    while (!TheHost.quitPosted) {
        if (TheHost.windowGone && !TheHost.windowDestroyed) {
            TheHost.windowDestroyed = true;
            platform::Deliver(TheHost.window, SaverMessage::Destroy);
        } else if (TheHost.resizePending) {
            TheHost.resizePending = false;
            platform::Deliver(TheHost.window, SaverMessage::Resize);
        } else if (TheHost.nextTick && TheHost.nextTick(&TheHost.now)) {
            ++TheHost.ticksRun;
            platform::Deliver(TheHost.window, SaverMessage::Timer);
            if (TheHost.afterTick) TheHost.afterTick(TheHost.ticksRun);
        } else {
            break;
        }
    }
    TheHost.quitPosted = false;  // consumed, as a host's quit message is
}

void DestroySaverWindow(PlatformHandle window) {
    TheHost.calls.push_back("DestroySaverWindow");
    if (TheHost.windowDestroyed) return;
    TheHost.windowDestroyed = true;
    platform::Deliver(window, SaverMessage::Destroy);
}

void EndMessageLoop(PlatformHandle) {
    TheHost.calls.push_back("EndMessageLoop");
    TheHost.quitPosted = true;
}

void AcceptPaint(PlatformHandle) { TheHost.calls.push_back("AcceptPaint"); }

std::uint32_t TickCount() { return TheHost.now; }

void PresentFrame(PlatformHandle, const FrameHeaderData& header, const std::uint8_t* bits, std::int32_t stride,
                  std::int32_t top, const char* status, int statusLength,
                  const FrameDamage& damage) {
    TheHost.frameHeader = header;
    TheHost.frameBits = bits;
    TheHost.frameStride = stride;
    TheHost.frameTop = top;
    TheHost.statusDrawn = status != nullptr;
    TheHost.statusText.assign(status != nullptr ? status : "", status != nullptr ? static_cast<std::size_t>(statusLength) : 0);
    TheHost.frameDamage = damage;
    ++TheHost.framesPresented;
}

unsigned SystemDirectory(char* buffer, unsigned capacity) {
    const std::string& directory = TheHost.systemDirectory;
    if (directory.size() >= capacity) {
        if (capacity > 0) buffer[0] = '\0';
        return 0;
    }
    std::memcpy(buffer, directory.c_str(), directory.size() + 1);
    return static_cast<unsigned>(directory.size());
}

std::uint64_t PhysicalMemoryBytes() {
    if (TheHost.physicalMemory != 0) return TheHost.physicalMemory;
#if defined(__linux__)
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0) return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
#endif
    return 0;
}

std::FILE* OpenDefinitionFile(const char* path) {
    if (TheHost.useDefinitionFile) {
        if (std::strcmp(path, "lumivex.ini") != 0) return nullptr;
        if (TheHost.definitionBytes == nullptr) return std::fopen(TheHost.definitionFile.c_str(), "rb");
#if defined(__linux__)
        std::FILE* file = fmemopen(const_cast<void*>(TheHost.definitionBytes), TheHost.definitionSize, "rb");
        // The saver reads one file at a time; a buffer of our own spares an allocation per file.
        static char buffer[4096];
        if (file != nullptr) std::setvbuf(file, buffer, _IOFBF, sizeof buffer);
        return file;
#else
        return nullptr;  // no memory files here
#endif
    }
    std::string local = path;
    for (char& c : local) {
        if (c == '\\') c = '/';
    }
    return std::fopen(local.c_str(), "rb");
}

WindowOutcome AdoptHostWindow(std::uint64_t id, PlatformHandle* window) {
    TheHost.calls.push_back("AdoptHostWindow");
    if (id == 0) {
        *window = RootHandle;
        TheHost.window = RootHandle;
        return WindowOutcome::Ok;
    }
    const auto handle = reinterpret_cast<PlatformHandle>(static_cast<std::uintptr_t>(id));
    for (const auto& known : TheHost.parentWindows) {
        if (known.first == handle) {
            *window = handle;
            TheHost.window = handle;
            return WindowOutcome::Ok;
        }
    }
    return WindowOutcome::NoSuchWindow;
}

WindowOutcome CreateDesktopWindow(bool fullScreen, const char* title, std::int32_t width, std::int32_t height,
                                  PlatformHandle* window) {
    TheHost.calls.push_back("CreateDesktopWindow");
    if (TheHost.desktopOutcome != WindowOutcome::Ok) return TheHost.desktopOutcome;
    TheHost.desktopFullScreen = fullScreen;
    TheHost.desktopTitle = title;
    TheHost.window = WindowHandle;
    TheHost.windowWidth = width;
    TheHost.windowHeight = height;
    *window = WindowHandle;
    return WindowOutcome::Ok;
}

WindowOutcome CreateLayerWindow(DesktopLayer layer, const char* output, PlatformHandle* window) {
    TheHost.calls.push_back("CreateLayerWindow");
    if (TheHost.desktopOutcome != WindowOutcome::Ok) return TheHost.desktopOutcome;
    TheHost.layer = layer;
    TheHost.layerOutput = output != nullptr ? output : "";
    TheHost.window = WindowHandle;
    *window = WindowHandle;
    return WindowOutcome::Ok;
}

bool PrepareWindowPicture(PlatformHandle, std::int32_t width, std::int32_t height) {
    TheHost.calls.push_back("PrepareWindowPicture");
    if (TheHost.pictureFails) return false;
    TheHost.pictureWidth = width;
    TheHost.pictureHeight = height;
    return true;
}

void SetFrameTimerPeriod(std::uint32_t microseconds) { TheHost.timerPeriod = microseconds; }

}  // namespace platform
