// The headless backend: a simulated host that lumivex-render and the tests drive and observe.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/linux_host.h"
#include "platform/win32_host.h"

struct HeadlessHost {
    HeadlessHost() { statusText.reserve(256); }  // a tick must not allocate, here either

    // What the host offers.
    std::string commandLine;
    std::int64_t calendarSeconds = 0;
    platform::LockOutcome lockOutcome = platform::LockOutcome::Taken;
    platform::ScreenMetrics metrics = {0, 0, 800, 601, 800, 600};
    // Windows that exist as possible parents (or to be adopted), each with its client rectangle;
    // id 0 adopts the root window, as large as metrics' virtual screen.
    std::vector<std::pair<PlatformHandle, platform::Rect>> parentWindows;
    bool windowingFails = false;
    bool createFails = false;
    bool cursorReadable = true;
    std::int32_t cursorX = 0, cursorY = 0;
    std::string systemDirectory = "C:\\WINDOWS\\system32";
    // When set, the file the saver opens as "lumivex.ini" in the current directory, and no
    // other file is found; otherwise paths are opened as they are, "\" read as "/".
    std::string definitionFile;
    bool useDefinitionFile = false;
    // With useDefinitionFile, when not null: the file's bytes, read from memory instead of
    // definitionFile (the caller keeps them alive while the saver reads).
    const void* definitionBytes = nullptr;
    std::size_t definitionSize = 0;
    bool echoMessages = false;  // message texts also go to standard error
    // When not null, each echoed message is one line after this prefix, as a command-line
    // program writes it.
    const char* echoPrefix = nullptr;
    // When not 0, the physical memory the host reports, in bytes (fuzz targets offer little).
    std::uint64_t physicalMemory = 0;

    // The clock: the tick count read at each timer tick. False ends the message loop.
    std::function<bool(std::uint32_t* now)> nextTick;
    std::uint32_t now = 0;
    // Called once when the message loop starts, and after each timer tick.
    std::function<void()> onLoopStart;
    std::function<void(std::uint32_t tick)> afterTick;

    // What the saver did.
    std::vector<std::string> calls;  // platform calls in order, by name
    std::vector<std::string> messages;
    std::vector<std::string> captions;
    PlatformHandle window = nullptr;
    PlatformHandle windowParent = nullptr;
    std::int32_t windowX = 0, windowY = 0, windowWidth = 0, windowHeight = 0;
    bool windowDestroyed = false;
    bool quitPosted = false;  // EndMessageLoop posted a quit that no loop has consumed yet
    int cursorShowCount = 0;  // ShowCursor's counter: -1 while hidden
    std::uint32_t ticksRun = 0;
    // The last presented frame.
    FrameHeaderData frameHeader = {};
    const std::uint8_t* frameBits = nullptr;
    std::int32_t frameStride = 0;
    std::int32_t frameTop = 0;
    bool statusDrawn = false;
    std::string statusText;
    platform::FrameDamage frameDamage = {};
    int framesPresented = 0;

    // The screen that lumivex-render, the benchmark and the tests give the saver: its window gets
    // width x height pixels. Without child, a virtual screen one row taller (start-up keeps one row
    // less); with child, a parent window of that client size, whose handle comes back to be
    // handed to start-up (null without child).
    PlatformHandle UseScreen(std::int32_t width, std::int32_t height, bool child = false);

    // The host acting on a window. DestroyWindow: the window is gone (the adopted one reaches the
    // saver as Destroy at the loop's next turn). ResizeWindow: a new client size (the saver's
    // window hands up Resize at the loop's next turn).
    void DestroyWindow(PlatformHandle handle);
    void ResizeWindow(PlatformHandle handle, std::int32_t width, std::int32_t height);
    bool windowGone = false;
    bool resizePending = false;

    // Linux hosts and desktop windows.
    bool pictureFails = false;             // PrepareWindowPicture answers false
    platform::WindowOutcome desktopOutcome = platform::WindowOutcome::Ok;
    std::uint32_t timerPeriod = 10000;     // as SetFrameTimerPeriod left it, microseconds
    bool desktopFullScreen = false;
    std::string desktopTitle;
    platform::DesktopLayer layer = platform::DesktopLayer::Background;  // the last CreateLayerWindow
    std::string layerOutput;               // its output, empty for all
    std::int32_t pictureWidth = 0, pictureHeight = 0;  // the last PrepareWindowPicture
    int stripsBlackened = 0;
};

// The host the headless backend answers from; Reset puts it back to its defaults.
HeadlessHost& Host();
void ResetHost();

// The host's system directory stand-in for lumivex-render: the folder of the running program.
std::string ProgramDirectory();
