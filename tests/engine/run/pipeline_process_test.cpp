// The per-sample pipeline's wiring of parameters to stages, and the drivers' two helpers.
#include "engine/run/pipeline_process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <list>
#include <string>
#include <vector>

#include "engine/annotation/adduct_annotation.h"
#include "engine/annotation/grouping.h"
#include "engine/output/csv_output.h"
#include "engine/output/database_output.h"
#include "engine/peaks/mass_trace.h"
#include "engine/peaks/peak_detection.h"
#include "engine/peaks/spectrum.h"
#include "engine/records/reference_tables.h"
#include "tests/support/fifo.h"
#include "tests/support/temp_dir.h"
#include "tools/generate_sample/synthetic_sample.h"

namespace {

using korvane::test::read_file;
using korvane::test::TempDir;

TEST(PipelineFormatElapsedTime, Examples) {
    struct Case {
        double seconds;
        const char* text;
    };
    const Case cases[] = {
        {3725, "1h 2m 5s "}, {90061, "1d 1h 1m 1s "}, {120, "2m "},   {0, ""},        {59, "59s "},
        {0.9, ""},           {86400, "1d "},          {3600.7, "1h "}, {-5, ""},       {61, "1m 1s "},
        {1e12, "24855d 3h 14m 7s "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(format_elapsed_time(c.seconds), c.text);
    }
}

TEST(PipelineExtractSampleName, UpToTheLastDot) {
    const std::pair<const char*, const char*> cases[] = {
        {"ko15.CDF", "ko15"}, {"a.b.CDF", "a.b"}, {"README", "README"}, {".CDF", ""}, {"x.", "x"}, {"", ""},
    };
    for (const auto& [file, name] : cases) {
        SCOPED_TRACE(file);
        EXPECT_EQ(extract_sample_name(file), name);
    }
}

// The stages called one by one with the arguments the parameter table gives them.
void wired_by_hand(std::vector<Spectrum_Scan> scans, const Para_Configure& p,
                   const std::vector<adduct_configure_node>& adducts, const std::vector<double>& masses,
                   const std::string& name, const std::string& dir,
                   std::vector<Chromatogram_Peak_Group_Compound>& compounds) {
    if (p.Para_Profile_Centroid == 0) spectrum_centroiding(scans);
    intensity_cutoff(scans, static_cast<std::int32_t>(p.Para_Cutoff_Intensity), p.Para_Cutoff_TopNumber,
                     p.Para_Cutoff_LowPercent, p.Para_Cutoff_Mode);
    std::list<Mass_Trace> traces;
    mass_trace_extraction(traces, scans, p.Para_PPM, p.Para_Min_EIC, p.Para_Misscount_Allow,
                          p.Para_InterTrace_Dist_Min);
    std::vector<Chromatogram_Peak> peaks;
    mass_trace_list_peak_detection(peaks, traces, p.Para_Min_PeakWidth, p.Para_Max_PeakWidth, p.Para_Branch_Gap_Allow,
                                   p.Para_Min_Branch_Length, p.Para_Min_Span, p.Para_MarkerBranch_Dif_Th,
                                   p.Para_PeakIntensity_Th, p.Para_SNR_Th, p.Para_Peak_Significance_Th,
                                   p.Para_TPASR_Th, p.Para_Zig_Zag_Index_Th);
    OutputChromatographPeaklist2CSVFile(peaks, dir, name + "_chromatograph_peaklist.csv");
    std::vector<Chromatogram_Peak_Group> groups;
    peak_group(groups, peaks, p.Para_Group_Scan_Shift_Tol, p.Para_Group_Shape_Angle_Th);
    OutputGroupedChromatographPeaklist2CSVFile(groups, dir, name + "_grouped_chromatograph_peaklist.csv");
    adduct_annotation(groups, adducts, masses, p.Para_Annotate_Mass_Tol, p.Para_Refinement_Shape_Th,
                      p.Para_Polarity == 0 ? LC_Positive_Mode : LC_Negative_Mode, compounds);
    OutputAnnotatedGroupedChromatographPeaklist2CSVFile(compounds, dir,
                                                        name + "_annotated_grouped_chromatograph_peaklist.csv");
    OutputAnnotatedGroupedChromatographPeaklist2database(compounds, traces, dir,
                                                         name + "_annotated_grouped_chromatograph_peaklist.db");
}

// The workbench learns a parallel run's skips from the pipeline's summary line, so every line the
// pipeline can print must read back whole, parentheses in names and reasons included.
TEST(PipelineSkippedSummary, ReadsBackWhatItWrites) {
    using korvane::Skipped_Sample;
    const std::vector<std::vector<Skipped_Sample>> lists = {
        {{"bad.CDF", "not a netCDF file"}},
        {{"a (copy).CDF", "truncated: 10 bytes, its header needs 20"}, {"b.CDF", "missing variable scan_index"}},
        {{"x;y.CDF", "inconsistent lengths of mass_values (3) and intensity_values (2)"}},
    };
    for (const auto& list : lists) {
        const std::string line = korvane::skipped_summary(list, 30);
        SCOPED_TRACE(line);
        std::vector<Skipped_Sample> back;
        std::size_t total = 0;
        ASSERT_TRUE(korvane::parse_skipped_summary(line, back, total));
        EXPECT_EQ(total, 30u);
        ASSERT_EQ(back.size(), list.size());
        for (std::size_t i = 0; i < list.size(); ++i) {
            EXPECT_EQ(back[i].file, list[i].file);
            EXPECT_EQ(back[i].reason, list[i].reason);
        }
    }
    EXPECT_EQ(korvane::skipped_summary({{"bad.CDF", "not a netCDF file"}}, 30),
              "Skipped 1 of 30 samples: bad.CDF (not a netCDF file)");
    std::vector<Skipped_Sample> back;
    std::size_t total = 0;
    for (const char* other : {"Begin to process for File a.CDF", "Skipped 2 of 3 samples: a.CDF (x)", "Skipped x"})
        EXPECT_FALSE(korvane::parse_skipped_summary(other, back, total)) << other;
}

// A job-file name is a file of the data folder, never a path out of it.
TEST(PipelineSampleNames, OnlyPlainFileNamesAreSamples) {
    const std::pair<std::string, bool> cases[] = {
        {"ko15.CDF", true},  {"..a.CDF", true},   {"a..CDF", true},  {"...", true},   {"a\\..\\b.CDF", true},
        {".", false},        {"..", false},       {"../v/s.CDF", false}, {"/abs.CDF", false}, {"a/", false},
        {std::string("a\0/x", 4), false},
    };
    for (const auto& [name, plain] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(korvane::unsafe_file_name_reason(name), plain ? "" : "not a file name of the data folder");
    }
}

// A sample whose results would take the name of an earlier sample's or of the aligned results is
// refused, naming whose; the first in list order keeps its names, and a refused sample takes none.
TEST(PipelineResultNames, NoSampleReplacesAnotherResult) {
    const std::string of_ga = "its result files would replace those of ga.CDF";
    const std::string aligned = "its result files would replace the aligned results";
    struct Row {
        const char* name;
        std::vector<std::string> files, conflicts;
        bool fold_case = false;
    };
    const std::vector<Row> rows = {
        {"distinct names", {"ga.CDF", "gb.CDF", "ga.b.CDF"}, {"", "", ""}},
        {"the same name", {"ga.CDF", "ga.cdf", "ga"}, {"", of_ga, of_ga}},
        {"grouped list is a peak list", {"ga.CDF", "ga_grouped.CDF"}, {"", of_ga}},
        {"annotated list is a peak list", {"ga.CDF", "ga_annotated_grouped.CDF"}, {"", of_ga}},
        {"annotated list is a grouped list", {"ga.CDF", "ga_annotated.CDF"}, {"", of_ga}},
        {"the job file's order decides", {"ga_grouped.CDF", "ga.CDF"},
         {"", "its result files would replace those of ga_grouped.CDF"}},
        {"a refused sample takes no names", {"ga.CDF", "ga_grouped.CDF", "ga_grouped_grouped.CDF"}, {"", of_ga, ""}},
        {"the aligned CSV keeps its name, also before any sample", {"aligned_annotated_grouped.CDF", "x.CDF"},
         {aligned, ""}},
        {"a name out of the folder", {"../ga.CDF", "ga.CDF"}, {"not a file name of the data folder", ""}},
        {"case tells names apart", {"GA.CDF", "ga.CDF", "ALIGNED_annotated_grouped.CDF"}, {"", "", ""}},
        {"a folder that folds case", {"GA.CDF", "ga.CDF", "Ga_Grouped.CDF", "gb.CDF"},
         {"", "its result files would replace those of GA.CDF", "its result files would replace those of GA.CDF", ""},
         true},
        {"a folder that folds case, the aligned names", {"ALIGNED_annotated_grouped.CDF"}, {aligned}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(korvane::find_result_name_conflicts(row.files, 255, row.fold_case), row.conflicts);
    }
}

// Only files go: a folder under a result name is left whole, a link goes but not what it points to.
TEST(PipelineStaleResults, RemovesTheFilesThatAreThereAndSaysWhich) {
    TempDir t;
    const std::string file = t.write("a.csv", "old"), target = t.write("target", "keep");
    std::filesystem::create_directories(t.path() / "folder.db");
    t.write("folder.db/inside", "keep");
    std::filesystem::create_symlink(target, t.path() / "link.csv");
    const std::vector<std::string> removed =
        korvane::remove_result_files({file, t.file("absent.csv"), t.file("folder.db"), t.file("link.csv")});
    EXPECT_EQ(removed, (std::vector<std::string>{file, t.file("link.csv")}));
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(std::filesystem::is_symlink(t.path() / "link.csv"));
    EXPECT_EQ(read_file(target), "keep");
    EXPECT_EQ(read_file(t.file("folder.db/inside")), "keep");
}

TEST(PipelineProcess, WritesWhatTheStagesGiveWithTheirParameters) {
    korvane::synth::Options o;
    o.scans = 160;
    o.points_per_scan = 120;
    o.compounds = 40;
    o.seed = 7;
    const std::vector<Spectrum_Scan> scans = korvane::synth::generate_scans(o);
    const std::string config = std::string(KORVANE_SOURCE_DIR) + "/examples/config";
    std::vector<double> average, masses;
    read_hmdb_file(config + "/hmdb.csv", average, masses);

    Para_Configure base;
    ASSERT_EQ(Read_Configured_ParafromCSVFile(config, "config_para.csv", base), 1);
    // Values chosen apart from each other, so that two parameters handed to each other's places
    // change the results.
    Para_Configure spread = base;
    spread.Para_Cutoff_Intensity = 1000.9;
    spread.Para_Min_EIC = 6;
    spread.Para_Misscount_Allow = 2;
    spread.Para_Branch_Gap_Allow = 1;
    spread.Para_Min_Branch_Length = 4;
    spread.Para_Min_Span = 2;
    spread.Para_MarkerBranch_Dif_Th = 5;
    spread.Para_Group_Scan_Shift_Tol = 4;
    spread.Para_Refinement_Shape_Th = 25;

    struct Case {
        const char* name;
        Para_Configure para;
        const char* adduct_file;
    };
    Para_Configure negative = spread;
    negative.Para_Polarity = 1;
    const Case cases[] = {
        {"example parameters", base, "Adduct_Config_Positive.csv"},
        {"spread parameters", spread, "Adduct_Config_Positive.csv"},
        {"negative mode", negative, "Adduct_Config_Negative.csv"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<adduct_configure_node> adducts;
        read_adduct_configure_file(config + "/" + c.adduct_file, adducts);
        TempDir a;
        const std::string got_dir = a.file("got"), want_dir = a.file("want");
        std::filesystem::create_directories(got_dir);
        std::filesystem::create_directories(want_dir);

        std::vector<Chromatogram_Peak_Group_Compound> got, want;
        pipeline_process(scans, c.para, adducts, masses, "s", got_dir, got);
        wired_by_hand(scans, c.para, adducts, masses, "s", want_dir, want);
        ASSERT_EQ(got.size(), want.size());
        for (const char* suffix : {"_chromatograph_peaklist.csv", "_grouped_chromatograph_peaklist.csv",
                                   "_annotated_grouped_chromatograph_peaklist.csv",
                                   "_annotated_grouped_chromatograph_peaklist.db"}) {
            SCOPED_TRACE(suffix);
            const std::string g = read_file(got_dir + "/s" + suffix);
            EXPECT_FALSE(g.empty());
            EXPECT_TRUE(g == read_file(want_dir + "/s" + suffix));
        }
    }
}

const std::filesystem::path kExampleConfig = std::filesystem::path(KORVANE_SOURCE_DIR) / "examples" / "config";

// The example configuration in t, but for the file left_out, with Para_Polarity set to polarity.
void copy_example_config(const TempDir& t, const std::string& polarity, const std::string& left_out = "") {
    for (const auto& entry : std::filesystem::directory_iterator(kExampleConfig))
        if (entry.path().filename() != left_out)
            std::filesystem::copy_file(entry.path(), t.path() / entry.path().filename());
    if (left_out == "config_para.csv") return;
    std::string para = read_file((kExampleConfig / "config_para.csv").string());
    para.replace(para.find("Para_Polarity,0"), 15, "Para_Polarity," + polarity);
    t.write("config_para.csv", para);
}

// Every input of a run is checked before its first sample; the message names the file.
TEST(PipelineRunConfiguration, TheTablesOfThePolarityAreCheckedAsTheAnnotationWill) {
    const std::string adduct_header = "Formula,Molecule_Count,Charge_Count,Mass_Shift,Dependence\n";
    struct Case {
        const char* name;
        std::string file, bytes, polarity;
        std::string message;  // "" when accepted; else what follows the path of file
    };
    const Case cases[] = {
        {"first row not the proton adduct", "Adduct_Config_Positive.csv", adduct_header + "[M+Na]+,1,1,22.989218,0\n",
         "0", ": Adduct_config_File is not correct! The first row's Dependence should be 0 and Formula should be [M+H]+"},
        {"no molecule in a row", "Adduct_Config_Negative.csv",
         adduct_header + "[M-H]-,1,1,-1.007276,0\n[M-2H]2-,0,2,-2.014552,1\n", "1",
         ": Adduct_config_File is not correct! The Molecule_Count at Row=2 should be greater than 0"},
        {"short row", "Adduct_Config_Positive.csv", adduct_header + "[M+H]+,1,1\n", "0", ", line 2: 3 fields, 5 expected"},
        {"the other polarity's table is not read", "Adduct_Config_Positive.csv", "", "1", ""},
        {"hmdb.csv cut short", "hmdb.csv", read_file((kExampleConfig / "hmdb.csv").string()) + "\"HMDB9\",\"x\"\n", "0",
         ", line 1746: 2 fields, 9 expected"},
        {"parameter file", "config_para.csv", "Para_Polarity,0\nPara_PPM,10\n", "0", ": no line for Para_Profile_Centroid, "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir t;
        copy_example_config(t, c.polarity);
        t.write(c.file, c.bytes);
        try {
            const korvane::Run_Configuration config = korvane::read_run_configuration(t.str());
            EXPECT_EQ(c.message, "") << "accepted";
            EXPECT_EQ(config.hmdb_mono_masses.size(), 1744u);
        } catch (const std::runtime_error& e) {
            ASSERT_NE(c.message, "") << e.what();
            const std::string table = c.file == "hmdb.csv"          ? "HMDB file "
                                      : c.file == "config_para.csv" ? "Parameter file "
                                                                    : "Adduct table ";
            EXPECT_EQ(std::string(e.what()).substr(0, table.size() + t.file(c.file).size() + c.message.size()),
                      table + t.file(c.file) + c.message);
        }
    }
}

// A configuration file that is a FIFO (or any other file that is no regular file) is refused by
// name before it is opened: opening a FIFO waits for a writer, and the run would hang silently.
// The workbench's plain readers refuse it too (Read_Configured_ParafromCSVFile as a file it
// cannot open).
TEST(PipelineRunConfiguration, FilesThatAreNoRegularFilesAreRefusedUnopened) {
    struct Case {
        std::string file, polarity, message;
    };
    const Case cases[] = {
        {"config_para.csv", "0", "Parameter file could not be opened: "},
        {"hmdb.csv", "0", "HMDB_file could not be opened: "},
        {"Adduct_Config_Positive.csv", "0", "Adduct Config File could not be opened: "},
        {"Adduct_Config_Negative.csv", "1", "Adduct Config File could not be opened: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TempDir t;
        copy_example_config(t, c.polarity, c.file);
        korvane::test::Fifo fifo(t.file(c.file));
        ASSERT_TRUE(fifo.made());
        const std::string expected = c.message + t.file(c.file) + " (not a regular file)";
        try {
            korvane::read_run_configuration(t.str());
            ADD_FAILURE() << "accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), expected);
        }
        Para_Configure para;
        std::vector<double> average, mono;
        std::vector<adduct_configure_node> adducts;
        if (c.file == "config_para.csv")
            EXPECT_EQ(Read_Configured_ParafromCSVFile(t.str(), c.file, para), 0);
        else if (c.file == "hmdb.csv")
            EXPECT_THROW(read_hmdb_file(t.file(c.file), average, mono), korvane::TableOpenError);
        else
            EXPECT_THROW(read_adduct_configure_file(t.file(c.file), adducts), korvane::TableOpenError);
        EXPECT_FALSE(fifo.opened());
    }
}

}  // namespace
