// lumivex-render as a user runs it: options, exit codes, and a dump that pins every tick down.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "tools/render/dump.h"
#include "tools/render/render_options.h"
#include "saver/linux_options.h"

namespace fs = std::filesystem;

namespace {

const std::string Gallery = SourcePath("resources/lumivex.ini");

}  // namespace

TEST(RenderTest, SameInputsGiveTheSameDumpAndAnotherSeedDiffers) {
    const std::string args = "--ini " + Gallery + " --size 320x200 --ticks 700 --dump -";
    const RenderRun a = Render(args + " --seed 17");
    const RenderRun b = Render(args + " --seed 17");
    const RenderRun c = Render(args + " --seed 18");
    ASSERT_EQ(a.code, 0) << a.err;
    EXPECT_EQ(a.out, b.out);
    EXPECT_NE(a.out, c.out);
    const auto lines = ParseDump(a.out);
    ASSERT_EQ(lines.size(), 701u);
    EXPECT_EQ(lines[0].at("tick"), "0");
    EXPECT_EQ(lines[0].at("width"), "320");
    EXPECT_EQ(lines[0].at("image_height"), "184");
    EXPECT_EQ(lines[1].at("dt"), "10");
    EXPECT_EQ(lines[700].at("tick"), "700");
    bool picked = false;
    for (const auto& line : lines) picked = picked || Number(line, "phase") == 4;
    EXPECT_TRUE(picked) << "700 ticks of 10 ms run through a whole cycle";
}

TEST(RenderTest, DumpMatchesTheCoreRunInProcess) {
    const std::string ini = "-300\n2\n0.5 0 0 0.5 0 0 50\n0.5 0 0 0.5 0.5 0.5 50\n0 0 1 1\n"
                            "1\n0.3 0 0 0.3 0.2 0.1 100\n0 0 1 1\n";
    const std::string path = WriteTempFile(ini);
    const RenderRun run = Render("--ini " + path + " --size 101x77 --seed 5 --clock 4000,4010,4010,4700,4710,9000,9001,9001 --dump -");
    std::remove(path.c_str());
    ASSERT_EQ(run.code, 0) << run.err;
    const auto lines = ParseDump(run.out);
    ASSERT_EQ(lines.size(), 9u);

    ResetAll();
    ASSERT_EQ(StartSaver({ini, 101, 77, RunMode::Saver, false, 5}), 0);
    EXPECT_EQ(lines[0].at("pts1"), HashText(PointsHash(State.Pts1, State.PointCount)));
    EXPECT_EQ(lines[0].at("show_status"), "1");
    const std::uint32_t clock[] = {4000, 4010, 4010, 4700, 4710, 9000, 9001, 9001};
    std::uint32_t last = 0;
    for (int i = 0; i < 8; ++i) {
        TickAt(clock[i]);
        const DumpLine& line = lines[i + 1];
        EXPECT_EQ(Number(line, "dt"), static_cast<std::int32_t>(clock[i] - last));
        last = clock[i];
        const std::string bytes = ImageBytes();
        EXPECT_EQ(line.at("image"), HashText(Fnv1a(bytes.data(), bytes.size()))) << i;
        EXPECT_EQ(Number(line, "lit"), std::count(bytes.begin(), bytes.end(), '\1'));
        EXPECT_EQ(Number(line, "colour"), State.ColourNow);
        ASSERT_TRUE(Host().statusDrawn);
        EXPECT_EQ(line.at("status"), Host().statusText);
        EXPECT_EQ(Number(line, "phase"), static_cast<int>(State.Phase));
    }
    ResetAll();
}

TEST(RenderTest, PreviewAndChildChangeTheGeometry) {
    const std::string base = "--ini " + Gallery + " --size 200x100 --seed 3 --ticks 1 --dump -";
    const auto saver = ParseDump(Render(base).out);
    const auto child = ParseDump(Render(base + " --child").out);
    const auto preview = ParseDump(Render(base + " --preview --child").out);
    ASSERT_EQ(saver.size(), 2u);
    ASSERT_EQ(child.size(), 2u);
    ASSERT_EQ(preview.size(), 2u);
    EXPECT_EQ(Number(saver[0], "image_height"), 84);
    EXPECT_EQ(Number(child[0], "image_height"), 100);
    EXPECT_EQ(Number(preview[0], "points"), Number(saver[0], "points") / 10);
    EXPECT_EQ(preview[1].at("status"), "null");
}

