#include "engine/records/para_configure.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

#include "engine/records/error.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using korvane::test::TempDir;

Para_Configure read_text(const TempDir& dir, const std::string& text, int* status = nullptr) {
    dir.write("config_para.csv", text);
    Para_Configure p{};
    const int rc = Read_Configured_ParafromCSVFile(dir.str(), "config_para.csv", p);
    if (status) *status = rc;
    return p;
}

Para_Configure sample_parameters() {
    Para_Configure p{};
    p.Para_Profile_Centroid = 1;
    p.Para_Polarity = -1;
    p.Para_Cutoff_Mode = 2;
    p.Para_Cutoff_Intensity = 1234567;
    p.Para_Cutoff_TopNumber = 500;
    p.Para_Cutoff_LowPercent = 0.00001;
    p.Para_Start_Scan = 4294967295u;
    p.Para_End_Scan = 3000;
    p.Para_PPM = 10;
    p.Para_Min_EIC = 5;
    p.Para_Misscount_Allow = 3;
    p.Para_InterTrace_Dist_Min = 0.5;
    p.Para_Min_PeakWidth = 4;
    p.Para_Max_PeakWidth = 60;
    p.Para_Branch_Gap_Allow = 2;
    p.Para_Min_Branch_Length = 5;
    p.Para_Min_Span = 3;
    p.Para_MarkerBranch_Dif_Th = 2;
    p.Para_PeakIntensity_Th = 1000;
    p.Para_SNR_Th = 3;
    p.Para_Peak_Significance_Th = 1.5;
    p.Para_TPASR_Th = 0.3;
    p.Para_Zig_Zag_Index_Th = 0.25;
    p.Para_Group_Scan_Shift_Tol = 2;
    p.Para_Group_Shape_Angle_Th = 30;
    p.Para_Annotate_Mass_Tol = 0.005;
    p.Para_Refinement_Shape_Th = 20;
    p.Para_One_Two_Phase_Align = 2;
    p.Para_Align_Mass_Tol = 0.01;
    p.Para_Align_Window1 = 60;
    p.Para_Align_Window2 = 30;
    return p;
}

// The whole file, written out: the order of the lines is the order of kParaFields, so two rows
// swapped in the table show here; reals in %g (six significant digits), integers in full.
TEST(ParaFile, WriterProducesAllKeysInMemberOrderWithGeneralNotation) {
    TempDir dir;
    OutputConfiguredPara2CSVFile(sample_parameters(), dir.str(), "config_para.csv");
    EXPECT_EQ(korvane::test::read_file(dir.file("config_para.csv")),
              "Para_Profile_Centroid,1\n"
              "Para_Polarity,-1\n"
              "Para_Cutoff_Mode,2\n"
              "Para_Cutoff_Intensity,1.23457e+06\n"
              "Para_Cutoff_TopNumber,500\n"
              "Para_Cutoff_LowPercent,1e-05\n"
              "Para_Start_Scan,4294967295\n"
              "Para_End_Scan,3000\n"
              "Para_PPM,10\n"
              "Para_Min_EIC,5\n"
              "Para_Misscount_Allow,3\n"
              "Para_InterTrace_Dist_Min,0.5\n"
              "Para_Min_PeakWidth,4\n"
              "Para_Max_PeakWidth,60\n"
              "Para_Branch_Gap_Allow,2\n"
              "Para_Min_Branch_Length,5\n"
              "Para_Min_Span,3\n"
              "Para_MarkerBranch_Dif_Th,2\n"
              "Para_PeakIntensity_Th,1000\n"
              "Para_SNR_Th,3\n"
              "Para_Peak_Significance_Th,1.5\n"
              "Para_TPASR_Th,0.3\n"
              "Para_Zig_Zag_Index_Th,0.25\n"
              "Para_Group_Scan_Shift_Tol,2\n"
              "Para_Group_Shape_Angle_Th,30\n"
              "Para_Annotate_Mass_Tol,0.005\n"
              "Para_Refinement_Shape_Th,20\n"
              "Para_One_Two_Phase_Align,2\n"
              "Para_Align_Mass_Tol,0.01\n"
              "Para_Align_Window1,60\n"
              "Para_Align_Window2,30\n");
}

