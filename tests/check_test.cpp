// lumivex-render --check and --fit: faults found, the attractor measured, files fitted byte for byte.
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "ifs/check/check.h"
#include "ifs/check/check_report.h"
#include "ifs/check/fit.h"

namespace {

namespace fs = std::filesystem;

const std::string Gallery = std::string(LUMIVEX_SOURCE_DIR) + "/resources/lumivex.ini";

// The Sierpinski triangle with corners (0,0), (1,0), (0.5, 0.866), as maps and as file lines.
const IfsTransform Sierpinski[3] = {
    {0.5, 0, 0, 0.5, 0, 0, 34}, {0.5, 0, 0, 0.5, 0.5, 0, 33}, {0.5, 0, 0, 0.5, 0.25, 0.433, 33}};
const std::string SierpinskiMaps = "0.5 0 0 0.5 0 0 34\n0.5 0 0 0.5 0.5 0 33\n0.5 0 0 0.5 0.25 0.433 33\n";
const std::string SierpinskiBox = "-0.37 -0.05 1.37 0.93\n";
const std::string Fern =
    "4\n0 0 0 0.16 0 0 1\n0.85 0.04 -0.04 0.85 0 1.6 85\n0.2 -0.26 0.23 0.22 0 1.6 7\n"
    "-0.15 0.28 0.26 0.24 0 0.44 7\n-9.8 -0.55 10.3 10.75\n";

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The numbers of a JSON value after "key": a number or a flat array of numbers.
std::vector<double> Numbers(const std::string& json, const std::string& key) {
    std::vector<double> values;
    std::size_t at = json.find("\"" + key + "\":");
    if (at == std::string::npos) return values;
    at += key.size() + 3;
    const bool list = json[at] == '[';
    const char* p = json.c_str() + at + (list ? 1 : 0);
    while (true) {
        char* end = nullptr;
        const double value = std::strtod(p, &end);
        if (end == p) break;
        values.push_back(value);
        if (!list || *end != ',') break;
        p = end + 1;
    }
    return values;
}

class CheckTest : public SaverTest {};

TEST_F(CheckTest, EveryFaultGetsItsWarningAndExitCodeOne) {
    struct Case {
        const char* name;
        std::string definition;
        std::vector<std::string> warnings;
    };
    const std::vector<Case> cases = {
        {"a map of determinant 1.2", "2\n1.2 0 0 1 0 0 50\n0.5 0 0 0.5 0.5 0 50\n-1 -1 2 1\n",
         {"map 1 does not shrink: it stretches by up to 1.2"}},
        {"all maps stretching", "2\n1.1 0 0 1.1 0 0 50\n0.9 0.3 -0.3 0.9 1 0 50\n-1 -1 2 1\n",
         {"the maps stretch by 1.025 on average", "the chaos game runs off"}},
        {"a box that misses the attractor", "3\n" + SierpinskiMaps + "5 5 6 6\n",
         {"only 0.0% of the points land in the image"}},
        {"a box of no width", "3\n" + SierpinskiMaps + "0.5 0 0.5 1\n", {"the box has no width or no height"}},
        {"weights 90/5/5 for three equal maps",
         "3\n0.5 0 0 0.5 0 0 90\n0.5 0 0 0.5 0.5 0 5\n0.5 0 0 0.5 0.25 0.433 5\n" + SierpinskiBox,
         {"map 2 gets 5 of the 101 draws where its area asks for about 33",
          "map 3 gets 5 of the 101 draws where its area asks for about 33"}},
        {"a comment between map lines",
         "3\n0.5 0 0 0.5 0 0 34\n; the second map\n0.5 0 0 0.5 0.5 0 33\n0.5 0 0 0.5 0.25 0.433 33\n" + SierpinskiBox,
         {"line 5 (map 2) holds 0 numbers, not 7", "line 7 (the box) holds more than 4 numbers",
          "line 8, after this definition, starts with a number but is skipped"}},
        {"a map line with 5 numbers", "3\n0.5 0 0 0.5 0 0 34\n0.5 0 0 0.5 0.5\n0.5 0 0 0.5 0.25 0.433 33\n" + SierpinskiBox,
         {"line 5 (map 2) holds 5 numbers, not 7"}},
        {"a weight written as a decimal",
         "3\n0.5 0 0 0.5 0 0 34\n0.5 0 0 0.5 0.5 0 33.5\n0.5 0 0 0.5 0.25 0.433 32.5\n" + SierpinskiBox,
         {"line 5 (map 2) has text after its 7 numbers, \\\".5\\\""}},
        {"weights summing to 80",
         "3\n0.5 0 0 0.5 0 0 27\n0.5 0 0 0.5 0.5 0 27\n0.5 0 0 0.5 0.25 0.433 26\n" + SierpinskiBox,
         {"the weights sum to 80, not 100: the draw runs 0 to 100, so the last map gets 46 of the 101 draws "
          "(its weight 26 and the draws 81 to 100)"}},
        {"weights summing to 130",
         "3\n0.5 0 0 0.5 0 0 50\n0.5 0 0 0.5 0.5 0 50\n0.5 0 0 0.5 0.25 0.433 30\n" + SierpinskiBox,
         {"the weights sum to 130, not 100: the draw runs 0 to 100, so the last map gets 0 of the 101 draws where "
          "its weight asks for 30",
          "map 3 gets 0 of the 101 draws"}},
    };
    // The first definition of each file is a sound one: no warning of a fault may land on it.
    std::string all = "; faults\n2000\n" + Fern;
    for (const Case& c : cases) {
        const std::string path = WriteTempFile("; " + std::string(c.name) + "\n2000\n" + c.definition);
        const RenderRun run = Render("--check --json --ini " + path);
        std::remove(path.c_str());
        EXPECT_EQ(run.code, 1) << c.name << "\n" << run.out << run.err;
        const std::vector<std::string> lines = SplitLines(run.out);
        ASSERT_EQ(lines.size(), 2u) << c.name << ": one definition and the summary\n" << run.out;
        for (const std::string& warning : c.warnings)
            EXPECT_NE(lines[0].find(warning), std::string::npos) << c.name << ": no warning \"" << warning << "\" in\n"
                                                                 << lines[0];
        all += "; " + std::string(c.name) + "\n" + c.definition;
    }

    // All in one file, as text: the good fern stays clean, every other block is warned about.
    const std::string path = WriteTempFile(all);
    const RenderRun run = Render("--check --ini " + path);
    std::remove(path.c_str());
    EXPECT_EQ(run.code, 1);
    const std::size_t second = run.out.find("IFS # 2,");
    ASSERT_NE(second, std::string::npos) << run.out;
    EXPECT_EQ(run.out.substr(0, second).find("warning"), std::string::npos) << run.out.substr(0, second);
    EXPECT_NE(run.out.find("(IFS # 2, 3, 4, 5, 6, 7, 8, 9, 10, 11)"), std::string::npos) << run.out;
    // A comment read as a map shows up among the definition's lines as the map it became.
    EXPECT_NE(run.out.find(": ; the second map\n"), std::string::npos) << run.out;
}

TEST_F(CheckTest, SoundFilePassesWithTheLinesNumberedAsInTheFile) {
    // CRLF endings, a comment longer than one read of the saver (2047 characters), a blank line.
    const std::string text = "; " + std::string(3000, 'x') + "\r\n\r\n-2000\r\n; triangle\r\n3\r\n" + SierpinskiMaps +
                             SierpinskiBox + Fern;
    const std::string path = WriteTempFile(text);
    const RenderRun json = Render("--check --json --ini " + path);
    const RenderRun plain = Render("--check --ini " + path + " --size 1280x1024");
    std::remove(path.c_str());
    EXPECT_EQ(json.code, 0) << json.out << json.err;
    EXPECT_EQ(plain.code, 0) << plain.out << plain.err;
    EXPECT_NE(plain.out.find("2000 points (status line on), 2 definitions, checked for 1280x1024"), std::string::npos)
        << plain.out;
    EXPECT_NE(plain.out.find("2 definitions, 0 warnings: ready for the saver"), std::string::npos) << plain.out;
    const std::vector<std::string> lines = SplitLines(json.out);
    ASSERT_EQ(lines.size(), 3u) << json.out;
    EXPECT_EQ(Numbers(lines[0], "line"), std::vector<double>{5});
    EXPECT_EQ(Numbers(lines[1], "line"), std::vector<double>{10});
    EXPECT_NE(lines[0].find("{\"line\":9,\"use\":\"box\",\"text\":\"-0.37 -0.05 1.37 0.93\"}"), std::string::npos)
        << lines[0];
    EXPECT_GE(Numbers(lines[0], "in_image")[0], 0.95);
    EXPECT_EQ(Numbers(lines[1], "points"), std::vector<double>{2000});
}

// The README's check example is the report of the example file shown just above it.
TEST_F(CheckTest, TheReadmeExampleIsTheReportOfItsFile) {
    const std::string readme = ReadFileText(SourcePath("README.md"));
    const std::string fence = "```\n", command = "$ build/default/lumivex-render --check --ini my.ini\n";
    const std::size_t example = readme.find(fence, readme.find("A small example, a triangle and a fern"));
    const std::size_t report = readme.find(command);
    ASSERT_NE(example, std::string::npos);
    ASSERT_NE(report, std::string::npos);
    const auto block = [&](std::size_t from) { return readme.substr(from, readme.find(fence, from) - from); };
    const std::string path = WriteTempFile(block(example + fence.size()));
    const RenderRun run = Render("--check --ini " + path);
    std::remove(path.c_str());
    EXPECT_EQ(run.code, 0) << run.err;
    const std::string shown = block(report + command.size());
    EXPECT_EQ("my.ini" + run.out.substr(path.size()), shown);
}

TEST_F(CheckTest, SierpinskiBoxIsMeasuredAndTheSuggestionFitsTheScreen) {
    PlaneBox attractor;
    ASSERT_TRUE(MeasureAttractor(Sierpinski, 3, &attractor));
    EXPECT_NEAR(attractor.xMin, 0, 1e-3);
    EXPECT_NEAR(attractor.yMin, 0, 1e-3);
    EXPECT_NEAR(attractor.xMax, 1, 1e-3);
    EXPECT_NEAR(attractor.yMax, 0.866, 1e-3);

    // The odd point far out of the cloud does not stretch the box: a rarely drawn map that throws
    // the point out (to 4 and 13 when drawn twice or three times in a row) and one that brings
    // it back; the bulk lies in [0, 1.5].
    const IfsTransform thrown[2] = {{0.5, 0, 0, 0.5, 0, 0, 99}, {3, 0, 0, 3, 1, 0, 1}};
    PlaneBox bulk;
    ASSERT_TRUE(MeasureAttractor(thrown, 2, &bulk));
    EXPECT_GE(bulk.xMax, 1.0);
    EXPECT_LT(bulk.xMax, 2.0);

    IfsDefinition def(3);
    for (int i = 0; i < 3; ++i) def.Transforms[i] = Sierpinski[i];
    for (const auto& [width, height] : {std::pair{1920, 1080}, std::pair{800, 600}, std::pair{600, 900}}) {
        const PlaneBox box = SuggestBox(attractor, width, height);
        const double boxWidth = box.xMax - box.xMin, boxHeight = box.yMax - box.yMin;
        EXPECT_NEAR(boxWidth / boxHeight, static_cast<double>(width) / height, 1e-9);
        // The strip's rows are the top 16 of the box: the attractor stays below them, and the
        // margin keeps it off every edge.
        const double imageTop = box.yMin + boxHeight * (height - StatusStripHeight) / height;
        EXPECT_LT(attractor.yMax, imageTop - 0.04 * (imageTop - box.yMin));
        EXPECT_GT(attractor.yMin, box.yMin);
        EXPECT_GT(attractor.xMin, box.xMin);
        EXPECT_LT(attractor.xMax, box.xMax);
        // The saver's own projection puts every point of the set into the image, and the box
        // line reads back as the same box.
        const PlaneBox line = [&] {
            PlaneBox read;
            EXPECT_EQ(std::sscanf(BoxLineText(box).c_str(), "%lf %lf %lf %lf", &read.xMin, &read.yMin, &read.xMax,
                                  &read.yMax), 4);
            return read;
        }();
        EXPECT_NEAR(line.xMin, box.xMin, 1e-6);
        EXPECT_NEAR(line.yMax, box.yMax, 1e-6);
        def.XMin = line.xMin;
        def.YMin = line.yMin;
        def.Width = line.xMax - line.xMin;
        def.Height = line.yMax - line.yMin;
        EXPECT_EQ(MeasureShares(def, 20000, width, height).inImage, 1.0) << width << "x" << height;
    }

    // Through the program: the suggested box of --json for the screen asked for.
    const std::string path = WriteTempFile("1000\n3\n" + SierpinskiMaps + SierpinskiBox);
    const RenderRun run = Render("--check --json --size 1000x700 --ini " + path);
    std::remove(path.c_str());
    const std::vector<double> box = Numbers(run.out, "suggested_box");
    ASSERT_EQ(box.size(), 4u) << run.out;
    EXPECT_NEAR((box[2] - box[0]) / (box[3] - box[1]), 1000.0 / 700, 1e-6);
    EXPECT_LT(Numbers(run.out, "attractor")[3], box[1] + (box[3] - box[1]) * 684 / 700);
}

TEST_F(CheckTest, MapNumbersAndSuggestedWeights) {
    EXPECT_NEAR(LargestSingularValue(0.6, -0.8, 0.8, 0.6), 1.0, 1e-12);  // a rotation
    EXPECT_NEAR(LargestSingularValue(1, 1, 0, 1), (1 + std::sqrt(5.0)) / 2, 1e-12);  // a shear
    EXPECT_NEAR(LargestSingularValue(0, 0, 0, 0.16), 0.16, 1e-12);
    EXPECT_NEAR(AreaFactor({0.2, -0.26, 0.23, 0.22, 0, 0, 0}), 0.1038, 1e-12);

    const IfsTransform eighty[3] = {{0.5, 0, 0, 0.5, 0, 0, 30}, {0.5, 0, 0, 0.5, 0, 0, 30}, {0.5, 0, 0, 0.5, 0, 0, 20}};
    EXPECT_EQ(DrawCounts(eighty, 3), (std::vector<std::int32_t>{31, 30, 40}));

    EXPECT_EQ(SuggestWeights(Sierpinski, 3), (std::vector<std::int32_t>{34, 33, 33}));
    const IfsTransform fern[4] = {{0, 0, 0, 0.16, 0, 0, 1},
                                  {0.85, 0.04, -0.04, 0.85, 0, 1.6, 85},
                                  {0.2, -0.26, 0.23, 0.22, 0, 1.6, 7},
                                  {-0.15, 0.28, 0.26, 0.24, 0, 0.44, 7}};
    EXPECT_EQ(SuggestWeights(fern, 4), (std::vector<std::int32_t>{1, 77, 11, 11}));  // the stem keeps 1
    std::vector<IfsTransform> flat(150, IfsTransform{0, 0, 0, 0, 0, 0, 0});
    flat[0] = {0.5, 0, 0, 0.5, 0, 0, 0};
    const std::vector<std::int32_t> many = SuggestWeights(flat.data(), 150);
    std::int32_t sum = 0;
    for (std::int32_t w : many) sum += w;
    EXPECT_EQ(sum, 100) << "more maps than percent still sum to 100";
}

TEST_F(CheckTest, FitReplacesOnlyTheBoxLinesAndWritesWholeOrNothing) {
    const std::string text = "; my fractals\r\n\r\n2000\r\n; triangle, badly framed\r\n3 maps\r\n" +
                             std::string("0.5 0 0 0.5 0 0 90\r\n0.5 0 0 0.5 0.5 0 5\r\n0.5 0 0 0.5 0.25 0.433 5\r\n") +
                             "5 5 6 6  ; far off\r\n\r\n; fern\r\n4\r\n0 0 0 0.16 0 0 1\r\n"
                             "0.85 0.04 -0.04 0.85 0 1.6 85\r\n0.2 -0.26 0.23 0.22 0 1.6 7\r\n"
                             "-0.15 0.28 0.26 0.24 0 0.44 7\r\n0 0 1 1\r\n; the end, no line feed";
    const fs::path dir = fs::path(WriteTempFile("")).string() + ".dir";
    fs::create_directory(dir);
    const std::string in = (dir / "in.ini").string();
    const std::string out = (dir / "out.ini").string();
    std::ofstream(in, std::ios::binary) << text;

    const RenderRun before = Render("--check --json --size 1024x768 --ini " + in);
    EXPECT_EQ(before.code, 1);
    const std::vector<std::string> reports = SplitLines(before.out);
    ASSERT_EQ(reports.size(), 3u) << before.out;

    const RenderRun fit = Render("--fit --size 1024x768 --ini " + in + " --out " + out);
    EXPECT_EQ(fit.code, 0) << fit.out << fit.err;
    EXPECT_EQ(ReadFileText(in), text) << "the input is left alone";
    const std::string fitted = ReadFileText(out);
    // Every byte but the numbers of the two box lines is kept.
    std::vector<std::string> want;
    std::size_t from = 0;
    for (std::size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
        want.push_back(text.substr(from, end + 1 - from));
    want.push_back(text.substr(from));
    want[8] = std::string(1, '\0');
    want[16] = std::string(1, '\0');
    std::string rebuilt;
    std::size_t at = 0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        const std::size_t end = i + 1 < want.size() ? fitted.find('\n', at) + 1 : fitted.size();
        const std::string line = fitted.substr(at, end - at);
        at = end;
        if (i != 8 && i != 16) {
            EXPECT_EQ(line, want[i]) << "line " << i + 1;
            continue;
        }
        const std::string suggested = [&] {
            const std::string& report = reports[i == 8 ? 0 : 1];
            const std::size_t key = report.find("\"suggested_box_line\":\"") + 22;
            return report.substr(key, report.find('"', key) - key);
        }();
        EXPECT_EQ(line, suggested + (i == 8 ? "  ; far off\r\n" : "\r\n")) << "line " << i + 1;
    }
    EXPECT_EQ(at, fitted.size());

    // The weights are still 90/5/5: only those warnings remain; with --weights none.
    const RenderRun after = Render("--check --size 1024x768 --ini " + out);
    EXPECT_EQ(after.code, 1);
    EXPECT_EQ(after.out.find("land in the image"), std::string::npos) << after.out;
    EXPECT_NE(after.out.find("2 warnings (IFS # 1)"), std::string::npos) << after.out;
    EXPECT_EQ(Render("--fit --weights --size 1024x768 --ini " + out + " --out " + out).code, 0);
    EXPECT_NE(ReadFileText(out).find("0.5 0 0 0.5 0.5 0 33\r\n"), std::string::npos);
    const RenderRun weighed = Render("--check --size 1024x768 --ini " + out);
    EXPECT_EQ(weighed.code, 0) << weighed.out;

    // A write that fails half-way (no room for a single byte) leaves nothing at the output path.
    const std::string failed = (dir / "failed.ini").string();
    RenderLaunch noRoom;
    noRoom.fileSizeLimit = 0;
    const RenderRun full = Render("--fit --ini " + in + " --out " + failed, noRoom);
    EXPECT_EQ(full.code, 2);
    EXPECT_FALSE(fs::exists(failed));
    EXPECT_FALSE(fs::exists(failed + ".partial"));
    // So does one whose rename fails, and the directory in the way is left as it was.
    fs::create_directory(dir / "taken");
    EXPECT_EQ(Render("--fit --ini " + in + " --out " + (dir / "taken").string()).code, 2);
    EXPECT_TRUE(fs::is_directory(dir / "taken"));
    EXPECT_FALSE(fs::exists((dir / "taken").string() + ".partial"));
    // A file that cannot be read says why; one that never ends stops where the saver stops.
    for (const auto& [path, why] : {std::pair{(dir / "taken").string(), std::string("is a directory")},
                                    std::pair{std::string("/dev/zero"), std::string("it goes on past 256 MB")}}) {
        const RenderRun refused = Render("--check --ini " + path);
        EXPECT_EQ(refused.code, 2) << path;
        EXPECT_EQ(refused.err.rfind("lumivex-render: cannot read " + path + ": " + why, 0), 0u) << refused.err;
    }
    fs::remove_all(dir);
}

TEST_F(CheckTest, ShippedGalleryPassesAndBadCommandsAreRefused) {
    const RenderRun run = Render("--check --json --ini " + Gallery);
    EXPECT_EQ(run.code, 0) << run.out;
    const std::vector<std::string> lines = SplitLines(run.out);
    ASSERT_GE(lines.size(), 13u);
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_NE(lines[i].find("\"warnings\":[]"), std::string::npos) << lines[i];
        EXPECT_GE(Numbers(lines[i], "in_box")[0], 0.95) << lines[i];
        EXPECT_GE(Numbers(lines[i], "in_image")[0], 0.95) << lines[i];
        EXPECT_EQ(Numbers(lines[i], "weight_sum"), std::vector<double>{100});
    }
    EXPECT_NE(lines.back().find("\"warnings\":0"), std::string::npos) << lines.back();

    for (const char* wrong : {"--check --ini /nonexistent/lumivex.ini", "--check --ini /", "--check --fit",
                              "--json", "--fit --ini x.ini", "--check --dump -", "--check --size 640x16",
                              "--weights --check"}) {
        const RenderRun refused = Render(wrong);
        EXPECT_EQ(refused.code, 2) << wrong;
        EXPECT_EQ(refused.out, "") << wrong;
        EXPECT_NE(refused.err, "") << wrong;
    }
    const RenderRun help = Render("--help");
    EXPECT_NE(help.out.find("--check"), std::string::npos);
    EXPECT_NE(help.out.find("--fit"), std::string::npos);
    EXPECT_NE(help.out.find("--weights"), std::string::npos);
}

}  // namespace
