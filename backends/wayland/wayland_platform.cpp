// The seam on Wayland: libwayland-client, shared-memory buffers, frames paced by the compositor.
#include <linux/input-event-codes.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
// The protocols' code, made by wayland-scanner in the build folder.
#include <fractional-scale-v1-client-protocol.h>
#include <viewporter-client-protocol.h>
#include <wlr-layer-shell-unstable-v1-client-protocol.h>
#include <xdg-shell-client-protocol.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "backends/linux/linux_backend.h"
#include "backends/wayland/damage.h"
#include "core/font8x16.h"
#include "platform/platform.h"
#include "core/exit_codes.h"

namespace {

// The most points a buffer keeps the positions of (4 bytes each, taken only as they are used).
constexpr std::int32_t KeptCapacity = 1 << 20;

struct Buffer {
    wl_buffer* buffer = nullptr;
    std::uint32_t* pixels = nullptr;
    std::size_t bytes = 0;
    std::int32_t width = 0, height = 0;
    bool busy = false;       // attached and not yet released: the compositor may read it
    std::uint64_t held = 0;  // the frame it shows, 0 when unknown
    KeptPoints kept;         // where its last plotted list lies in it
    std::unique_ptr<std::uint32_t[]> keptStore;
};

struct Surface;

struct Output {
    wl_output* output = nullptr;
    std::uint32_t global = 0;
    std::int32_t scale = 1;
    std::string name;
    bool done = false;  // its first description is complete
    bool refused = false;  // the compositor closed our surface there: none is made again
    Surface* surface = nullptr;
};

struct Surface {
    wl_surface* surface = nullptr;
    xdg_surface* xdg = nullptr;
    xdg_toplevel* toplevel = nullptr;
    zwlr_layer_surface_v1* layer = nullptr;
    wp_viewport* viewport = nullptr;
    wp_fractional_scale_v1* fractional = nullptr;
    Output* output = nullptr;                     // a layer's output
    std::vector<Output*> entered;                 // a toplevel's outputs
    std::int32_t pendingWidth = 0, pendingHeight = 0;
    std::int32_t width = 0, height = 0;           // configured, in surface units
    std::int32_t scale = 1;                       // the integer buffer scale
    std::uint32_t fraction = 0;                   // the preferred scale in 120ths, 0 when not offered
    std::int32_t bufferWidth = 0, bufferHeight = 0;
    std::int32_t attachedScale = 0;
    bool configured = false;
    bool closed = false;
    wl_callback* frame = nullptr;                 // the frame callback asked for and not yet done
    Buffer buffers[2];
    std::uint64_t shown = 0;                      // the frame last committed, 0 when unknown
    DamageCells cells;                            // where the points of this commit changed the buffer
    std::unique_ptr<std::uint8_t[]> cellStore;
};

wl_display* Display = nullptr;
wl_registry* Registry = nullptr;
wl_compositor* Compositor = nullptr;
wl_shm* Shm = nullptr;
xdg_wm_base* WmBase = nullptr;
zwlr_layer_shell_v1* LayerShell = nullptr;
wp_viewporter* Viewporter = nullptr;
wp_fractional_scale_manager_v1* FractionalScale = nullptr;
wl_seat* Seat = nullptr;
wl_pointer* Pointer = nullptr;
wl_keyboard* Keyboard = nullptr;

std::vector<std::unique_ptr<Output>> Outputs;
std::vector<std::unique_ptr<Surface>> Surfaces;

// The window the saver knows: one handle for every surface, which all show its frame.
char WindowToken;
PlatformHandle TheWindow() { return &WindowToken; }

bool LayerMode = false;
zwlr_layer_shell_v1_layer LayerKind = ZWLR_LAYER_SHELL_V1_LAYER_BACKGROUND;
std::string OnlyOutput;                     // --output, empty for every output
std::int32_t DefaultWidth = 1280, DefaultHeight = 800;
bool WindowGone = false;                    // destroyed: nothing more is drawn
bool QuitPosted = false;
bool DestroyHandedUp = false;               // the saver has had the window's Destroy: never a second one
bool TimerRunning = false;
bool CursorHidden = false;
bool PointerKnown = false;
std::int32_t PointerX = 0, PointerY = 0;
std::int32_t FrameWidth = 0, FrameHeight = 0;  // the saver's window size: the first surface's buffer
bool ResizeDue = false;
DamageHistory History;

// With LUMIVEX_PRESENT_LOG naming a file, one line per present: what the tick said changed and
// what went to the compositor, for the tests.
std::FILE* PresentLog = nullptr;
struct PresentCounts {
    int commits = 0;
    std::int64_t points = 0;     // pixels written point by point
    std::int64_t converted = 0;  // pixels converted from the frame image
    std::int64_t damaged = 0;    // pixels of the damage given to the compositor
    const char* damage = "none"; // how the damage was given: whole, box or cells
};
PresentCounts Counts;

// Messages from the event handlers, handed to the saver between dispatches, so the saver never
// destroys an object while its own event is being dispatched.
SaverMessage Queue[64];
int Queued = 0;
void Post(SaverMessage message) {
    if (Queued < 64) Queue[Queued++] = message;
}

// What libwayland last had to say, kept for the one line of a protocol error instead of printed.
char LibraryMessage[256] = "";
void KeepLibraryMessage(const char* format, va_list args) {
    std::vsnprintf(LibraryMessage, sizeof LibraryMessage, format, args);
    for (char* c = LibraryMessage; *c != '\0'; ++c) {
        if (*c == '\n' || *c == '\r') *c = (c[1] == '\0') ? '\0' : ' ';
    }
}

[[noreturn]] void ConnectionLost() {
    if (Display != nullptr && wl_display_get_error(Display) == EPROTO) {
        const wl_interface* interface = nullptr;
        std::uint32_t id = 0;
        const std::uint32_t code = wl_display_get_protocol_error(Display, &interface, &id);
        if (LibraryMessage[0] != '\0') {
            std::fprintf(stderr, "lumivex: the compositor ended the connection over a protocol error (%s). Now quitting.\n",
                         LibraryMessage);
        } else {
            std::fprintf(stderr, "lumivex: the compositor ended the connection over a protocol error (%s@%u, code %u). "
                         "Now quitting.\n", interface != nullptr ? interface->name : "unknown", id, code);
        }
        std::_Exit(ProtocolErrorExitCode);
    }
    // The compositor went away: the run ends as when its surface is closed.
    std::_Exit(LostDisplayExitCode);
}

Surface* Primary() {
    for (auto& s : Surfaces) {
        if (!s->closed) return s.get();
    }
    return nullptr;
}

// --- Buffers ---

void DropBuffer(Buffer* b) {
    if (b->buffer != nullptr) wl_buffer_destroy(b->buffer);
    if (b->pixels != nullptr) munmap(b->pixels, b->bytes);
    std::unique_ptr<std::uint32_t[]> store = std::move(b->keptStore);
    *b = Buffer{};
    b->keptStore = std::move(store);
}

void OnBufferRelease(void* data, wl_buffer*) { static_cast<Buffer*>(data)->busy = false; }
const wl_buffer_listener BufferListener = {OnBufferRelease};

bool MakeBuffer(Buffer* b, std::int32_t width, std::int32_t height) {
    DropBuffer(b);
    if (width <= 0 || height <= 0) return false;
    const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
    if (bytes > INT32_MAX) return false;  // wl_shm pools are sized in 32 bits
    const int fd = memfd_create("lumivex", MFD_CLOEXEC);
    if (fd < 0) return false;
    if (ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
        close(fd);
        return false;
    }
    void* pixels = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED) {
        close(fd);
        return false;
    }
    wl_shm_pool* pool = wl_shm_create_pool(Shm, fd, static_cast<std::int32_t>(bytes));
    b->buffer = wl_shm_pool_create_buffer(pool, 0, width, height, width * 4, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    b->pixels = static_cast<std::uint32_t*>(pixels);
    b->bytes = bytes;
    b->width = width;
    b->height = height;
    wl_buffer_add_listener(b->buffer, &BufferListener, b);
    // Once per buffer: the positions of its points (the pages are taken only as they are written).
    if (b->keptStore == nullptr) b->keptStore.reset(new (std::nothrow) std::uint32_t[KeptCapacity]);
    b->kept.at = b->keptStore.get();
    b->kept.capacity = b->keptStore != nullptr ? KeptCapacity : 0;
    return true;
}

// The surface's cells for a buffer of this size, made again only when the size changes.
void SizeCells(Surface* s, std::int32_t width, std::int32_t height) {
    const std::int32_t columns = (width + DamageCells::CellSize - 1) / DamageCells::CellSize;
    const std::int32_t rows = (height + DamageCells::CellSize - 1) / DamageCells::CellSize;
    if (s->cellStore != nullptr && s->cells.columns == columns && s->cells.rows == rows) return;
    const std::size_t size = static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows);
    s->cellStore.reset(new (std::nothrow) std::uint8_t[size]);
    s->cells = DamageCells{};
    if (s->cellStore == nullptr) return;
    std::memset(s->cellStore.get(), 0, size);
    s->cells.marks = s->cellStore.get();
    s->cells.columns = columns;
    s->cells.rows = rows;
}

