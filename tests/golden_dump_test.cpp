// Golden dumps: whole lumivex-render runs hashed and compared with hashes recorded earlier.
// Any change to a pixel, a point set, a colour, the regulation or the status line shows here.
#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"
#include "tools/render/dump.h"

namespace {

std::string DataFile(const char* name) { return SourcePath(std::string("tests/data/") + name); }

// A clock from a list of intervals, starting at first.
std::string ClockText(std::uint32_t first, const std::vector<std::uint32_t>& intervals) {
    std::string text = std::to_string(first);
    std::uint32_t now = first;
    for (const std::uint32_t dt : intervals) {
        now += dt;  // modulo 2^32, as the tick count wraps
        text += "," + std::to_string(now);
    }
    return text;
}

// Slow stretches that make the regulation drop points, runs of 0 ms that give them back,
// ordinary ticks, and intervals large enough to end a phase in one tick or to read as negative.
std::string RegulationClock(std::uint32_t first, int rounds) {
    std::vector<std::uint32_t> intervals;
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < 5; ++i) intervals.push_back(100);
        for (int i = 0; i < 3; ++i) intervals.push_back(0);
        for (int i = 0; i < 40; ++i) intervals.push_back(static_cast<std::uint32_t>(7 + (i * 13 + round) % 30));
        intervals.push_back(round % 3 == 0 ? 3000000000u : 5000);
        for (int i = 0; i < 4; ++i) intervals.push_back(95);
        intervals.push_back(0);
        intervals.push_back(round % 2 == 0 ? 2147483647u : 1499);
    }
    return ClockText(first, intervals);
}

struct GoldenRun {
    const char* name;
    std::vector<std::string> args;
    const char* hash;  // FNV-1a of the whole dump
};

// Failures name the run.
void PrintTo(const GoldenRun& run, std::ostream* out) { *out << run.name; }

std::vector<GoldenRun> GoldenRuns() {
    const std::string gallery = DataFile("golden_gallery.ini");
    const std::string wild = DataFile("golden_wild.ini");
    const std::string small = DataFile("golden_small.ini");
    const std::string many = DataFile("golden_many.ini");
    return {
        {"gallery_saver_800x600", {"--ini", gallery, "--size", "800x600", "--seed", "1", "--ticks", "1000", "--dt", "10"},
         "70ba63973d49085d"},
        {"gallery_child_odd_width", {"--ini", gallery, "--size", "797x403", "--seed", "12345", "--child", "--ticks", "700", "--dt", "7"},
         "ea67c0d72e5fc94c"},
        {"gallery_preview_regulated", {"--ini", gallery, "--size", "151x113", "--seed", "99", "--preview", "--clock", RegulationClock(40, 12)},
         "71001102981371f0"},
        {"gallery_preview_child_flat", {"--ini", gallery, "--size", "1001x17", "--seed", "7", "--preview", "--child", "--ticks", "500", "--dt", "33"},
         "491db925e0110836"},
        {"gallery_saver_regulated", {"--ini", gallery, "--size", "642x480", "--seed", "2024", "--clock", RegulationClock(3000000000u, 10)},
         "120015ab7b3dfe5a"},
        {"wild_limits", {"--ini", wild, "--size", "1023x769", "--seed", "13", "--start", "3000000000", "--dt", "16", "--ticks", "2500"},
         "3b8e6adc7d53f36e"},
        {"wild_child_regulated", {"--ini", wild, "--size", "333x222", "--seed", "31337", "--child", "--clock", RegulationClock(5, 14)},
         "6fbc0db59d3ebc16"},
        {"small_to_zero_and_below", {"--ini", small, "--size", "203x150", "--seed", "5", "--clock", RegulationClock(0, 16)},
         "13b105ea3ce1def2"},
        {"small_no_image", {"--ini", small, "--size", "6x10", "--seed", "6", "--ticks", "300", "--dt", "0"}, "71db4aa14704a425"},
        {"small_tiny_images", {"--ini", small, "--size", "3x21", "--seed", "8", "--ticks", "600", "--dt", "25"}, "8ca6f46391da5366"},
        {"many_full_hd", {"--ini", many, "--size", "1921x1080", "--seed", "4294967295", "--ticks", "130", "--dt", "40"}, "519afbd0a14f59fa"},
    };
}

class GoldenDump : public ::testing::TestWithParam<GoldenRun> {};

TEST_P(GoldenDump, HashesAsRecorded) {
    const GoldenRun& run = GetParam();
    std::vector<std::string> arguments = run.args;
    arguments.insert(arguments.end(), {"--dump", "-"});
    const RenderRun dump = RenderArgs(arguments);
    EXPECT_EQ(dump.code, 0) << dump.err;
    EXPECT_EQ(HashText(Fnv1a(dump.out.data(), dump.out.size())), run.hash) << dump.out.size() << " bytes of dump";
}

INSTANTIATE_TEST_SUITE_P(Runs, GoldenDump, ::testing::ValuesIn(GoldenRuns()),
                         [](const ::testing::TestParamInfo<GoldenRun>& info) { return std::string(info.param.name); });

}  // namespace