TEST(RenderTest, BadOptionsExitTwoWithAUsageLine) {
    for (const char* args : {"--bogus", "--size 0x10", "--size 16385x10", "--size 10", "--ticks -1", "--seed x",
                             "--clock 1,,2", "--dt", "--every 0"}) {
        const RenderRun run = Render(args);
        EXPECT_EQ(run.code, 2) << args;
        EXPECT_NE(run.err.find("usage: lumivex-render"), std::string::npos) << args << ": " << run.err;
        EXPECT_TRUE(run.out.empty()) << args;
    }
}

// Every option of each program, from the table its parser reads: the parser takes it, --help
// names it, and so does the program's option table in the README.
TEST(OptionsTest, HelpAndReadmeNameEveryOptionOfEachProgram) {
    std::vector<std::string> renderOptions(std::begin(RenderOptionNames), std::end(RenderOptionNames));
    std::vector<std::string> linuxOptions;
    for (const char* name : LinuxOptionNames) linuxOptions.push_back(std::string("--") + name);
    const RenderRun renderHelp = Render("--help");
    ASSERT_EQ(renderHelp.code, 0);
    const std::string readme = ReadFileText(SourcePath("README.md"));
    // A program's part of the README: from its heading to the next heading of its level.
    const auto part = [&](const std::string& heading) {
        const std::size_t from = readme.find("\n" + heading + "\n");
        if (from == std::string::npos) return std::string();
        const std::string level = heading.substr(0, heading.find(' ') + 1);
        const std::size_t to = std::min(readme.find("\n## ", from + 1), readme.find("\n" + level, from + 1));
        return readme.substr(from, to - from);
    };
    const struct {
        const char* program;
        std::vector<std::string> options;
        std::string help;
        std::string readme;
    } programs[] = {
        {"lumivex-render", renderOptions, renderHelp.out, part("## Previewing with `lumivex-render`")},
        {"lumivex", linuxOptions, std::string(LinuxUsage) + "\n\n" + LinuxHelp + "\n", part("### Running")},
    };
    for (const auto& p : programs) {
        EXPECT_GE(p.options.size(), 11u) << p.program;
        ASSERT_FALSE(p.readme.empty()) << p.program;
        for (const std::string& option : p.options) {
            EXPECT_NE(p.help.find("\n  " + option + " "), std::string::npos) << p.program << " --help lacks " << option;
            // A row of the table that names it: "| `--ini FILE` |" or "| `--ticks N`, `--dt MS` |".
            bool inTable = false;
            std::istringstream lines(p.readme);
            for (std::string line; std::getline(lines, line);) {
                const std::size_t bar = line.find(" |", 2);
                if (line.rfind("| `", 0) == 0 && bar != std::string::npos &&
                    (line.substr(0, bar).find("`" + option + " ") != std::string::npos ||
                     line.substr(0, bar).find("`" + option + "`") != std::string::npos))
                    inTable = true;
            }
            EXPECT_TRUE(inTable) << "the README's table for " << p.program << " lacks " << option;
        }
    }

    // The tables are the parsers' own: each name in them is taken, and nothing else is.
    for (const std::string& option : renderOptions) {
        const char* argv[] = {"lumivex-render", option.c_str()};
        RenderOptions parsed;
        std::string error;
        ParseRenderOptions(2, argv, &parsed, &error);
        EXPECT_EQ(error.find("unknown option"), std::string::npos) << option << ": " << error;
    }
    for (const std::string& option : linuxOptions) {
        const char* argv[] = {"lumivex", option.c_str()};
        LinuxOptions parsed;
        std::string error;
        ParseLinuxOptions(2, argv, nullptr, &parsed, &error);
        EXPECT_EQ(error.find("unknown option"), std::string::npos) << option << ": " << error;
    }
    const char* render[] = {"lumivex-render", "--window"};
    RenderOptions renderParsed;
    std::string error;
    EXPECT_FALSE(ParseRenderOptions(2, render, &renderParsed, &error));
    EXPECT_EQ(error, "unknown option --window");
    const char* saver[] = {"lumivex", "--dump"};
    LinuxOptions saverParsed;
    EXPECT_FALSE(ParseLinuxOptions(2, saver, nullptr, &saverParsed, &error));
    EXPECT_EQ(error, "unknown option '--dump'");
}

TEST(RenderTest, UnwritableDumpExitsTwo) {
    const RenderRun run = Render("--ini " + Gallery + " --dump /nonexistent-dir/x.jsonl");
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.err.find("cannot write /nonexistent-dir/x.jsonl"), std::string::npos) << run.err;
}