// --- Sizes ---

// The buffer for the configured size: times the fractional scale where offered, else the integer one.
void UpdateBufferSize(Surface* s) {
    if (!s->configured) return;
    std::int32_t width = s->width, height = s->height;
    if (s->fraction != 0) {
        width = static_cast<std::int32_t>((static_cast<std::int64_t>(width) * s->fraction + 60) / 120);
        height = static_cast<std::int32_t>((static_cast<std::int64_t>(height) * s->fraction + 60) / 120);
    } else {
        width *= s->scale;
        height *= s->scale;
    }
    if (width == s->bufferWidth && height == s->bufferHeight) return;
    s->bufferWidth = width;
    s->bufferHeight = height;
    s->shown = 0;
    if (s == Primary()) ResizeDue = true;
}

void UpdateScale(Surface* s) {
    std::int32_t scale = 1;
    if (s->output != nullptr) scale = s->output->scale;
    for (Output* o : s->entered) scale = o->scale > scale ? o->scale : scale;
    if (scale == s->scale) return;
    s->scale = scale;
    UpdateBufferSize(s);
}

// --- Surfaces ---

void DestroySurface(Surface* s) {
    const bool wasPrimary = s == Primary();
    if (s->frame != nullptr) wl_callback_destroy(s->frame);
    s->frame = nullptr;
    for (Buffer& b : s->buffers) DropBuffer(&b);
    if (s->fractional != nullptr) wp_fractional_scale_v1_destroy(s->fractional);
    if (s->viewport != nullptr) wp_viewport_destroy(s->viewport);
    if (s->toplevel != nullptr) xdg_toplevel_destroy(s->toplevel);
    if (s->xdg != nullptr) xdg_surface_destroy(s->xdg);
    if (s->layer != nullptr) zwlr_layer_surface_v1_destroy(s->layer);
    if (s->surface != nullptr) wl_surface_destroy(s->surface);
    s->fractional = nullptr;
    s->viewport = nullptr;
    s->toplevel = nullptr;
    s->xdg = nullptr;
    s->layer = nullptr;
    s->surface = nullptr;
    if (s->output != nullptr) s->output->surface = nullptr;
    s->output = nullptr;
    s->closed = true;
    if (WindowGone) return;
    if (Primary() == nullptr) Post(SaverMessage::Destroy);  // nothing left to show the picture on
    else if (wasPrimary) ResizeDue = true;                 // the next surface sets the size now
}

