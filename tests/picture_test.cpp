// The renderer's pictures: PNG frames and GIFs decoded with libpng and giflib, held against its dump.
#include <gif_lib.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"
#include "core/font8x16.h"
#include "tools/render/dump.h"

namespace fs = std::filesystem;

namespace {

// Two fractals that fill the upper half of their boxes, so with --child nothing lands in the
// image's lowest rows, which fall outside the window.
std::string Definitions(int count) {
    return "; test gallery\n" + std::to_string(count) + "\n" + TriangleDefinition("-0.1 -1.2 1.1 1.1") +
           "4\n0.5 0 0 0.5 0 0 25\n0.5 0 0 0.5 0.5 0 25\n0.5 0 0 0.5 0 0.5 25\n0.5 0 0 0.5 0.5 0.5 25\n"
           "-0.05 -1.1 1.05 1.05\n";
}

bool HasStatus(const DumpLine& line) { return line.at("status") != "null"; }

std::vector<DumpLine> ReadDump(const fs::path& path) { return ParseDump(ReadFileText(path.string())); }

// A decoded picture, 0xRRGGBB per pixel, rows from the top.
struct Rgb {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
    std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

Rgb ReadPng(const fs::path& path, bool* indexed) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Rgb rgb;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return rgb;
    *indexed = (image.format & PNG_FORMAT_FLAG_COLORMAP) != 0 && image.colormap_entries <= 4;
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> bytes(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr) == 0) return rgb;
    rgb.width = static_cast<int>(image.width);
    rgb.height = static_cast<int>(image.height);
    for (std::size_t i = 0; i + 2 < bytes.size(); i += 3)
        rgb.pixels.push_back(std::uint32_t{bytes[i]} << 16 | std::uint32_t{bytes[i + 1]} << 8 | bytes[i + 2]);
    return rgb;
}

struct GifFrame {
    Rgb canvas;  // what a viewer shows once this frame is drawn
    int delay = 0;
};

// Decodes every frame and draws it over the ones before, as a viewer does; also reports whether
// the file asks to loop for ever.
std::vector<GifFrame> ReadGif(const fs::path& path, bool* loops) {
    std::vector<GifFrame> frames;
    int code = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &code);
    if (gif == nullptr) return frames;
    if (DGifSlurp(gif) != GIF_OK) {
        DGifCloseFile(gif, &code);
        return frames;
    }
    *loops = false;
    Rgb canvas;
    canvas.width = gif->SWidth;
    canvas.height = gif->SHeight;
    canvas.pixels.assign(static_cast<std::size_t>(canvas.width) * canvas.height, 0xFF00FF00u);  // not a colour
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& image = gif->SavedImages[i];
        for (int e = 0; e + 1 < image.ExtensionBlockCount; ++e) {
            const ExtensionBlock& block = image.ExtensionBlocks[e];
            const ExtensionBlock& next = image.ExtensionBlocks[e + 1];
            if (block.Function == APPLICATION_EXT_FUNC_CODE && block.ByteCount == 11 &&
                std::string(reinterpret_cast<char*>(block.Bytes), 11) == "NETSCAPE2.0" && next.ByteCount == 3 &&
                next.Bytes[0] == 1 && next.Bytes[1] == 0 && next.Bytes[2] == 0)
                *loops = true;
        }
        GraphicsControlBlock control{};
        control.TransparentColor = NO_TRANSPARENT_COLOR;
        DGifSavedExtensionToGCB(gif, i, &control);
        EXPECT_TRUE(control.DisposalMode == DISPOSE_DO_NOT || control.DisposalMode == DISPOSAL_UNSPECIFIED);
        const ColorMapObject* map = image.ImageDesc.ColorMap != nullptr ? image.ImageDesc.ColorMap : gif->SColorMap;
        const GifImageDesc& d = image.ImageDesc;
        for (int y = 0; y < d.Height; ++y) {
            for (int x = 0; x < d.Width; ++x) {
                const int index = image.RasterBits[y * d.Width + x];
                if (index == control.TransparentColor || map == nullptr || index >= map->ColorCount) continue;
                const GifColorType c = map->Colors[index];
                canvas.pixels[static_cast<std::size_t>(d.Top + y) * canvas.width + d.Left + x] =
                    std::uint32_t{c.Red} << 16 | std::uint32_t{c.Green} << 8 | c.Blue;
            }
        }
        frames.push_back({canvas, control.DelayTime});
    }
    DGifCloseFile(gif, &code);
    return frames;
}

