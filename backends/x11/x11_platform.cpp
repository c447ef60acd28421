// The seam on X11: Xlib, MIT-SHM when the display offers it, a poll loop with a timer that
// follows the display's refresh where the server has the Present extension.
#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <xcb/present.h>
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
#include "core/convert.h"
#include "backends/linux/linux_backend.h"
#include "core/exit_codes.h"

namespace {

Display* TheDisplay = nullptr;
Window TheWindow = 0;
bool OwnWindow = false;   // created here: only such a window is ever mapped, destroyed or given a cursor
bool WindowGone = false;  // destroyed, or refused by the server: nothing more is drawn into it
bool DestroyHandedUp = false;  // the saver has had this window's Destroy: never a second one
Visual* TheVisual = nullptr;
int TheDepth = 0;
std::uint32_t RedMask = 0, GreenMask = 0, BlueMask = 0, AlphaBits = 0;
GC TheGc = nullptr;
Atom WmProtocols = 0, WmDeleteWindow = 0;
Cursor BlankCursor = 0;
std::int32_t KnownWidth = 0, KnownHeight = 0;  // the size the saver last heard of

// The window's picture, 32 bits a pixel: converted whole when the window needs all of it, and
// otherwise only the status strip is kept up to date here (the points go to the server as points).
XImage* Picture = nullptr;
XShmSegmentInfo Segment = {};
bool PictureShared = false;
bool ShmBroken = false;  // the display refused shared memory once: plain XPutImage from then on
int ShmCompletionType = -1;  // the event type of MIT-SHM's completion events
// The server may still read the shared picture until the completion event of the last
// XShmPutImage, whose request serial this is, has come.
bool ShmPending = false;
unsigned long ShmPendingSerial = 0;
// The window may no longer show the last frame (the host asked for a paint after an Expose, or a
// new picture): the next present sends the whole picture.
bool RepaintWhole = true;

// With LUMIVEX_PRESENT_LOG naming a file, one line per present: what the tick said changed and
// what went to the server (requests and bytes), for the tests.
std::FILE* PresentLog = nullptr;

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
    if (const char* log = std::getenv("LUMIVEX_PRESENT_LOG"); log != nullptr && *log != '\0') PresentLog = std::fopen(log, "w");
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
        ShmPending = false;
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
    ShmCompletionType = XShmGetEventBase(TheDisplay) + ShmCompletion;
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

// Bytes of pixels or points sent in this present, for the log.
unsigned long SentBytes = 0;

// Returns once the server no longer reads the shared picture: its completion event has come (it
// normally has by the next tick, so this rarely waits). Other events stay queued for the loop.
void WaitPictureFree() {
    if (!ShmPending) return;
    const int fd = ConnectionNumber(TheDisplay);
    for (int waited = 0; ShmPending && !WindowGone && waited < 100; ++waited) {
        XEvent event;
        while (ShmPending && XCheckTypedEvent(TheDisplay, ShmCompletionType, &event)) {
            const auto& done = reinterpret_cast<const XShmCompletionEvent&>(event);
            if (done.serial >= ShmPendingSerial) ShmPending = false;
        }
        if (!ShmPending) return;
        pollfd fds = {fd, POLLIN, 0};
        poll(&fds, 1, 10);
    }
    // No event within a second (or the window went away): a round trip settles it.
    XSync(TheDisplay, False);
    ShmPending = false;
}

void PutPicture(std::int32_t top, std::int32_t rows) {
    if (WindowGone || rows <= 0) return;
    const unsigned width = static_cast<unsigned>(Picture->width);
    if (PictureShared) {
        // The server says when it has read the memory (a completion event): no round trip here.
        ShmPendingSerial = NextRequest(TheDisplay);
        XShmPutImage(TheDisplay, TheWindow, TheGc, Picture, 0, top, 0, top, width, static_cast<unsigned>(rows), True);
        ShmPending = true;
    } else {
        XPutImage(TheDisplay, TheWindow, TheGc, Picture, 0, top, 0, top, width, static_cast<unsigned>(rows));
    }
    SentBytes += static_cast<unsigned long>(width) * static_cast<unsigned long>(rows) * 4u;
}

// Points of the image drawn in one colour, as XDrawPoints requests: the image's row y is window
// row top + imageRows - 1 - y, and only the first `rows` rows and `columns` columns are in the
// window. With `skip` set, a point equal to the entry of skip at the same index is left out:
// skip's points are drawn afterwards and set that pixel anyway (a point that did not move).
// With `keep` set (room for KeptMax points, and count at most that), the points are sorted into
// it as sent, and their number is returned.
std::int32_t DrawImagePoints(const ScreenPoint* points, std::int32_t count, const ScreenPoint* skip,
                             std::int32_t skipCount, std::uint32_t pixel, std::int32_t top, std::int32_t imageRows,
                             std::int32_t rows, std::int32_t columns, XPoint* keep = nullptr) {
    if (points == nullptr || count <= 0 || WindowGone) return 0;
    // One request per colour as a rule: every request costs the server a read and a dispatch.
    constexpr int Chunk = 32768;
    static XPoint chunk[Chunk];
    // The points go out in bands of eight rows, top to bottom (a counting sort): the server then
    // writes its framebuffer band by band instead of all over it, which saves it a cache miss a
    // point on a large screen.
    constexpr int BandShift = 3;
    static XPoint sorted[Chunk];
    static int bandStart[(32768 >> BandShift) + 2];
    const int bands = ((top + rows) >> BandShift) + 1;
    std::memset(bandStart, 0, sizeof(int) * static_cast<std::size_t>(bands + 1));
    int n = 0;
    std::int32_t sent = 0;
    const auto flush = [&] {
        if (n == 0) return;
        if (sent == 0) XSetForeground(TheDisplay, TheGc, pixel);
        XPoint* out = keep != nullptr ? keep + sent : sorted;
        for (int b = 1; b <= bands; ++b) bandStart[b] += bandStart[b - 1];
        for (int i = 0; i < n; ++i) out[bandStart[chunk[i].y >> BandShift]++] = chunk[i];
        XDrawPoints(TheDisplay, TheWindow, TheGc, out, n, CoordModeOrigin);
        SentBytes += static_cast<unsigned long>(n) * 4u;
        std::memset(bandStart, 0, sizeof(int) * static_cast<std::size_t>(bands + 1));
        sent += n;
        n = 0;
    };
    // Rows of the image below the window's bottom edge are not drawn: compared as unsigned,
    // y - (imageRows - rows) is below `rows` only for the rows shown.
    const auto w = static_cast<std::uint32_t>(columns);
    const auto shownRows = static_cast<std::uint32_t>(rows);
    const auto hidden = static_cast<std::uint32_t>(imageRows - rows);
    const std::int32_t last = top + imageRows - 1;
    const std::int32_t paired = skip != nullptr ? (skipCount < count ? skipCount : count) : 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const ScreenPoint p = points[i];
        bool sends = static_cast<std::uint32_t>(p.x) < w && static_cast<std::uint32_t>(p.y) - hidden < shownRows;
        if (i < paired) sends = sends && (skip[i].x != p.x || skip[i].y != p.y);
        // Written whether sent or not; only a point sent counts. Out of the window the row is
        // any value: it only lands in band 0's count when not sent.
        const std::int32_t y = sends ? last - p.y : 0;
        chunk[n].x = static_cast<short>(p.x);
        chunk[n].y = static_cast<short>(y);
        bandStart[(y >> BandShift) + 1] += sends ? 1 : 0;
        n += sends ? 1 : 0;
        if (n == Chunk) flush();
    }
    flush();
    return sent;
}