void OnSurfaceEnter(void* data, wl_surface*, wl_output* output) {
    auto* s = static_cast<Surface*>(data);
    for (auto& o : Outputs) {
        if (o->output == output) s->entered.push_back(o.get());
    }
    UpdateScale(s);
}

void OnSurfaceLeave(void* data, wl_surface*, wl_output* output) {
    auto* s = static_cast<Surface*>(data);
    for (std::size_t i = 0; i < s->entered.size(); ++i) {
        if (s->entered[i]->output == output) {
            s->entered.erase(s->entered.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    }
    UpdateScale(s);
}
const wl_surface_listener SurfaceListener = {OnSurfaceEnter, OnSurfaceLeave};

void OnFrameDone(void* data, wl_callback* callback, std::uint32_t) {
    auto* s = static_cast<Surface*>(data);
    wl_callback_destroy(callback);
    if (s->frame == callback) s->frame = nullptr;
}
const wl_callback_listener FrameListener = {OnFrameDone};

void OnPreferredScale(void* data, wp_fractional_scale_v1*, std::uint32_t scale) {
    auto* s = static_cast<Surface*>(data);
    if (scale == s->fraction) return;
    s->fraction = scale;
    UpdateBufferSize(s);
}
const wp_fractional_scale_v1_listener FractionalListener = {OnPreferredScale};

void Configured(Surface* s) {
    s->width = s->pendingWidth > 0 ? s->pendingWidth : (s->width > 0 ? s->width : DefaultWidth);
    s->height = s->pendingHeight > 0 ? s->pendingHeight : (s->height > 0 ? s->height : DefaultHeight);
    s->configured = true;
    UpdateBufferSize(s);
}

void OnXdgSurfaceConfigure(void* data, xdg_surface* xdg, std::uint32_t serial) {
    xdg_surface_ack_configure(xdg, serial);
    Configured(static_cast<Surface*>(data));
}
const xdg_surface_listener XdgSurfaceListener = {OnXdgSurfaceConfigure};

void OnToplevelConfigure(void* data, xdg_toplevel*, std::int32_t width, std::int32_t height, wl_array*) {
    auto* s = static_cast<Surface*>(data);
    s->pendingWidth = width;
    s->pendingHeight = height;
}
void OnToplevelClose(void*, xdg_toplevel*) { Post(SaverMessage::Close); }
void OnToplevelBounds(void*, xdg_toplevel*, std::int32_t, std::int32_t) {}
void OnToplevelCapabilities(void*, xdg_toplevel*, wl_array*) {}
const xdg_toplevel_listener ToplevelListener = {OnToplevelConfigure, OnToplevelClose, OnToplevelBounds,
                                                OnToplevelCapabilities};

void OnLayerConfigure(void* data, zwlr_layer_surface_v1* layer, std::uint32_t serial, std::uint32_t width,
                      std::uint32_t height) {
    auto* s = static_cast<Surface*>(data);
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    s->pendingWidth = static_cast<std::int32_t>(width);
    s->pendingHeight = static_cast<std::int32_t>(height);
    Configured(s);
}
void OnLayerClosed(void* data, zwlr_layer_surface_v1*) {
    auto* s = static_cast<Surface*>(data);
    if (s->output != nullptr) s->output->refused = true;
    DestroySurface(s);
}
const zwlr_layer_surface_v1_listener LayerListener = {OnLayerConfigure, OnLayerClosed};

Surface* NewSurface() {
    Surfaces.push_back(std::make_unique<Surface>());
    Surface* s = Surfaces.back().get();
    s->surface = wl_compositor_create_surface(Compositor);
    wl_surface_add_listener(s->surface, &SurfaceListener, s);
    if (FractionalScale != nullptr && Viewporter != nullptr) {
        s->viewport = wp_viewporter_get_viewport(Viewporter, s->surface);
        s->fractional = wp_fractional_scale_manager_v1_get_fractional_scale(FractionalScale, s->surface);
        wp_fractional_scale_v1_add_listener(s->fractional, &FractionalListener, s);
    }
    return s;
}

void AddLayerSurface(Output* output) {
    Surface* s = NewSurface();
    s->output = output;
    if (output != nullptr) {
        output->surface = s;
        s->scale = output->scale;
    }
    s->layer = zwlr_layer_shell_v1_get_layer_surface(LayerShell, s->surface, output != nullptr ? output->output : nullptr,
                                                     LayerKind, "lumivex");
    zwlr_layer_surface_v1_add_listener(s->layer, &LayerListener, s);
    zwlr_layer_surface_v1_set_size(s->layer, 0, 0);
    zwlr_layer_surface_v1_set_anchor(s->layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                                                   ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
    zwlr_layer_surface_v1_set_exclusive_zone(s->layer, -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(s->layer, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
    wl_surface_commit(s->surface);
}

bool Wanted(const Output* o) {
    return o->surface == nullptr && !o->refused && (OnlyOutput.empty() || o->name == OnlyOutput);
}

// --- Outputs ---

void OnOutputGeometry(void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                      const char*, const char*, std::int32_t) {}
void OnOutputMode(void*, wl_output*, std::uint32_t, std::int32_t, std::int32_t, std::int32_t) {}
void OnOutputDone(void* data, wl_output*) {
    auto* o = static_cast<Output*>(data);
    o->done = true;
    if (o->surface != nullptr) UpdateScale(o->surface);
    for (auto& s : Surfaces) {
        for (Output* e : s->entered) {
            if (e == o) UpdateScale(s.get());
        }
    }
    // A new output under a running layer gets its surface.
    if (LayerMode && LayerShell != nullptr && !WindowGone && !Surfaces.empty() && Wanted(o)) AddLayerSurface(o);
}
void OnOutputScale(void* data, wl_output*, std::int32_t scale) { static_cast<Output*>(data)->scale = scale > 0 ? scale : 1; }
void OnOutputName(void* data, wl_output*, const char* name) { static_cast<Output*>(data)->name = name; }
void OnOutputDescription(void*, wl_output*, const char*) {}
const wl_output_listener OutputListener = {OnOutputGeometry, OnOutputMode, OnOutputDone, OnOutputScale, OnOutputName,
                                           OnOutputDescription};

// --- Input: handed to the saver, which decides what ends the run ---

void OnPointerEnter(void*, wl_pointer* pointer, std::uint32_t serial, wl_surface*, wl_fixed_t x, wl_fixed_t y) {
    if (CursorHidden) wl_pointer_set_cursor(pointer, serial, nullptr, 0, 0);
    PointerX = wl_fixed_to_int(x);
    PointerY = wl_fixed_to_int(y);
    PointerKnown = true;
}
void OnPointerLeave(void*, wl_pointer*, std::uint32_t, wl_surface*) {}
void OnPointerMotion(void*, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y) {
    PointerX = wl_fixed_to_int(x);
    PointerY = wl_fixed_to_int(y);
    PointerKnown = true;
}
void OnPointerButton(void*, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t button, std::uint32_t state) {
    if (state != WL_POINTER_BUTTON_STATE_PRESSED) return;
    if (button == BTN_LEFT) Post(SaverMessage::LeftButtonDown);
    else if (button == BTN_MIDDLE) Post(SaverMessage::MiddleButtonDown);
    else if (button == BTN_RIGHT) Post(SaverMessage::RightButtonDown);
    else Post(SaverMessage::Other);
}
void OnPointerAxis(void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) { Post(SaverMessage::Other); }
void OnPointerFrame(void*, wl_pointer*) {}
void OnPointerAxisSource(void*, wl_pointer*, std::uint32_t) {}
void OnPointerAxisStop(void*, wl_pointer*, std::uint32_t, std::uint32_t) {}
void OnPointerAxisDiscrete(void*, wl_pointer*, std::uint32_t, std::int32_t) {}
void OnPointerAxis120(void*, wl_pointer*, std::uint32_t, std::int32_t) {}
const wl_pointer_listener PointerListener = {OnPointerEnter,      OnPointerLeave,    OnPointerMotion,
                                             OnPointerButton,     OnPointerAxis,     OnPointerFrame,
                                             OnPointerAxisSource, OnPointerAxisStop, OnPointerAxisDiscrete,
                                             OnPointerAxis120};

void OnKeymap(void*, wl_keyboard*, std::uint32_t, std::int32_t fd, std::uint32_t) { close(fd); }
void OnKeyboardEnter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
void OnKeyboardLeave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
void OnKey(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t state) {
    if (state == WL_KEYBOARD_KEY_STATE_PRESSED) Post(SaverMessage::KeyDown);
}
void OnModifiers(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void OnRepeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
const wl_keyboard_listener KeyboardListener = {OnKeymap, OnKeyboardEnter, OnKeyboardLeave, OnKey, OnModifiers,
                                               OnRepeatInfo};

void OnSeatCapabilities(void*, wl_seat* seat, std::uint32_t caps) {
    if ((caps & WL_SEAT_CAPABILITY_POINTER) != 0 && Pointer == nullptr) {
        Pointer = wl_seat_get_pointer(seat);
        wl_pointer_add_listener(Pointer, &PointerListener, nullptr);
    }
    if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) != 0 && Keyboard == nullptr) {
        Keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(Keyboard, &KeyboardListener, nullptr);
    }
}
void OnSeatName(void*, wl_seat*, const char*) {}
const wl_seat_listener SeatListener = {OnSeatCapabilities, OnSeatName};

void OnPing(void*, xdg_wm_base* base, std::uint32_t serial) { xdg_wm_base_pong(base, serial); }
const xdg_wm_base_listener WmBaseListener = {OnPing};

// --- Globals ---

std::uint32_t Up(std::uint32_t offered, std::uint32_t wanted) { return offered < wanted ? offered : wanted; }

void OnGlobal(void*, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version) {
    const std::string what = interface;
    if (what == wl_compositor_interface.name && version >= 4) {
        Compositor = static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 4));
    } else if (what == wl_shm_interface.name) {
        Shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    } else if (what == xdg_wm_base_interface.name) {
        WmBase = static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
        xdg_wm_base_add_listener(WmBase, &WmBaseListener, nullptr);
    } else if (what == zwlr_layer_shell_v1_interface.name) {
        LayerShell = static_cast<zwlr_layer_shell_v1*>(
            wl_registry_bind(registry, name, &zwlr_layer_shell_v1_interface, Up(version, 4)));
    } else if (what == wp_viewporter_interface.name) {
        Viewporter = static_cast<wp_viewporter*>(wl_registry_bind(registry, name, &wp_viewporter_interface, 1));
    } else if (what == wp_fractional_scale_manager_v1_interface.name) {
        FractionalScale = static_cast<wp_fractional_scale_manager_v1*>(
            wl_registry_bind(registry, name, &wp_fractional_scale_manager_v1_interface, 1));
    } else if (what == wl_seat_interface.name && Seat == nullptr) {
        Seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, Up(version, 5)));
        wl_seat_add_listener(Seat, &SeatListener, nullptr);
    } else if (what == wl_output_interface.name && version >= 2) {
        Outputs.push_back(std::make_unique<Output>());
        Output* o = Outputs.back().get();
        o->global = name;
        o->output = static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, Up(version, 4)));
        wl_output_add_listener(o->output, &OutputListener, o);
    }
}

