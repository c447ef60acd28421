// The definition-file loader: point count rules, the list of definitions, messages.
#include <cstdio>
#include <string>

#include "ifs/ifs_definition.h"
#include "ifs/loader.h"
#include "saver/win32_saver.h"
#include "core/arrays.h"
#include "test_support.h"

using LoaderTest = SaverTest;

namespace {

const std::string Triangle = TriangleDefinition();

IfsDefinition* DefinitionAt(int index) {
    IfsDefinition* def = State.FirstDefinition;
    while (index-- > 0 && def != nullptr) def = def->Next;
    return def;
}

}  // namespace

TEST_F(LoaderTest, PointCountSignPreviewAndLimits) {
    ASSERT_EQ(LoadText("-800\n" + Triangle), 0);
    EXPECT_EQ(State.PointCount, 800);
    EXPECT_EQ(State.ShownPoints, 800);
    EXPECT_EQ(State.ShowStatus, 1);
    EXPECT_EQ(State.MinPoints, 600);
    EXPECT_EQ(State.GrowLimit, 700);

    ResetAll();
    ASSERT_EQ(LoadText("-800\n" + Triangle, RunMode::Preview), 0);
    EXPECT_EQ(State.PointCount, 80);

    ResetAll();
    ASSERT_EQ(LoadText("5\n" + Triangle, RunMode::Preview), 0);
    EXPECT_EQ(State.PointCount, 0);

    ResetAll();
    ASSERT_EQ(LoadText("5\n" + Triangle), 0);
    EXPECT_EQ(State.MinPoints, 3);
    EXPECT_EQ(State.GrowLimit, -95);
    EXPECT_EQ(State.ShowStatus, 0);

    // The extremes neither overflow nor go negative.
    ResetAll();
    ASSERT_EQ(LoadText("-2147483648\n" + Triangle), 0);
    EXPECT_EQ(State.PointCount, 2147483647);
    EXPECT_EQ(State.MinPoints, 1610612735);
    EXPECT_EQ(State.GrowLimit, 2147483547);
    ResetAll();
    ASSERT_EQ(LoadText("99999999999999\n" + Triangle), 0);
    EXPECT_EQ(State.PointCount, 2147483647);
    EXPECT_EQ(State.ShowStatus, 0);
}

TEST_F(LoaderTest, SkipsTextBeforeTheCountAndBetweenDefinitions) {
    const std::string text = std::string("; comment\n\nPoints follow\r\n  1000 points\r\n; first\n") + Triangle +
                             "\n0\n-3\nnot a header\n" + "2 maps follow\r\n1 0 0 1 0 0 50\r\n0.5 0 0 0.5 1 1 50\r\n-1 -2 3 5\r\n";
    ASSERT_EQ(LoadText(text), 0);
    EXPECT_EQ(State.PointCount, 1000);
    ASSERT_EQ(State.DefinitionCount, 2);
    const IfsDefinition* second = DefinitionAt(1);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->Next, nullptr);
    EXPECT_EQ(second->TransformCount, 2);
    EXPECT_EQ(second->Transforms[1].e, 1.0);
    EXPECT_EQ(second->Transforms[1].weight, 50);
    EXPECT_EQ(second->XMin, -1.0);
    EXPECT_EQ(second->YMin, -2.0);
    EXPECT_EQ(second->Width, 4.0);
    EXPECT_EQ(second->Height, 7.0);
    EXPECT_EQ(DefinitionAt(0)->Transforms[2].weight, 34);
}

TEST_F(LoaderTest, HeaderIsReadAsAnInteger) {
    ASSERT_EQ(LoadText("100\n1.5 maps\n1 0 0 1 0 0 100\n0 0 1 1\n"), 0);
    EXPECT_EQ(State.FirstDefinition->TransformCount, 1);
    EXPECT_EQ(State.FirstDefinition->Width, 1.0);
}

TEST_F(LoaderTest, CommentInsideADefinitionIsReadAsAMapLine) {
    ASSERT_EQ(LoadText("100\n2\n; oops\n0.5 0 0 0.5 0 0 50\n0 0 1 1\n"), 0);
    const IfsDefinition* def = State.FirstDefinition;
    EXPECT_EQ(def->Transforms[0].a, 0.0);  // the comment gave no numbers
    EXPECT_EQ(def->Transforms[0].weight, 0);
    EXPECT_EQ(def->Transforms[1].a, 0.5);
    EXPECT_EQ(def->Width, 1.0);
    EXPECT_EQ(State.DefinitionCount, 1);
}

