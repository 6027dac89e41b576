#include "engine/output/csv_output.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "reference/csv_output_oracle.h"
#include "tests/support/temp_dir.h"

namespace {

using korvane::test::read_file;
using korvane::test::TempDir;

const std::string kPeakHeader =
    "EIC_ID,Peak_ID,Apex_MZ,Apex_Pos,Apex_Retention_Time,Apex_Intensity,Peak_Area,Peak_SNR,"
    "Left_Boundary,Right_boundary";

template <class Row>
Row peak_row(double real) {
    Row r;
    r.Peak_shape = {{7, 2.25, 100.5, 10.0}};  // never written
    r.EIC_ID = 1;
    r.Peak_ID = 2;
    r.Apex_MZ = real;
    r.Apex_Pos = 4;
    r.Apex_Retention_Time = real;
    r.Apex_Intensity = real;
    r.Peak_Area = real;
    r.Peak_SNR = real;
    r.Left_Boundary = 9;
    r.Right_Boundary = 10;
    return r;
}

TEST(CsvOutput, EmptyListsGiveTheFourHeadersByteForByte) {
    TempDir dir;
    OutputChromatographPeaklist2CSVFile({}, dir.str(), "s_chromatograph_peaklist.csv");
    OutputGroupedChromatographPeaklist2CSVFile({}, dir.str(), "s_grouped_chromatograph_peaklist.csv");
    OutputAnnotatedGroupedChromatographPeaklist2CSVFile({}, dir.str(),
                                                        "s_annotated_grouped_chromatograph_peaklist.csv");
    OutputAlignedAnnotatedGroupedChromatographPeaklist2CSVFile(
        {}, dir.str(), "aligned_annotated_grouped_chromatograph_peaklist.csv");

    EXPECT_EQ(read_file(dir.file("s_chromatograph_peaklist.csv")), kPeakHeader + "\n");
    EXPECT_EQ(read_file(dir.file("s_grouped_chromatograph_peaklist.csv")), kPeakHeader + ",Group_ID\n");
    const std::string annotated =
        kPeakHeader +
        ",Group_ID,Adduct_Annotation,Compound_ID,Compound_MolecularMass,Compound_Retention_Time,"
        "Compound_Intensity";
    EXPECT_EQ(read_file(dir.file("s_annotated_grouped_chromatograph_peaklist.csv")), annotated + "\n");
    EXPECT_EQ(read_file(dir.file("aligned_annotated_grouped_chromatograph_peaklist.csv")),
              annotated + ",SAMPLE_ID,SAMPLE_NAME,Align_ID,Align_RT\n");
}

TEST(CsvOutput, RealsUseSixSignificantDigitsInGeneralNotation) {
    struct Case {
        const char* name;
        double value;
        const char* text;
    };
    const Case cases[] = {
        {"zero", 0.0, "0"},
        {"one and a half", 1.5, "1.5"},
        {"rounded to six digits", 123.4567891, "123.457"},
        {"large area in exponent form", 15234567.8, "1.52346e+07"},
        {"small value in exponent form", 0.0000123456, "1.23456e-05"},
        {"negative", -2.5, "-2.5"},
        {"six digits stay fixed", 999999.0, "999999"},
        {"rounding up to seven digits", 9999995.0, "1e+07"},
        {"not a number", std::numeric_limits<double>::quiet_NaN(), "nan"},
        {"infinity", -std::numeric_limits<double>::infinity(), "-inf"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OutputChromatographPeaklist2CSVFile({peak_row<Chromatogram_Peak>(c.value)}, dir.str(), "p.csv");
        const std::string t = c.text;
        EXPECT_EQ(read_file(dir.file("p.csv")),
                  kPeakHeader + "\n1,2," + t + ",4," + t + "," + t + "," + t + "," + t + ",9,10\n");
    }
}

TEST(CsvOutput, EveryColumnOfTheAlignedFileInOrder) {
    Chromatogram_Peak_Group_Compound_Align r = peak_row<Chromatogram_Peak_Group_Compound_Align>(0.25);
    r.EIC_ID = 4294967295u;  // above 2^31: written unsigned, not wrapped negative
    r.Group_ID = 2147483648u;
    r.Adduct_Annotation = "[M+H]+";
    r.Compound_ID = 13;
    r.Compound_MolecularMass = 180.0634;
    r.Compound_Retention_Time = 61.5;
    r.Compound_Intensity = 1520.0;
    r.SAMPLE_ID = 3;
    r.SAMPLE_NAME = "QC_01 \xC3\xA9";  // non-ASCII bytes pass unchanged
    r.Align_ID = 17;
    r.Align_RT = 62.125;
    TempDir dir;
    OutputAlignedAnnotatedGroupedChromatographPeaklist2CSVFile({r, r}, dir.str(), "a.csv");
    const std::string row =
        "4294967295,2,0.25,4,0.25,0.25,0.25,0.25,9,10,2147483648,[M+H]+,13,180.063,61.5,1520,3,"
        "QC_01 \xC3\xA9,17,62.125\n";
    const std::string content = read_file(dir.file("a.csv"));
    ASSERT_EQ(content.substr(content.find('\n') + 1), row + row);
}

TEST(CsvOutput, TextFieldsThatWouldSplitARowAreQuoted) {
    struct Case {
        const char* name;
        const char* value;
        const char* written;
    };
    const Case cases[] = {
        {"plain", "run_7", "run_7"},
        {"apostrophe needs no quoting", "O'Brien", "O'Brien"},
        {"comma", "a,b", "\"a,b\""},
        {"double quote doubled", "say \"hi\"", "\"say \"\"hi\"\"\""},
        {"line feed", "two\nlines", "\"two\nlines\""},
        {"carriage return", "cr\rhere", "\"cr\rhere\""},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Chromatogram_Peak_Group_Compound_Align r = peak_row<Chromatogram_Peak_Group_Compound_Align>(1.0);
        r.Adduct_Annotation = c.value;
        r.SAMPLE_NAME = c.value;
        OutputAlignedAnnotatedGroupedChromatographPeaklist2CSVFile({r}, dir.str(), "q.csv");
        const std::string content = read_file(dir.file("q.csv"));
        const std::string w = c.written;
        EXPECT_EQ(content.substr(content.find('\n') + 1),
                  "1,2,1,4,1,1,1,1,9,10,0," + w + ",0,0,0,0,0," + w + ",0,0\n");
    }
}

TEST(CsvOutput, AnExistingFileIsReplacedNotAppended) {
    TempDir dir;
    const std::string path = dir.write("g.csv", std::string(5000, 'z'));
    OutputGroupedChromatographPeaklist2CSVFile({peak_row<Chromatogram_Peak_Group>(2.0)}, dir.str(), "g.csv");
    EXPECT_EQ(read_file(path), kPeakHeader + ",Group_ID\n1,2,2,4,2,2,2,2,9,10,0\n");
}

TEST(CsvOutput, AFileThatCannotBeCreatedThrowsNamingItAndLeavesNothing) {
    TempDir dir;
    const std::string missing = dir.file("no_such_folder"), plain = dir.write("plain_file", "text");
    std::filesystem::create_directories(dir.path() / "taken.csv" / "inside");
    ASSERT_EQ(mkfifo(dir.file("pipe.csv").c_str(), 0600), 0);
    struct Case {
        const char* name;
        std::string folder, file, message;
    };
    const Case cases[] = {
        {"missing folder", missing, "p.csv", "CSV file could not be created: " + missing + "/p.csv (No such file or directory)"},
        {"folder is a file", plain, "p.csv", "CSV file could not be created: " + plain + "/p.csv (Not a directory)"},
        {"name taken by a folder", dir.str(), "taken.csv",
         "CSV file could not be created: " + dir.file("taken.csv") + " (it is a folder)"},
        {"name taken by a pipe", dir.str(), "pipe.csv",
         "CSV file could not be created: " + dir.file("pipe.csv") + " (it is not a regular file)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            OutputChromatographPeaklist2CSVFile({peak_row<Chromatogram_Peak>(1.0)}, c.folder, c.file);
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_TRUE(std::filesystem::is_fifo(dir.file("pipe.csv")));
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 3u);  // no temporary beside the three things made here
}

TEST(CsvOutput, SameBytesAsWritingThroughAnOutputStream) {
    std::mt19937_64 rng(20261209);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-12, 12);
    std::uniform_int_distribution<std::uint32_t> any_u32;
    const double specials[] = {0.0, -0.0, 1e-300, 5e-324, 1.7976931348623157e308, 0.5, 999999.5, 9999995.0,
                               std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN()};
    auto real = [&] {
        if (any_u32(rng) % 16 == 0) return specials[any_u32(rng) % std::size(specials)];
        return mantissa(rng) * std::pow(10.0, exponent(rng));
    };
    TempDir dir;
    for (std::size_t n : {0u, 1u, 2u, 7u, 3000u}) {
        SCOPED_TRACE("n=" + std::to_string(n));
        std::vector<Chromatogram_Peak_Group_Compound_Align> rows(n);
        for (auto& r : rows) {
            r.EIC_ID = any_u32(rng), r.Peak_ID = any_u32(rng), r.Apex_MZ = real(), r.Apex_Pos = any_u32(rng);
            r.Apex_Retention_Time = real(), r.Apex_Intensity = real(), r.Peak_Area = real();
            r.Peak_SNR = real(), r.Left_Boundary = any_u32(rng), r.Right_Boundary = any_u32(rng);
            r.Group_ID = any_u32(rng), r.Adduct_Annotation = "[M+Na]+", r.Compound_ID = any_u32(rng);
            r.Compound_MolecularMass = real(), r.Compound_Retention_Time = real();
            r.Compound_Intensity = real(), r.SAMPLE_ID = any_u32(rng), r.SAMPLE_NAME = "S" + std::to_string(n);
            r.Align_ID = any_u32(rng), r.Align_RT = real();
        }
        OutputAlignedAnnotatedGroupedChromatographPeaklist2CSVFile(rows, dir.str(), "fast.csv");
        korvane::oracle::write_csv(rows, dir.file("slow.csv"));
        ASSERT_EQ(read_file(dir.file("fast.csv")), read_file(dir.file("slow.csv")));

        std::vector<Chromatogram_Peak> peaks(rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            peaks[i].EIC_ID = rows[i].EIC_ID, peaks[i].Apex_MZ = rows[i].Apex_MZ;
            peaks[i].Peak_Area = rows[i].Peak_Area, peaks[i].Right_Boundary = rows[i].Right_Boundary;
        }
        OutputChromatographPeaklist2CSVFile(peaks, dir.str(), "fast.csv");
        korvane::oracle::write_csv(peaks, dir.file("slow.csv"));
        ASSERT_EQ(read_file(dir.file("fast.csv")), read_file(dir.file("slow.csv")));

        // The two middle lists, each with every one of its members set from the aligned rows.
        std::vector<Chromatogram_Peak_Group> groups(rows.size());
        std::vector<Chromatogram_Peak_Group_Compound> compounds(rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const auto& r = rows[i];
            auto set_peak = [&](auto& p) {
                p.EIC_ID = r.EIC_ID, p.Peak_ID = r.Peak_ID, p.Apex_MZ = r.Apex_MZ, p.Apex_Pos = r.Apex_Pos;
                p.Apex_Retention_Time = r.Apex_Retention_Time, p.Apex_Intensity = r.Apex_Intensity;
                p.Peak_Area = r.Peak_Area, p.Peak_SNR = r.Peak_SNR, p.Left_Boundary = r.Left_Boundary;
                p.Right_Boundary = r.Right_Boundary, p.Group_ID = r.Group_ID;
            };
            set_peak(groups[i]);
            set_peak(compounds[i]);
            compounds[i].Adduct_Annotation = r.Adduct_Annotation, compounds[i].Compound_ID = r.Compound_ID;
            compounds[i].Compound_MolecularMass = r.Compound_MolecularMass;
            compounds[i].Compound_Retention_Time = r.Compound_Retention_Time;
            compounds[i].Compound_Intensity = r.Compound_Intensity;
        }
        OutputGroupedChromatographPeaklist2CSVFile(groups, dir.str(), "fast.csv");
        korvane::oracle::write_csv(groups, dir.file("slow.csv"));
        ASSERT_EQ(read_file(dir.file("fast.csv")), read_file(dir.file("slow.csv")));
        OutputAnnotatedGroupedChromatographPeaklist2CSVFile(compounds, dir.str(), "fast.csv");
        korvane::oracle::write_csv(compounds, dir.file("slow.csv"));
        ASSERT_EQ(read_file(dir.file("fast.csv")), read_file(dir.file("slow.csv")));
    }
}

}  // namespace