// The status strip the window keeps: black at first, then each status line drawn over it in
// black-on-white 8 x 16 cells from the left edge.
struct StripModel {
    int width;
    std::vector<std::uint32_t> pixels;
    explicit StripModel(int w) : width(w), pixels(static_cast<std::size_t>(w) * 16, 0) {}
    void Draw(const std::string& text) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            const std::uint8_t* glyph = FontGlyph(static_cast<unsigned char>(text[i]));
            for (int row = 0; row < 16; ++row)
                for (int x = 0; x < 8 && static_cast<int>(i) * 8 + x < width; ++x)
                    pixels[static_cast<std::size_t>(row) * width + i * 8 + x] = (glyph[row] << x & 0x80) != 0 ? 0 : 0xFFFFFF;
        }
    }
};

// Holds a window picture against one tick of the dump: the strip against the model, the image
// rows (from window row 16 down) against the frame image's hash, lit count and colour.
void ExpectWindowShowsTick(const Rgb& rgb, const DumpLine& tick, std::int32_t imageHeight, const StripModel& strip) {
    ASSERT_EQ(rgb.width, strip.width);
    int stripMismatches = 0;
    for (int y = 0; y < 16 && y < rgb.height; ++y)
        for (int x = 0; x < rgb.width; ++x) stripMismatches += rgb.At(x, y) != strip.pixels[static_cast<std::size_t>(y) * rgb.width + x];
    EXPECT_EQ(stripMismatches, 0) << "status strip of tick " << tick.at("tick");

    // Rebuild the frame image bottom row first; rows below the window stay 0.
    std::vector<std::uint8_t> image(static_cast<std::size_t>(rgb.width) * imageHeight, 0);
    int otherColours = 0;
    for (int r = 0; r < imageHeight && 16 + r < rgb.height; ++r) {
        for (int x = 0; x < rgb.width; ++x) {
            const std::uint32_t c = rgb.At(x, 16 + r);
            if (c == static_cast<std::uint32_t>(Number(tick, "colour"))) image[static_cast<std::size_t>(imageHeight - 1 - r) * rgb.width + x] = 1;
            else otherColours += c != 0;
        }
    }
    EXPECT_EQ(otherColours, 0) << "pixels neither black nor the colour, tick " << tick.at("tick");
    std::uint64_t lit = 0;
    for (const std::uint8_t b : image) lit += b;
    EXPECT_EQ(static_cast<long long>(lit), Number(tick, "lit")) << "tick " << tick.at("tick");
    EXPECT_EQ(HashText(Fnv1a(image.data(), image.size())), tick.at("image")) << "tick " << tick.at("tick");
}

class PictureTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/lumivex-pictures-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Ini(int count) {
        const fs::path path = dir / "test.ini";
        std::ofstream(path) << Definitions(count);
        return path.string();
    }
    fs::path FramePath(std::uint32_t n) const {
        char name[32];
        std::snprintf(name, sizeof name, "frame-%05u.png", n);
        return dir / "png" / name;
    }
    fs::path dir;
};

