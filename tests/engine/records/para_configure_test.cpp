#include "engine/records/para_configure.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

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

TEST(ParaFile, WriterProducesAllKeysInMemberOrderWithGeneralNotation) {
    TempDir dir;
    OutputConfiguredPara2CSVFile(sample_parameters(), dir.str(), "config_para.csv");
    const std::string text = korvane::test::read_file(dir.file("config_para.csv"));
    EXPECT_EQ(text.find('\r'), std::string::npos);
    std::istringstream in(text);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    ASSERT_EQ(lines.size(), 31u);
    EXPECT_EQ(lines[0], "Para_Profile_Centroid,1");
    EXPECT_EQ(lines[1], "Para_Polarity,-1");
    EXPECT_EQ(lines[3], "Para_Cutoff_Intensity,1.23457e+06");
    EXPECT_EQ(lines[5], "Para_Cutoff_LowPercent,1e-05");
    EXPECT_EQ(lines[6], "Para_Start_Scan,4294967295");
    EXPECT_EQ(lines[8], "Para_PPM,10");
    EXPECT_EQ(lines[11], "Para_InterTrace_Dist_Min,0.5");
    EXPECT_EQ(lines[30], "Para_Align_Window2,30");
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