TEST(ParaFile, RoundTripKeepsIntegersAndSixSignificantDigits) {
    TempDir dir;
    const Para_Configure src = sample_parameters();
    OutputConfiguredPara2CSVFile(src, dir.str(), "config_para.csv");
    Para_Configure back{};
    ASSERT_EQ(Read_Configured_ParafromCSVFile(dir.str(), "config_para.csv", back), 1);
    EXPECT_EQ(back.Para_Start_Scan, 4294967295u);
    EXPECT_EQ(back.Para_Polarity, -1);
    EXPECT_EQ(back.Para_Cutoff_Intensity, 1234570.0);
    EXPECT_EQ(back.Para_Cutoff_LowPercent, 0.00001);
    EXPECT_EQ(back.Para_InterTrace_Dist_Min, 0.5);
    EXPECT_EQ(back.Para_One_Two_Phase_Align, 2);
    EXPECT_EQ(back.Para_Align_Window2, 30.0);
}

TEST(ParaFile, ReverseOrderCrLfAndBomReadTheSameAsMemberOrder) {
    TempDir dir;
    OutputConfiguredPara2CSVFile(sample_parameters(), dir.str(), "config_para.csv");
    const std::string text = korvane::test::read_file(dir.file("config_para.csv"));
    std::istringstream in(text);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    std::string reversed = "\xEF\xBB\xBF";
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) reversed += *it + "\r\n\r\n";
    const Para_Configure a = read_text(dir, text), b = read_text(dir, reversed);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
    EXPECT_EQ(b.Para_Align_Window2, 30.0);  // the BOM did not swallow the first key
    EXPECT_EQ(b.Para_Profile_Centroid, 1);
}

// Every run reads this file: a failed write names it and leaves the earlier file whole, with no
// temporary beside it.
TEST(ParaFile, AFailedWriteThrowsNamingTheFileAndKeepsTheEarlierOne) {
    const struct {
        const char* name;
        const char* folder;  // under the scratch folder; only "cfg" exists
        bool name_taken_by_folder;
        rlim_t size_limit;  // 0: none
    } rows[] = {
        {"missing folder", "absent", false, 0},
        {"name taken by a folder", "cfg", true, 0},
        {"disk full", "cfg", false, 64},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const fs::path cfg = dir.path() / "cfg", target = dir.path() / row.folder / "config_para.csv";
        fs::create_directories(row.name_taken_by_folder ? target : cfg);
        const std::string earlier = "Para_PPM,7\n";
        if (!row.name_taken_by_folder) dir.write("cfg/config_para.csv", earlier);
        try {
            std::optional<korvane::test::FileSizeLimit> limit;
            if (row.size_limit) limit.emplace(row.size_limit);
            OutputConfiguredPara2CSVFile(sample_parameters(), (dir.path() / row.folder).string(), "config_para.csv");
            ADD_FAILURE() << "no exception";
        } catch (const korvane::Error& e) {
            EXPECT_THAT(e.what(), testing::HasSubstr("could not write " + target.string()));
        }
        if (row.name_taken_by_folder)
            EXPECT_TRUE(fs::is_directory(target));
        else
            EXPECT_EQ(korvane::test::read_file((cfg / "config_para.csv").string()), earlier);
        EXPECT_EQ(std::distance(fs::directory_iterator(cfg), fs::directory_iterator()), 1);
    }
}

TEST(ParaFile, KeyMatchingAndValueColumns) {
    TempDir dir;
    EXPECT_EQ(read_text(dir, "Para_PPM,10,extra\n").Para_PPM, 10.0);
    EXPECT_EQ(read_text(dir, "para_ppm,10\n Para_PPM,11\nPara_PPMX,12\n").Para_PPM, 0.0);
    EXPECT_EQ(read_text(dir, "Para_PPM,,5\n").Para_PPM, 0.0);
    EXPECT_EQ(read_text(dir, "Para_SNR_Th,3\nPara_SNR_Th,5\n").Para_SNR_Th, 5.0);
    const Para_Configure u = read_text(dir, "Para_Start_Scan,0x10\nPara_End_Scan,010\nPara_Min_EIC,-1\n");
    EXPECT_EQ(u.Para_Start_Scan, 16u);
    EXPECT_EQ(u.Para_End_Scan, 8u);
    EXPECT_EQ(u.Para_Min_EIC, 4294967295u);
    EXPECT_EQ(read_text(dir, "Para_Polarity,1.9\n").Para_Polarity, 1);
}