// What the renderer says about a file it cannot use: one line with its own prefix, the file
// that was asked for, what the system said, and nothing of the Windows saver's places.
TEST(RenderTest, DefinitionFileMessagesSayWhatHappened) {
    const fs::path dir = fs::temp_directory_path() / ("lumivex-messages-" + std::to_string(getpid()));
    fs::create_directories(dir / "folder");
    fs::create_symlink("loop", dir / "loop");
    std::ofstream(dir / "locked") << "300\n" << FernDefinition();
    fs::permissions(dir, fs::perms::all);
    fs::permissions(dir / "locked", fs::perms::none);
    std::ofstream(dir / "empty.ini") << "; nothing here\n1000\n";
    const std::string quit = "Now quitting.\n";
    const struct {
        std::string path, says;
        bool unprivileged;
    } rows[] = {
        {"/nonexistent/x.ini", "I cannot find '/nonexistent/x.ini'. I *need* that file, no nice gfx without it! " + quit, false},
        {(dir / "folder").string(), "I cannot read '" + (dir / "folder").string() + "': is a directory. " + quit, false},
        {(dir / "loop").string(), "I cannot read '" + (dir / "loop").string() + "': too many levels of symbolic links. " + quit, false},
        {(dir / "locked").string(), "I cannot read '" + (dir / "locked").string() + "': permission denied. " + quit, true},
        {"/dev/zero", "I cannot read '/dev/zero': it goes on past 256 MB, far longer than any definition file. " + quit, false},
        {(dir / "empty.ini").string(), "I cannot start, there are no IFS definitions in '" + (dir / "empty.ini").string() +
                                           "'. No definitons mean no gfx, no screensaver. Sorry. Quitting now.\n", false},
    };
    for (const auto& row : rows) {
        RenderLaunch launch;
        launch.unprivileged = row.unprivileged;
        const RenderRun run = RenderArgs({"--ini", row.path, "--ticks", "5", "--dump", "-"}, launch);
        EXPECT_EQ(run.code, 1) << row.path << ": " << run.err;
        EXPECT_EQ(run.err, "lumivex-render: " + row.says) << row.path;
        EXPECT_TRUE(run.out.empty()) << row.path;
    }
    fs::permissions(dir / "locked", fs::perms::owner_all);
    fs::remove_all(dir);
}

// Ctrl-C, SIGTERM and SIGHUP end a run whatever it is doing, and nothing of it stays: not while
// the ticks run, not while start-up waits for a FIFO that no one writes.
TEST(RenderTest, AnEndingSignalLeavesNothingBehind) {
    const fs::path dir = fs::temp_directory_path() / ("lumivex-signals-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string dump = (dir / "d.json").string(), gif = (dir / "a.gif").string(), png = (dir / "p" / "q").string();
    const struct {
        int signal;
        std::vector<std::string> args;
        std::string waitFor;  // the run has got this far once this file is there
    } rows[] = {
        {SIGINT, {"--ini", Gallery, "--size", "64x48", "--ticks", "100000", "--gif", gif, "--dump", dump}, gif + ".partial"},
        {SIGTERM, {"--ini", Gallery, "--size", "64x48", "--ticks", "100000", "--png", png, "--dump", dump},
         (fs::path(png) / "frame-00002.png").string()},
        {SIGHUP, {"--ini", fifo, "--png", png, "--dump", dump}, dump + ".partial"},
    };
    for (const auto& row : rows) {
        const int pid = StartRender(row.args);
        ASSERT_GT(pid, 0);
        while (!fs::exists(row.waitFor)) usleep(10000);
        kill(pid, row.signal);
        EXPECT_EQ(EndRender(pid), 128 + row.signal) << row.args[1];
        std::vector<std::string> left;
        for (const auto& entry : fs::recursive_directory_iterator(dir)) left.push_back(entry.path().filename().string());
        EXPECT_EQ(left, std::vector<std::string>{"fifo"}) << row.args[1];
    }
    fs::remove_all(dir);
}

TEST(RenderTest, HostileFilesNeverCrash) {
    std::string garbage;
    std::uint32_t seed = 777;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 1103515245u + 12345u;
        garbage += static_cast<char>(seed >> 23);
    }
    const std::string longLine = "300\n3 " + std::string(100000, '9') + "\n" + std::string(100000, '1') + "\n\n";
    const std::vector<std::pair<std::string, int>> files = {
        {garbage, -1},
        {"", 1},
        {longLine, 0},
        {"-2147483648\n1\n1 0 0 1 0 0 100\n0 0 1 1\n", 1},  // far more points than memory
        {"2147483647\n1\n1 0 0 1 0 0 100\n0 0 1 1\n", 1},
        {"0\n1\n1 0 0 1 0 0 100\n0 0 1 1\n", 0},
        {"500\n2\n1e308 1e308 -1e308 1e308 1e308 -1e308 2147483647\n-1e400 1e-400 0 0 0 0 -2147483648\n0 0 1 1\n", 0},
        {"500\n2\n0.5 0 0 0.5 0 0 50\n", 0},                             // missing map and box lines
        {"500\n1\n0.5 0 0 0.5 0 0 100\n0 0 0 0\n", 0},                   // zero box
        {"500\n1\n0.9 0.1 -0.1 0.9 0.1 0 100\n5 5 -5 -5\n", 0},          // inverted box
        {"500\n1\n1 1 1 1 1 1 100\n0 0 1 1\n", 0},                       // escapes to infinity
        {"500\n99999999999999999999\n0 0 0 0 0 0\n0 0 1 1\n", 1},        // maps that cannot be allocated
    };
    for (const auto& [text, expected] : files) {
        const std::string path = WriteTempFile(text);
        const RenderRun run = Render("--ini " + path + " --size 120x90 --seed 1 --ticks 400 --dt 17 --dump -");
        std::remove(path.c_str());
        if (expected >= 0) {
            EXPECT_EQ(run.code, expected) << text.substr(0, 60) << "\n" << run.err;
        }
        EXPECT_TRUE(run.code == 0 || run.code == 1) << run.code << " " << run.err;
        if (run.code == 0) {
            EXPECT_EQ(ParseDump(run.out).size(), 401u);
        } else {
            EXPECT_FALSE(run.err.empty());
        }
    }
}

