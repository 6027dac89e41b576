#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "engine/annotation/alignment.h"
#include "engine/peaks/spectrum.h"
#include "engine/records/para_configure.h"
#include "engine/records/reference_tables.h"
#include "engine/run/pipeline_process.h"
#include "tests/workbench/engine/facade_test_support.h"
#include "workbench/engine/korvane_engine.h"

namespace fs = std::filesystem;
using korvane::test::read_file;
using korvane::test::TempDir;

namespace {

Chromatogram_Peak_Group group_peak(std::uint32_t group, std::uint32_t peak_id) {
    Chromatogram_Peak_Group p;
    p.Group_ID = group;
    p.Peak_ID = peak_id;
    p.Peak_shape = {Data_Point{peak_id, 1.0, 2.0, 3.0}};
    return p;
}

Chromatogram_Peak_Group_Compound_Align align_peak(std::uint32_t align, std::uint32_t sample, std::uint32_t peak_id) {
    Chromatogram_Peak_Group_Compound_Align p;
    p.Align_ID = align;
    p.SAMPLE_ID = sample;
    p.Peak_ID = peak_id;
    return p;
}

TEST(EngineFacade, CleanEngineDropsSampleAndResultsButKeepsSettings) {
    CKORVANE_Engine e;
    e.Config_Engine("cfg", "data", "s.CDF", "out");
    e.Sample_Name = "s";
    e.Total_Scan_Num = 3;
    e.Total_Point_Num = 4;
    e.scan_num_arry = {1, 2, 3};
    e.scan_index_arry = {0, 1, 2};
    e.point_count_arry = {1, 1, 2};
    e.scan_acquisition_time_arry = {0, 1, 2};
    e.mass_value_arry = {1, 2, 3, 4};
    e.intensity_value_arry = {1, 2, 3, 4};
    e.total_intensity_arry = {1, 2, 7};
    e.spectrum_arry.resize(2);
    e.mass_trace_list.resize(2);
    e.peaklist.resize(2);
    e.peaklist_groupped.resize(2);
    e.peaklist_adduct_annotation.resize(2);
    e.peaklist_align.resize(2);
    e.Para.Para_PPM = 12.5;
    e.adduct_configure_arry.resize(3);
    e.mass_weight_average_arry = {1.0};
    e.mass_weight_mono_arry = {2.0};

    e.clean_engine();

    EXPECT_EQ(e.config_file_path, "cfg");
    EXPECT_EQ(e.data_file_path, "data");
    EXPECT_EQ(e.data_file_Name, "s.CDF");
    EXPECT_EQ(e.output_path, "out");
    EXPECT_EQ(e.Sample_Name, "s");
    EXPECT_EQ(e.Total_Scan_Num, 3u);
    EXPECT_EQ(e.Total_Point_Num, 4u);
    EXPECT_EQ(e.Para.Para_PPM, 12.5);
    EXPECT_EQ(e.adduct_configure_arry.size(), 3u);
    EXPECT_TRUE(e.scan_num_arry.empty() && e.scan_index_arry.empty() && e.point_count_arry.empty() &&
                e.scan_acquisition_time_arry.empty() && e.mass_value_arry.empty() && e.intensity_value_arry.empty() &&
                e.total_intensity_arry.empty());
    EXPECT_TRUE(e.spectrum_arry.empty() && e.mass_trace_list.empty() && e.peaklist.empty() &&
                e.peaklist_groupped.empty() && e.peaklist_adduct_annotation.empty() && e.peaklist_align.empty());
    EXPECT_TRUE(e.mass_weight_average_arry.empty() && e.mass_weight_mono_arry.empty());
}

TEST(EngineFacade, SubListByGroupIdAppendsTheRunAndLeavesTheListSorted) {
    CKORVANE_Engine e;
    e.peaklist_groupped = {group_peak(3, 0), group_peak(1, 1), group_peak(2, 2),
                           group_peak(1, 3), group_peak(3, 4), group_peak(3, 5)};
    std::vector<Chromatogram_Peak_Group> sub = {group_peak(9, 99)};

    EXPECT_EQ(e.Retrieve_Sub_Peaklist_with_GroupID(3, sub), 4);
    EXPECT_EQ(e.Retrieve_Sub_Peaklist_with_GroupID(3, sub), 7);
    EXPECT_EQ(e.Retrieve_Sub_Peaklist_with_GroupID(7, sub), 7);  // no record carries 7
    EXPECT_EQ(e.Retrieve_Sub_Peaklist_with_GroupID(0, sub), 7);  // below every id
    ASSERT_EQ(sub.size(), 7u);
    EXPECT_EQ(sub[0].Peak_ID, 99u);
    for (std::size_t k = 1; k < sub.size(); ++k) {
        EXPECT_EQ(sub[k].Group_ID, 3u);
        EXPECT_EQ(sub[k].Peak_shape.size(), 1u);  // whole copies, points included
    }
    std::vector<std::uint32_t> first_run;
    for (std::size_t k = 1; k < 4; ++k) first_run.push_back(sub[k].Peak_ID);
    std::sort(first_run.begin(), first_run.end());
    EXPECT_EQ(first_run, (std::vector<std::uint32_t>{0, 4, 5}));

    std::vector<std::uint32_t> groups;
    for (const auto& p : e.peaklist_groupped) groups.push_back(p.Group_ID);
    EXPECT_EQ(groups, (std::vector<std::uint32_t>{1, 1, 2, 3, 3, 3}));
}

TEST(EngineFacade, SubListByAlignIdComesOutInSampleOrder) {
    CKORVANE_Engine e;
    e.peaklist_align = {align_peak(2, 4, 0), align_peak(1, 0, 1), align_peak(2, 1, 2),
                        align_peak(2, 0, 3), align_peak(3, 0, 4)};
    std::vector<Chromatogram_Peak_Group_Compound_Align> sub = {align_peak(9, 3, 9)};
    EXPECT_EQ(e.Retrieve_Sub_Peaklist_with_AlignID(2, sub), 4);
    std::vector<std::uint32_t> samples;
    for (const auto& p : sub) samples.push_back(p.SAMPLE_ID);
    EXPECT_EQ(samples, (std::vector<std::uint32_t>{0, 1, 3, 4}));
    std::vector<std::uint32_t> aligns;
    for (const auto& p : e.peaklist_align) aligns.push_back(p.Align_ID);
    EXPECT_EQ(aligns, (std::vector<std::uint32_t>{1, 2, 2, 2, 3}));
}

TEST(EngineFacade, CdfFileLoadReadsTheSampleAndFailsWithoutTheFile) {
    TempDir t;
    const korvane::synth::Sample s = korvane::test::write_small_sample(t.path() / "a.b.CDF", 11);
    CKORVANE_Engine e;
    e.Config_Engine("", t.str(), "a.b.CDF", t.str());
    e.spectrum_arry.resize(3);
    ASSERT_EQ(e.CDF_File_Load(), 1);
    EXPECT_EQ(e.Sample_Name, "a.b");
    EXPECT_TRUE(e.spectrum_arry.empty());
    EXPECT_EQ(e.Total_Scan_Num, s.Total_Scan_Num);
    EXPECT_EQ(e.Total_Point_Num, s.Total_Point_Num);
    EXPECT_EQ(e.scan_num_arry, s.scan_num_arry);
    EXPECT_EQ(e.scan_index_arry, s.scan_index_arry);
    EXPECT_EQ(e.point_count_arry, s.point_count_arry);
    EXPECT_EQ(e.scan_acquisition_time_arry, s.scan_acquisition_time_arry);
    EXPECT_EQ(e.mass_value_arry, s.mass_value_arry);
    EXPECT_EQ(e.intensity_value_arry, s.intensity_value_arry);
    EXPECT_EQ(e.total_intensity_arry.size(), s.total_intensity_arry.size());

    // A file that is not there: 0, the previous sample's arrays gone, name and scans kept.
    e.spectrum_arry.resize(2);
    e.data_file_Name = "missing.CDF";
    EXPECT_EQ(e.CDF_File_Load(), 0);
    EXPECT_EQ(e.Sample_Name, "a.b");
    EXPECT_EQ(e.spectrum_arry.size(), 2u);
    EXPECT_TRUE(e.scan_num_arry.empty() && e.mass_value_arry.empty() && e.total_intensity_arry.empty());
}

// Peak_Annotation picks the adduct table by polarity: 0 the positive one, anything else the
// negative one. A folder holding only one of the two tells which was read.
TEST(EngineFacade, AnnotationStageReadsTheAdductTableOfThePolarity) {
    struct Case {
        const char* name;
        int polarity;
        const char* present;  // the only adduct table in the folder
        bool reads;
    };
    const Case cases[] = {
        {"0 reads positive", 0, "Adduct_Config_Positive.csv", true},
        {"0 ignores negative", 0, "Adduct_Config_Negative.csv", false},
        {"2 reads negative", 2, "Adduct_Config_Negative.csv", true},
        {"2 ignores positive", 2, "Adduct_Config_Positive.csv", false},
        {"1 reads negative", 1, "Adduct_Config_Negative.csv", true},
    };
    const fs::path example = fs::path(KORVANE_SOURCE_DIR) / "examples" / "config";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir t;
        fs::copy_file(example / "hmdb.csv", t.path() / "hmdb.csv");
        fs::copy_file(example / c.present, t.path() / c.present);
        CKORVANE_Engine e;
        e.Config_Engine(t.str(), t.str(), "", t.str());
        e.Sample_Name = "s";
        e.Para.Para_Polarity = c.polarity;
        if (!c.reads) {
            EXPECT_THROW(e.Peak_Annotation(), korvane::TableOpenError);
            continue;
        }
        EXPECT_EQ(e.Peak_Annotation(), 1);
        std::vector<adduct_configure_node> expected;
        read_adduct_configure_file((t.path() / c.present).string(), expected);
        ASSERT_EQ(e.adduct_configure_arry.size(), expected.size());
        for (std::size_t k = 0; k < expected.size(); ++k)
            EXPECT_EQ(e.adduct_configure_arry[k].Formula, expected[k].Formula);
        EXPECT_FALSE(e.mass_weight_mono_arry.empty());
        EXPECT_EQ(e.mass_weight_mono_arry.size(), e.mass_weight_average_arry.size());
        EXPECT_TRUE(fs::exists(t.path() / "s_annotated_grouped_chromatograph_peaklist.csv"));
    }
}

