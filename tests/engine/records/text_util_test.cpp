#include "engine/records/text_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "tests/support/fifo.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace korvane;

TEST(ReadLine, CrLfAndLfGiveTheSameLines) {
    std::istringstream lf("a,1\nb,2\n\nc"), crlf("a,1\r\nb,2\r\n\r\nc");
    std::string x, y;
    while (true) {
        const bool gx = read_line(lf, x), gy = read_line(crlf, y);
        ASSERT_EQ(gx, gy);
        if (!gx) break;
        EXPECT_EQ(x, y);
    }
    // Only one carriage return belongs to the line end.
    std::istringstream two("v\r\r\n");
    ASSERT_TRUE(read_line(two, x));
    EXPECT_EQ(x, "v\r");
}

TEST(Split, CommaRule) {
    struct Row {
        const char* text;
        std::vector<std::string> pieces;
    } rows[] = {
        {"", {}},
        {"a", {"a"}},
        {"a,b,", {"a", "b"}},
        {"a,,b", {"a", "", "b"}},
        {",x", {"", "x"}},
        {" a , b", {" a ", " b"}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(split_commas(r.text), r.pieces);
    }
}

TEST(Split, QuotedFieldRuleKeepsCommasInsideQuotesAndDropsEmptyFields) {
    EXPECT_EQ(split_quoted_fields(R"("a","b, c","d")"), (std::vector<std::string>{"a", "b, c", "d"}));
    // An empty quoted field vanishes, which is how a short line is recognised.
    EXPECT_EQ(split_quoted_fields(R"("a","","d")"), (std::vector<std::string>{"a", "d"}));
    // Unquoted text is a single field.
    EXPECT_EQ(split_quoted_fields("a,b,c"), (std::vector<std::string>{"a,b,c"}));
}

TEST(ParseDouble, DecimalOnlyWithTrailingTextIgnored) {
    struct Row {
        const char* text;
        double value;
    } rows[] = {
        {"10", 10.0},       {"  -2.5e3xyz", -2500.0}, {"+.5", 0.5},   {"1e", 1.0},
        {"1e+", 1.0},       {"abc", 0.0},             {"", 0.0},      {".", 0.0},
        {"0x10", 0.0},      {"inf", 0.0},             {"nan", 0.0},   {"-", 0.0},
        {"5.", 5.0},        {"1.25E-2", 0.0125},      {"\t7", 7.0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(parse_double(r.text), r.value);
    }
    EXPECT_TRUE(std::isinf(parse_double("1e999")));
}

TEST(ParseUint32Auto, BasesSignsAndSaturation) {
    struct Row {
        const char* text;
        std::uint32_t value;
    } rows[] = {
        {"0x10", 16u},          {"010", 8u},         {"-1", 4294967295u},  {"4294967295", 4294967295u},
        {"4294967296", 4294967295u}, {"99999999999999999999", 4294967295u},
        {"-4294967296", 4294967295u}, {" 12abc", 12u}, {"abc", 0u},       {"", 0u},
        {"0x", 0u},             {"09", 0u},          {"0XfF", 255u},       {"+7", 7u},
        {"-2", 4294967294u},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(parse_uint32_auto(r.text), r.value);
    }
}

TEST(ParseInt32, TruncatesAndRejectsAsTheStandardConversionDoes) {
    EXPECT_EQ(parse_int32("1.9"), 1);
    EXPECT_EQ(parse_int32("  -42x"), -42);
    EXPECT_EQ(parse_int32("2147483647"), 2147483647);
    EXPECT_EQ(parse_int32("-2147483648"), -2147483647 - 1);
    EXPECT_THROW(parse_int32("abc"), std::invalid_argument);
    EXPECT_THROW(parse_int32(""), std::invalid_argument);
    EXPECT_THROW(parse_int32("-"), std::invalid_argument);
    EXPECT_THROW(parse_int32("2147483648"), std::out_of_range);
    EXPECT_THROW(parse_int32("-99999999999999999999"), std::out_of_range);
}

// Whether a text is wholly one number of each form, blanks around it aside.
TEST(WholeNumber, NothingButTheNumberAndBlanks) {
    struct Row {
        const char* text;
        bool real, unsigned_auto, signed_decimal;
    } rows[] = {
        {"10", true, true, true},        {" -7\t", true, true, true},  {"1.5", true, false, false},
        {"5.", true, false, false},      {".5e-3", true, false, false}, {"1e", false, false, false},
        {"12x", false, false, false},    {"abc", false, false, false},  {"", false, false, false},
        {"-", false, false, false},      {" ", false, false, false},    {"0x1F", false, true, false},
        {"0x", false, false, false},     {"010", true, true, true},     {"08", true, false, true},
        {"1 2", false, false, false},    {"inf", false, false, false},  {"99999999999", true, true, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(is_whole_double(r.text), r.real);
        EXPECT_EQ(is_whole_uint32_auto(r.text), r.unsigned_auto);
        EXPECT_EQ(is_whole_int32(r.text), r.signed_decimal);
    }
}

TEST(FormatG6, MatchesPrintfGeneralNotation) {
    for (double v : {0.0, 1.5, 10.0, 0.5, 123.4567, 1234567.0, 0.00001, 0.0001, 15234567.0, -2.25, 1e300}) {
        char expect[64];
        std::snprintf(expect, sizeof expect, "%g", v);
        EXPECT_EQ(format_g6(v), expect) << v;
    }
    EXPECT_EQ(format_g6(1234567.0), "1.23457e+06");
    EXPECT_EQ(format_g6(0.00001), "1e-05");
}

TEST(PathJoin, SlashAndBareNameForEmptyFolder) {
    EXPECT_EQ(path_join("cfg", "config_para.csv"), "cfg/config_para.csv");
    EXPECT_EQ(path_join("", "config_para.csv"), "config_para.csv");
}

// Readers refuse what is there but no regular file, without opening it; what is missing is left to
// their own open and its message.
TEST(NotRegularFile, FifoFolderAndDeviceButNotARegularFileOrNothing) {
    korvane::test::TempDir t;
    const std::string file = t.write("file.csv", "x\n");
    korvane::test::Fifo fifo(t.file("fifo.csv"));
    ASSERT_TRUE(fifo.made());
    std::filesystem::create_directories(t.path() / "folder.csv");
    std::filesystem::create_symlink(file, t.path() / "link_to_file.csv");
    std::filesystem::create_symlink(t.file("fifo.csv"), t.path() / "link_to_fifo.csv");
    std::filesystem::create_symlink(t.file("absent.csv"), t.path() / "dangling.csv");
    const std::pair<std::string, bool> rows[] = {
        {file, false},
        {t.file("link_to_file.csv"), false},
        {t.file("absent.csv"), false},
        {t.file("dangling.csv"), false},
        {t.file("file.csv/below"), false},
        {t.file("fifo.csv"), true},
        {t.file("link_to_fifo.csv"), true},
        {t.file("folder.csv"), true},
        {"/dev/null", true},
    };
    for (const auto& [path, refused] : rows) {
        SCOPED_TRACE(path);
        EXPECT_EQ(is_not_regular_file(path), refused);
    }
}

}  // namespace
