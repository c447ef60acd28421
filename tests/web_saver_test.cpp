// The browser's start-up and its clean slate, the page's size rule, and the re-fit on resize.
#include <algorithm>
#include <cstdint>
#include <string>

#include "anim/anim.h"
#include "core/arrays.h"
#include "saver/saver_run.h"
#include "saver/web_saver.h"
#include "test_support.h"

using WebSaverTest = SaverTest;

namespace {

std::string FernFile(std::int32_t points) { return std::to_string(points) + "\n" + FernDefinition(); }

// Starts the web run on a file, as the page does.
int StartWeb(const std::string& text, const WebStart& start) {
    HeadlessHost& host = Host();
    host.useDefinitionFile = true;
    host.definitionBytes = text.data();
    host.definitionSize = text.size();
    return StartWebSaver(start);
}

// The shown points' bounds as shares of the image, per mille.
struct Bounds {
    std::int64_t left, right, bottom, top;
};
Bounds ShownBounds() {
    Bounds b = {INT64_MAX, INT64_MIN, INT64_MAX, INT64_MIN};
    for (std::int32_t i = 0; i < State.ShownPoints; ++i) {
        const ScreenPoint p = State.PtsA[i];
        b.left = std::min<std::int64_t>(b.left, p.x * 1000LL / State.ScreenWidth);
        b.right = std::max<std::int64_t>(b.right, p.x * 1000LL / State.ScreenWidth);
        b.bottom = std::min<std::int64_t>(b.bottom, p.y * 1000LL / State.ScreenHeight);
        b.top = std::max<std::int64_t>(b.top, p.y * 1000LL / State.ScreenHeight);
    }
    return b;
}

}  // namespace

TEST(WebSizeTest, TwoWholeSidesFromOneTo16384) {
    const struct {
        const char* text;
        bool ok;
        std::int32_t width, height;
    } cases[] = {
        {"800x600", true, 800, 600},      {"1x1", true, 1, 1},          {"16384x16384", true, 16384, 16384},
        {"152X112", true, 152, 112},      {"0x5", false, 0, 0},         {"16385x2", false, 0, 0},
        {"800x", false, 0, 0},            {"x600", false, 0, 0},        {"800 x600", false, 0, 0},
        {"-1x5", false, 0, 0},            {"8e2x600", false, 0, 0},     {"", false, 0, 0},
        {"800x600 ", false, 0, 0},        {"99999999999999999999x1", false, 0, 0}, {"800x600x2", false, 0, 0},
    };
    for (const auto& c : cases) {
        std::int32_t w = -7, h = -7;
        EXPECT_EQ(ParseWebSize(c.text, &w, &h), c.ok) << c.text;
        EXPECT_EQ(w, c.ok ? c.width : -7) << c.text;
        EXPECT_EQ(h, c.ok ? c.height : -7) << c.text;
    }
    EXPECT_FALSE(ParseWebSize(nullptr, nullptr, nullptr));
}

TEST_F(WebSaverTest, RunsStartAgainAndAgainAndGiveEverythingBack) {
    const std::string fern = FernFile(2000);
    // (what, file, preview, status, code, message, points, image rows)
    const struct {
        const char* what;
        std::string text;
        bool preview, status;
        int code;
        const char* message;
        std::int32_t points, imageRows;
    } cases[] = {
        {"saver", fern, false, false, 0, nullptr, 2000, 224},
        {"status asked for", fern, false, true, 0, nullptr, 2000, 224},
        {"preview: a tenth, the image fills the window", fern, true, true, 0, nullptr, 200, 240},
        {"10^8 points past the page's bound", "100000000\n" + FernDefinition(), false, false, 1,
         "Not enough memory (Pts1)", 100000000, 224},
        {"a header of 10^8 maps", "1000\n100000000\n0.5 0 0 0.5 0 0 100\n0 0 1 1\n", false, false, 1,
         "there are no IFS definitions", 1000, 224},
    };
    for (int round = 0; round < 2; ++round) {
        for (const auto& c : cases) {
            Host().messages.clear();
            WebStart start;
            start.seed = 3;
            start.width = 320;
            start.height = 240;
            start.preview = c.preview;
            start.status = c.status;
            start.memoryBound = WebMemoryBound;
            EXPECT_EQ(StartWeb(c.text, start), c.code) << c.what;
            EXPECT_EQ(State.PointCount, c.points) << c.what;
            EXPECT_EQ(State.ImageHeight, c.imageRows) << c.what;
            EXPECT_EQ(State.ShowStatus, c.status && !c.preview) << c.what;
            EXPECT_EQ(State.Mode, c.preview ? RunMode::Preview : RunMode::Window) << c.what;
            EXPECT_EQ(State.Regulation, PointRegulation::FastRun) << c.what << ": the page's ticks never measure 0 ms";
            if (c.message != nullptr) {
                ASSERT_EQ(Host().messages.size(), 1u) << c.what;
                EXPECT_NE(Host().messages[0].find(c.message), std::string::npos) << Host().messages[0];
            } else {
                EXPECT_TRUE(Host().messages.empty()) << c.what;
                for (std::uint32_t t = 1; t <= 50; ++t) TickAt(t * 10);
                EXPECT_GT(Host().framesPresented, 0) << c.what;
            }
            EndWebRun();
            EXPECT_EQ(AllocatedBytes(), 0u) << c.what;
            EXPECT_EQ(State.FirstDefinition, nullptr) << c.what;
            EXPECT_EQ(State.Pts1, nullptr) << c.what;
        }
    }
}

TEST_F(WebSaverTest, AResizeRefitsThePictureByTheNextTick) {
    // (from, to, ticks before the resize: mid-morph, in the hold)
    const struct {
        std::int32_t w0, h0, w1, h1;
        std::uint32_t ticks;
    } cases[] = {
        {320, 240, 640, 480, 150}, {640, 480, 201, 333, 150}, {320, 240, 1000, 120, 380}, {300, 300, 17, 40, 380},
    };
    for (const auto& c : cases) {
        ResetAll();
        WebStart start;
        start.seed = 9;
        start.width = c.w0;
        start.height = c.h0;
        start.memoryBound = WebMemoryBound;
        ASSERT_EQ(StartWeb(FernFile(3000), start), 0);
        for (std::uint32_t t = 1; t <= c.ticks; ++t) TickAt(t * 10);
        const Phase phase = State.Phase;
        const Bounds before = ShownBounds();
        Host().windowWidth = c.w1;
        Host().windowHeight = c.h1;
        HandleSaverMessage(State.Window, SaverMessage::Resize);
        ASSERT_EQ(State.ScreenWidth, c.w1);
        TickAt((c.ticks + 1) * 10);
        ASSERT_EQ(State.Phase, phase) << "the tick after the resize stays in its phase";
        const Bounds after = ShownBounds();
        // The same picture, in shares of the window: within the rounding of one pixel of the
        // smaller window, and of the morph's step of one tick.
        const std::int64_t slack = 1000 / std::min({c.w0, c.w1, c.h0, c.h1}) + 12;
        EXPECT_NEAR(after.left, before.left, slack) << c.w0 << "x" << c.h0 << " to " << c.w1 << "x" << c.h1;
        EXPECT_NEAR(after.right, before.right, slack);
        EXPECT_NEAR(after.bottom, before.bottom, slack);
        EXPECT_NEAR(after.top, before.top, slack);
        EXPECT_GT(after.right - after.left, 100) << "the fern still spans the window";
        EndWebRun();
    }
}

