// The shipped gallery: it loads, and every fractal in it is framed to fill the screen.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ifs/ifs_definition.h"
#include "ifs/loader.h"
#include "test_support.h"
#include "ifs/check/check_measure.h"

namespace {

constexpr std::int32_t Width = 800;
constexpr std::int32_t Height = 600;
constexpr std::int32_t SampleCount = 30000;

// How a point set sits on an 800x600 full screen, measured as lumivex-render --check measures it.
PointShares Measure(const IfsDefinition& def, std::vector<ScreenPoint>* points) {
    return MeasureShares(def, SampleCount, Width, Height, points);
}

// Clear of the status strip and of an equal band at the bottom, and filling the screen one way.
bool FramedWell(const PointShares& f) {
    return f.clearOfEdges >= 0.97 && (f.litWidth >= Width / 2 || f.litHeight >= Height / 2);
}

// With LUMIVEX_GALLERY_PICTURES set to a directory, each fractal is also written there as a PGM
// picture of the full screen (strip grey), for a look by eye.
void WritePicture(int number, const std::vector<ScreenPoint>& points) {
    const char* dir = std::getenv("LUMIVEX_GALLERY_PICTURES");
    if (dir == nullptr) return;
    std::vector<unsigned char> image(static_cast<std::size_t>(Width) * Height, 0);
    std::fill(image.begin(), image.begin() + Width * StatusStripHeight, 60);
    for (const ScreenPoint& p : points) {
        if (p.x < 0 || p.x >= Width || p.y < 0 || p.y >= Height - StatusStripHeight) continue;
        image[static_cast<std::size_t>(Height - 1 - p.y) * Width + p.x] = 255;
    }
    char path[1024];
    std::snprintf(path, sizeof path, "%s/gallery-%02d.pgm", dir, number);
    if (std::FILE* out = std::fopen(path, "wb")) {
        std::fprintf(out, "P5 %d %d 255\n", Width, Height);
        std::fwrite(image.data(), 1, image.size(), out);
        std::fclose(out);
    }
}

class GalleryTest : public SaverTest {
protected:
    void LoadShipped() {
        State.Mode = RunMode::Saver;
        Host().useDefinitionFile = true;
        Host().definitionFile = SourcePath("resources/lumivex.ini");
        ASSERT_EQ(LoadDefinitions(), 0);
    }
};

TEST_F(GalleryTest, ShippedFileLoadsWithEnoughFractalsAndSoundWeights) {
    LoadShipped();
    EXPECT_GE(State.DefinitionCount, 12);
    EXPECT_EQ(State.ShowStatus, 0) << "the gallery ships with the status line off";
    EXPECT_GE(State.PointCount, 10000);
    EXPECT_LE(State.PointCount, 100000);

    int number = 1;
    for (const IfsDefinition* def = State.FirstDefinition; def != nullptr; def = def->Next, ++number) {
        ASSERT_GE(def->TransformCount, 1) << "fractal " << number;
        std::int64_t sum = 0;
        for (std::int32_t i = 0; i < def->TransformCount; ++i) {
            EXPECT_GT(def->Transforms[i].weight, 0) << "fractal " << number << ", map " << i;
            sum += def->Transforms[i].weight;
        }
        // Weights summing to 100 leave no draw to fall through to the last map by default.
        EXPECT_EQ(sum, 100) << "fractal " << number;
        EXPECT_GT(def->Width, 0) << "fractal " << number;
        EXPECT_GT(def->Height, 0) << "fractal " << number;
    }
    EXPECT_EQ(number - 1, State.DefinitionCount);
}

TEST_F(GalleryTest, EveryFractalLandsOnScreenAndFillsIt) {
    LoadShipped();
    std::vector<ScreenPoint> points;
    int number = 1;
    for (const IfsDefinition* def = State.FirstDefinition; def != nullptr; def = def->Next, ++number) {
        const PointShares f = Measure(*def, &points);
        WritePicture(number, points);
        EXPECT_TRUE(FramedWell(f)) << "fractal " << number << ": " << f.clearOfEdges * 100 << "% inside, lit box "
                                   << f.litWidth << "x" << f.litHeight;
    }
}

// The framing check itself: the fern of the gallery in boxes that are too tight, shifted under
// the strip, or far too wide must all fail it.
TEST_F(GalleryTest, FramingCheckRejectsBadlyFramedFractals) {
    LoadShipped();
    IfsDefinition fern = *State.FirstDefinition;
    std::vector<ScreenPoint> points;
    ASSERT_TRUE(FramedWell(Measure(fern, &points))) << "the shipped fern is the well-framed reference";

    IfsDefinition tight = fern;  // the top of the frond cut off
    tight.Height = fern.Height * 0.8;
    EXPECT_FALSE(FramedWell(Measure(tight, &points)));

    IfsDefinition raised = fern;  // the tip under the status strip
    raised.YMin = fern.YMin - fern.Height * 0.1;
    EXPECT_FALSE(FramedWell(Measure(raised, &points)));

    IfsDefinition distant = fern;  // a speck in the middle of the screen
    distant.XMin = fern.XMin - fern.Width;
    distant.Width = fern.Width * 3;
    distant.YMin = fern.YMin - fern.Height;
    distant.Height = fern.Height * 3;
    EXPECT_FALSE(FramedWell(Measure(distant, &points)));
}

}  // namespace
