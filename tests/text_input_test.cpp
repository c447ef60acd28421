// The line reader and the number grammar of the definition file.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "ifs/text_input.h"
#include "test_support.h"

namespace {

std::vector<std::string> ReadAllLines(const std::string& bytes) {
    const std::string path = WriteTempFile(bytes);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::vector<std::string> lines;
    LineReader reader(file);
    char buffer[LineCapacity];
    while (reader.ReadLine(buffer)) lines.emplace_back(buffer);
    std::fclose(file);
    std::remove(path.c_str());
    return lines;
}

}  // namespace

TEST(LineReaderTest, FollowsTextModeRules) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(ReadAllLines("a\r\nb\n"), (Lines{"a\n", "b\n"}));
    EXPECT_EQ(ReadAllLines("a\rb\r\r\n"), (Lines{"a\rb\r\n"}));  // only the CR before LF goes
    EXPECT_EQ(ReadAllLines("last"), (Lines{"last"}));
    EXPECT_EQ(ReadAllLines("one\ntwo\x1Athree\n"), (Lines{"one\n", "two"}));
    EXPECT_EQ(ReadAllLines("x\r"), (Lines{"x\r"}));
    EXPECT_EQ(ReadAllLines("x\r\x1Ay"), (Lines{"x\r"}));
    EXPECT_TRUE(ReadAllLines("").empty());
    EXPECT_TRUE(ReadAllLines("\x1A" "1\n").empty());
}

TEST(LineReaderTest, SplitsLongLinesAt2047Characters) {
    const std::string exact(2047, '7');
    EXPECT_EQ(ReadAllLines(exact + "\n"), (std::vector<std::string>{exact, "\n"}));
    const std::string shorter(2046, '7');
    EXPECT_EQ(ReadAllLines(shorter + "\n"), (std::vector<std::string>{shorter + "\n"}));
    const auto pieces = ReadAllLines(std::string(100000, 'x') + "\n");
    ASSERT_EQ(pieces.size(), 49u);  // 48 full reads of 2047, then 1744 characters and the LF
    EXPECT_EQ(pieces.back().size(), 100000u - 48 * 2047 + 1);
}

TEST(ScanIntTest, ReadsTheIntegerGrammarAndSaturates) {
    std::int32_t v = -1;
    EXPECT_NE(ScanInt("  \t-800 points", &v), nullptr);
    EXPECT_EQ(v, -800);
    EXPECT_NE(ScanInt("+12", &v), nullptr);
    EXPECT_EQ(v, 12);
    EXPECT_NE(ScanInt("1.5", &v), nullptr);
    EXPECT_EQ(v, 1);
    EXPECT_NE(ScanInt("99999999999999999999999", &v), nullptr);
    EXPECT_EQ(v, 2147483647);
    EXPECT_NE(ScanInt("-2147483649", &v), nullptr);
    EXPECT_EQ(v, -2147483647 - 1);
    EXPECT_NE(ScanInt("-2147483648", &v), nullptr);
    EXPECT_EQ(v, -2147483647 - 1);
    v = 5;
    for (const char* none : {"", "   ", "- 5", "x5", ";3", "\n", "+"}) {
        EXPECT_EQ(ScanInt(none, &v), nullptr) << '"' << none << '"';
    }
    EXPECT_EQ(v, 5) << "a failed conversion leaves the value alone";
    const char* text = "3 words";
    EXPECT_EQ(ScanInt(text, &v), text + 1);
}

TEST(ScanIntTest, AnyBaseReadsDecimalHexadecimalAndOctal) {
    std::int32_t v = 0;
    for (const char* text : {" 26", "0x1A", "0X1a", "032", "+26"}) {
        ASSERT_NE(ScanIntAnyBase(text, &v), nullptr) << text;
        EXPECT_EQ(v, 26) << text;
    }
    ASSERT_NE(ScanIntAnyBase("-0x10", &v), nullptr);
    EXPECT_EQ(v, -16);
    ASSERT_NE(ScanIntAnyBase("0x", &v), nullptr);
    EXPECT_EQ(v, 0);
    ASSERT_NE(ScanIntAnyBase("09", &v), nullptr);  // octal stops at 9
    EXPECT_EQ(v, 0);
    ASSERT_NE(ScanIntAnyBase("0xFFFFFFFFFF", &v), nullptr);
    EXPECT_EQ(v, 2147483647);
    EXPECT_EQ(ScanIntAnyBase("zz", &v), nullptr);
}

TEST(ScanDoubleTest, ReadsTheRealGrammar) {
    const std::pair<const char*, double> cases[] = {
        {"0.85", 0.85}, {" -0.04", -0.04}, {"+2.5", 2.5}, {"1.", 1.0},     {".5", 0.5},
        {"1e3", 1000},  {"1E-2", 0.01},    {"7e+1", 70},  {"1e", 1.0},     {"2ex", 2.0},
        {"3.5.6", 3.5}, {"0.1", 0.1},      {"-0", -0.0},  {"1e-400", 0.0}, {"123456789012345678901234567890", 1.2345678901234568e29},
    };
    for (const auto& [text, expected] : cases) {
        double v = -99;
        ASSERT_NE(ScanDouble(text, &v), nullptr) << text;
        EXPECT_EQ(v, expected) << text;
    }
    double v = 0;
    ASSERT_NE(ScanDouble("1e400", &v), nullptr);
    EXPECT_TRUE(std::isinf(v) && v > 0);
    ASSERT_NE(ScanDouble("-0.00001e99999999999999999999", &v), nullptr);
    EXPECT_TRUE(std::isinf(v) && v < 0);
    v = 42;
    for (const char* none : {"", "inf", "nan", "-inf", ".", "-.", "e5", "x1", "infinity"}) {
        EXPECT_EQ(ScanDouble(none, &v), nullptr) << none;
    }
    EXPECT_EQ(v, 42);
    // Hexadecimal floats are not numbers here: "0x1p3" reads as 0 followed by text.
    const char* hex = "0x1p3";
    EXPECT_EQ(ScanDouble(hex, &v), hex + 1);
    EXPECT_EQ(v, 0.0);
}

TEST(ScanDoubleTest, RoundsCorrectlyLikeTheCompilerDoes) {
    // Values whose nearest double a naive digit-by-digit conversion gets wrong.
    const std::pair<const char*, double> cases[] = {
        {"0.1", 0.1}, {"0.3", 0.3}, {"2.2250738585072011e-308", 2.2250738585072011e-308},
        {"9007199254740993", 9007199254740993.0}, {"0.001047197551", 0.001047197551},
        {"1.7976931348623157e308", 1.7976931348623157e308},
    };
    for (const auto& [text, expected] : cases) {
        double v = 0;
        ASSERT_NE(ScanDouble(text, &v), nullptr);
        EXPECT_EQ(v, expected) << text;
    }
}