// Every kept PNG shows its tick, status line included. Ticks of 100 ms make the regulation drop
// the point count from 1000 to 700, so shorter status lines are drawn over longer ones.
TEST_F(PictureTest, PngFramesShowTheWindowOfEveryKeptTick) {
    const RenderRun run = Render("--ini " + Ini(-1000) + " --size 200x120 --seed 7 --ticks 120 --dt 100 --every 5 --png " +
                               (dir / "png").string() + " --dump " + (dir / "dump.jsonl").string());
    ASSERT_EQ(run.code, 0) << run.err;
    const std::vector<DumpLine> dump = ReadDump(dir / "dump.jsonl");
    ASSERT_EQ(dump.size(), 121u);
    ASSERT_EQ(Number(dump[0], "image_height"), 104);
    std::set<std::string> statuses;
    StripModel strip(200);
    std::uint32_t frame = 0;
    for (std::size_t i = 1; i < dump.size(); ++i) {
        ASSERT_TRUE(HasStatus(dump[i]));
        strip.Draw(dump[i].at("status"));
        statuses.insert(dump[i].at("status"));
        if (i % 5 != 0) continue;
        bool indexed = false;
        const Rgb rgb = ReadPng(FramePath(++frame), &indexed);
        ASSERT_EQ(rgb.width, 200) << FramePath(frame);
        ASSERT_EQ(rgb.height, 120);
        EXPECT_TRUE(indexed) << "a palette PNG of at most four colours";
        ExpectWindowShowsTick(rgb, dump[i], 104, strip);
    }
    EXPECT_EQ(frame, 24u);
    EXPECT_FALSE(fs::exists(FramePath(25)));
    EXPECT_GE(statuses.size(), 3u) << "the run should show several status lines";
}

// A preview inside a parent window: no status line, and the image reaches below the window.
TEST_F(PictureTest, PngOfAChildPreviewHasABlackStripAndCutsTheImage) {
    const RenderRun run = Render("--ini " + Ini(5000) + " --preview --child --size 120x90 --seed 3 --ticks 40 --dt 200 --every 8 "
                               "--png " + (dir / "png").string() + " --dump " + (dir / "dump.jsonl").string());
    ASSERT_EQ(run.code, 0) << run.err;
    const std::vector<DumpLine> dump = ReadDump(dir / "dump.jsonl");
    ASSERT_EQ(dump.size(), 41u);
    ASSERT_EQ(Number(dump[0], "image_height"), 90);
    const StripModel black(120);
    for (std::uint32_t frame = 1; frame <= 5; ++frame) {
        bool indexed = false;
        const Rgb rgb = ReadPng(FramePath(frame), &indexed);
        ASSERT_EQ(rgb.height, 90);
        EXPECT_FALSE(HasStatus(dump[frame * 8]));
        EXPECT_GT(Number(dump[frame * 8], "lit"), 0);
        ExpectWindowShowsTick(rgb, dump[frame * 8], 90, black);
    }
}

// The GIF's frames, drawn one over the other, show the kept ticks at their simulated times. An
// irregular clock (0 to 40 ms a tick) makes frames merge to last at least 2/100 s.
TEST_F(PictureTest, GifFramesShowTheKeptTicksAtTheirTimes) {
    const int steps[] = {3, 8, 15, 40, 0, 25, 9, 4, 31};
    std::string clock;
    std::uint32_t now = 50;
    for (int i = 0; i < 400; ++i) {
        now += static_cast<std::uint32_t>(steps[i % 9]);
        clock += (i ? "," : "") + std::to_string(now);
    }
    const RenderRun run = Render("--ini " + Ini(-800) + " --size 160x100 --seed 11 --every 2 --clock " + clock + " --gif " +
                               (dir / "a.gif").string() + " --dump " + (dir / "dump.jsonl").string());
    ASSERT_EQ(run.code, 0) << run.err;
    const std::vector<DumpLine> dump = ReadDump(dir / "dump.jsonl");
    ASSERT_EQ(dump.size(), 401u);
    bool loops = false;
    const std::vector<GifFrame> frames = ReadGif(dir / "a.gif", &loops);
    ASSERT_GT(frames.size(), 20u);
    EXPECT_TRUE(loops);

    // The time of each kept tick in hundredths of a second after the first kept tick, and the
    // strip as it stands after it.
    struct Kept {
        long long at;
        std::size_t index;
        StripModel strip;
    };
    std::vector<Kept> kept;
    StripModel strip(160);
    long long ms = 0, firstMs = -1;
    for (std::size_t i = 1; i < dump.size(); ++i) {
        ms += Number(dump[i], "dt") > 0 ? Number(dump[i], "dt") : 0;
        if (HasStatus(dump[i])) strip.Draw(dump[i].at("status"));
        if (i % 2 != 0) continue;
        if (firstMs < 0) firstMs = ms;
        kept.push_back({(ms - firstMs) / 10, i, strip});
    }

    auto looksSame = [&](const Kept& a, const Kept& b) {
        return dump[a.index].at("image") == dump[b.index].at("image") && Number(dump[a.index], "colour") == Number(dump[b.index], "colour") &&
               a.strip.pixels == b.strip.pixels;
    };
    long long at = 0;
    std::size_t k = 0, shown = 0;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        SCOPED_TRACE("frame " + std::to_string(f));
        EXPECT_GE(frames[f].delay, 2);
        // The frame shows the first kept tick at its time that looks different from the frame
        // before; the ticks it skipped came less than 2/100 s after that one or looked the same.
        while (k < kept.size() && kept[k].at < at) ++k;
        while (f > 0 && k < kept.size() && kept[k].at == at && looksSame(kept[k], kept[shown])) ++k;
        ASSERT_LT(k, kept.size());
        ASSERT_EQ(kept[k].at, at) << "no kept tick starts at this frame's time";
        ExpectWindowShowsTick(frames[f].canvas, dump[kept[k].index], 84, kept[k].strip);
        shown = k;
        at += frames[f].delay;
    }
    EXPECT_GT(at, kept.back().at) << "the last frame starts after the last kept tick";
}