TEST_F(LoaderTest, ShortLinesLeaveZerosAndAFileCutShortKeepsItsDefinition) {
    ASSERT_EQ(LoadText("100\n2\n0.5 0.25\n1 2 3 4 5 6 7 8 9\n-1 -1 1"), 0);
    const IfsDefinition* def = State.FirstDefinition;
    EXPECT_EQ(def->Transforms[0].a, 0.5);
    EXPECT_EQ(def->Transforms[0].b, 0.25);
    EXPECT_EQ(def->Transforms[0].c, 0.0);
    EXPECT_EQ(def->Transforms[0].weight, 0);
    EXPECT_EQ(def->Transforms[1].f, 6.0);
    EXPECT_EQ(def->Transforms[1].weight, 7);
    EXPECT_EQ(def->Width, 2.0);
    EXPECT_EQ(def->Height, 0.0 - (-1.0)) << "a missing ymax reads as 0";

    // Ending right after the header still gives one definition, all zeros: the three missing
    // maps are held as the one zero map that draws the same.
    ResetAll();
    ASSERT_EQ(LoadText("100\n3 maps\n"), 0);
    ASSERT_EQ(State.DefinitionCount, 1);
    EXPECT_EQ(State.FirstDefinition->TransformCount, 1);
    EXPECT_EQ(State.FirstDefinition->Transforms[0].weight, 0);
    EXPECT_EQ(State.FirstDefinition->Width, 0.0);

    // Cut short in the middle of the maps, after a first definition: both are kept, reading ends.
    ResetAll();
    ASSERT_EQ(LoadText("100\n" + Triangle + "2\n1 0 0 1 0 0 100\n"), 0);
    EXPECT_EQ(State.DefinitionCount, 2);
    EXPECT_EQ(DefinitionAt(1)->Transforms[0].weight, 100);
    EXPECT_EQ(DefinitionAt(1)->Transforms[1].a, 0.0);
}

TEST_F(LoaderTest, NoDefinitionsShowsItsMessage) {
    for (const char* text : {"", "100\n", "; only words\n", "100\n0\n-5\n", "\x1A" "100\n3\n"}) {
        ResetAll();
        EXPECT_EQ(LoadText(text), 1) << text;
        ASSERT_EQ(Host().messages.size(), 1u);
        EXPECT_EQ(Host().messages[0], NoDefinitionsMessage);
        EXPECT_EQ(Host().captions[0], "Lumivex: Error");
        EXPECT_EQ(State.DefinitionCount, 0);
    }
}

TEST_F(LoaderTest, TheWindowsLookupFallsBackToTheSystemDirectoryAndNamesIt) {
    Host().systemDirectory = "/nonexistent/lumivex-sys";
    EXPECT_EQ(LoadDefinitions(WindowsDefinitionLookup()), 1);
    ASSERT_EQ(Host().messages.size(), 1u);
    EXPECT_EQ(Host().messages[0],
              "I cannot find 'lumivex.ini'.\n\nI *need* that file, no nice gfx without it!\n\n"
              "Please put it either into current directory or into the system directory "
              "('/nonexistent/lumivex-sys\\'). Now quitting.");

    // The headless host reads "\" as "/", so a system directory stand-in can hold the file.
    ResetAll();
    const std::string path = WriteTempFile("700\n" + Triangle);
    const std::string directory = "/tmp/lumivex-sysdir-test";
    std::remove((directory + "/lumivex.ini").c_str());
    ASSERT_EQ(std::system(("mkdir -p " + directory + " && mv " + path + " " + directory + "/lumivex.ini").c_str()), 0);
    Host().systemDirectory = directory;
    EXPECT_EQ(LoadDefinitions(WindowsDefinitionLookup()), 0);  // the test's working directory holds no lumivex.ini
    EXPECT_EQ(State.PointCount, 700);
    EXPECT_TRUE(Host().messages.empty());
    std::remove((directory + "/lumivex.ini").c_str());
}

TEST_F(LoaderTest, AHeaderThatCannotBeAllocatedEndsTheFile) {
    SetAllocationLimit(1 << 20);
    ASSERT_EQ(LoadText("100\n" + Triangle + "2000000000\n" + Triangle), 0);
    EXPECT_EQ(State.DefinitionCount, 1) << "the definitions read so far are kept";
    ResetAll();
    SetAllocationLimit(1 << 20);
    EXPECT_EQ(LoadText("100\n2147483647\n1 0 0 1 0 0 100\n0 0 1 1\n"), 1);
    EXPECT_EQ(Host().messages.at(0), NoDefinitionsMessage);
}

TEST_F(LoaderTest, GarbageNeverCrashes) {
    // Deterministic pseudo-random bytes, with digits, signs, line ends and NULs mixed in.
    std::uint32_t seed = 12345;
    for (int round = 0; round < 60; ++round) {
        ResetAll();
        SetAllocationLimit(1 << 24);
        std::string text;
        const int length = 50 + round * 97;
        for (int i = 0; i < length; ++i) {
            seed = seed * 1103515245u + 12345u;
            const unsigned r = seed >> 16;
            const char alphabet[] = "0123456789 .-+eE\n\r\x1A\t;x";
            text += (r % 4 == 0) ? static_cast<char>(r >> 3) : alphabet[r % (sizeof alphabet - 1)];
        }
        const int result = LoadText(text);
        ASSERT_TRUE(result == 0 || result == 1);
        int counted = 0;
        for (IfsDefinition* def = State.FirstDefinition; def != nullptr; def = def->Next) {
            ASSERT_GE(def->TransformCount, 1);
            ++counted;
        }
        EXPECT_EQ(counted, State.DefinitionCount);
        EXPECT_EQ(result == 0, counted > 0);
        EXPECT_GE(State.PointCount, 0);
    }
}