// Window points as the last present sent them in the frame's colour, when they were a whole
// plotted list (of at most KeptMax points): a morph tick clears exactly the last frame's points,
// so it sends these again in black instead of converting and sorting its cleared list anew.
constexpr std::int32_t KeptMax = 1 << 16;
XPoint Kept[KeptMax];
std::int32_t KeptCount = -1;  // -1: nothing kept
const ScreenPoint* KeptFrom = nullptr;
std::int32_t KeptFromCount = 0;

void SendPoints(const XPoint* points, std::int32_t count, std::uint32_t pixel) {
    if (count <= 0 || WindowGone) return;
    XSetForeground(TheDisplay, TheGc, pixel);
    XDrawPoints(TheDisplay, TheWindow, TheGc, const_cast<XPoint*>(points), count, CoordModeOrigin);
    SentBytes += static_cast<unsigned long>(count) * 4u;
}

// Ticks no more often than the display refreshes, where the server has the Present extension:
// after each tick the server is asked to tell when the window's screen next refreshes
// (PresentNotifyMSC), and the next tick waits for that as well as for its period. A frame the
// screen could not show is not made, and a 60 Hz display costs 60 ticks a second, not 100. The
// wait is never longer than VblankWaitLimitNs: a blanked screen may refresh once a second, and
// ticks that far apart would make the regulation take points away.
constexpr std::uint64_t VblankWaitLimitNs = 50000000u;
xcb_connection_t* Xcb = nullptr;
xcb_special_event_t* PresentEvents = nullptr;  // the window's Present events, apart from Xlib's
bool VblankAsked = false;                      // a NotifyMSC is out and has not completed
std::uint64_t VblankAskedAt = 0;