// Slow identical ticks (the hold) merge into one long frame, and the delays add up to the run.
TEST_F(PictureTest, GifDelaysAddUpToTheSimulatedTime) {
    const RenderRun run = Render("--ini " + Ini(-600) + " --size 64x48 --seed 2 --ticks 100 --dt 100 --every 4 --gif " +
                               (dir / "a.gif").string() + " --dump " + (dir / "dump.jsonl").string());
    ASSERT_EQ(run.code, 0) << run.err;
    bool loops = false;
    const std::vector<GifFrame> frames = ReadGif(dir / "a.gif", &loops);
    ASSERT_FALSE(frames.empty());
    int total = 0, longest = 0;
    for (const GifFrame& f : frames) total += f.delay, longest = std::max(longest, f.delay);
    // 25 kept ticks 400 ms apart: 24 gaps and the last frame lasting as long as one.
    EXPECT_EQ(total, 25 * 40);
    EXPECT_LT(frames.size(), 25u) << "frames of the hold merge";
    EXPECT_GE(longest, 80);
    const std::vector<DumpLine> dump = ReadDump(dir / "dump.jsonl");
    StripModel strip(64);
    for (std::size_t i = 1; i <= 4; ++i) strip.Draw(dump[i].at("status"));
    ExpectWindowShowsTick(frames[0].canvas, dump[4], 32, strip);
}

// Wrong sizes, --every 0 and outputs that cannot be written: one line, exit code 2, and no file
// that could pass for complete output.
TEST_F(PictureTest, BadOptionsAndUnwritableOutputsExit2AndLeaveNothing) {
    const std::string ini = Ini(-500);
    const std::string png = (dir / "png").string();
    const std::string gif = (dir / "out.gif").string();
    const char* const badOptions[] = {"--size 0x100", "--size 100x0", "--size 16385x100", "--size 100x16385",
                                      "--every 0", "--every -3", "--png ''", "--gif ''"};
    for (const char* options : badOptions) {
        const RenderRun run = Render("--ini " + ini + " --ticks 5 " + options + " --png " + png + " --gif " + gif);
        EXPECT_EQ(run.code, 2) << options;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << options << ": " << run.err;
        EXPECT_FALSE(fs::exists(png)) << options;
        EXPECT_FALSE(fs::exists(gif)) << options;
    }

    std::ofstream(dir / "plain") << "a file, not a directory";
    const std::string unwritable[] = {"--png " + (dir / "plain").string(), "--png " + (dir / "plain" / "sub").string(),
                                      "--gif " + (dir / "missing" / "a.gif").string()};
    for (const std::string& options : unwritable) {
        const RenderRun run = Render("--ini " + ini + " --ticks 5 " + options);
        EXPECT_EQ(run.code, 2) << options;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << options << ": " << run.err;
    }
    EXPECT_FALSE(fs::exists(dir / "missing"));

    // Failures in the middle of a run: the third frame's name and the GIF's name are taken by
    // directories. What the run wrote goes again.
    fs::create_directories(dir / "png" / "frame-00003.png");
    fs::create_directories(gif);
    for (const std::string& options : {"--png " + png, "--gif " + gif}) {
        const RenderRun run = Render("--ini " + ini + " --size 64x48 --ticks 10 " + options);
        EXPECT_EQ(run.code, 2) << options;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << options << ": " << run.err;
    }
    std::vector<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"frame-00003.png", "out.gif", "plain", "png", "test.ini"}));

    // The saver's own failure (no definition file) writes no pictures either, nor a dump, and
    // takes away the folders --png made; an empty folder that was there stays.
    const RenderRun missing = Render("--ini " + (dir / "none.ini").string() + " --png " + (dir / "p2" / "a" / "b").string() +
                                     " --gif " + (dir / "b.gif").string() + " --dump " + (dir / "d.jsonl").string());
    EXPECT_EQ(missing.code, 1);
    EXPECT_FALSE(fs::exists(dir / "p2"));
    for (const char* name : {"b.gif", "b.gif.partial", "d.jsonl", "d.jsonl.partial"}) EXPECT_FALSE(fs::exists(dir / name)) << name;
    fs::create_directories(dir / "kept");
    EXPECT_EQ(Render("--ini " + (dir / "none.ini").string() + " --png " + (dir / "kept" / "sub").string()).code, 1);
    EXPECT_TRUE(fs::is_directory(dir / "kept"));
    EXPECT_FALSE(fs::exists(dir / "kept" / "sub"));

    // --png makes its missing parents.
    const RenderRun nested = Render("--ini " + ini + " --size 64x48 --ticks 2 --png " + (dir / "n1" / "n2" / "").string());
    EXPECT_EQ(nested.code, 0) << nested.err;
    EXPECT_TRUE(fs::exists(dir / "n1" / "n2" / "frame-00002.png"));
}