void OnGlobalRemove(void*, wl_registry*, std::uint32_t name) {
    for (std::size_t i = 0; i < Outputs.size(); ++i) {
        Output* o = Outputs[i].get();
        if (o->global != name) continue;
        // Its layer surface goes with it; a toplevel only forgets it.
        if (o->surface != nullptr) DestroySurface(o->surface);
        for (auto& s : Surfaces) {
            for (std::size_t e = 0; e < s->entered.size(); ++e) {
                if (s->entered[e] == o) s->entered.erase(s->entered.begin() + static_cast<std::ptrdiff_t>(e--));
            }
            if (!s->closed) UpdateScale(s.get());
        }
        if (wl_output_get_version(o->output) >= WL_OUTPUT_RELEASE_SINCE_VERSION) wl_output_release(o->output);
        else wl_output_destroy(o->output);
        Outputs.erase(Outputs.begin() + static_cast<std::ptrdiff_t>(i));
        return;
    }
}
const wl_registry_listener RegistryListener = {OnGlobal, OnGlobalRemove};

void Roundtrip() {
    if (wl_display_roundtrip(Display) < 0) ConnectionLost();
}

bool Connect() {
    if (Display != nullptr) return true;
    wl_log_set_handler_client(KeepLibraryMessage);
    if (const char* log = std::getenv("LUMIVEX_PRESENT_LOG"); log != nullptr && *log != '\0') PresentLog = std::fopen(log, "w");
    Display = wl_display_connect(nullptr);
    if (Display == nullptr) return false;
    Registry = wl_display_get_registry(Display);
    wl_registry_add_listener(Registry, &RegistryListener, nullptr);
    Roundtrip();  // the globals
    Roundtrip();  // what the outputs and the seat say about themselves
    return true;
}