TEST(ParaFile, ErrorsStopReadingButKeepEarlierValues) {
    TempDir dir;
    Para_Configure p{};
    dir.write("c.csv", "Para_PPM,7\nPara_Polarity,abc\nPara_SNR_Th,3\n");
    EXPECT_THROW(Read_Configured_ParafromCSVFile(dir.str(), "c.csv", p), std::invalid_argument);
    EXPECT_EQ(p.Para_PPM, 7.0);
    EXPECT_EQ(p.Para_SNR_Th, 0.0);

    dir.write("c.csv", "Para_Polarity,99999999999\n");
    EXPECT_THROW(Read_Configured_ParafromCSVFile(dir.str(), "c.csv", p), std::out_of_range);

    // The message names the file and the line, since the drivers stop with it.
    dir.write("c.csv", "Para_PPM,7\nPara_Cutoff_Mode, x1\n");
    try {
        Read_Configured_ParafromCSVFile(dir.str(), "c.csv", p);
        ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(std::string(e.what()),
                  dir.file("c.csv") + ": line \"Para_Cutoff_Mode, x1\": value \" x1\" is not a whole number");
    }

    for (const char* text : {"Para_PPM\n", "Para_PPM,\n"}) {
        SCOPED_TRACE(text);
        dir.write("c.csv", text);
        EXPECT_THROW(Read_Configured_ParafromCSVFile(dir.str(), "c.csv", p), std::out_of_range);
    }
}

TEST(ParaFile, MissingOrUnreadableFileReturnsZeroAndLeavesParametersAlone) {
    TempDir dir;
    Para_Configure p = sample_parameters();
    EXPECT_EQ(Read_Configured_ParafromCSVFile(dir.str(), "absent.csv", p), 0);
    EXPECT_EQ(p.Para_PPM, 10.0);
    // A folder under the file's name opens as a stream but cannot be read.
    std::filesystem::create_directories(dir.path() / "config_para.csv");
    EXPECT_EQ(Read_Configured_ParafromCSVFile(dir.str(), "config_para.csv", p), 0);
    EXPECT_EQ(p.Para_PPM, 10.0);
    EXPECT_EQ(p.Para_Polarity, -1);
    const Para_Configure zero{};
    EXPECT_EQ(zero.Para_PPM, 0.0);
    EXPECT_EQ(zero.Para_Max_PeakWidth, 0u);
}

}  // namespace

// A complete file as the writer makes it, one line per key in member order, edited per case.
struct Para_Text {
    std::vector<std::string> lines;

    Para_Text() {
        Para_Configure p = sample_parameters();
        p.Para_Start_Scan = 0;
        TempDir dir;
        OutputConfiguredPara2CSVFile(p, dir.str(), "c.csv");
        std::istringstream in(korvane::test::read_file(dir.file("c.csv")));
        for (std::string l; std::getline(in, l);) lines.push_back(l);
    }
    std::size_t index(const std::string& key) const {
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i].compare(0, key.size() + 1, key + ",") == 0) return i;
        return lines.size();
    }
    Para_Text& set(const std::string& key, const std::string& value) {
        lines[index(key)] = key + "," + value;
        return *this;
    }
    Para_Text& line(const std::string& key, const std::string& text) {
        lines[index(key)] = text;
        return *this;
    }
    Para_Text& drop(const std::string& key) {
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(index(key)));
        return *this;
    }
    std::string text(const std::string& end = "\n") const {
        std::string t;
        for (const std::string& l : lines) t += l + end;
        return t;
    }
};

