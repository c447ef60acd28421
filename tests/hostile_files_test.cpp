// Definition files whose headers promise far more maps than they hold: the same pictures as
// ever, in memory in proportion to the file.
#include <cstdio>
#include <string>
#include <vector>

#include "test_support.h"
#include "tools/render/dump.h"

namespace {

// lumivex-render with --dump -: the dump and its peak resident memory.
RenderRun RenderMeasured(std::vector<std::string> args) {
    args.insert(args.end(), {"--dump", "-"});
    return RenderArgs(args);
}

struct HostileFile {
    const char* name;
    std::string text;
    std::vector<std::string> args;
    const char* hash;  // FNV-1a of the dump, recorded when every missing map was held in memory
};

// The 12-byte file of a header of 10^8 maps, a header of 1000 maps cut short after three of
// them (draws above their weights go to the missing maps), and a header of 10^8 maps with two
// after a whole definition. The first and the last once took 5.6 GB.
const HostileFile Files[] = {
    {"huge_header", "0\n100000000\n", {"--size", "64x48", "--seed", "3", "--ticks", "50", "--dt", "10"},
     "c38467ee7122d6a6"},
    {"cut_short_1000", "300\n1000\n0.5 0 0 0.5 0 0 40\n0.5 0 0 0.5 0.5 0 30\n0.5 0 0 0.5 0.25 0.5 20\n",
     {"--size", "160x120", "--seed", "9", "--ticks", "400", "--dt", "10"}, "aa1211fe94b16179"},
    {"huge_after_a_definition",
     "-500\n3\n0.5 0 0 0.5 0 0 33\n0.5 0 0 0.5 0.5 0 33\n0.5 0 0 0.5 0.25 0.5 34\n0 0 1 1\n"
     "100000000\n0.5 0 0 0.5 0 0 60\n-0.4 0.2 0.1 0.3 1 0 25",
     {"--size", "200x150", "--seed", "77", "--ticks", "1200", "--dt", "7"}, "0d6e014b1f16b590"},
};

TEST(HostileFilesTest, HeadersPromisingMoreMapsDrawTheSameInMemoryOfTheirSize) {
    // A file of the same shape that promises nothing: what the renderer itself takes.
    const std::string plainPath = WriteTempFile("-500\n1\n0.5 0 0 0.5 0 0 100\n0 0 1 1\n");
    const RenderRun plain = RenderMeasured({"--ini", plainPath, "--size", "200x150", "--ticks", "1200", "--dt", "7"});
    std::remove(plainPath.c_str());
    ASSERT_EQ(plain.code, 0);

    for (const HostileFile& file : Files) {
        const std::string path = WriteTempFile(file.text);
        std::vector<std::string> args = {"--ini", path};
        args.insert(args.end(), file.args.begin(), file.args.end());
        const RenderRun run = RenderMeasured(args);
        std::remove(path.c_str());
        EXPECT_EQ(run.code, 0) << file.name;
        EXPECT_EQ(HashText(Fnv1a(run.out.data(), run.out.size())), file.hash) << file.name;
        EXPECT_LE(run.maxRssKb, plain.maxRssKb + 8 * 1024)
            << file.name << ": " << run.maxRssKb << " KB at peak, " << plain.maxRssKb << " KB for a plain file";
    }
}

}  // namespace