// Dispatches until the first surface has its size (or every surface is gone). An ending signal
// meanwhile ends the run as it would a running one: quietly, with EndSignalExitCode.
void AwaitConfigure() {
    const int fd = wl_display_get_fd(Display);
    const int signalFd = EndSignalFd();
    while (Primary() != nullptr && !Primary()->configured) {
        if (wl_display_dispatch_pending(Display) < 0) ConnectionLost();
        if (Primary() == nullptr || Primary()->configured) break;
        if (wl_display_prepare_read(Display) != 0) continue;
        wl_display_flush(Display);
        pollfd fds[2] = {{fd, POLLIN, 0}, {signalFd, POLLIN, 0}};
        const int got = poll(fds, signalFd >= 0 ? 2 : 1, -1);
        if (got > 0 && (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
            if (wl_display_read_events(Display) < 0) ConnectionLost();
        } else {
            wl_display_cancel_read(Display);
        }
        if (got > 0 && signalFd >= 0 && (fds[1].revents & POLLIN) != 0 && TakeEndSignals()) std::_Exit(EndSignalExitCode);
    }
}

// --- Drawing ---

// The status strip as the window shows it: each status line drawn over the ones before, as on the
// other hosts (the cells of a longer line stay until the strip is blackened). Buffers take a copy.
std::vector<std::uint32_t> Strip;
std::int32_t StripWidth = 0, StripRows = 0;

void DrawStripText(const char* status, int statusLength) {
    if (status == nullptr || Strip.empty()) return;
    DrawTextCells<std::uint32_t>(Strip.data(), static_cast<std::size_t>(StripWidth), static_cast<std::size_t>(StripWidth),
                                 StripRows, status, static_cast<std::size_t>(statusLength < 0 ? 0 : statusLength), 0u,
                                 0xFFFFFFu);
}

void CopyStrip(Buffer* b, std::int32_t dx, std::int32_t dy) {
    if (Strip.empty() || dx < 0 || dy < 0) return;
    const std::int32_t columns = StripWidth < b->width - dx ? StripWidth : b->width - dx;
    for (std::int32_t y = 0; y < StripRows && y + dy < b->height && columns > 0; ++y)
        std::memcpy(b->pixels + static_cast<std::size_t>(y + dy) * static_cast<std::size_t>(b->width) + dx,
                    Strip.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(StripWidth),
                    static_cast<std::size_t>(columns) * sizeof(std::uint32_t));
}

std::int64_t Area(const platform::Rect& r) {
    return static_cast<std::int64_t>(r.right - r.left) * static_cast<std::int64_t>(r.bottom - r.top);
}

void Paint(Surface* s, const FrameHeaderData& header, const std::uint8_t* bits, std::int32_t stride, std::int32_t top,
           const platform::FrameDamage& newest) {
    // Of the buffers the compositor has let go, the one that fell behind least.
    Buffer* b = nullptr;
    for (Buffer& candidate : s->buffers) {
        if (!candidate.busy && (b == nullptr || candidate.held > b->held)) b = &candidate;
    }
    if (b == nullptr) return;  // both held by the compositor: this surface waits for the next frame
    Buffer* other = b == &s->buffers[0] ? &s->buffers[1] : &s->buffers[0];
    const std::int32_t width = s->bufferWidth, height = s->bufferHeight;
    if ((b->width != width || b->height != height) && !MakeBuffer(b, width, height)) return;
    SizeCells(s, width, height);
    // The frame sits in the middle of a surface of another size (an output unlike the first).
    const std::int32_t dx = (width - FrameWidth) / 2, dy = (height - FrameHeight) / 2;
    const FrameImage frame = {&header, bits, stride, top, FrameWidth, FrameHeight};
    ClearCells(&s->cells);
    const BufferUpdate update = UpdateBuffer(History, newest, frame, b->pixels, width, height, b->held, &b->kept,
                                             &other->kept, &s->cells, s->shown);
    if (update.strip) CopyStrip(b, dx, dy);
    Counts.points += update.points;
    Counts.converted += update.converted;
    b->held = History.frame;

    wl_surface_attach(s->surface, b->buffer, 0, 0);
    if (s->fraction != 0) {
        wp_viewport_set_destination(s->viewport, s->width, s->height);
        if (s->attachedScale != 1) wl_surface_set_buffer_scale(s->surface, 1);
        s->attachedScale = 1;
    } else if (s->attachedScale != s->scale) {
        wl_surface_set_buffer_scale(s->surface, s->scale);
        s->attachedScale = s->scale;
    }
    platform::Rect given[GivenDamageMax];
    int givenCount = 0;
    Counts.damage = ChooseDamage(History, s->shown, s->cells, update.cellsKnown, frame, width, height, given, &givenCount);
    for (int i = 0; i < givenCount; ++i) {
        const platform::Rect& r = given[i];
        wl_surface_damage_buffer(s->surface, r.left, r.top, r.right - r.left, r.bottom - r.top);
        Counts.damaged += Area(r);
    }
    s->shown = History.frame;
    b->busy = true;
    s->frame = wl_surface_frame(s->surface);
    wl_callback_add_listener(s->frame, &FrameListener, s);
    wl_surface_commit(s->surface);
    ++Counts.commits;
}

// Every surface is drawn and damaged whole at its next frame.
void DrawWholeNext() {
    for (auto& s : Surfaces) {
        for (Buffer& b : s->buffers) b.held = 0;
        s->shown = 0;
    }
}

bool AnySurfaceReady() {
    for (auto& s : Surfaces) {
        if (!s->closed && s->configured && s->frame == nullptr) return true;
    }
    return false;
}

// Hands the queued messages and a new size to the saver.
void Deliver() {
    if (ResizeDue && !WindowGone && Primary() != nullptr) {
        ResizeDue = false;
        platform::Deliver(TheWindow(), SaverMessage::Resize);
    }
    for (int i = 0; i < Queued && !QuitPosted; ++i) platform::Deliver(TheWindow(), Queue[i]);
    Queued = 0;
}

}  // namespace