// A full disk (/dev/full) or a place where nothing can be created, for the dump as for the
// pictures: one line, exit 2, and no file left behind, not even a cut-short dump. A device is
// written in place: never replaced by a rename, never removed.
TEST_F(PictureTest, FullDiskOrUnwritablePlaceExit2AndLeaveNoHalfFile) {
    const std::string ini = Ini(-500);
    const std::string dump = (dir / "d.jsonl").string();
    std::ofstream(dir / "plain") << "a file, not a directory";
    const std::string blocked = (dir / "plain").string();
    fs::create_directories(dir / "png" / "frame-00003.png");  // the third frame cannot be written
    const std::string failing[] = {
        "--dump /dev/full", "--gif /dev/full", "--png /dev/full",
        "--dump " + blocked + "/d.jsonl", "--gif " + blocked + "/a.gif", "--png " + blocked + "/png",
        "--dump /proc/lumivex-test.jsonl", "--gif /proc/lumivex-test.gif",
        "--dump " + dump + " --png " + (dir / "png").string(),  // the dump is fine, a picture is not
        "--dump /dev/full --gif " + (dir / "g.gif").string(),   // the GIF is complete, the dump is not
    };
    for (const std::string& options : failing) {
        const RenderRun run = Render("--ini " + ini + " --size 64x48 --ticks 10 " + options);
        EXPECT_EQ(run.code, 2) << options;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << options << ": " << run.err;
    }
    RenderLaunch toFullDisk;
    toFullDisk.outTo = "/dev/full";
    const RenderRun full = Render("--ini " + ini + " --ticks 10 --dump -", toFullDisk);
    EXPECT_EQ(full.code, 2) << full.err;
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    std::vector<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"frame-00003.png", "plain", "png", "test.ini"}));

    // A run that succeeds leaves the whole dump under its name; a later failing run leaves it as it was.
    ASSERT_EQ(Render("--ini " + ini + " --size 64x48 --ticks 10 --dump " + dump).code, 0);
    const auto dumpText = [&] {
        std::ifstream in(dump);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    };
    const std::string complete = dumpText();
    EXPECT_EQ(std::count(complete.begin(), complete.end(), '\n'), 11);
    EXPECT_EQ(Render("--ini " + ini + " --size 64x48 --ticks 10 --dump " + dump + " --png " + (dir / "png").string()).code, 2);
    EXPECT_EQ(dumpText(), complete);
    EXPECT_FALSE(fs::exists(dump + ".partial"));
}

}  // namespace