void FollowVblanks(Window window) {
    if (PresentEvents != nullptr) {
        xcb_unregister_for_special_event(Xcb, PresentEvents);
        PresentEvents = nullptr;
    }
    VblankAsked = false;
    Xcb = XGetXCBConnection(TheDisplay);
    const xcb_query_extension_reply_t* present = xcb_get_extension_data(Xcb, &xcb_present_id);
    if (present == nullptr || present->present == 0) return;
    const std::uint32_t id = xcb_generate_id(Xcb);
    xcb_special_event_t* events = xcb_register_for_special_xge(Xcb, &xcb_present_id, id, nullptr);
    xcb_generic_error_t* error = xcb_request_check(
        Xcb, xcb_present_select_input_checked(Xcb, id, window, XCB_PRESENT_EVENT_MASK_COMPLETE_NOTIFY));
    if (error != nullptr) {
        std::free(error);
        xcb_unregister_for_special_event(Xcb, events);
        return;
    }
    PresentEvents = events;
}

void AskVblank() {
    if (PresentEvents == nullptr || WindowGone) return;
    xcb_present_notify_msc(Xcb, TheWindow, 0, 0, 1, 0);  // the next refresh, whatever its count
    VblankAsked = true;
    VblankAskedAt = MonotonicNs();
}

// The Present events that Xlib's reads have queued.
void TakeVblanks() {
    if (PresentEvents == nullptr) return;
    while (xcb_generic_event_t* event = xcb_poll_for_special_event(Xcb, PresentEvents)) {
        const auto* done = reinterpret_cast<const xcb_present_complete_notify_event_t*>(event);
        if (done->event_type == XCB_PRESENT_COMPLETE_NOTIFY && done->kind == XCB_PRESENT_COMPLETE_KIND_NOTIFY_MSC)
            VblankAsked = false;
        std::free(event);
    }
}

void UseWindow(Window window, bool own) {
    TheWindow = window;
    OwnWindow = own;
    WindowGone = false;
    DestroyHandedUp = false;
    TheGc = XCreateGC(TheDisplay, window, 0, nullptr);
    FollowVblanks(window);
}

