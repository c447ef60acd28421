// lumivex-render --import and --export-ifs: .ifs entries read, faults reported, files round-tripped.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "ifs/check/ifs_format.h"

namespace {

namespace fs = std::filesystem;

struct WantEntry {
    std::string name;
    std::vector<std::int32_t> weights;
    std::vector<std::string> comments;
};

struct ReaderCase {
    const char* what;
    std::string text;
    std::vector<WantEntry> entries;
    std::vector<std::string> problems;  // whole messages, in order
    std::size_t seen;
    std::vector<std::string> notes = {};
};

std::string Maps(int n, const char* line) {
    std::string text;
    for (int i = 0; i < n; ++i) text += line;
    return text;
}

const std::string Fern =
    "fern {  ; Barnsley\n  0 0 0 0.16 0 0 0.01\n  0.85 0.04 -0.04 0.85 0 1.6 0.85\n"
    "  0.2 -0.26 0.23 0.22 0 1.6 0.07\n  -0.15 0.28 0.26 0.24 0 0.44 0.07\n}\n";

TEST(IfsReaderTest, EntriesAndEveryBadCaseByFileLineAndEntry) {
    const std::vector<ReaderCase> cases = {
        {"probabilities, comments before, on the name line and inside",
         "; a collection\n" + Fern + "\ntri {\n; corners\n0.5 0 0 0.5 0 0 .333\n0.5 0 0 0.5 .5 0 .333 ; right\n"
                                      "0.5 0 0 0.5 .25 .433 .334\n}\n; the end\n",
         {{"fern", {1, 85, 7, 7}, {"a collection", "Barnsley"}}, {"tri", {33, 33, 34}, {"corners", "right"}}},
         {}, 2},
        {"no probabilities: by area, with the floor for the stem",
         "f{\r\n0 0 0 0.16 0 0\r\n0.85 0.04 -0.04 0.85 0 1.6\r\n0.2 -0.26 0.23 0.22 0 1.6\r\n"
         "-0.15 0.28 0.26 0.24 0 0.44\r\n}\r\nt {\r0.5 0 0 0.5 0 0\r0.5 0 0 0.5 0.5 0\r0.5 0 0 0.5 0.25 0.43\r}\r",
         {{"f", {1, 77, 11, 11}, {}}, {"t", {34, 33, 33}, {}}}, {}, 2},
        {"commas, blanks around them, tabs; the largest remainders; a sum not 1",
         "c {\n0.5,0,0,0.5,0,0,0.126\n0.5 , 0 ,\t0, 0.5, 0.5, 0, 0.874\n}\n"
         "s { 0.5 0 0 0.5 0 0 0.33\n0.5 0 0 0.5 1 0 0.33\n0.5 0 0 0.5 2 0 0.33 }\n"
         "huge {\n0.5 0 0 0.5 0 0 1e308\n0.5 0 0 0.5 1 0 1.5e308\n}\n",
         {{"c", {13, 87}, {}}, {"s", {34, 33, 33}, {}}, {"huge", {40, 60}, {}}}, {}, 3,
         {"x.ifs:5: entry \"s\": its probabilities sum to 0.99, not 1: the weights are scaled to 100",
          "x.ifs:8: entry \"huge\": its probabilities sum to inf, not 1: the weights are scaled to 100"}},
        {"a 3D entry is refused by name and line; the next is read",
         "cube (3D) {\n0.5 0 0 0 0.5 0 0 0 0.5 0 0 0 0.5\n}\n" + Fern,
         {{"fern", {1, 85, 7, 7}, {"Barnsley"}}},
         {"x.ifs:1: entry \"cube (3D)\": three-dimensional, and Lumivex draws in the plane: skipped"}, 2},
        {"counts of numbers other than 6 or 7",
         "five {\n0.5 0 0 0.5 0\n}\neight {\n0.5 0 0 0.5 0 0 1 2\n}\n" + Fern,
         {{"fern", {1, 85, 7, 7}, {"Barnsley"}}},
         {"x.ifs:2: entry \"five\": 5 numbers, not 6 or 7 (a b c d e f and a probability)",
          "x.ifs:5: entry \"eight\": 8 numbers, not 6 or 7 (a b c d e f and a probability)"}, 3},
        {"numbers that do not read, empty fields",
         "a {\n0.5 0 0 0.5 0 0x1 0.5\n0.5 0 0 0.5 1e999 0 0.5\n}\nb {\n0.5,,0,0.5,0,0\n}\nc {\n0.5 0 0 0.5 0 0,\n}\n",
         {},
         {"x.ifs:2: entry \"a\": \"0x1\" does not read as a number", "x.ifs:3: entry \"a\": \"1e999\" is too large for a number",
          "x.ifs:6: entry \"b\": an empty number before a comma", "x.ifs:9: entry \"c\": a comma with no number after it"},
         3},
        {"no closing brace, before the next entry and at the end of the file",
         "open {\n0.5 0 0 0.5 0 0\n" + Fern + "last {\n0.5 0 0 0.5 0 0\n",
         {{"fern", {1, 85, 7, 7}, {"Barnsley"}}},
         {"x.ifs:1: entry \"open\": no closing brace before the next entry at line 3",
          "x.ifs:9: entry \"last\": no closing brace: the file ends at line 10"}, 3},
        {"empty entries, too many maps, mixed and negative probabilities, stray text",
         "e { ; nothing\n}\nbig {\n" + Maps(101, "0.1 0 0 0.1 0 0\n") + "}\nmixed {\n0.5 0 0 0.5 0 0 0.5\n"
         "0.5 0 0 0.5 1 0\n}\nneg {\n0.5 0 0 0.5 0 0 -0.5\n0.5 0 0 0.5 1 0 1.5\n}\nzero {\n0.5 0 0 0.5 0 0 0\n}\n"
         "stray\n}\nok { 0.5 0 0 0.5 0 0 }\n",
         {{"ok", {100}, {}}},
         {"x.ifs:1: entry \"e\": empty: no maps",
          "x.ifs:3: entry \"big\": 101 maps, more than the 100 a Lumivex definition can weigh in whole percents",
          "x.ifs:108: entry \"mixed\": no probability, where line 107 has one",
          "x.ifs:111: entry \"neg\": a probability below 0", "x.ifs:114: entry \"zero\": its probabilities sum to 0",
          "x.ifs:117: text outside any entry, \"stray\", after entry \"zero\"",
          "x.ifs:118: a closing brace outside any entry, after entry \"zero\""},
         6},
        {"entries opened and closed on one line, a brace astray between them",
         "a { 0.5 0 0 0.5 0 0 } } b { 0.5 0 0 0.5 1 0\n0.5 0 0 0.5 2 0 }",
         {{"a", {100}, {}}, {"b", {50, 50}, {}}},
         {"x.ifs:1: a closing brace outside any entry, after entry \"a\""}, 2},
    };
    for (const ReaderCase& c : cases) {
        const IfsReading reading = ReadIfsText(c.text, "x.ifs");
        EXPECT_EQ(reading.problems, c.problems) << c.what;
        EXPECT_EQ(reading.notes, c.notes) << c.what;
        EXPECT_EQ(reading.entriesSeen, c.seen) << c.what;
        ASSERT_EQ(reading.entries.size(), c.entries.size()) << c.what;
        for (std::size_t i = 0; i < c.entries.size(); ++i) {
            const IfsEntry& got = reading.entries[i];
            EXPECT_EQ(got.name, c.entries[i].name) << c.what;
            EXPECT_EQ(got.comments, c.entries[i].comments) << c.what;
            std::vector<std::int32_t> weights;
            for (const IfsTransform& m : got.maps) weights.push_back(m.weight);
            EXPECT_EQ(weights, c.entries[i].weights) << c.what << ", entry " << got.name;
        }
    }
    // A line of 300000 empty entries: each reported, in one pass (no recursion, no stack to run out of).
    std::string braces;
    for (int i = 0; i < 300000; ++i) braces += "e{}";
    const IfsReading many = ReadIfsText(braces, "x.ifs");
    EXPECT_EQ(many.entriesSeen, 300000u);
    EXPECT_EQ(many.problems.size(), 300000u);
    EXPECT_TRUE(many.entries.empty());

    // The numbers as written, commas or not.
    const IfsReading fern = ReadIfsText(Fern, "x.ifs");
    ASSERT_EQ(fern.entries.size(), 1u);
    EXPECT_EQ(fern.entries[0].maps[2].b, -0.26);
    EXPECT_EQ(fern.entries[0].maps[3].f, 0.44);
    EXPECT_TRUE(fern.entries[0].probabilities);
}

// Export then import: the same maps, weights and names, and the same definition file.
TEST_F(SaverTest, ExportedDefinitionsImportAsTheSame) {
    const std::string ini = "; my file\n-4000\n; 1. fern: four maps\n" + FernDefinition() +
                            "\n; a triangle, 34 33 33\n; { braces ; and semicolons }\n" + TriangleDefinition() +
                            "3\n0.5 0 0 0.5 0 0 20\n0.5 0 0 0.5 1 0 20\n0.5 0 0 0.5 0 1 20\n0 0 2 2\n";
    const std::string path = WriteTempFile(ini);
    FileReading reading;
    std::string error;
    ASSERT_TRUE(ReadForCheck(path, &reading, &error)) << error;
    std::vector<const IfsDefinition*> definitions = reading.definitions;
    std::vector<std::string> warnings;
    const std::string ifs = ExportedText(reading, &warnings);
    EXPECT_EQ(warnings, std::vector<std::string>{"IFS # 3 (\"lumivex-3\"): its weights sum to 60, not 100: an import "
                                                 "scales them to 100"});
    const IfsReading back = ReadIfsText(ifs, "back.ifs");
    EXPECT_TRUE(back.problems.empty()) << back.problems.front();
    ASSERT_EQ(back.entries.size(), 3u) << ifs;
    EXPECT_EQ(back.entries[0].name, "1. fern: four maps");
    EXPECT_EQ(back.entries[1].name, "a triangle, 34 33 33");
    EXPECT_EQ(back.entries[1].comments, std::vector<std::string>{"{ braces ; and semicolons }"});
    EXPECT_EQ(back.entries[2].name, "lumivex-3");
    for (std::size_t i = 0; i < 2; ++i) {
        ASSERT_EQ(back.entries[i].maps.size(), static_cast<std::size_t>(definitions[i]->TransformCount));
        for (std::size_t k = 0; k < back.entries[i].maps.size(); ++k) {
            const IfsTransform& want = definitions[i]->Transforms[k];
            const IfsTransform& got = back.entries[i].maps[k];
            EXPECT_TRUE(want.a == got.a && want.b == got.b && want.c == got.c && want.d == got.d && want.e == got.e &&
                        want.f == got.f && want.weight == got.weight)
                << "IFS # " << i + 1 << " map " << k + 1;
        }
    }
    for (const IfsTransform& m : back.entries[2].maps) EXPECT_TRUE(m.weight == 33 || m.weight == 34);

    // The imported file exported and imported again is the same file.
    CheckSettings settings;
    settings.screenWidth = 800;
    settings.screenHeight = 600;
    std::vector<std::string> notes;
    const std::string imported = ImportedText(back, 4000, settings, "back.ifs", &notes);
    const std::string importedPath = WriteTempFile(imported);
    FileReading again;
    ASSERT_TRUE(ReadForCheck(importedPath, &again, &error)) << error;
    warnings.clear();
    const std::string twice = ImportedText(ReadIfsText(ExportedText(again, &warnings), "back.ifs"), 4000, settings,
                                           "back.ifs", &notes);
    EXPECT_TRUE(warnings.empty());
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(twice, imported);
    std::remove(path.c_str());
    std::remove(importedPath.c_str());
}

const std::string Classics = Fern +
                             "tri {\n0.5 0 0 0.5 0 0\n0.5 0 0 0.5 0.5 0\n0.5 0 0 0.5 0.25 0.433\n}\n"
                             "dragon {\n0.5 -0.5 0.5 0.5 0 0\n-0.5 -0.5 0.5 -0.5 1 0\n}\n";

// The renderer's own command line: the import passes --check and is what --fit makes of it, the
// round trip gives the same file, and bad input and full disks exit as they should, never
// leaving half a file.
TEST(IfsCommandLineTest, ImportExportExitCodesAndWholeFiles) {
    const fs::path dir = fs::path(WriteTempFile("")).string() + ".dir";
    fs::create_directory(dir);
    const auto at = [&](const char* name) { return (dir / name).string(); };
    std::ofstream(at("classics.ifs"), std::ios::binary) << Classics;
    std::ofstream(at("some-bad.ifs"), std::ios::binary) << Classics + "cube (3D) {\n1 2 3 4 5 6 7 8 9 10 11 12\n}\n";
    std::ofstream(at("all-bad.ifs"), std::ios::binary) << "a {\n1 2 3\n}\nb {\n0.5 0 0 0.5 0 0\n";

    RenderRun run = Render("--import " + at("classics.ifs") + " --out " + at("a.ini") + " --size 1024x768");
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, "");
    const std::string a = ReadFileText(at("a.ini"));
    const std::string shipped = ReadFileText(SourcePath("resources/lumivex.ini"));
    EXPECT_NE(a.find("\n30000\n; fern\n; Barnsley\n4\n0 0 0 0.16 0 0 1\n"), std::string::npos) << a;
    EXPECT_NE(shipped.find("\n30000\n"), std::string::npos) << "the shipped count changed: update this test";
    EXPECT_EQ(Render("--check --size 1024x768 --ini " + at("a.ini")).code, 0);
    EXPECT_EQ(Render("--fit --size 1024x768 --ini " + at("a.ini") + " --out " + at("fitted.ini")).code, 0);
    EXPECT_EQ(ReadFileText(at("fitted.ini")), a) << "the import's boxes are not --fit's";