// The seam functions of Wayland's own (backends/linux/linux_platform.cpp forwards to them).
namespace wayland {

using namespace platform;

void WindowClientSize(PlatformHandle, std::int32_t* width, std::int32_t* height) {
    const Surface* s = Primary();
    if (WindowGone || s == nullptr) return;
    *width = s->bufferWidth;
    *height = s->bufferHeight;
}

// Outputs have no common screen on Wayland: the compositor gives each surface its size.
ScreenMetrics ReadScreenMetrics() { return {0, 0, 0, 0, 0, 0}; }

bool ReadCursorPosition(std::int32_t* x, std::int32_t* y) {
    // Only over the saver's own surface does the compositor say where the pointer is.
    if (!PointerKnown) return false;
    *x = PointerX;
    *y = PointerY;
    return true;
}

void HideCursor() { CursorHidden = true; }

void ShowCursorAgain() { CursorHidden = false; }

void ShowSaverWindow(PlatformHandle) {
    if (Display != nullptr) wl_display_flush(Display);
}

// Buffers are drawn whole at their next frame.
void BlackenStrip(PlatformHandle, std::int32_t, std::int32_t) {
    std::fill(Strip.begin(), Strip.end(), 0u);
    DrawWholeNext();
}

void StartFrameTimer(PlatformHandle) { TimerRunning = true; }

void RunMessageLoop() {
    if (Display == nullptr) return;
    const int fd = wl_display_get_fd(Display);
    const int signalFd = EndSignalFd();
    const std::uint64_t period = FramePeriodNs();
    std::uint64_t next = MonotonicNs() + period;
    while (!QuitPosted) {
        if (wl_display_dispatch_pending(Display) < 0) ConnectionLost();
        Deliver();
        if (QuitPosted) break;
        const std::uint64_t now = MonotonicNs();
        // A tick only when a surface can show its frame, and never sooner than the period: a
        // surface that gets no frame callbacks (hidden, covered) costs nothing, and the first
        // tick after one comes back sees the whole gap once.
        const bool ready = TimerRunning && !WindowGone && AnySurfaceReady();
        if (ready && now >= next) {
            platform::Deliver(TheWindow(), SaverMessage::Timer);
            next += period;
            if (next <= now) next = now + period;
            continue;
        }
        if (wl_display_prepare_read(Display) != 0) continue;  // events came in meanwhile
        if (wl_display_flush(Display) < 0 && errno != EAGAIN) {
            wl_display_cancel_read(Display);
            ConnectionLost();
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {signalFd, POLLIN, 0}};
        const int count = signalFd >= 0 ? 2 : 1;
        int timeout = -1;
        if (ready) {
            const std::uint64_t left = next - now;
            timeout = static_cast<int>((left + 999999u) / 1000000u);
        }
        const int got = poll(fds, static_cast<nfds_t>(count), timeout);
        if (got > 0 && (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
            if (wl_display_read_events(Display) < 0) ConnectionLost();
        } else {
            wl_display_cancel_read(Display);
        }
        if (got > 0 && count == 2 && (fds[1].revents & POLLIN) != 0 && TakeEndSignals()) Post(SaverMessage::Close);
    }
    QuitPosted = false;  // consumed: the next loop waits for a quit of its own
}

void DestroySaverWindow(PlatformHandle window) {
    if (!WindowGone) {
        WindowGone = true;
        for (auto& s : Surfaces) {
            if (!s->closed) DestroySurface(s.get());
        }
        if (Display != nullptr) wl_display_flush(Display);
    }
    // The window's one Destroy: a second call leaves it alone.
    if (DestroyHandedUp) return;
    DestroyHandedUp = true;
    platform::Deliver(window, SaverMessage::Destroy);
}

void EndMessageLoop(PlatformHandle) { QuitPosted = true; }

void AcceptPaint(PlatformHandle) { DrawWholeNext(); }

void PresentFrame(PlatformHandle, const FrameHeaderData& header, const std::uint8_t* bits, std::int32_t stride,
                  std::int32_t top, const char* status, int statusLength, const FrameDamage& damage) {
    if (WindowGone || top < 0) return;
    Counts = PresentCounts{};
    // A frame that changed nothing is not a frame for the buffers: only a surface that does not
    // show the newest one yet (or nothing known) is drawn.
    if (!ChangesNothing(damage)) RecordDamage(&History, damage, header.Colours[0], header.Colours[1]);
    bool stripChanged = damage.whole;
    for (int i = 0; i < damage.count && i < FrameDamage::MaxRects; ++i)
        stripChanged = stripChanged || (damage.rects[i].top < top && damage.rects[i].bottom > 0);
    if (stripChanged) DrawStripText(status, statusLength);
    for (auto& s : Surfaces) {
        if (!s->closed && s->configured && s->frame == nullptr && s->bufferWidth > 0 && s->bufferHeight > 0 &&
            (s->shown == 0 || s->shown != History.frame))
            Paint(s.get(), header, bits, stride, top, damage);
    }
    if (PresentLog != nullptr) {
        std::fprintf(PresentLog, "present whole=%d rects=%d cleared=%d plotted=%d commits=%d points=%lld converted=%lld "
                     "damage=%s damaged=%lld\n", damage.whole ? 1 : 0, damage.count, damage.clearedCount,
                     damage.plottedCount, Counts.commits, static_cast<long long>(Counts.points),
                     static_cast<long long>(Counts.converted), Counts.commits > 0 ? Counts.damage : "none",
                     static_cast<long long>(Counts.damaged));
        std::fflush(PresentLog);
    }
}

WindowOutcome AdoptHostWindow(std::uint64_t, PlatformHandle*) {
    // Windows that a host makes for its saver are X11 windows.
    return WindowOutcome::NoSuchWindow;
}

WindowOutcome CreateDesktopWindow(bool fullScreen, const char* title, std::int32_t width, std::int32_t height,
                                  PlatformHandle* window) {
    if (!Connect()) return WindowOutcome::NoDisplay;
    if (Compositor == nullptr || Shm == nullptr || WmBase == nullptr) return WindowOutcome::Unsupported;
    if (width > 0 && height > 0) {
        DefaultWidth = width;
        DefaultHeight = height;
    }
    Surface* s = NewSurface();
    s->xdg = xdg_wm_base_get_xdg_surface(WmBase, s->surface);
    xdg_surface_add_listener(s->xdg, &XdgSurfaceListener, s);
    s->toplevel = xdg_surface_get_toplevel(s->xdg);
    xdg_toplevel_add_listener(s->toplevel, &ToplevelListener, s);
    xdg_toplevel_set_title(s->toplevel, title);
    xdg_toplevel_set_app_id(s->toplevel, "lumivex");
    if (fullScreen) xdg_toplevel_set_fullscreen(s->toplevel, nullptr);
    wl_surface_commit(s->surface);
    AwaitConfigure();
    ResizeDue = false;  // the saver reads the first size itself
    *window = TheWindow();
    return WindowOutcome::Ok;
}

WindowOutcome CreateLayerWindow(DesktopLayer layer, const char* output, PlatformHandle* window) {
    if (!Connect()) return WindowOutcome::NoDisplay;
    if (Compositor == nullptr || Shm == nullptr || LayerShell == nullptr) return WindowOutcome::Unsupported;
    LayerMode = true;
    LayerKind = static_cast<zwlr_layer_shell_v1_layer>(static_cast<int>(layer));
    OnlyOutput = output != nullptr ? output : "";
    for (auto& o : Outputs) {
        if (o->done && Wanted(o.get())) AddLayerSurface(o.get());
    }
    if (Surfaces.empty()) {
        if (!OnlyOutput.empty()) return WindowOutcome::NoSuchWindow;
        AddLayerSurface(nullptr);  // no output known yet: the compositor picks one
    }
    AwaitConfigure();
    if (Primary() == nullptr) return WindowOutcome::NoSuchWindow;
    ResizeDue = false;
    *window = TheWindow();
    return WindowOutcome::Ok;
}

bool PrepareWindowPicture(PlatformHandle, std::int32_t width, std::int32_t height) {
    FrameWidth = width;
    FrameHeight = height;
    StripWidth = width > 0 ? width : 0;
    StripRows = height < StatusStripHeight ? (height > 0 ? height : 0) : StatusStripHeight;
    Strip.assign(static_cast<std::size_t>(StripWidth) * static_cast<std::size_t>(StripRows), 0u);
    DrawWholeNext();
    // The first surface's buffers now, so that memory runs short here rather than in a tick.
    Surface* s = Primary();
    if (s == nullptr || width <= 0 || height <= 0) return true;
    for (Buffer& b : s->buffers) {
        if (!b.busy && (b.width != width || b.height != height) && !MakeBuffer(&b, width, height)) return false;
    }
    return true;
}

}  // namespace wayland

const LinuxBackend WaylandBackend = {
    wayland::WindowClientSize, wayland::ReadScreenMetrics, wayland::ReadCursorPosition, wayland::HideCursor,
    wayland::ShowCursorAgain, wayland::ShowSaverWindow, wayland::BlackenStrip, wayland::StartFrameTimer,
    wayland::RunMessageLoop, wayland::DestroySaverWindow, wayland::EndMessageLoop, wayland::AcceptPaint,
    wayland::PresentFrame, wayland::AdoptHostWindow, wayland::CreateDesktopWindow, wayland::CreateLayerWindow,
    wayland::PrepareWindowPicture,
};
