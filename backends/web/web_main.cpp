// The functions a web page calls: start a run on a file, tick it, take the changed picture, and
// the renderer's check and fit on the page's text. Strings cross as NUL-terminated UTF-8.
#include <emscripten/emscripten.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "anim/anim.h"
#include "backends/web/web_backend.h"
#include "core/saver_state.h"
#include "saver/saver_run.h"
#include "saver/web_saver.h"

namespace {

std::string Answer;  // the last text handed to the page; valid until the next call that answers

// The page's file, where the saver and the checker find it.
bool WriteFile(const char* path, const char* bytes, std::size_t size) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

// One tick at the clock value now, as the backend's timer would deliver it.
void TickAt(std::uint32_t now) {
    Web().now = now;
    platform::Deliver(State.Window, SaverMessage::Timer);
}

}  // namespace

extern "C" {

// The definition file of the next run (and of check and fit): size bytes at text.
EMSCRIPTEN_KEEPALIVE int lvx_set_file(const char* text, int size) {
    return WriteFile(WebFilePath, text, size < 0 ? 0 : static_cast<std::size_t>(size)) ? 0 : 1;
}

// A new run: 0, or the saver's exit code after its message (lvx_message).
EMSCRIPTEN_KEEPALIVE int lvx_start(std::uint32_t seed, int width, int height, int preview, int status) {
    WebHost& w = Web();
    w.messages.clear();
    w.ended = false;
    w.converting = true;
    w.statusText.clear();
    w.statusText.reserve(64);  // a tick allocates nothing
    w.stripHoldsText = false;
    WebStart start;
    start.seed = seed;
    start.width = width;
    start.height = height;
    start.preview = preview != 0;
    start.status = status != 0;
    start.memoryBound = WebMemoryBound;
    const int code = StartWebSaver(start);
    if (code != 0) {
        w.ended = true;
        EndWebRun();
    }
    return code;
}

// One tick at clock value now; then the picture holds the frame and lvx_dirty what changed.
// False when there is no run to tick.
EMSCRIPTEN_KEEPALIVE int lvx_tick(std::uint32_t now) {
    if (Web().ended || State.Window == nullptr) return 0;
    TickAt(now);
    ConvertWholeFrame();
    return Web().ended ? 0 : 1;
}

// ticks ticks of a simulated clock, dt ms apart from first on, as lumivex-render's clock runs;
// only the last frame is converted.
EMSCRIPTEN_KEEPALIVE int lvx_run(std::uint32_t first, std::uint32_t dt, std::uint32_t ticks) {
    if (Web().ended || State.Window == nullptr) return 0;
    Web().converting = false;
    for (std::uint32_t i = 0; i < ticks && !Web().ended; ++i) TickAt(first + i * dt);
    Web().converting = true;
    ConvertWholeFrame();
    return Web().ended ? 0 : 1;
}

// The window has a new size (device pixels).
EMSCRIPTEN_KEEPALIVE int lvx_resize(int width, int height) {
    WebHost& w = Web();
    if (w.ended || State.Window == nullptr) return 0;
    if (width > MaxWebSide) width = MaxWebSide;
    if (height > MaxWebSide) height = MaxWebSide;
    w.width = width < 0 ? 0 : width;
    w.height = height < 0 ? 0 : height;
    platform::Deliver(State.Window, SaverMessage::Resize);
    return w.ended ? 0 : 1;
}

// The picture: RGBA rows from the top, lvx_width() x lvx_height().
EMSCRIPTEN_KEEPALIVE const std::uint32_t* lvx_picture() { return Web().picture; }
EMSCRIPTEN_KEEPALIVE int lvx_width() { return Web().pictureWidth; }
EMSCRIPTEN_KEEPALIVE int lvx_height() { return Web().pictureHeight; }

// How many rectangles changed since the last call, and a pointer to them (left, top, right,
// bottom each): the page copies them and the list starts again.
EMSCRIPTEN_KEEPALIVE int lvx_dirty_count() { return static_cast<int>(Web().dirty.size()); }
EMSCRIPTEN_KEEPALIVE const platform::Rect* lvx_dirty() { return Web().dirty.data(); }
EMSCRIPTEN_KEEPALIVE void lvx_dirty_taken() {
    Web().dirty.clear();
    Web().stripChanged = false;
}

// The page draws the points itself from the next run on (1), or takes the converted picture (0).
EMSCRIPTEN_KEEPALIVE void lvx_set_drawing(int points) { Web().points = points != 0; }
// Drawing points: the picture holds only lvx_picture_rows() rows, the status strip, changed since
// the last lvx_dirty_taken() when lvx_strip_changed(); the frame's image is its lvx_shown_count()
// points at lvx_shown() (x, y pairs, image row 0 at the bottom; those outside the image show
// nothing) in lvx_colour() (0x00RRGGBB) on black, lvx_image_width() x lvx_image_height() pixels
// from window row lvx_image_top().
EMSCRIPTEN_KEEPALIVE int lvx_picture_rows() { return Web().pictureRows; }
EMSCRIPTEN_KEEPALIVE int lvx_strip_changed() { return Web().stripChanged ? 1 : 0; }
EMSCRIPTEN_KEEPALIVE const ScreenPoint* lvx_shown() { return State.PtsA; }
EMSCRIPTEN_KEEPALIVE int lvx_shown_count() {
    return Web().ended || State.PtsA == nullptr || State.PlottedPoints < 0 ? 0 : State.PlottedPoints;
}
EMSCRIPTEN_KEEPALIVE unsigned lvx_colour() { return LastFrameHeader().Colours[1]; }
EMSCRIPTEN_KEEPALIVE int lvx_image_top() { return LastFrameTop(); }
EMSCRIPTEN_KEEPALIVE int lvx_image_width() { return LastFrameHeader().Width < 0 ? 0 : LastFrameHeader().Width; }
EMSCRIPTEN_KEEPALIVE int lvx_image_height() { return LastFrameHeader().Height < 0 ? 0 : LastFrameHeader().Height; }

EMSCRIPTEN_KEEPALIVE int lvx_message_count() { return static_cast<int>(Web().messages.size()); }
EMSCRIPTEN_KEEPALIVE const char* lvx_message(int i) {
    return i >= 0 && i < lvx_message_count() ? Web().messages[static_cast<std::size_t>(i)].c_str() : "";
}

// What the status line says (also when it is not shown).
EMSCRIPTEN_KEEPALIVE const char* lvx_status() {
    char line[64];
    const int length = FormatStatusLine(line, State.DefinitionNumber, State.ShownPoints);
    Answer.assign(line, length < 0 ? 0 : static_cast<std::size_t>(length));
    return Answer.c_str();
}

// For the benchmark (bench/web/): ticks ticks, each the same tick of the cycle (phase and its clock
// put back before it, the clock 10 ms on), as the native benchmark's ticks; with convert, each
// frame is also converted for the canvas.
EMSCRIPTEN_KEEPALIVE void lvx_bench_ticks(int phase, int clock, int ticks, int convert) {
    if (Web().ended || State.Window == nullptr) return;
    Web().converting = convert != 0;
    for (int i = 0; i < ticks; ++i) {
        State.Phase = static_cast<Phase>(phase);
        State.PhaseClock = clock;
        TickAt(Web().now + 10);
    }
    Web().converting = true;
    Web().wholePending = false;
    Web().dirty.clear();
}

// The page's size parameter "WxH": false unless both sides are whole numbers from 1 to 16384.
EMSCRIPTEN_KEEPALIVE int lvx_parse_size(const char* text, int* width, int* height) {
    return ParseWebSize(text, width, height) ? 1 : 0;
}

}  // extern "C"
