// What a tick tells the backend it changed (FrameDamage): a window kept up to date from the damage
// alone stays equal to the frame, and the rectangles hold every changed pixel.
#include <cstring>
#include <string>
#include <vector>

#include "anim/anim.h"
#include "platform/platform.h"
#include "saver/saver_run.h"
#include "test_support.h"

namespace {

// A backend's own picture of the window, changed only as the damage says: each pixel the colour
// it shows (0 black), and the status strip's text.
struct WindowModel {
    std::int32_t width = 0, rows = 0;
    std::vector<Colour> pixels;  // image rows only, top row first
    std::string strip;
    int wholes = 0;

    Colour& At(const ScreenPoint& p) { return pixels[static_cast<std::size_t>(rows - 1 - p.y) * width + p.x]; }
    bool InImage(const ScreenPoint& p) const { return p.x >= 0 && p.x < width && p.y >= 0 && p.y < rows; }

    void Present(const HeadlessHost& host) {
        const platform::FrameDamage& d = host.frameDamage;
        const Colour colour = host.frameHeader.Colours[1];
        if (d.whole || width != host.frameHeader.Width || rows != host.frameHeader.Height) {
            width = host.frameHeader.Width;
            rows = host.frameHeader.Height;
            pixels = Frame(host);
            strip = host.statusText;
            ++wholes;
            return;
        }
        for (std::int32_t i = 0; i < d.clearedCount; ++i)
            if (InImage(d.cleared[i])) At(d.cleared[i]) = 0;
        for (std::int32_t i = 0; i < d.plottedCount; ++i)
            if (InImage(d.plotted[i])) At(d.plotted[i]) = colour;
        for (int i = 0; i < d.count; ++i)
            if (d.rects[i].top < host.frameTop) strip = host.statusText;
    }

    // The presented frame as the window should show it.
    static std::vector<Colour> Frame(const HeadlessHost& host) {
        const std::int32_t w = host.frameHeader.Width, h = host.frameHeader.Height;
        std::vector<Colour> frame(static_cast<std::size_t>(w) * h);
        for (std::int32_t y = 0; y < h; ++y)
            for (std::int32_t x = 0; x < w; ++x)
                frame[static_cast<std::size_t>(h - 1 - y) * w + x] =
                    host.frameBits[static_cast<std::size_t>(y) * host.frameStride + x] != 0 ? host.frameHeader.Colours[1] : 0;
        return frame;
    }
};

bool InRects(const platform::FrameDamage& d, std::int32_t x, std::int32_t y) {
    for (int i = 0; i < d.count; ++i) {
        const platform::Rect& r = d.rects[i];
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
    }
    return false;
}

// Every window pixel that differs between two frames lies in a damage rectangle.
void ExpectChangesInRects(const std::vector<Colour>& before, const std::vector<Colour>& after, std::int32_t width,
                          const HeadlessHost& host, int tick) {
    const platform::FrameDamage& d = host.frameDamage;
    ASSERT_LE(d.count, platform::FrameDamage::MaxRects);
    for (std::size_t i = 0; i < after.size(); ++i) {
        if (before[i] == after[i]) continue;
        const auto x = static_cast<std::int32_t>(i % static_cast<std::size_t>(width));
        const auto y = host.frameTop + static_cast<std::int32_t>(i / static_cast<std::size_t>(width));
        ASSERT_TRUE(InRects(d, x, y)) << "tick " << tick << ": pixel (" << x << ", " << y << ") changed outside the rectangles";
    }
}

// The kinds of tick a run goes through, by what the damage says.
struct Seen {
    int morph = 0, holdNothing = 0, grown = 0, statusChanged = 0, whole = 0;
};

// Runs ticks at the given intervals and checks after each one that the model window equals the
// frame and that the rectangles hold every change.
Seen RunAndCheck(WindowModel* model, int ticks, std::uint32_t (*interval)(int), std::string* failure) {
    Seen seen;
    HeadlessHost& host = Host();
    for (int tick = 0; tick < ticks; ++tick) {
        const std::vector<Colour> before = model->pixels;
        const std::string stripBefore = model->strip;
        const Phase phase = State.Phase;
        const std::int32_t clock = State.PhaseClock;
        const std::int32_t shown = State.ShownPoints > 0 ? State.ShownPoints : 0;
        const std::int32_t plottedBefore = State.PlottedPoints;
        const int presented = host.framesPresented;
        TickAt(host.now + interval(tick));
        if (host.framesPresented != presented + 1) return *failure = "no present at tick " + std::to_string(tick), seen;
        const platform::FrameDamage& d = host.frameDamage;
        model->Present(host);
        const std::vector<Colour> frame = WindowModel::Frame(host);
        if (model->pixels != frame) return *failure = "the window differs from the frame after tick " + std::to_string(tick), seen;
        if (host.statusDrawn && model->strip != host.statusText)
            return *failure = "the status strip is stale after tick " + std::to_string(tick), seen;
        if (d.whole) {
            ++seen.whole;
            continue;
        }
        if (before.size() == frame.size()) {
            ExpectChangesInRects(before, frame, model->width, host, tick);
            if (::testing::Test::HasFatalFailure()) return *failure = "rectangles", seen;
        }
        bool stripRect = false;
        for (int i = 0; i < d.count; ++i) stripRect = stripRect || d.rects[i].top < host.frameTop;
        if (stripRect != (host.statusDrawn && host.statusText != stripBefore))
            return *failure = "the strip's rectangle does not follow its text at tick " + std::to_string(tick), seen;
        seen.statusChanged += stripRect;
        if (phase == Phase::Morph) {
            ++seen.morph;
            if (d.plottedCount != shown) return *failure = "a morph tick without its points", seen;
        }
        if (phase == Phase::Hold && clock != 0 && plottedBefore == shown && !stripRect) {
            // A hold tick that added no point: nothing at all.
            if (d.count != 0 || d.clearedCount != 0 || d.plottedCount != 0)
                return *failure = "a hold tick that changed nothing says something changed at tick " + std::to_string(tick), seen;
            ++seen.holdNothing;
        }
        if ((phase == Phase::Hold || phase == Phase::Pick) && clock != 0 && d.clearedCount == 0 && d.plottedCount > 0) {
            // Points given back while the rest stand: only those, inside the rectangles.
            ++seen.grown;
            if (d.plottedCount != 100 && d.plottedCount != State.PlottedPoints)
                return *failure = "a grown hold tick names " + std::to_string(d.plottedCount) + " points", seen;
        }
    }
    return seen;
}

std::string Fractals(std::int32_t points) {
    return std::to_string(points) + "\n" + FernDefinition() + TriangleDefinition("-0.5 -0.5 1.5 2");
}

}  // namespace