// The table readers append; the facade's loaders replace what an earlier load left.
TEST(EngineFacade, ReferenceTableLoadsReplaceTheirTables) {
    const std::string dir = (fs::path(KORVANE_SOURCE_DIR) / "examples" / "config").string();
    CKORVANE_Engine e;
    EXPECT_EQ(e.Adduct_File_Load(dir, "Adduct_Config_Positive.csv"), 1);
    EXPECT_EQ(e.HMDB_File_Load(dir, "hmdb.csv"), 1);
    const std::size_t adducts = e.adduct_configure_arry.size();
    const std::size_t masses = e.mass_weight_mono_arry.size();
    ASSERT_GT(adducts, 0u);
    ASSERT_GT(masses, 0u);
    EXPECT_EQ(e.Adduct_File_Load(dir, "Adduct_Config_Positive.csv"), 1);
    EXPECT_EQ(e.HMDB_File_Load(dir, "hmdb.csv"), 1);
    EXPECT_EQ(e.adduct_configure_arry.size(), adducts);
    EXPECT_EQ(e.mass_weight_mono_arry.size(), masses);
    EXPECT_EQ(e.mass_weight_average_arry.size(), masses);
}

// The four stage operations in a row give what the per-sample pipeline gives for the same sample
// and parameters, file for file; the cut-off mode 2 (top number) must reach the cut-off unchanged.
TEST(EngineFacade, StagesOneByOneMatchThePerSamplePipeline) {
    TempDir t;
    korvane::test::write_example_config(t.path() / "cfg", {{"Para_Cutoff_Mode", "2"}, {"Para_Cutoff_TopNumber", "90"}});
    korvane::test::write_small_sample(t.path() / "s.CDF", 21);
    fs::create_directories(t.path() / "stages");
    fs::create_directories(t.path() / "pipeline");

    CKORVANE_Engine e;
    e.Config_Engine((t.path() / "cfg").string(), t.str(), "s.CDF", (t.path() / "stages").string());
    ASSERT_EQ(e.Config_File_Load(e.config_file_path, "config_para.csv"), 1);
    ASSERT_EQ(e.Para.Para_Cutoff_Mode, 2);
    ASSERT_EQ(e.CDF_File_Load(), 1);
    EXPECT_EQ(e.EIC_Extraction_Mass_Trace_mehtod(), 1);
    EXPECT_EQ(e.Peak_Detection(), 1);
    EXPECT_EQ(e.Peak_Grouping(), 1);
    EXPECT_EQ(e.Peak_Annotation(), 1);
    ASSERT_FALSE(e.peaklist_adduct_annotation.empty());

    std::vector<Spectrum_Scan> scans;
    spectrum_split(scans, e.Total_Scan_Num, e.Total_Point_Num, e.Para.Para_Start_Scan, e.Para.Para_End_Scan,
                   e.scan_num_arry, e.scan_index_arry, e.scan_acquisition_time_arry, e.point_count_arry,
                   e.mass_value_arry, e.intensity_value_arry);
    std::vector<Chromatogram_Peak_Group_Compound> compounds;
    pipeline_process(scans, e.Para, e.adduct_configure_arry, e.mass_weight_mono_arry, "s",
                     (t.path() / "pipeline").string(), compounds);
    EXPECT_EQ(compounds.size(), e.peaklist_adduct_annotation.size());
    for (const char* suffix : {"_chromatograph_peaklist.csv", "_grouped_chromatograph_peaklist.csv",
                               "_annotated_grouped_chromatograph_peaklist.csv"}) {
        SCOPED_TRACE(suffix);
        const std::string stage_file = read_file((t.path() / "stages" / (std::string("s") + suffix)).string());
        EXPECT_FALSE(stage_file.empty());
        EXPECT_EQ(stage_file, read_file((t.path() / "pipeline" / (std::string("s") + suffix)).string()));
    }

    // A repeated stage replaces its result instead of adding to it.
    const std::size_t peaks = e.peaklist.size();
    EXPECT_EQ(e.Peak_Detection(), 1);
    EXPECT_EQ(e.peaklist.size(), peaks);
}