    run = Render("--export-ifs --ini " + at("a.ini") + " --out " + at("b.ifs"));
    EXPECT_EQ(run.code, 0) << run.err;
    run = Render("--import " + at("b.ifs") + " --size 1024x768 --points -500");
    EXPECT_EQ(run.code, 0) << run.err;
    const std::string header = "; Lumivex definitions imported from ";
    ASSERT_EQ(run.out.rfind(header + "b.ifs", 0), 0u) << run.out;
    EXPECT_EQ(run.out.substr(run.out.find("\n-500\n") + 6), a.substr(a.find("\n30000\n") + 7))
        << "import, export, import: not the same definitions";

    // Some entries bad: the good ones written, exit 1, each fault named on standard error.
    run = Render("--import " + at("some-bad.ifs") + " --out " + at("c.ini"));
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find(at("some-bad.ifs") + ":16: entry \"cube (3D)\": three-dimensional"), std::string::npos)
        << run.err;
    EXPECT_NE(ReadFileText(at("c.ini")).find("; dragon\n"), std::string::npos);
    // None good, or not readable: nothing written at all.
    run = Render("--import " + at("all-bad.ifs") + " --out " + at("d.ini"));
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("all-bad.ifs:2: entry \"a\": 3 numbers"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("all-bad.ifs:4: entry \"b\": no closing brace"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(at("d.ini")));
    run = Render("--import " + at("all-bad.ifs"));
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Render("--import " + at("missing.ifs") + " --out " + at("d.ini")).code, 2);
    EXPECT_EQ(Render("--import " + dir.string() + " --out " + at("d.ini")).code, 2);
    EXPECT_EQ(Render("--export-ifs --ini " + at("missing.ini") + " --out " + at("d.ifs")).code, 2);
    // A disk with no room: exit 2 and neither the file nor its partial name.
    RenderLaunch noRoom;
    noRoom.fileSizeLimit = 0;
    for (const std::string& args : {"--import " + at("classics.ifs") + " --out " + at("d.ini"),
                                    "--export-ifs --ini " + at("a.ini") + " --out " + at("d.ini")}) {
        EXPECT_EQ(Render(args, noRoom).code, 2) << args;
        EXPECT_FALSE(fs::exists(at("d.ini"))) << args;
        EXPECT_FALSE(fs::exists(at("d.ini.partial"))) << args;
    }
    for (const char* wrong : {"--points 5", "--import x.ifs --check", "--import x.ifs --ini y.ini", "--import",
                              "--export-ifs --size 10x10", "--import x.ifs --points 1.5", "--export-ifs --dump -"}) {
        const RenderRun refused = Render(wrong);
        EXPECT_EQ(refused.code, 2) << wrong;
        EXPECT_EQ(refused.out, "") << wrong;
    }
    fs::remove_all(dir);
}

}  // namespace