using DamageTest = SaverTest;

TEST_F(DamageTest, AWindowKeptFromTheDamageAloneEqualsTheFrame) {
    struct Case {
        const char* name;
        std::int32_t points;  // negative: status line on
        std::int32_t width, height;
        std::uint32_t (*interval)(int);
        int ticks;
    };
    const Case cases[] = {
        {"steady, 100 ticks a second", 2000, 203, 150, Steady, 1400},
        {"regulated, status line on", -3000, 201, 160, Regulated, 2000},
        {"few points, odd width", -60, 37, 40, Regulated, 1200},
        {"more points than pixels", 9000, 64, 48, Regulated, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetAll();
        ASSERT_EQ(StartSaver({Fractals(c.points), c.width, c.height, RunMode::Saver, false, 7}), 0);
        WindowModel model;
        std::string failure;
        const Seen seen = RunAndCheck(&model, c.ticks, c.interval, &failure);
        ASSERT_EQ(failure, "");
        EXPECT_EQ(seen.whole, 1) << "only the first frame is whole";
        EXPECT_GT(seen.morph, 100);
        EXPECT_GT(seen.holdNothing, 50) << "hold ticks that change nothing say so";
        if (c.interval == Regulated) {
            EXPECT_GT(seen.grown, 0) << "points given back in a hold or pick";
        }
        if (c.points < 0) {
            EXPECT_GT(seen.statusChanged, 1);
            EXPECT_LT(seen.statusChanged, c.ticks / 10) << "the strip only when its text changes";
        }
    }
}

TEST_F(DamageTest, ANewImageOrLostPositionsArePresentedWhole) {
    ASSERT_EQ(StartSaver({Fractals(-500), 160, 120, RunMode::Saver, false, 3}), 0);
    TickAt(10);
    EXPECT_TRUE(Host().frameDamage.whole) << "the first frame";
    TickAt(20);
    EXPECT_FALSE(Host().frameDamage.whole);

    // A resize: a new image, presented whole, then partial again; the model follows.
    ASSERT_TRUE(ResizeFrame(130, 90));
    TickAt(30);
    EXPECT_TRUE(Host().frameDamage.whole) << "after a resize";
    WindowModel model;
    model.Present(Host());
    std::string failure;
    RunAndCheck(&model, 600, Steady, &failure);
    EXPECT_EQ(failure, "");
    EXPECT_EQ(model.wholes, 1);

    // The image written outside a tick, marked unknown.
    State.PlottedPoints = -1;
    TickAt(Host().now + 10);
    EXPECT_TRUE(Host().frameDamage.whole);

    // Without the second point array a move loses the last positions.
    State.Phase = Phase::Morph;
    State.PhaseClock = 100;
    State.PtsLast = nullptr;
    TickAt(Host().now + 10);
    EXPECT_TRUE(Host().frameDamage.whole);
}

TEST_F(DamageTest, TheRectanglesOfAMorphBoundItsPointsAndAHoldTickNamesNothing) {
    ASSERT_EQ(StartSaver({Fractals(4000), 300, 200, RunMode::Saver, false, 11}), 0);
    TickAt(10);
    // Through a morph: the rectangles lie in the image, below the strip, and hold every point.
    int morphTicks = 0;
    while (State.Phase == Phase::Morph) {
        ++morphTicks;
        TickAt(Host().now + 10);
        const platform::FrameDamage& d = Host().frameDamage;
        ASSERT_FALSE(d.whole);
        ASSERT_GE(d.count, 1);
        for (int i = 0; i < d.count; ++i) {
            const platform::Rect& r = d.rects[i];
            EXPECT_TRUE(r.left >= 0 && r.right <= 300 && r.top >= StatusStripHeight && r.bottom <= 200 && r.left < r.right &&
                        r.top < r.bottom);
        }
        for (std::int32_t i = 0; i < d.plottedCount; ++i) {
            const ScreenPoint p = d.plotted[i];
            if (p.x < 0 || p.x >= 300 || p.y < 0 || p.y >= State.ImageHeight) continue;
            ASSERT_TRUE(InRects(d, p.x, StatusStripHeight + State.ImageHeight - 1 - p.y));
        }
    }
    EXPECT_GT(morphTicks, 200);
    // The first hold tick puts the points at their targets; the ones after change nothing.
    TickAt(Host().now + 10);
    EXPECT_EQ(Host().frameDamage.plottedCount, State.ShownPoints);
    for (int i = 0; i < 20; ++i) {
        TickAt(Host().now + 10);
        EXPECT_EQ(Host().frameDamage.count, 0);
        EXPECT_EQ(Host().frameDamage.plottedCount + Host().frameDamage.clearedCount, 0);
    }
}
