#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/io/netcdf_reader.h"
#include "engine/peaks/spectrum.h"
#include "engine/records/error.h"
#include "engine/records/para_configure.h"
#include "engine/records/reference_tables.h"
#include "pipeline/command_line.h"
#include "engine/run/pipeline_process.h"
#include "tests/workbench/engine/facade_test_support.h"
#include "workbench/engine/batch_driver.h"
#include "workbench/engine/korvane_engine.h"
#include "workbench/engine/run_outcome.h"

namespace fs = std::filesystem;
using korvane::test::lines_of;
using korvane::test::read_file;
using korvane::test::TempDir;

namespace {

TEST(JobFile, LinesOfAParallelAndABatchRun) {
    TempDir t;
    CKORVANE_Engine e;
    e.Config_Engine("/cfg dir", "/data", "", t.str());
    e.Save_Run_Config_Parameter({"a.CDF", "b c.CDF"}, {1, 0}, 0, 2);
    const auto parallel = lines_of(read_file(t.file("Job_Run_Config.csv")));
    ASSERT_EQ(parallel.size(), 8u);
    EXPECT_TRUE(std::regex_match(parallel[0], std::regex("Job Create Time:,(Sun|Mon|Tue|Wed|Thu|Fri|Sat) "
                                                         "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                                                         "[ 1-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}")))
        << parallel[0];
    const std::vector<std::string> rest(parallel.begin() + 1, parallel.end());
    EXPECT_EQ(rest, (std::vector<std::string>{"Config Parameter Path,/cfg dir", "Data File Path,/data",
                                              "Output Path," + t.str(), "Run Mode,Parallel MPI,CPU Num,2",
                                              "Process File Name,Aligned", "a.CDF,1", "b c.CDF,0"}));

    // A run on its own folders leaves the members to the window's thread.
    e.Config_Engine("/other", "/other", "", "/nowhere");
    e.Save_Run_Config_Parameter(korvane::wb::Run_Folders{"/cfg dir", "/data", t.str()}, {"x.CDF"}, {1}, 1, 1);
    const auto batch = lines_of(read_file(t.file("Job_Run_Config.csv")));
    ASSERT_EQ(batch.size(), 7u);  // truncated, not appended
    EXPECT_EQ(batch[1], "Config Parameter Path,/cfg dir");
    EXPECT_EQ(batch[4], "Run Mode,Sequential Batch");
    EXPECT_EQ(batch[6], "x.CDF,1");
    EXPECT_EQ(read_file(t.file("Job_Run_Config.csv")).find('\r'), std::string::npos);
}

TEST(JobFile, TimeTextIsTheFixedEnglishForm) {
    std::tm t{};
    t.tm_wday = 3;
    t.tm_mon = 11;
    t.tm_mday = 9;
    t.tm_hour = 6;
    t.tm_min = 30;
    t.tm_sec = 2;
    t.tm_year = 126;
    EXPECT_EQ(korvane::wb::job_time_text(t), "Wed Dec  9 06:30:02 2026");
    t.tm_wday = 0;
    t.tm_mon = 0;
    t.tm_mday = 31;
    t.tm_hour = 23;
    EXPECT_EQ(korvane::wb::job_time_text(t), "Sun Jan 31 23:30:02 2026");
}

// What the workbench writes, the console pipeline reads back: names and flags in order.
TEST(JobFile, ThePipelinesReaderReadsItBack) {
    TempDir t;
    const std::vector<std::string> names = {"s1.CDF", "second sample.CDF", "s3.CDF"};
    const std::vector<int> flags = {1, 0, 1};
    Save_Run_Config_Parameter2CSV("Job_Run_Config.csv", "/c", "/d", t.str(), names, flags, 0, 3);
    std::vector<std::string> read_names;
    std::vector<std::int32_t> read_flags;
    read_job_config_file(t.str(), "Job_Run_Config.csv", read_names, read_flags);
    EXPECT_EQ(read_names, names);
    EXPECT_EQ(read_flags, (std::vector<std::int32_t>{1, 0, 1}));
}

// A Parallel Run's pipeline reads whatever job file is on disk: one that was not written whole
// must fail the run, and the earlier one stays as it was, with no temporary beside it.
TEST(JobFile, AFailedWriteThrowsAndKeepsTheEarlierFile) {
    const struct {
        const char* name;
        const char* folder;  // under the scratch folder; only "out" exists
        std::vector<int> flags;
        rlim_t size_limit;  // 0: none
        bool out_of_range;  // else korvane::Error naming the file
    } rows[] = {
        {"flag list shorter than the names", "out", {1}, 0, true},
        {"missing folder", "absent", {1, 0}, 0, false},
        {"disk full", "out", {1, 0}, 100, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir t;
        const fs::path out = t.path() / "out", target = t.path() / row.folder / "Job_Run_Config.csv";
        fs::create_directories(out);
        const std::string earlier = t.write("out/Job_Run_Config.csv", "earlier job\n");
        try {
            std::optional<korvane::test::FileSizeLimit> limit;
            if (row.size_limit) limit.emplace(row.size_limit);
            Save_Run_Config_Parameter2CSV("Job_Run_Config.csv", "/c", "/d", (t.path() / row.folder).string(),
                                          {"a.CDF", "b.CDF"}, row.flags, 0, 2);
            ADD_FAILURE() << "no exception";
        } catch (const std::out_of_range&) {
            EXPECT_TRUE(row.out_of_range);
        } catch (const korvane::Error& e) {
            EXPECT_FALSE(row.out_of_range);
            EXPECT_THAT(e.what(), testing::HasSubstr("could not write " + target.string()));
        }
        EXPECT_EQ(read_file(earlier), "earlier job\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);
        EXPECT_FALSE(fs::exists(t.path() / "absent"));
    }
}

const char* const kSuffixes[] = {"_chromatograph_peaklist.csv", "_grouped_chromatograph_peaklist.csv",
                                 "_annotated_grouped_chromatograph_peaklist.csv",
                                 "_annotated_grouped_chromatograph_peaklist.db"};
const char* const kAlignedCsv = "aligned_annotated_grouped_chromatograph_peaklist.csv";
const char* const kAlignedDb = "aligned_annotated_grouped_chromatograph_peaklist.aligndb";

// Three small samples and configuration folders, made once; every run writes to a fresh folder.
class BatchRun : public testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = new TempDir();
        fs::create_directories(data_dir());
        for (int k = 0; k < 3; ++k)
            korvane::test::write_small_sample(data_dir() / (korvane::test::numbered("s", k) + ".CDF"), 40 + k);
        korvane::test::write_example_config(config_dir(2), {{"Para_One_Two_Phase_Align", "2"}});
        korvane::test::write_example_config(config_dir(0), {{"Para_One_Two_Phase_Align", "0"}});
    }
    static void TearDownTestSuite() { delete root_; }

    static fs::path data_dir() { return root_->path() / "data"; }
    static fs::path config_dir(int align) { return root_->path() / (korvane::test::numbered("config", align)); }
    static std::string file(int k) { return korvane::test::numbered("s", k) + ".CDF"; }

    // A fresh output folder for one run.
    fs::path output(const std::string& name) const {
        const fs::path p = root_->path() / name;
        fs::remove_all(p);
        fs::create_directories(p);
        return p;
    }

    static std::vector<std::uint32_t> sample_ids(const CKORVANE_Engine& e) {
        std::vector<std::uint32_t> ids;
        for (const auto& r : e.peaklist_align)
            if (ids.empty() || ids.back() != r.SAMPLE_ID) ids.push_back(r.SAMPLE_ID);
        return ids;
    }

    static TempDir* root_;
};
TempDir* BatchRun::root_ = nullptr;

TEST_F(BatchRun, SelectedSamplesWithFlagsAreAlignedAndWritten) {
    const fs::path out = output("flags_1_0_1");
    CKORVANE_Engine e;
    e.Config_Engine(config_dir(2).string(), data_dir().string(), "", out.string());
    e.peaklist_align.resize(3);  // a previous run's rows go
    progressValue = 0.0;
    EXPECT_EQ(e.Batch_Pipeline({file(0), file(1), file(2)}, {1, 0, 1}), 1);
    EXPECT_EQ(progressValue.load(), 100.0);

    for (int k = 0; k < 3; ++k)
        for (const char* suffix : kSuffixes) {
            SCOPED_TRACE(std::to_string(k) + suffix);
            EXPECT_TRUE(fs::exists(out / (korvane::test::numbered("s", k) + suffix)));
        }
    EXPECT_TRUE(fs::exists(out / kAlignedCsv));
    EXPECT_TRUE(fs::exists(out / kAlignedDb));
    ASSERT_FALSE(e.peaklist_align.empty());
    bool some_aligned = false;
    for (const auto& r : e.peaklist_align) {
        EXPECT_TRUE(r.SAMPLE_ID == 0 || r.SAMPLE_ID == 2) << r.SAMPLE_ID;
        EXPECT_EQ(r.SAMPLE_NAME, korvane::test::numbered("s", r.SAMPLE_ID));
        some_aligned = some_aligned || r.Align_ID != 0;
    }
    EXPECT_TRUE(some_aligned);
}

// An earlier run's aligned files beside this run's sample files would pass for this run's.
void plant_earlier_aligned_files(const fs::path& out) {
    fs::create_directories(out);
    for (const char* name : {kAlignedCsv, kAlignedDb}) std::ofstream(out / name) << "an earlier run's";
}

TEST_F(BatchRun, NoAlignFlagWritesNoAlignedFiles) {
    const fs::path out = output("flags_0");
    plant_earlier_aligned_files(out);
    CKORVANE_Engine e;
    e.Config_Engine(config_dir(2).string(), data_dir().string(), "", out.string());
    progressValue = 0.0;
    e.Batch_Pipeline({file(0), file(1), file(2)}, {0, 0, 0});
    EXPECT_EQ(progressValue.load(), 100.0);
    for (int k = 0; k < 3; ++k)
        for (const char* suffix : kSuffixes) EXPECT_TRUE(fs::exists(out / (korvane::test::numbered("s", k) + suffix)));
    EXPECT_TRUE(e.peaklist_align.empty());
    EXPECT_FALSE(fs::exists(out / kAlignedCsv));
    EXPECT_FALSE(fs::exists(out / kAlignedDb));
}

// Align mode 0: rows are collected exactly as the per-sample pipeline returns them, unaligned.
TEST_F(BatchRun, AlignModeZeroCollectsTheRowsWithoutAligning) {
    const fs::path out = output("mode0");
    CKORVANE_Engine e;
    e.Config_Engine(config_dir(0).string(), data_dir().string(), "", out.string());
    progressValue = 0.0;
    e.Batch_Pipeline({file(2), file(0), file(1)}, {1, 1, 0});
    EXPECT_EQ(progressValue.load(), 100.0);
    EXPECT_FALSE(fs::exists(out / kAlignedCsv));
    EXPECT_FALSE(fs::exists(out / kAlignedDb));
    EXPECT_EQ(sample_ids(e), (std::vector<std::uint32_t>{0, 1}));

    // The same samples through pipeline_process here give the same rows, in the same order.
    Para_Configure para;
    ASSERT_EQ(Read_Configured_ParafromCSVFile(config_dir(0).string(), "config_para.csv", para), 1);
    std::vector<adduct_configure_node> adducts;
    read_adduct_configure_file((config_dir(0) / "Adduct_Config_Positive.csv").string(), adducts);
    std::vector<double> average, mono;
    read_hmdb_file((config_dir(0) / "hmdb.csv").string(), average, mono);
    const fs::path scratch = output("mode0_reference");
    std::size_t row = 0;
    for (const int k : {2, 0}) {
        std::uint32_t scans = 0, points = 0;
        std::vector<std::uint32_t> scan_num, scan_index;
        std::vector<std::int32_t> counts;
        std::vector<double> time, tic;
        std::vector<float> mz, intensity;
        ASSERT_EQ(necdf_read(data_dir().string(), file(k), scans, points, scan_num, scan_index, counts, time, mz,
                             intensity, tic),
                  1);
        std::vector<Spectrum_Scan> spectra;
        spectrum_split(spectra, scans, points, para.Para_Start_Scan, para.Para_End_Scan, scan_num, scan_index, time,
                       counts, mz, intensity);
        std::vector<Chromatogram_Peak_Group_Compound> compounds;
        pipeline_process(spectra, para, adducts, mono, korvane::test::numbered("s", k), scratch.string(), compounds);
        for (const auto& c : compounds) {
            SCOPED_TRACE(row);
            ASSERT_LT(row, e.peaklist_align.size());
            const auto& r = e.peaklist_align[row++];
            EXPECT_EQ(r.SAMPLE_ID, k == 2 ? 0u : 1u);
            EXPECT_EQ(r.SAMPLE_NAME, korvane::test::numbered("s", k));
            EXPECT_EQ(r.Align_ID, 0u);
            EXPECT_EQ(r.Align_RT, 0.0);
            EXPECT_EQ(r.EIC_ID, c.EIC_ID);
            EXPECT_EQ(r.Peak_ID, c.Peak_ID);
            EXPECT_EQ(r.Compound_ID, c.Compound_ID);
            EXPECT_EQ(r.Adduct_Annotation, c.Adduct_Annotation);
            EXPECT_EQ(r.Compound_Intensity, c.Compound_Intensity);
            EXPECT_EQ(r.Peak_shape.size(), c.Peak_shape.size());
        }
    }
    EXPECT_EQ(row, e.peaklist_align.size());
}

TEST_F(BatchRun, EmptySelectionRunsTheFolderAndEveryRowJoins) {
    const fs::path out = output("listing");
    CKORVANE_Engine e;
    e.Config_Engine(config_dir(0).string(), data_dir().string(), "", out.string());
    progressValue = 0.0;
    e.Batch_Pipeline({}, {});
    EXPECT_EQ(progressValue.load(), 100.0);
    EXPECT_EQ(sample_ids(e), (std::vector<std::uint32_t>{0, 1, 2}));
    for (const auto& r : e.peaklist_align) EXPECT_EQ(r.SAMPLE_NAME, korvane::test::numbered("s", r.SAMPLE_ID));
}

TEST_F(BatchRun, UnreadableOrRepeatedSampleIsSkippedAndTheRunGoesOn) {
    const fs::path out = output("skips");
    CKORVANE_Engine e;
    e.Config_Engine(config_dir(0).string(), data_dir().string(), "", out.string());
    progressValue = 0.0;
    testing::internal::CaptureStderr();
    e.Batch_Pipeline({"absent.CDF", file(1), file(1)}, {1, 1, 1});
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_THAT(err, testing::HasSubstr("Sample file could not be read, skipped: "));
    EXPECT_THAT(err, testing::HasSubstr("absent.CDF"));
    EXPECT_THAT(err, testing::HasSubstr("skipped: its result files would replace those of " + file(1)));
    EXPECT_EQ(progressValue.load(), 100.0);
    EXPECT_EQ(sample_ids(e), (std::vector<std::uint32_t>{1}));
    EXPECT_FALSE(fs::exists(out / "absent_chromatograph_peaklist.csv"));
    // The skips reach the run's end message, not only standard error.
    EXPECT_EQ(e.last_run.total, 3u);
    EXPECT_FALSE(e.last_run.stopped);
    ASSERT_EQ(e.last_run.skipped.size(), 2u);
    EXPECT_EQ(e.last_run.skipped[0].file, "absent.CDF");
    EXPECT_FALSE(e.last_run.skipped[0].reason.empty());
    EXPECT_EQ(e.last_run.skipped[1].file, file(1));
    EXPECT_EQ(e.last_run.skipped[1].reason, "its result files would replace those of " + file(1));
    EXPECT_THAT(korvane::wb::completion_message("Batch Run", e.last_run),
                testing::StartsWith("Batch Run completed: 1 of 3 samples processed. Skipped: absent.CDF ("));
}

// A stop asked for before a sample ends the run there: the samples before it have all their
// files, the rest none, and no aligned files are written over a part of the selection.
TEST_F(BatchRun, StopEndsTheRunBetweenSamples) {
    for (const bool before_first : {true, false}) {
        SCOPED_TRACE(before_first ? "before the first sample" : "after the first sample");
        const fs::path out = output(before_first ? "stop_first" : "stop_later");
        plant_earlier_aligned_files(out);
        CKORVANE_Engine e;
        e.Config_Engine(config_dir(2).string(), data_dir().string(), "", out.string());
        progressValue = 0.0;
        e.stop_requested = before_first;
        std::thread stopper([&] {
            while (!before_first && progressValue.load() == 0.0) std::this_thread::yield();
            e.stop_requested = true;
        });
        e.Batch_Pipeline({file(0), file(1), file(2)}, {1, 1, 1});
        stopper.join();
        EXPECT_TRUE(e.last_run.stopped);
        EXPECT_LT(progressValue.load(), 100.0);
        int complete = 0;
        for (int k = 0; k < 3; ++k) {
            int present = 0;
            for (const char* suffix : kSuffixes) present += fs::exists(out / (korvane::test::numbered("s", k) + suffix));
            EXPECT_TRUE(present == 0 || present == 4) << k << ": " << present << " of 4 files";
            complete += present == 4;
        }
        EXPECT_EQ(complete, before_first ? 0 : static_cast<int>(progressValue.load() * 3 / 100 + 0.5));
        EXPECT_LT(complete, 3);
        EXPECT_FALSE(fs::exists(out / kAlignedDb));
        EXPECT_FALSE(fs::exists(out / kAlignedCsv));
    }
    progressValue = 0.0;
}

TEST(RunOutcome, MessagesAndTheSummaryLineOfTheConsolePipeline) {
    using korvane::wb::Run_Outcome;
    struct Row {
        const char* name;
        std::vector<std::string> lines;  // of the pipeline's output
        const char* message;
    };
    const Row rows[] = {
        {"nothing skipped", {"Begin to process for File a.CDF", "The total processing time is4s "},
         "Parallel Run completed!"},
        {"one of thirty", {"Skipped 1 of 30 samples: bad.CDF (not a netCDF file)"},
         "Parallel Run completed: 29 of 30 samples processed. Skipped: bad.CDF (not a netCDF file)"},
        {"two, the line twice",
         {"Skipped 2 of 4 samples: a.CDF (truncated: scan_index); b (1).CDF (not a netCDF file)",
          "Skipped 2 of 4 samples: a.CDF (truncated: scan_index); b (1).CDF (not a netCDF file)"},
         "Parallel Run completed: 2 of 4 samples processed. Skipped: a.CDF (truncated: scan_index); b (1).CDF (not a "
         "netCDF file)"},
        {"not a summary", {"Skipped samples: none", "Skipped 1 of 2 samples: "}, "Parallel Run completed!"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Run_Outcome outcome;
        for (const std::string& line : row.lines) korvane::wb::note_skipped_summary(line, outcome);
        EXPECT_EQ(korvane::wb::completion_message("Parallel Run", outcome), row.message);
    }
}

TEST_F(BatchRun, NothingToRunAndMissingInputsThrow) {
    const fs::path out = output("empty");
    const fs::path empty_data = output("empty_data");
    CKORVANE_Engine e;
    e.Config_Engine(config_dir(2).string(), empty_data.string(), "", out.string());
    // A data folder without samples fails the run rather than completing it having done nothing.
    EXPECT_THAT([&] { e.Batch_Pipeline({}, {}); },
                testing::ThrowsMessage<korvane::Error>(
                    testing::StrEq("No sample file ending in .CDF in " + empty_data.string())));
    EXPECT_TRUE(e.peaklist_align.empty());
    EXPECT_FALSE(fs::exists(out / kAlignedDb));
    // A data folder that does not exist is no run without samples.
    e.Config_Engine(config_dir(2).string(), (empty_data / "absent").string(), "", out.string());
    EXPECT_THAT([&] { e.Batch_Pipeline({}, {}); },
                testing::ThrowsMessage<std::runtime_error>(testing::HasSubstr("Data folder could not be opened: ")));

    const fs::path no_config = output("no_config");
    e.Config_Engine(no_config.string(), data_dir().string(), "", out.string());
    progressValue = 0.0;
    try {
        e.Batch_Pipeline({file(0)}, {1});
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& err) {
        EXPECT_THAT(err.what(), testing::HasSubstr("Parameter file could not be opened: "));
    }
    EXPECT_EQ(progressValue.load(), 0.0);
    EXPECT_FALSE(fs::exists(out / ("s0" + std::string(kSuffixes[0]))));
}

}  // namespace