TEST(RunParameters, RefusesWhatARunWouldGoWrongOnNamingFileLineAndKey) {
    const std::string utf16 = [] {
        std::string t = "\xFF\xFE";
        for (char c : Para_Text().text()) t += std::string(1, c) + '\0';
        return t;
    }();
    struct Case {
        const char* name;
        std::string bytes, message;  // message: what follows "Parameter file <path>"
    };
    const Case cases[] = {
        {"missing key", Para_Text().drop("Para_End_Scan").text(), ": no line for Para_End_Scan"},
        {"two missing keys", Para_Text().drop("Para_PPM").drop("Para_Align_Window2").text(),
         ": no line for Para_PPM, Para_Align_Window2"},
        {"letters for a real", Para_Text().set("Para_PPM", "abc").text(),
         ", line 9: Para_PPM: value \"abc\" is not a number"},
        {"trailing text after a whole number", Para_Text().set("Para_Min_EIC", "12x").text(),
         ", line 10: Para_Min_EIC: value \"12x\" is not a whole number"},
        {"not an octal number", Para_Text().set("Para_Min_Span", "08").text(),
         ", line 17: Para_Min_Span: value \"08\" is not a whole number"},
        {"empty real", Para_Text().line("Para_SNR_Th", "Para_SNR_Th,,3").text(),
         ", line 20: Para_SNR_Th: value \"\" is not a number"},
        {"empty unsigned", Para_Text().line("Para_Max_PeakWidth", "Para_Max_PeakWidth,,60").text(),
         ", line 14: Para_Max_PeakWidth: value \"\" is not a whole number"},
        {"fraction for a signed key", Para_Text().set("Para_Cutoff_Mode", "1.5").text(),
         ", line 3: Para_Cutoff_Mode: value \"1.5\" is not a whole number"},
        {"signed beyond 32 bits", Para_Text().set("Para_Polarity", "99999999999").text(),
         ", line 2: Para_Polarity: value \"99999999999\" is beyond the 32-bit range"},
        {"key without value", Para_Text().line("Para_TPASR_Th", "Para_TPASR_Th").text(),
         ", line 22: Para_TPASR_Th: no value"},
        {"key and comma without value", Para_Text().set("Para_TPASR_Th", "").text(),
         ", line 22: Para_TPASR_Th: no value"},
        {"infinite real", Para_Text().set("Para_Cutoff_LowPercent", "1e999").text(),
         ", line 6: Para_Cutoff_LowPercent: value \"1e999\" is not a finite number"},
        {"ppm zero", Para_Text().set("Para_PPM", "0").text(), ", line 9, Para_PPM: 0 is not above 0"},
        {"ppm negative", Para_Text().set("Para_PPM", "-5").text(), ", line 9, Para_PPM: -5 is not above 0"},
        {"peak widths crossed", Para_Text().set("Para_Min_PeakWidth", "61").text(),
         ", line 13, Para_Min_PeakWidth: 61 is above Para_Max_PeakWidth 60 (line 14)"},
        {"scan range crossed", Para_Text().set("Para_Start_Scan", "3001").text(),
         ", line 8, Para_End_Scan: 3000 is below Para_Start_Scan 3001 (line 7)"},
        {"negative annotation tolerance", Para_Text().set("Para_Annotate_Mass_Tol", "-0.005").text(),
         ", line 26, Para_Annotate_Mass_Tol: -0.005 is negative"},
        {"negative alignment tolerance", Para_Text().set("Para_Align_Mass_Tol", "-1").text(),
         ", line 29, Para_Align_Mass_Tol: -1 is negative"},
        {"negative window 1", Para_Text().set("Para_Align_Window1", "-60").text(),
         ", line 30, Para_Align_Window1: -60 is negative"},
        {"negative window 2", Para_Text().set("Para_Align_Window2", "-1e-06").text(),
         ", line 31, Para_Align_Window2: -1e-06 is negative"},
        {"the later of two lines counts", Para_Text().text() + "Para_PPM,0\n", ", line 32, Para_PPM: 0 is not above 0"},
        {"empty file", "", " is empty"},
        {"blank lines only", "\n\r\n\n", " holds no parameter line"},
        {"UTF-16", utf16, " is not plain text (UTF-16?): save it as UTF-8 or ASCII"},
        {"carriage returns alone end the lines", Para_Text().text("\r"),
         ", line 1: carriage return inside the line: line ends must be LF or CR LF"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dir.write("config_para.csv", c.bytes);
        try {
            korvane::read_run_parameters(dir.str(), "config_para.csv");
            ADD_FAILURE() << "accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), "Parameter file " + dir.file("config_para.csv") + c.message);
        }
    }
    std::filesystem::remove(dir.file("config_para.csv"));
    std::filesystem::create_directories(dir.path() / "config_para.csv");
    for (const auto& [name, why] :
         {std::pair{"absent.csv", ""}, std::pair{"config_para.csv", " (not a regular file)"}}) {
        SCOPED_TRACE(name);
        try {
            korvane::read_run_parameters(dir.str(), name);
            ADD_FAILURE() << "accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), "Parameter file could not be opened: " + dir.file(name) + why);
        }
    }
}

TEST(RunParameters, AcceptsValuesWithAMeaningAndReadsWhatThePlainReaderReads) {
    std::string reversed = "\xEF\xBB\xBF";
    for (const std::string& l : [] { auto v = Para_Text().lines; return std::vector(v.rbegin(), v.rend()); }())
        reversed += l + "\r\n";
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"as written", Para_Text().text()},
        {"any polarity", Para_Text().set("Para_Polarity", "-7").text()},
        {"no alignment", Para_Text().set("Para_One_Two_Phase_Align", "-1").text()},
        {"alignment mode above 2", Para_Text().set("Para_One_Two_Phase_Align", "5").text()},
        {"cut-off values the cut-off refuses itself",
         Para_Text().set("Para_Cutoff_Mode", "3").set("Para_Cutoff_LowPercent", "1.5").set("Para_Cutoff_TopNumber", "0").text()},
        {"negative unsigned is its 32-bit pattern", Para_Text().set("Para_End_Scan", "-1").text()},
        {"hexadecimal and octal", Para_Text().set("Para_Start_Scan", "0x10").set("Para_Min_EIC", "010").text()},
        {"blanks around values", Para_Text().set("Para_PPM", " 10 ").set("Para_Polarity", " 0\t").text()},
        {"equal peak widths and scans, zero tolerances",
         Para_Text().set("Para_Min_PeakWidth", "60").set("Para_End_Scan", "0").set("Para_Align_Window2", "-0").text()},
        {"reversed, CR LF, byte-order mark", reversed},
        {"unknown keys and extra columns", Para_Text().text() + "Para_Comment,x\nnote\n" + "Para_PPM,12,ppm\n"},
        {"a later line fixes an earlier one", "Para_PPM,0\n" + Para_Text().text()},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dir.write("config_para.csv", c.bytes);
        Para_Configure plain{};
        ASSERT_EQ(Read_Configured_ParafromCSVFile(dir.str(), "config_para.csv", plain), 1);
        const Para_Configure checked = korvane::read_run_parameters(dir.str(), "config_para.csv");
        EXPECT_EQ(std::memcmp(&checked, &plain, sizeof plain), 0);
    }
}