// A slow spell, then fast ticks: 60 ticks 100 ms apart cost 5,800 of the 30,000 points; with the
// rule of the hosts other than Windows the next 3,000 ticks of 10 ms give them all back. The
// Windows rule (the default) keeps the lowered count.
TEST(RenderTest, RegulationOptionModelsEachHostsRule) {
    std::string clock;
    std::uint32_t now = 0;
    for (int i = 0; i < 60; ++i) clock += std::to_string(now += 100) + ",";
    for (int i = 0; i < 3000; ++i) clock += std::to_string(now += 10) + (i < 2999 ? "," : "");
    const std::string args = "--ini " + Gallery + " --size 320x240 --seed 1 --dump - --clock " + clock;
    const std::vector<std::pair<std::string, long long>> hosts = {
        {"", 24200}, {" --regulation windows", 24200}, {" --regulation x11", 30000},
        {" --regulation wayland", 30000}, {" --regulation web", 30000}};
    for (const auto& [option, last] : hosts) {
        const RenderRun run = Render(args + option);
        ASSERT_EQ(run.code, 0) << option << ": " << run.err;
        const auto lines = ParseDump(run.out);
        ASSERT_EQ(lines.size(), 3061u);
        EXPECT_EQ(Number(lines[60], "shown"), 24200) << option;
        EXPECT_EQ(Number(lines.back(), "shown"), last) << option;
    }
    const RenderRun bad = Render("--regulation linux --ticks 1");
    EXPECT_EQ(bad.code, 2);
    EXPECT_NE(bad.err.find("--regulation takes windows, x11, wayland or web"), std::string::npos) << bad.err;
}

TEST(RenderOptionsTest, ClockDefaultsAndWrapping) {
    RenderOptions options;
    std::string error;
    const char* args[] = {"lumivex-render", "--dt", "4294967295", "--start", "1"};
    ASSERT_TRUE(ParseRenderOptions(5, args, &options, &error)) << error;
    EXPECT_EQ(TickAt(options, 1), 1u);
    EXPECT_EQ(TickAt(options, 2), 0u);
    EXPECT_EQ(TickAt(options, 3), 4294967295u);
    RenderOptions defaults;
    EXPECT_EQ(TickAt(defaults, 1), 10u) << "--start defaults to --dt";
    EXPECT_EQ(TickAt(defaults, 600), 6000u);
    EXPECT_EQ(TickTotal(defaults), 600u);
    const char* clock[] = {"lumivex-render", "--clock", "5,-1,4294967295", "--ticks", "9"};
    ASSERT_TRUE(ParseRenderOptions(5, clock, &options, &error)) << error;
    EXPECT_EQ(TickTotal(options), 3u);
    EXPECT_EQ(TickAt(options, 2), 4294967295u);
}