// The window's one Destroy, whichever way it went: by the saver, by its host, or refused.
void HandUpDestroy() {
    WindowGone = true;
    if (DestroyHandedUp) return;
    DestroyHandedUp = true;
    platform::Deliver(AsHandle(TheWindow), SaverMessage::Destroy);
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
                platform::Deliver(window, SaverMessage::Resize);
            }
            break;
        case Expose:
            // Part of the window lost its picture: the saver's AcceptPaint has the next present send all of it.
            if (event.xexpose.count == 0) platform::Deliver(window, SaverMessage::Paint);
            break;
        case KeyPress:
            platform::Deliver(window, SaverMessage::KeyDown);
            break;
        case ButtonPress:
            if (event.xbutton.button == Button1) platform::Deliver(window, SaverMessage::LeftButtonDown);
            else if (event.xbutton.button == Button2) platform::Deliver(window, SaverMessage::MiddleButtonDown);
            else if (event.xbutton.button == Button3) platform::Deliver(window, SaverMessage::RightButtonDown);
            else platform::Deliver(window, SaverMessage::Other);  // the wheel and further buttons
            break;
        case ClientMessage:
            if (event.xclient.message_type == WmProtocols && static_cast<Atom>(event.xclient.data.l[0]) == WmDeleteWindow)
                platform::Deliver(window, SaverMessage::Close);
            break;
        default:
            if (event.type == ShmCompletionType && ShmPending &&
                reinterpret_cast<const XShmCompletionEvent&>(event).serial >= ShmPendingSerial)
                ShmPending = false;
            break;
    }
}

}  // namespace