// Unsigned keys read with the automatic base, and a negative value as its 32-bit pattern, as a
// 32-bit strtoul reads them. Past 32 bits (sign aside) the plain reader saturates; a run refuses
// the value as it refuses a signed one beyond 32 bits, instead of working on 4294967295.
TEST(RunParameters, UnsignedValuesPast32BitsAreRefusedWhereThePlainReaderSaturates) {
    struct Row {
        const char* key;
        const char* text;
        std::uint32_t plain;  // what Read_Configured_ParafromCSVFile stores
        bool refused;
    };
    const Row rows[] = {
        {"Para_Min_EIC", "99999999999", 4294967295u, true},
        {"Para_Start_Scan", "4294967296", 4294967295u, true},
        {"Para_Min_EIC", "0x100000000", 4294967295u, true},
        {"Para_Min_EIC", "040000000000", 4294967295u, true},
        {"Para_Min_EIC", "-4294967296", 4294967295u, true},
        {"Para_Min_EIC", "4294967295", 4294967295u, false},
        {"Para_Min_EIC", "037777777777", 4294967295u, false},
        {"Para_Min_EIC", "-1", 4294967295u, false},
        {"Para_Min_EIC", "-4294967295", 1u, false},
        {"Para_Min_EIC", " -0xFFFFFFFF ", 1u, false},
        {"Para_Min_EIC", "0x10", 16u, false},
        {"Para_Min_EIC", "010", 8u, false},
    };
    const Para_Text example;  // before the scratch folder: it makes one of the same name
    TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.key) + "," + row.text);
        Para_Text text = example;
        dir.write("config_para.csv", text.set(row.key, row.text).text());
        Para_Configure plain{};
        ASSERT_EQ(Read_Configured_ParafromCSVFile(dir.str(), "config_para.csv", plain), 1);
        const std::uint32_t stored = std::string(row.key) == "Para_Min_EIC" ? plain.Para_Min_EIC : plain.Para_Start_Scan;
        EXPECT_EQ(stored, row.plain);
        try {
            const Para_Configure checked = korvane::read_run_parameters(dir.str(), "config_para.csv");
            EXPECT_FALSE(row.refused) << "accepted";
            EXPECT_EQ(checked.Para_Min_EIC, plain.Para_Min_EIC);
        } catch (const std::runtime_error& e) {
            EXPECT_TRUE(row.refused) << e.what();
            EXPECT_EQ(std::string(e.what()), "Parameter file " + dir.file("config_para.csv") + ", line " +
                                                 std::to_string(text.index(row.key) + 1) + ": " + row.key +
                                                 ": value \"" + row.text + "\" is beyond the 32-bit range");
        }
    }
}