// Align modes: 1 is one-phase, every other value (0 included) two-phase.
TEST(EngineFacade, AlignmentStageTakesTwoPhasesUnlessTheParameterIsOne) {
    TempDir t;
    std::vector<adduct_configure_node> adducts;
    read_adduct_configure_file(
        (fs::path(KORVANE_SOURCE_DIR) / "examples" / "config" / "Adduct_Config_Positive.csv").string(), adducts);
    std::vector<double> average, mono;
    read_hmdb_file((fs::path(KORVANE_SOURCE_DIR) / "examples" / "config" / "hmdb.csv").string(), average, mono);
    Para_Configure para;
    ASSERT_EQ(Read_Configured_ParafromCSVFile((fs::path(KORVANE_SOURCE_DIR) / "examples" / "config").string(),
                                              "config_para.csv", para),
              1);
    // Rows of three samples, as a run collects them.
    std::vector<Chromatogram_Peak_Group_Compound_Align> rows;
    for (std::uint32_t k = 0; k < 3; ++k) {
        std::vector<Chromatogram_Peak_Group_Compound> compounds;
        pipeline_process(korvane::synth::generate_scans(korvane::test::small_sample_options(30 + k)), para, adducts,
                         mono, korvane::test::numbered("s", k), t.str(), compounds);
        korvane::append_align_rows(compounds, k, korvane::test::numbered("s", k), rows);
    }
    ASSERT_FALSE(rows.empty());
    auto key = [](const std::vector<Chromatogram_Peak_Group_Compound_Align>& v) {
        std::vector<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, double>> k;
        for (const auto& r : v) k.emplace_back(r.SAMPLE_ID, r.EIC_ID, r.Peak_ID, r.Align_ID, r.Align_RT);
        return k;
    };
    auto one = rows, two = rows;
    compound_align(One_Phase_Align, para.Para_Align_Mass_Tol, para.Para_Align_Window1, para.Para_Align_Window2, one);
    compound_align(Two_Phase_Align, para.Para_Align_Mass_Tol, para.Para_Align_Window1, para.Para_Align_Window2, two);
    ASSERT_NE(key(one), key(two)) << "these rows do not tell the two modes apart";

    for (const int mode : {0, 1, 2, -1}) {
        SCOPED_TRACE(mode);
        CKORVANE_Engine e;
        e.Para = para;
        e.Para.Para_One_Two_Phase_Align = mode;
        e.output_path = t.str();
        e.peaklist_align = rows;
        fs::remove(t.path() / "aligned_annotated_grouped_chromatograph_peaklist.csv");
        EXPECT_EQ(e.Compound_Alignment(), 1);
        EXPECT_EQ(key(e.peaklist_align), key(mode == 1 ? one : two));
        EXPECT_TRUE(fs::exists(t.path() / "aligned_annotated_grouped_chromatograph_peaklist.csv"));
    }
}

}  // namespace
