// The seam on X11: Xlib, MIT-SHM when the display offers it, a poll loop with a timer.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "core/font8x16.h"
#include "platform/platform.h"
#include "backends/x11/convert.h"
#include "backends/linux/linux_backend.h"
#include "saver/linux_saver.h"
#include "saver/saver_main.h"

namespace {

Display* TheDisplay = nullptr;
Window TheWindow = 0;
bool OwnWindow = false;   // created here: only such a window is ever mapped, destroyed or given a cursor
bool WindowGone = false;  // destroyed, or refused by the server: nothing more is drawn into it
bool DestroyHandedUp = false;  // the saver has had this window's Destroy: never a second one
bool RepaintWhole = false;     // the host asked for a paint: the next frame sends the whole picture
Visual* TheVisual = nullptr;
int TheDepth = 0;
std::uint32_t RedMask = 0, GreenMask = 0, BlueMask = 0, AlphaBits = 0;
GC TheGc = nullptr;
Atom WmProtocols = 0, WmDeleteWindow = 0;
Cursor BlankCursor = 0;
std::int32_t KnownWidth = 0, KnownHeight = 0;  // the size the saver last heard of

// The window's whole picture, 32 bits a pixel, kept here so the status strip stays as drawn.
XImage* Picture = nullptr;
XShmSegmentInfo Segment = {};
bool PictureShared = false;
bool ShmBroken = false;  // the display refused shared memory once: plain XPutImage from then on

bool Trapping = false;
int TrappedError = 0;

bool TimerRunning = false;
bool QuitPosted = false;

int OnXError(Display*, XErrorEvent* error) {
    if (Trapping) TrappedError = error->error_code;
    // The window went away under a request: it is gone for the saver too.
    if (error->resourceid == TheWindow && (error->error_code == BadWindow || error->error_code == BadDrawable))
        WindowGone = true;
    return 0;
}

[[noreturn]] int OnIoError(Display*) { std::_Exit(LostDisplayExitCode); }

bool Connect() {
    if (TheDisplay != nullptr) return true;
    TheDisplay = XOpenDisplay(nullptr);
    if (TheDisplay == nullptr) return false;
    XSetErrorHandler(OnXError);
    XSetIOErrorHandler(OnIoError);
    WmProtocols = XInternAtom(TheDisplay, "WM_PROTOCOLS", False);
    WmDeleteWindow = XInternAtom(TheDisplay, "WM_DELETE_WINDOW", False);
    return true;
}

void BeginTrap() {
    XSync(TheDisplay, False);
    Trapping = true;
    TrappedError = 0;
}

int EndTrap() {
    XSync(TheDisplay, False);
    Trapping = false;
    return TrappedError;
}

// 24- or 32-bit TrueColor with 32-bit pixels, the only kind drawn into.
bool TakeVisual(Visual* visual, int depth) {
    if (visual == nullptr || visual->c_class != TrueColor || (depth != 24 && depth != 32)) return false;
    int count = 0;
    XPixmapFormatValues* formats = XListPixmapFormats(TheDisplay, &count);
    bool fits = false;
    for (int i = 0; i < count; ++i) fits = fits || (formats[i].depth == depth && formats[i].bits_per_pixel == 32);
    if (formats != nullptr) XFree(formats);
    if (!fits) return false;
    TheVisual = visual;
    TheDepth = depth;
    RedMask = static_cast<std::uint32_t>(visual->red_mask);
    GreenMask = static_cast<std::uint32_t>(visual->green_mask);
    BlueMask = static_cast<std::uint32_t>(visual->blue_mask);
    // A 32-bit visual carries alpha in the remaining bits: opaque.
    AlphaBits = depth == 32 ? ~(RedMask | GreenMask | BlueMask) : 0;
    return true;
}

std::uint32_t Pixel(Colour colour) { return PixelOfColour(colour, RedMask, GreenMask, BlueMask) | AlphaBits; }

PlatformHandle AsHandle(Window window) { return reinterpret_cast<PlatformHandle>(static_cast<std::uintptr_t>(window)); }

void DropPicture() {
    if (Picture == nullptr) return;
    if (PictureShared) {
        XShmDetach(TheDisplay, &Segment);
        XSync(TheDisplay, False);
        shmdt(Segment.shmaddr);
        Picture->data = nullptr;
    }
    XDestroyImage(Picture);  // frees the data of a plain image
    Picture = nullptr;
    PictureShared = false;
}

bool SharedPicture(std::int32_t width, std::int32_t height) {
    if (ShmBroken || !XShmQueryExtension(TheDisplay)) return false;
    Segment = {};
    XImage* image = XShmCreateImage(TheDisplay, TheVisual, static_cast<unsigned>(TheDepth), ZPixmap, nullptr, &Segment,
                                    static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (image == nullptr) return false;
    const std::size_t bytes = static_cast<std::size_t>(image->bytes_per_line) * static_cast<std::size_t>(height);
    Segment.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (Segment.shmid < 0) {
        XDestroyImage(image);
        return false;
    }
    Segment.shmaddr = image->data = static_cast<char*>(shmat(Segment.shmid, nullptr, 0));
    Segment.readOnly = False;
    bool attached = Segment.shmaddr != reinterpret_cast<char*>(-1);
    if (attached) {
        // A remote display cannot reach this memory and says so with an error: trapped, not fatal.
        BeginTrap();
        XShmAttach(TheDisplay, &Segment);
        attached = EndTrap() == 0;
        if (!attached) {
            ShmBroken = true;
            shmdt(Segment.shmaddr);
        }
    }
    // Marked for removal now: the segment goes with the last detach, even if the process dies.
    shmctl(Segment.shmid, IPC_RMID, nullptr);
    if (!attached) {
        image->data = nullptr;
        XDestroyImage(image);
        return false;
    }
    Picture = image;
    PictureShared = true;
    return true;
}

bool PlainPicture(std::int32_t width, std::int32_t height) {
    const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
    char* data = static_cast<char*>(std::calloc(bytes, 1));
    if (data == nullptr) return false;
    Picture = XCreateImage(TheDisplay, TheVisual, static_cast<unsigned>(TheDepth), ZPixmap, 0, data,
                           static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
    if (Picture == nullptr) {
        std::free(data);
        return false;
    }
    // The pixels are written in this machine's byte order; Xlib reorders them for the server.
    const std::uint32_t probe = 1;
    Picture->byte_order = *reinterpret_cast<const unsigned char*>(&probe) == 1 ? LSBFirst : MSBFirst;
    return true;
}

std::uint32_t* PictureRow(std::int32_t row) {
    return reinterpret_cast<std::uint32_t*>(Picture->data + static_cast<std::size_t>(row) * static_cast<std::size_t>(Picture->bytes_per_line));
}

void PutPicture(std::int32_t top, std::int32_t rows) {
    if (WindowGone || rows <= 0) return;
    const unsigned width = static_cast<unsigned>(Picture->width);
    if (PictureShared) {
        XShmPutImage(TheDisplay, TheWindow, TheGc, Picture, 0, top, 0, top, width, static_cast<unsigned>(rows), False);
        // The server has read the memory before the next tick writes it again.
        XSync(TheDisplay, False);
    } else {
        XPutImage(TheDisplay, TheWindow, TheGc, Picture, 0, top, 0, top, width, static_cast<unsigned>(rows));
        XFlush(TheDisplay);
    }
}

void UseWindow(Window window, bool own) {
    TheWindow = window;
    OwnWindow = own;
    WindowGone = false;
    DestroyHandedUp = false;
    TheGc = XCreateGC(TheDisplay, window, 0, nullptr);
}

// The window's one Destroy, whichever way it went: by the saver, by its host, or refused.
void HandUpDestroy() {
    WindowGone = true;
    if (DestroyHandedUp) return;
    DestroyHandedUp = true;
    HandleSaverMessage(AsHandle(TheWindow), SaverMessage::Destroy);
}

void Dispatch(XEvent& event) {
    const PlatformHandle window = AsHandle(TheWindow);
    switch (event.type) {
        case DestroyNotify:
            if (event.xdestroywindow.window == TheWindow) HandUpDestroy();
            break;
        case ConfigureNotify:
            if (event.xconfigure.window == TheWindow &&
                (event.xconfigure.width != KnownWidth || event.xconfigure.height != KnownHeight)) {
                KnownWidth = event.xconfigure.width;
                KnownHeight = event.xconfigure.height;
                HandleSaverMessage(window, SaverMessage::Resize);
            }
            break;
        case Expose:
            if (event.xexpose.count == 0) HandleSaverMessage(window, SaverMessage::Paint);
            break;
        case KeyPress:
            HandleSaverMessage(window, SaverMessage::KeyDown);
            break;
        case ButtonPress:
            if (event.xbutton.button == Button1) HandleSaverMessage(window, SaverMessage::LeftButtonDown);
            else if (event.xbutton.button == Button2) HandleSaverMessage(window, SaverMessage::MiddleButtonDown);
            else if (event.xbutton.button == Button3) HandleSaverMessage(window, SaverMessage::RightButtonDown);
            else HandleSaverMessage(window, SaverMessage::Other);  // the wheel and further buttons
            break;
        case ClientMessage:
            if (event.xclient.message_type == WmProtocols && static_cast<Atom>(event.xclient.data.l[0]) == WmDeleteWindow)
                HandleSaverMessage(window, SaverMessage::Close);
            break;
        default:
            break;
    }
}

}  // namespace

// The seam functions of X11's own (backends/linux/linux_platform.cpp forwards to them).
namespace x11 {

using namespace platform;

void ParentClientRect(PlatformHandle parent, Rect* rect) {
    if (TheDisplay == nullptr) return;
    XWindowAttributes attributes;
    BeginTrap();
    const Status ok = XGetWindowAttributes(TheDisplay, static_cast<Window>(reinterpret_cast<std::uintptr_t>(parent)), &attributes);
    if (EndTrap() != 0 || ok == 0) return;
    *rect = {0, 0, attributes.width, attributes.height};
}

void WindowClientSize(PlatformHandle window, std::int32_t* width, std::int32_t* height) {
    if (TheDisplay == nullptr || WindowGone || static_cast<Window>(reinterpret_cast<std::uintptr_t>(window)) != TheWindow)
        return;
    XWindowAttributes attributes;
    BeginTrap();
    const Status ok = XGetWindowAttributes(TheDisplay, TheWindow, &attributes);
    if (EndTrap() != 0 || ok == 0) return;
    *width = attributes.width;
    *height = attributes.height;
}

ScreenMetrics ReadScreenMetrics() {
    if (!Connect()) return {0, 0, 0, 0, 0, 0};
    const int screen = DefaultScreen(TheDisplay);
    const std::int32_t width = DisplayWidth(TheDisplay, screen);
    const std::int32_t height = DisplayHeight(TheDisplay, screen);
    return {0, 0, width, height, width, height};
}

bool ReadCursorPosition(std::int32_t* x, std::int32_t* y) {
    if (TheDisplay == nullptr) return false;
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, windowX = 0, windowY = 0;
    unsigned mask = 0;
    if (!XQueryPointer(TheDisplay, DefaultRootWindow(TheDisplay), &root, &child, &rootX, &rootY, &windowX, &windowY, &mask))
        return false;  // the pointer is on another screen
    *x = rootX;
    *y = rootY;
    return true;
}

void HideCursor() {
    if (!OwnWindow || WindowGone) return;
    if (BlankCursor == 0) {
        static const char empty[8] = {0};
        const Pixmap bitmap = XCreateBitmapFromData(TheDisplay, TheWindow, empty, 8, 8);
        XColor black = {};
        BlankCursor = XCreatePixmapCursor(TheDisplay, bitmap, bitmap, &black, &black, 0, 0);
        XFreePixmap(TheDisplay, bitmap);
    }
    XDefineCursor(TheDisplay, TheWindow, BlankCursor);
}

void ShowCursorAgain() {
    if (OwnWindow && !WindowGone && TheDisplay != nullptr) XUndefineCursor(TheDisplay, TheWindow);
}

void ShowSaverWindow(PlatformHandle) {
    // Our own windows are mapped when made; a host's window is the host's to show.
    if (TheDisplay != nullptr) XFlush(TheDisplay);
}

void BlackenStrip(PlatformHandle, std::int32_t width, std::int32_t height) {
    if (Picture == nullptr) return;
    const std::int32_t rows = height < Picture->height ? height : Picture->height;
    const std::int32_t columns = width < Picture->width ? width : Picture->width;
    const std::uint32_t black = Pixel(0);
    for (std::int32_t r = 0; r < rows; ++r) {
        std::uint32_t* row = PictureRow(r);
        for (std::int32_t x = 0; x < columns; ++x) row[x] = black;
    }
    PutPicture(0, rows);
}

void StartFrameTimer(PlatformHandle) { TimerRunning = true; }

void RunMessageLoop() {
    if (TheDisplay == nullptr) return;
    const int xfd = ConnectionNumber(TheDisplay);
    const std::uint64_t period = FramePeriodNs();
    const int signalFd = EndSignalFd();
    std::uint64_t next = MonotonicNs() + period;
    while (!QuitPosted) {
        while (!QuitPosted && XPending(TheDisplay) > 0) {
            XEvent event;
            XNextEvent(TheDisplay, &event);
            Dispatch(event);
        }
        if (QuitPosted) break;
        if (WindowGone && !DestroyHandedUp) {
            // Refused by the server before its DestroyNotify came: gone all the same.
            HandUpDestroy();
            continue;
        }
        const std::uint64_t now = MonotonicNs();
        if (TimerRunning && now >= next) {
            HandleSaverMessage(AsHandle(TheWindow), SaverMessage::Timer);
            // Absolute deadlines: no drift. A tick more than a period late (the process was
            // stopped, or a tick was slow) is not made up for with a burst.
            next += period;
            if (next <= now) next = now + period;
            continue;
        }
        pollfd fds[2] = {{xfd, POLLIN, 0}, {signalFd, POLLIN, 0}};
        const int count = signalFd >= 0 ? 2 : 1;
        timespec wait = {0, 0};
        const std::uint64_t left = next - now;
        wait.tv_sec = static_cast<time_t>(left / 1000000000u);
        wait.tv_nsec = static_cast<long>(left % 1000000000u);
        XFlush(TheDisplay);
        const int ready = ppoll(fds, static_cast<nfds_t>(count), TimerRunning ? &wait : nullptr, nullptr);
        if (ready > 0 && count == 2 && (fds[1].revents & POLLIN) != 0 && TakeEndSignals())
            HandleSaverMessage(AsHandle(TheWindow), SaverMessage::Close);
    }
    QuitPosted = false;  // consumed: the next loop waits for a quit of its own
}

void DestroySaverWindow(PlatformHandle window) {
    if (TheDisplay == nullptr || static_cast<Window>(reinterpret_cast<std::uintptr_t>(window)) != TheWindow) return;
    if (OwnWindow && !WindowGone) {
        XDestroyWindow(TheDisplay, TheWindow);
        XFlush(TheDisplay);
    }
    // A host's window is left as it is: the saver only stops drawing into it.
    HandUpDestroy();
}

void EndMessageLoop(PlatformHandle) { QuitPosted = true; }

void AcceptPaint(PlatformHandle) { RepaintWhole = true; }

void PresentFrame(PlatformHandle, const FrameHeaderData& header, const std::uint8_t* bits, std::int32_t stride,
                  std::int32_t top, const char* status, int statusLength,
                  const FrameDamage&) {
    if (Picture == nullptr || WindowGone || top < 0) return;
    const std::int32_t height = Picture->height;
    const std::int32_t room = height > top ? height - top : 0;
    const std::int32_t imageRows = header.Height < 0 ? 0 : header.Height;
    const std::int32_t rows = imageRows < room ? imageRows : room;
    const std::int32_t columns = header.Width < Picture->width ? (header.Width < 0 ? 0 : header.Width) : Picture->width;
    const std::size_t pitch = static_cast<std::size_t>(Picture->bytes_per_line) / 4;
    if (rows > 0 && bits != nullptr) {
        const std::uint32_t colours[2] = {Pixel(header.Colours[0]), Pixel(header.Colours[1])};
        // The top `rows` rows of the bottom-first image.
        ConvertFrameRows(bits + static_cast<std::size_t>(imageRows - rows) * static_cast<std::size_t>(stride),
                         static_cast<std::size_t>(stride), static_cast<std::size_t>(columns),
                         static_cast<std::size_t>(rows), colours, PictureRow(top), pitch);
    }
    std::int32_t first = top, last = top + rows;
    if (RepaintWhole) {
        first = 0;
        last = height;
        RepaintWhole = false;
    }
    if (status != nullptr) {
        DrawTextCells<std::uint32_t>(PictureRow(0), pitch, static_cast<std::size_t>(Picture->width),
                                     height < StatusStripHeight ? height : StatusStripHeight, status,
                                     static_cast<std::size_t>(statusLength < 0 ? 0 : statusLength), Pixel(0),
                                     Pixel(0xFFFFFF));
        first = 0;
    }
    PutPicture(first, last - first);
}

WindowOutcome AdoptHostWindow(std::uint64_t id, PlatformHandle* window) {
    if (!Connect()) return WindowOutcome::NoDisplay;
    const Window target = id != 0 ? static_cast<Window>(id) : DefaultRootWindow(TheDisplay);
    XWindowAttributes attributes;
    BeginTrap();
    // Only its size and its end are followed: structure events may be selected by any client.
    XSelectInput(TheDisplay, target, StructureNotifyMask | ExposureMask);
    const Status ok = XGetWindowAttributes(TheDisplay, target, &attributes);
    if (EndTrap() != 0 || ok == 0) return WindowOutcome::NoSuchWindow;
    if (!TakeVisual(attributes.visual, attributes.depth)) return WindowOutcome::UnsupportedVisual;
    UseWindow(target, false);
    KnownWidth = attributes.width;
    KnownHeight = attributes.height;
    *window = AsHandle(target);
    return WindowOutcome::Ok;
}

WindowOutcome CreateDesktopWindow(bool fullScreen, const char* title, std::int32_t width, std::int32_t height,
                                  PlatformHandle* window) {
    if (!Connect()) return WindowOutcome::NoDisplay;
    const int screen = DefaultScreen(TheDisplay);
    if (!TakeVisual(DefaultVisual(TheDisplay, screen), DefaultDepth(TheDisplay, screen))) return WindowOutcome::UnsupportedVisual;
    XSetWindowAttributes attributes = {};
    attributes.background_pixel = Pixel(0);
    attributes.event_mask = KeyPressMask | ButtonPressMask | StructureNotifyMask | ExposureMask;
    const Window made = XCreateWindow(TheDisplay, RootWindow(TheDisplay, screen), 0, 0,
                                      static_cast<unsigned>(width < 1 ? 1 : width), static_cast<unsigned>(height < 1 ? 1 : height),
                                      0, TheDepth, InputOutput, TheVisual, CWBackPixel | CWEventMask, &attributes);
    if (made == 0) return WindowOutcome::NoDisplay;
    XStoreName(TheDisplay, made, title);
    const Atom utf8 = XInternAtom(TheDisplay, "UTF8_STRING", False);
    XChangeProperty(TheDisplay, made, XInternAtom(TheDisplay, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title), static_cast<int>(std::strlen(title)));
    XClassHint hint = {const_cast<char*>("lumivex"), const_cast<char*>("Lumivex")};
    XSetClassHint(TheDisplay, made, &hint);
    XSetWMProtocols(TheDisplay, made, &WmDeleteWindow, 1);
    if (fullScreen) {
        const Atom state = XInternAtom(TheDisplay, "_NET_WM_STATE_FULLSCREEN", False);
        XChangeProperty(TheDisplay, made, XInternAtom(TheDisplay, "_NET_WM_STATE", False), XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&state), 1);
    }
    UseWindow(made, true);
    KnownWidth = width;
    KnownHeight = height;
    XMapRaised(TheDisplay, made);
    XFlush(TheDisplay);
    *window = AsHandle(made);
    return WindowOutcome::Ok;
}

bool PrepareWindowPicture(PlatformHandle, std::int32_t width, std::int32_t height) {
    if (TheDisplay == nullptr) return false;
    DropPicture();
    if (width <= 0 || height <= 0) return true;  // nothing to show
    return SharedPicture(width, height) || PlainPicture(width, height);
}

// Layers are a Wayland desktop's: an X11 display has none.
WindowOutcome CreateLayerWindow(DesktopLayer, const char*, PlatformHandle*) { return WindowOutcome::Unsupported; }

}  // namespace x11

const LinuxBackend X11Backend = {
    x11::ParentClientRect, x11::WindowClientSize, x11::ReadScreenMetrics, x11::ReadCursorPosition, x11::HideCursor, x11::ShowCursorAgain,
    x11::ShowSaverWindow, x11::BlackenStrip, x11::StartFrameTimer, x11::RunMessageLoop, x11::DestroySaverWindow,
    x11::EndMessageLoop, x11::AcceptPaint, x11::PresentFrame, x11::AdoptHostWindow, x11::CreateDesktopWindow,
    x11::CreateLayerWindow, x11::PrepareWindowPicture,
};