// The seam functions of X11's own (backends/linux/linux_platform.cpp forwards to them).
namespace x11 {

using namespace platform;

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
    WaitPictureFree();
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
        TakeVblanks();
        if (WindowGone && !DestroyHandedUp) {
            // Refused by the server before its DestroyNotify came: gone all the same.
            HandUpDestroy();
            continue;
        }
        const std::uint64_t now = MonotonicNs();
        const std::uint64_t vblankLimit = VblankAskedAt + VblankWaitLimitNs;
        if (TimerRunning && now >= next && (!VblankAsked || now >= vblankLimit)) {
            platform::Deliver(AsHandle(TheWindow), SaverMessage::Timer);
            AskVblank();
            // Absolute deadlines: no drift. A tick more than a period late (the process was
            // stopped, a tick was slow, or it waited for the display) is not made up for with a
            // burst.
            next += period;
            if (next <= now) next = now + period;
            continue;
        }
        pollfd fds[2] = {{xfd, POLLIN, 0}, {signalFd, POLLIN, 0}};
        const int count = signalFd >= 0 ? 2 : 1;
        timespec wait = {0, 0};
        // Waiting for a refresh, the event wakes the poll; the limit is the latest tick.
        const std::uint64_t due = VblankAsked && vblankLimit > next ? vblankLimit : next;
        const std::uint64_t left = due > now ? due - now : 0;
        wait.tv_sec = static_cast<time_t>(left / 1000000000u);
        wait.tv_nsec = static_cast<long>(left % 1000000000u);
        XFlush(TheDisplay);
        const int ready = ppoll(fds, static_cast<nfds_t>(count), TimerRunning ? &wait : nullptr, nullptr);
        if (ready > 0 && count == 2 && (fds[1].revents & POLLIN) != 0 && TakeEndSignals())
            platform::Deliver(AsHandle(TheWindow), SaverMessage::Close);
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
                  std::int32_t top, const char* status, int statusLength, const FrameDamage& damage) {
    if (Picture == nullptr || WindowGone || top < 0) return;
    const unsigned long firstRequest = NextRequest(TheDisplay);
    SentBytes = 0;
    const bool whole = damage.whole || RepaintWhole;
    const std::int32_t height = Picture->height;
    const std::int32_t room = height > top ? height - top : 0;
    const std::int32_t imageRows = header.Height < 0 ? 0 : header.Height;
    const std::int32_t rows = imageRows < room ? imageRows : room;
    const std::int32_t columns = header.Width < Picture->width ? (header.Width < 0 ? 0 : header.Width) : Picture->width;
    const std::size_t pitch = static_cast<std::size_t>(Picture->bytes_per_line) / 4;
    const std::int32_t strip = height < top ? height : top;
    const std::uint32_t colours[2] = {Pixel(header.Colours[0]), Pixel(header.Colours[1])};
    bool stripChanged = whole;
    for (int i = 0; i < damage.count && i < FrameDamage::MaxRects && !stripChanged; ++i) {
        const Rect& r = damage.rects[i];
        stripChanged = r.top < strip && r.bottom > 0 && r.left < r.right;
    }
    if (whole || (stripChanged && status != nullptr)) WaitPictureFree();
    if (whole && rows > 0 && bits != nullptr) {
        // The top `rows` rows of the bottom-first image.
        ConvertFrameRows(bits + static_cast<std::size_t>(imageRows - rows) * static_cast<std::size_t>(stride),
                         static_cast<std::size_t>(stride), static_cast<std::size_t>(columns),
                         static_cast<std::size_t>(rows), colours, PictureRow(top), pitch);
    }
    std::int32_t first = top;
    if (status != nullptr && stripChanged) {
        DrawTextCells<std::uint32_t>(PictureRow(0), pitch, static_cast<std::size_t>(Picture->width), strip, status,
                                     static_cast<std::size_t>(statusLength < 0 ? 0 : statusLength), Pixel(0),
                                     Pixel(0xFFFFFF));
        first = 0;
    }
    if (whole) {
        // After a paint request or a new picture the strip and any rows below the image go too.
        const std::int32_t last = RepaintWhole ? height : top + rows;
        if (RepaintWhole) first = 0;
        PutPicture(first, last - first);
        RepaintWhole = false;
    } else {
        if (first == 0) PutPicture(0, strip);
        // The image's changed pixels one by one: those cleared, then those plotted. When the
        // cleared points are the last present's plotted list, its window points go again as they
        // were sorted; otherwise a point that stood still needs no clearing: it is plotted again.
        if (damage.clearedCount > 0 && damage.cleared == KeptFrom && damage.clearedCount == KeptFromCount &&
            KeptCount >= 0) {
            SendPoints(Kept, KeptCount, colours[0]);
        } else {
            DrawImagePoints(damage.cleared, damage.clearedCount, damage.plotted, damage.plottedCount, colours[0],
                            top, imageRows, rows, columns);
        }
        if (damage.plottedCount > 0) {
            const bool keep = damage.plottedCount <= KeptMax;
            KeptCount = DrawImagePoints(damage.plotted, damage.plottedCount, nullptr, 0, colours[1], top, imageRows,
                                        rows, columns, keep ? Kept : nullptr);
            if (!keep) KeptCount = -1;
            KeptFrom = damage.plotted;
            KeptFromCount = damage.plottedCount;
        } else if (damage.clearedCount > 0) {
            KeptCount = -1;
        }
    }
    if (whole) KeptCount = -1;
    if (PresentLog != nullptr) {
        std::fprintf(PresentLog, "present whole=%d rects=%d cleared=%d plotted=%d requests=%lu bytes=%lu\n",
                     whole ? 1 : 0, damage.count, damage.clearedCount, damage.plottedCount,
                     NextRequest(TheDisplay) - firstRequest, SentBytes);
    }
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
    RepaintWhole = true;
    if (width <= 0 || height <= 0) return true;  // nothing to show
    return SharedPicture(width, height) || PlainPicture(width, height);
}

// Layers are a Wayland desktop's: an X11 display has none.
WindowOutcome CreateLayerWindow(DesktopLayer, const char*, PlatformHandle*) { return WindowOutcome::Unsupported; }

}  // namespace x11

const LinuxBackend X11Backend = {
    x11::WindowClientSize, x11::ReadScreenMetrics, x11::ReadCursorPosition, x11::HideCursor, x11::ShowCursorAgain,
    x11::ShowSaverWindow, x11::BlackenStrip, x11::StartFrameTimer, x11::RunMessageLoop, x11::DestroySaverWindow,
    x11::EndMessageLoop, x11::AcceptPaint, x11::PresentFrame, x11::AdoptHostWindow, x11::CreateDesktopWindow,
    x11::CreateLayerWindow, x11::PrepareWindowPicture,
};
