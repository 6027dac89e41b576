// KORVANE_Pipeline as users run it: under mpiexec with several process counts, and without a
// launcher. Results are checked against the same stages run in this process.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/annotation/alignment.h"
#include "engine/io/netcdf_reader.h"
#include "engine/output/csv_output.h"
#include "engine/peaks/spectrum.h"
#include "engine/records/para_configure.h"
#include "engine/records/reference_tables.h"
#include "engine/records/text_util.h"
#include "engine/run/pipeline_process.h"
#include "tools/generate_sample/cdf_writer.h"
#include "tests/support/fifo.h"
#include "tests/support/temp_dir.h"
#include "tools/generate_sample/sample_file.h"

namespace {

namespace fs = std::filesystem;
using korvane::test::read_file;
using korvane::test::TempDir;
using Row = Chromatogram_Peak_Group_Compound_Align;

const std::string kAlignedCsv = "aligned_annotated_grouped_chromatograph_peaklist.csv";
const std::string kAlignedDb = "aligned_annotated_grouped_chromatograph_peaklist.aligndb";
const std::vector<std::string> kSampleSuffixes = {
    "_chromatograph_peaklist.csv", "_grouped_chromatograph_peaklist.csv",
    "_annotated_grouped_chromatograph_peaklist.csv", "_annotated_grouped_chromatograph_peaklist.db"};

struct Run_Result {
    int exit_code = -1;
    std::string out, err;
    double seconds = 0;
};

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// np 0 runs the program without a launcher.
Run_Result run_pipeline(int np, const std::vector<std::string>& args, const fs::path& scratch) {
    std::string cmd = "env OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 ASAN_OPTIONS=detect_leaks=0 ";
    if (np > 0) cmd += std::string(KORVANE_MPIEXEC) + " --oversubscribe -np " + std::to_string(np) + " ";
    cmd += quoted(KORVANE_PIPELINE_EXE);
    for (const auto& a : args) {
        cmd += ' ';
        cmd += quoted(a);
    }
    const fs::path out = scratch / "stdout.txt", err = scratch / "stderr.txt";
    cmd += " > " + quoted(out.string()) + " 2> " + quoted(err.string()) + " < /dev/null";
    const auto t0 = std::chrono::steady_clock::now();
    const int status = std::system(cmd.c_str());
    Run_Result r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = read_file(out.string());
    r.err = read_file(err.string());
    return r;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

int count_lines_starting(const std::string& text, const std::string& prefix) {
    int n = 0;
    for (const auto& l : lines_of(text)) n += l.rfind(prefix, 0) == 0;
    return n;
}

bool has_line(const std::string& text, const std::string& line) {
    const auto all = lines_of(text);
    return std::find(all.begin(), all.end(), line) != all.end();
}

// A job file: the six header lines the workbench writes, then the given sample lines.
std::string job_text(const std::vector<std::string>& sample_lines) {
    std::string text = "Job Create Time:,Wed Dec  9 04:43:19 2026\r\nConfig Parameter Path,C\r\nData File Path,D\r\n"
                       "Output Path,O\r\nRun Mode,Parallel MPI,CPU Num,2\r\nProcess File Name,Aligned\r\n";
    for (const auto& l : sample_lines) text += l + "\r\n";
    return text;
}

// Two damaged samples: bytes that are no netCDF file, and a netCDF file without "scan_index".
void write_damaged_samples(const fs::path& garbage, const fs::path& no_index) {
    std::ofstream(garbage, std::ios::binary) << std::string("CDF\x01 but nothing after it is netCDF", 36);
    korvane::synth::Cdf_Content c;
    c.scan_acquisition_time = {1.0, 2.0};
    c.total_intensity = {5.0, 5.0};
    c.mass_values = {100.0f, 101.0f};
    c.intensity_values = {5.0f, 5.0f};
    c.scan_index = {0, 1};
    c.point_count = {1, 1};
    c.omit = {"scan_index"};
    korvane::synth::write_cdf(no_index.string(), c);
}

// The reader's own reason for refusing a sample file.
std::string reader_reason(const fs::path& file) {
    std::vector<Spectrum_Scan> scans;
    std::string reason;
    EXPECT_FALSE(korvane::load_sample_scans(file.parent_path().string(), file.filename().string(), Para_Configure{},
                                            scans, reason))
        << file;
    return reason;
}

// A configuration folder: the bundled example with one parameter line replaced.
void write_config(const fs::path& dir, int align_mode) {
    fs::create_directories(dir);
    const fs::path example = fs::path(KORVANE_SOURCE_DIR) / "examples" / "config";
    for (const char* f : {"hmdb.csv", "Adduct_Config_Positive.csv", "Adduct_Config_Negative.csv"})
        fs::copy_file(example / f, dir / f, fs::copy_options::overwrite_existing);
    std::ofstream para(dir / "config_para.csv", std::ios::binary);
    for (const auto& line : lines_of(read_file((example / "config_para.csv").string()))) {
        if (line.rfind("Para_One_Two_Phase_Align,", 0) == 0)
            para << "Para_One_Two_Phase_Align," << align_mode << "\n";
        else
            para << line << "\n";
    }
}

// Five small synthetic samples, made once for the whole program, and each sample's compounds as
// pipeline_process gives them in this process.
class PipelineRun : public testing::Test {
protected:
    static constexpr int kSamples = 5;

    static void SetUpTestSuite() {
        root_ = new TempDir();
        fs::create_directories(data_dir());
        for (int k = 0; k < kSamples; ++k) {
            korvane::synth::Options o;
            o.scans = 200;
            o.points_per_scan = 150;
            o.compounds = 60;
            o.seed = 100 + static_cast<std::uint64_t>(k);
            const auto s = korvane::synth::generate_sample(o);
            korvane::synth::write_sample_cdf((data_dir() / sample_file(k)).string(), s);
        }
        write_config(config_dir(2), 2);
        compounds_ = new std::vector<std::vector<Chromatogram_Peak_Group_Compound>>(kSamples);
        Para_Configure para;
        ASSERT_EQ(Read_Configured_ParafromCSVFile(config_dir(2).string(), "config_para.csv", para), 1);
        std::vector<adduct_configure_node> adducts;
        read_adduct_configure_file((config_dir(2) / "Adduct_Config_Positive.csv").string(), adducts);
        std::vector<double> average, mono;
        read_hmdb_file((config_dir(2) / "hmdb.csv").string(), average, mono);
        const fs::path scratch = root_->path() / "reference";
        fs::create_directories(scratch);
        for (int k = 0; k < kSamples; ++k) {
            std::uint32_t scans = 0, points = 0;
            std::vector<std::uint32_t> scan_num, scan_index;
            std::vector<std::int32_t> point_count;
            std::vector<double> time, tic;
            std::vector<float> mz, intensity;
            ASSERT_EQ(necdf_read(data_dir().string(), sample_file(k), scans, points, scan_num, scan_index,
                                 point_count, time, mz, intensity, tic),
                      1);
            std::vector<Spectrum_Scan> spectra;
            spectrum_split(spectra, scans, points, para.Para_Start_Scan, para.Para_End_Scan, scan_num, scan_index,
                           time, point_count, mz, intensity);
            pipeline_process(spectra, para, adducts, mono, sample_name(k), scratch.string(),
                             (*compounds_)[static_cast<std::size_t>(k)]);
        }
    }
    static void TearDownTestSuite() {
        delete compounds_;
        delete root_;
    }

    static fs::path data_dir() { return root_->path() / "data"; }
    static fs::path config_dir(int align_mode) {
        const fs::path dir = root_->path() / ("config" + std::to_string(align_mode));
        if (!fs::exists(dir)) write_config(dir, align_mode);
        return dir;
    }
    static std::string sample_name(int k) { return "sample_" + std::to_string(k); }
    static std::string sample_file(int k) { return sample_name(k) + ".CDF"; }

    // The aligned CSV that the program must write when the rows of the given samples reach rank 0
    // in the given order; each sample is given with the SAMPLE_ID it gets (its place in the list).
    static std::string expected_aligned_csv(const std::vector<std::pair<int, int>>& order, int align_mode,
                                            const fs::path& scratch) {
        std::vector<Row> rows;
        for (const auto& [k, id] : order)
            for (const auto& c : (*compounds_)[static_cast<std::size_t>(k)]) {
                Row r;
                r.Peak_shape = c.Peak_shape;
                r.EIC_ID = c.EIC_ID;
                r.Peak_ID = c.Peak_ID;
                r.Apex_MZ = c.Apex_MZ;
                r.Apex_Pos = c.Apex_Pos;
                r.Apex_Retention_Time = c.Apex_Retention_Time;
                r.Apex_Intensity = c.Apex_Intensity;
                r.Peak_Area = c.Peak_Area;
                r.Peak_SNR = c.Peak_SNR;
                r.Left_Boundary = c.Left_Boundary;
                r.Right_Boundary = c.Right_Boundary;
                r.Group_ID = c.Group_ID;
                r.Adduct_Annotation = c.Adduct_Annotation;
                r.Compound_ID = c.Compound_ID;
                r.Compound_MolecularMass = c.Compound_MolecularMass;
                r.Compound_Retention_Time = c.Compound_Retention_Time;
                r.Compound_Intensity = c.Compound_Intensity;
                r.SAMPLE_ID = static_cast<std::uint32_t>(id);
                r.SAMPLE_NAME = sample_name(k);
                rows.push_back(std::move(r));
            }
        Para_Configure para;
        Read_Configured_ParafromCSVFile(config_dir(2).string(), "config_para.csv", para);
        compound_align(align_mode == 1 ? One_Phase_Align : Two_Phase_Align, para.Para_Align_Mass_Tol,
                       para.Para_Align_Window1, para.Para_Align_Window2, rows);
        fs::create_directories(scratch);
        OutputAlignedAnnotatedGroupedChromatographPeaklist2CSVFile(rows, scratch.string(), "expected.csv");
        return read_file((scratch / "expected.csv").string());
    }

    static TempDir* root_;
    static std::vector<std::vector<Chromatogram_Peak_Group_Compound>>* compounds_;
};

TempDir* PipelineRun::root_ = nullptr;
std::vector<std::vector<Chromatogram_Peak_Group_Compound>>* PipelineRun::compounds_ = nullptr;

// Which samples share one Align_ID, independent of the Align_ID numbers and row order.
std::set<std::set<std::string>> aligned_features(const std::string& csv) {
    std::map<std::string, std::set<std::string>> by_id;
    auto lines = lines_of(csv);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto f = korvane::split_commas(lines[i]);
        if (f.size() < 20 || f[18] == "0") continue;  // not aligned
        by_id[f[18]].insert(f[17] + "/" + f[0] + "/" + f[1] + "@" + f[19]);
    }
    std::set<std::set<std::string>> features;
    for (auto& [id, members] : by_id) features.insert(members);
    return features;
}

TEST_F(PipelineRun, OneAndFourProcessesGiveTheSameResults) {
    TempDir t;
    const auto one = run_pipeline(1, {"-c", config_dir(2).string(), "-d", data_dir().string(), "-o", t.file("np1")},
                                  t.path());
    ASSERT_EQ(one.exit_code, 0) << one.err;
    const auto four = run_pipeline(4, {"-c", config_dir(2).string(), "-d", data_dir().string(), "-o", t.file("np4")},
                                   t.path());
    ASSERT_EQ(four.exit_code, 0) << four.err;

    for (int k = 0; k < kSamples; ++k)
        for (const auto& suffix : kSampleSuffixes) {
            SCOPED_TRACE(sample_name(k) + suffix);
            const std::string a = read_file(t.file("np1/" + sample_name(k) + suffix));
            ASSERT_FALSE(a.empty());
            EXPECT_TRUE(a == read_file(t.file("np4/" + sample_name(k) + suffix)));
        }
    // Under 4 processes sample 4's rows reach rank 0 second, yet are aligned in list order.
    EXPECT_EQ(read_file(t.file("np1/" + kAlignedCsv)), expected_aligned_csv({{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}}, 2, t.path() / "e1"));
    for (const std::string& name : {kAlignedCsv, kAlignedDb}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(read_file(t.file("np1/" + name)) == read_file(t.file("np4/" + name)));
    }
}

TEST_F(PipelineRun, FiveSamplesOverThreeProcessesInEveryAlignmentMode) {
    for (int mode : {0, 1, 2, -1}) {
        SCOPED_TRACE("Para_One_Two_Phase_Align " + std::to_string(mode));
        TempDir t;
        const auto r = run_pipeline(
            3, {"-c", config_dir(mode).string(), "-d", data_dir().string(), "-o", t.file("out")}, t.path());
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(count_lines_starting(r.out, "Begin to process for File "), 5);
        for (int k = 0; k < kSamples; ++k) {
            EXPECT_TRUE(has_line(r.out, "Begin to process for File " + sample_file(k)));
            EXPECT_TRUE(has_line(r.out, "End of process for File " + sample_file(k)));
            for (const auto& suffix : kSampleSuffixes) EXPECT_TRUE(fs::exists(t.file("out/" + sample_name(k) + suffix)));
        }
        for (const char* line : {" At CPU 0, totally assigned sample Num: 2and has already finished 1 Finish Rate: 0.5",
                                 " At CPU 0, totally assigned sample Num: 2and has already finished 2 Finish Rate: 1",
                                 " At CPU 1, totally assigned sample Num: 2and has already finished 2 Finish Rate: 1",
                                 " At CPU 2, totally assigned sample Num: 1and has already finished 1 Finish Rate: 1"})
            EXPECT_TRUE(has_line(r.out, line)) << line;
        EXPECT_EQ(count_lines_starting(r.out, "The processing time for Feature extraction and annotation   is"), 1);
        EXPECT_EQ(count_lines_starting(r.out, "Begin to process Compound Align"), 1);
        EXPECT_EQ(count_lines_starting(r.out, "The total processing time is"), 1);

        if (mode <= 0) {
            EXPECT_FALSE(fs::exists(t.file("out/" + kAlignedCsv)));
            EXPECT_FALSE(fs::exists(t.file("out/" + kAlignedDb)));
        } else {
            // Rank 0 holds samples 0 and 3, rank 1 samples 1 and 4, rank 2 sample 2; they are
            // aligned in list order all the same.
            EXPECT_EQ(read_file(t.file("out/" + kAlignedCsv)), expected_aligned_csv({{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}}, mode, t.path() / "e"));
            EXPECT_TRUE(fs::exists(t.file("out/" + kAlignedDb)));
        }
    }
}

TEST_F(PipelineRun, JobFileFlagsChooseTheAlignedSamples) {
    TempDir t;
    fs::create_directories(t.path() / "out");
    t.write("out/Job_Run_Config.csv",
            "Job Create Time:,Wed Dec  9 04:43:19 2026\r\nConfig Parameter Path,C\r\nData File Path,D\r\n"
            "Output Path,O\r\nRun Mode,Parallel MPI,CPU Num,2\r\nProcess File Name,Aligned\r\n" +
                sample_file(3) + ",1\r\n" + sample_file(1) + ",0\r\n" + sample_file(4) + ",1\r\n");
    // -x before -o: the job file is still read from the output folder.
    const auto r = run_pipeline(2, {"-x", "Job_Run_Config.csv", "-c", config_dir(2).string(), "-d",
                                    data_dir().string(), "-o", t.file("out")},
                                t.path());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (int k : {3, 1, 4})
        for (const auto& suffix : kSampleSuffixes) EXPECT_TRUE(fs::exists(t.file("out/" + sample_name(k) + suffix)));
    for (int k : {0, 2}) EXPECT_FALSE(fs::exists(t.file("out/" + sample_name(k) + kSampleSuffixes[0])));
    // Job entries 0 and 2 (samples 3 and 4) take part, with their places in the job list as
    // SAMPLE_ID; both belong to rank 0.
    EXPECT_EQ(read_file(t.file("out/" + kAlignedCsv)), expected_aligned_csv({{3, 0}, {4, 2}}, 2, t.path() / "e"));
}

// A data folder without samples is no successful run of nothing: the job stops before any sample,
// saying why once, and leaves no output folder behind.
TEST_F(PipelineRun, FolderWithoutSamplesAndMissingFolderStop) {
    TempDir t;
    fs::create_directories(t.path() / "empty");
    fs::create_directories(t.path() / "lower");
    fs::copy_file(data_dir() / sample_file(0), t.path() / "lower" / "x.cdf");
    const std::pair<std::string, std::string> folders[] = {
        {"empty", ""}, {"lower", " (1 file ends in .cdf: the extension is case-sensitive)"}};
    for (const auto& [folder, why] : folders) {
        SCOPED_TRACE(folder);
        const auto r =
            run_pipeline(3, {"-c", config_dir(2).string(), "-d", t.file(folder), "-o", t.file("out")}, t.path());
        EXPECT_EQ(r.exit_code, 1);
        const std::string said = "KORVANE_Pipeline: error: No sample file ending in .CDF in " + t.file(folder) + why;
        EXPECT_TRUE(has_line(r.err, said)) << r.err;
        EXPECT_EQ(count_lines_starting(r.err, "KORVANE_Pipeline: "), 1) << r.err;
        EXPECT_EQ(count_lines_starting(r.out, "The total processing time is"), 0);
        EXPECT_FALSE(fs::exists(t.file("out")));
    }

    // A data folder that does not exist is no empty run: the job stops with the folder's name.
    const auto missing =
        run_pipeline(3, {"-c", config_dir(2).string(), "-d", t.file("absent"), "-o", t.file("out2")}, t.path());
    EXPECT_NE(missing.exit_code, 0);
    EXPECT_NE(missing.err.find("Data folder could not be opened: " + t.file("absent")), std::string::npos) << missing.err;
    EXPECT_EQ(count_lines_starting(missing.out, "The total processing time is"), 0);
    EXPECT_FALSE(fs::exists(t.file("out2")));
}

// One process prints its error once and exits 1 without the launcher's abort banner; several
// processes abort the whole job.
TEST_F(PipelineRun, FailuresEndTheWholeJob) {
    struct Case {
        const char* name;
        std::string remove;  // file of the configuration folder to take away
        bool fifo;           // and to put a FIFO in its place, which must not be opened
        std::string message;
    };
    const Case cases[] = {
        {"missing hmdb.csv", "hmdb.csv", false, "HMDB_file could not be opened: "},
        {"missing config_para.csv", "config_para.csv", false, "Parameter file could not be opened: "},
        {"missing adduct table", "Adduct_Config_Positive.csv", false, "Adduct Config File could not be opened: "},
        {"hmdb.csv a FIFO", "hmdb.csv", true, "HMDB_file could not be opened: "},
    };
    for (const Case& c : cases)
        for (int np : {0, 1, 4}) {
            SCOPED_TRACE(std::string(c.name) + ", np " + std::to_string(np));
            TempDir t;
            write_config(t.path() / "config", 2);
            const std::string path = (t.path() / "config" / c.remove).string();
            fs::remove(path);
            std::optional<korvane::test::Fifo> fifo;
            if (c.fifo) fifo.emplace(path);
            const auto r = run_pipeline(np, {"-c", t.file("config"), "-d", data_dir().string(), "-o", t.file("out")},
                                        t.path());
            EXPECT_LT(r.seconds, 30.0);
            const std::string error = "KORVANE_Pipeline: error in process ";
            const std::string why = c.fifo ? " (not a regular file)" : "";
            EXPECT_NE(r.err.find(error + "0: " + c.message + path + why + "\n"), std::string::npos) << r.err;
            EXPECT_FALSE(fifo && fifo->opened());
            EXPECT_EQ(count_lines_starting(r.out, "Begin to process for File "), 0);
            if (np <= 1) {
                EXPECT_EQ(r.exit_code, 1);
                EXPECT_EQ(count_lines_starting(r.err, error), 1) << r.err;
                EXPECT_EQ(r.err.find("MPI_ABORT"), std::string::npos) << r.err;
            } else {
                EXPECT_NE(r.exit_code, 0);
            }
        }
}

TEST_F(PipelineRun, FailureInOneProcessEndsTheOthersWaitingAtTheBarrier) {
    TempDir t;
    // A folder where rank 1's second sample wants its database: that writer throws, while ranks 0
    // and 2 finish their samples and wait for rank 1.
    fs::create_directories(t.path() / "out" / ("sample_4" + kSampleSuffixes[3]));
    t.write("out/sample_4" + kSampleSuffixes[3] + "/keep", "x");
    const auto r = run_pipeline(3, {"-c", config_dir(2).string(), "-d", data_dir().string(), "-o", t.file("out")},
                                t.path());
    EXPECT_NE(r.exit_code, 0);
    EXPECT_LT(r.seconds, 30.0);
    EXPECT_NE(r.err.find("KORVANE_Pipeline: error in process 1: "), std::string::npos) << r.err;
    EXPECT_EQ(count_lines_starting(r.out, "The total processing time is"), 0);
}

// Two processes of one job that list different samples (here: given different folders, as two
// machines can see one shared folder differently) stop before any sample instead of dealing them
// out inconsistently.
TEST_F(PipelineRun, ProcessesThatListDifferentSamplesStopTheJob) {
    TempDir t;
    fs::create_directories(t.path() / "fewer");
    for (int k = 0; k + 1 < kSamples; ++k)
        fs::copy_file(data_dir() / sample_file(k), t.path() / "fewer" / sample_file(k));
    const std::string config = config_dir(2).string(), out = t.file("out");
    const auto r = run_pipeline(1, {"-c", config, "-d", data_dir().string(), "-o", out, ":", "-np", "1",
                                    KORVANE_PIPELINE_EXE, "-c", config, "-d", t.file("fewer"), "-o", out},
                                t.path());
    EXPECT_NE(r.exit_code, 0);
    EXPECT_LT(r.seconds, 30.0);
    EXPECT_NE(r.err.find("KORVANE_Pipeline: error in process 0: The processes of this job see different sample "
                         "lists for data folder " + data_dir().string() + " (process 1 differs from process 0)"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(count_lines_starting(r.out, "Begin to process for File "), 0);
}

// Damaged samples among good ones: the good samples' results are those of a run without them.
TEST_F(PipelineRun, DamagedSamplesAreSkippedWithoutHarmingTheOthers) {
    TempDir t;
    for (const char* dir : {"clean", "mixed"}) {
        fs::create_directories(t.path() / dir);
        for (int k = 0; k < 3; ++k) fs::copy_file(data_dir() / sample_file(k), t.path() / dir / sample_file(k));
    }
    // Named to come last, so that the good samples keep their places (and SAMPLE_IDs) in the list.
    write_damaged_samples(t.path() / "mixed" / "zz_garbage.CDF", t.path() / "mixed" / "zz_no_index.CDF");
    const std::string garbage = reader_reason(t.path() / "mixed" / "zz_garbage.CDF");
    const std::string no_index = reader_reason(t.path() / "mixed" / "zz_no_index.CDF");

    const auto clean = run_pipeline(2, {"-c", config_dir(2).string(), "-d", t.file("clean"), "-o", t.file("out_clean")},
                                    t.path());
    ASSERT_EQ(clean.exit_code, 0) << clean.err;
    EXPECT_EQ(count_lines_starting(clean.out, "Skipped "), 0);
    const auto mixed = run_pipeline(2, {"-c", config_dir(2).string(), "-d", t.file("mixed"), "-o", t.file("out_mixed")},
                                    t.path());
    ASSERT_EQ(mixed.exit_code, 0) << mixed.err;

    std::vector<std::string> compared = {kAlignedCsv, kAlignedDb};
    for (int k = 0; k < 3; ++k)
        for (const auto& suffix : kSampleSuffixes) compared.push_back(sample_name(k) + suffix);
    for (const auto& name : compared) {
        SCOPED_TRACE(name);
        const std::string expected = read_file(t.file("out_clean/" + name));
        ASSERT_FALSE(expected.empty());
        EXPECT_TRUE(read_file(t.file("out_mixed/" + name)) == expected);
    }
    for (const auto& [file, reason] : {std::pair{"zz_garbage.CDF", garbage}, std::pair{"zz_no_index.CDF", no_index}})
        EXPECT_TRUE(has_line(mixed.err, "Sample file could not be read, skipped: " + t.file("mixed/") + file + ": " + reason))
            << mixed.err;
    const auto lines = lines_of(mixed.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Skipped 2 of 5 samples: zz_garbage.CDF (" + garbage + "); zz_no_index.CDF (" + no_index + ")");
}

// Unreadable, repeated and out-of-folder names in a job file, and names whose results would replace
// another sample's or the aligned ones, are each said, counted and summed up in list order; a name
// leading out of the folders is never joined to a path.
TEST_F(PipelineRun, JobFileSkipsAreSaidAndSummedUp) {
    TempDir t;
    fs::create_directories(t.path() / "data");
    fs::create_directories(t.path() / "victim");
    for (int k = 0; k < 2; ++k) fs::copy_file(data_dir() / sample_file(k), t.path() / "data" / sample_file(k));
    fs::copy_file(data_dir() / sample_file(2), t.path() / "victim" / sample_file(2));
    const std::string kept = t.write("victim/sample_2" + kSampleSuffixes[3], "not to be replaced");
    t.write("data/broken.CDF", "this is not a netCDF file\n");
    const std::string broken = reader_reason(t.path() / "data" / "broken.CDF");
    const std::string missing = reader_reason(t.path() / "data" / "missing.CDF");
    fs::create_directories(t.path() / "out");
    t.write("out/job.csv", job_text({"sample_0.CDF,1", "broken.CDF,1", "sample_1.CDF,1", "sample_0.CDF,1",
                                     "../victim/sample_2.CDF,1", "missing.CDF,1", "..,1", "sample_1_grouped.CDF,1",
                                     "aligned_annotated_grouped.CDF,1"}));
    // Copies of readable samples: a run that processed them would replace sample_1's grouped list
    // and the aligned CSV.
    for (const char* name : {"sample_1_grouped.CDF", "aligned_annotated_grouped.CDF"})
        fs::copy_file(data_dir() / sample_file(2), t.path() / "data" / name);

    const auto r = run_pipeline(2, {"-c", config_dir(2).string(), "-d", t.file("data"), "-o", t.file("out"), "-x", "job.csv"},
                                t.path());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (const std::string& line :
         {"Sample file could not be read, skipped: " + t.file("data/broken.CDF") + ": " + broken,
          "Sample file could not be read, skipped: " + t.file("data/missing.CDF") + ": " + missing,
          std::string("Sample sample_0.CDF skipped: its result files would replace those of sample_0.CDF"),
          std::string("Sample sample_1_grouped.CDF skipped: its result files would replace those of sample_1.CDF"),
          std::string("Sample aligned_annotated_grouped.CDF skipped: its result files would replace the aligned "
                      "results"),
          std::string("Sample ../victim/sample_2.CDF skipped: not a file name of the data folder"),
          std::string("Sample .. skipped: not a file name of the data folder")})
        EXPECT_TRUE(has_line(r.err, line)) << line << "\n" << r.err;
    EXPECT_EQ(lines_of(r.out).back(),
              "Skipped 7 of 9 samples: broken.CDF (" + broken + "); sample_0.CDF (its result files would replace "
              "those of sample_0.CDF); ../victim/sample_2.CDF (not a file name of the data folder); missing.CDF (" +
                  missing + "); .. (not a file name of the data folder); sample_1_grouped.CDF (its result files would "
                  "replace those of sample_1.CDF); aligned_annotated_grouped.CDF (its result files would replace the "
                  "aligned results)");
    EXPECT_EQ(count_lines_starting(r.out, "End of process for File "), 2);
    // Every entry counts as done: rank 0 had entries 0, 2, 4, 6, 8 and rank 1 entries 1, 3, 5, 7.
    EXPECT_TRUE(has_line(r.out, " At CPU 0, totally assigned sample Num: 5and has already finished 5 Finish Rate: 1"));
    EXPECT_TRUE(has_line(r.out, " At CPU 1, totally assigned sample Num: 4and has already finished 4 Finish Rate: 1"));
    EXPECT_EQ(read_file(kept), "not to be replaced");
    EXPECT_EQ(std::distance(fs::directory_iterator(t.path() / "victim"), fs::directory_iterator()), 2);
    for (const auto& suffix : kSampleSuffixes) EXPECT_TRUE(fs::exists(t.file("out/sample_0" + suffix)));
    EXPECT_TRUE(lines_of(read_file(t.file("out/sample_1" + kSampleSuffixes[1]))).at(0).ends_with(",Group_ID"));
    EXPECT_FALSE(fs::exists(t.file("out/sample_1_grouped" + kSampleSuffixes[1])));
    const auto aligned = lines_of(read_file(t.file("out/" + kAlignedCsv)));
    std::set<std::string> names;
    for (std::size_t i = 1; i < aligned.size(); ++i) names.insert(korvane::split_commas(aligned[i])[17]);
    EXPECT_EQ(names, (std::set<std::string>{"sample_0", "sample_1"}));
}

// Results of an earlier run that this run does not make are removed and the run says so: the
// aligned files when it aligns nothing, a listed sample's files when it could not be read.
TEST_F(PipelineRun, EarlierResultsThisRunDoesNotMakeAreRemoved) {
    struct Case {
        const char* name;
        int np, align_mode;
        std::vector<std::string> job;  // empty: the data folder's listing
        bool aligned;                  // this run writes the aligned files
        int exit_code;
    };
    const Case cases[] = {
        {"none flagged", 2, 2, {"sample_0.CDF,0", "gone.CDF,1"}, false, 0},
        {"alignment off", 0, 0, {"sample_0.CDF,1", "gone.CDF,0"}, false, 0},
        {"aligned", 2, 2, {"sample_0.CDF,1", "gone.CDF,1"}, true, 0},
        {"no sample could be read", 0, 2, {}, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir t;
        fs::create_directories(t.path() / "data");
        fs::create_directories(t.path() / "out");
        if (!c.job.empty()) fs::copy_file(data_dir() / sample_file(0), t.path() / "data" / sample_file(0));
        t.write("data/gone.CDF", "damaged since the earlier run");
        std::vector<std::string> stale = korvane::aligned_result_files(t.file("out"));
        for (const auto& f : korvane::sample_result_files(t.file("out"), "gone")) stale.push_back(f);
        for (const auto& f : stale) std::ofstream(f) << "earlier run";
        std::vector<std::string> args = {"-c", config_dir(c.align_mode).string(), "-d", t.file("data"), "-o", t.file("out")};
        if (!c.job.empty()) {
            t.write("out/job.csv", job_text(c.job));
            args.insert(args.end(), {"-x", "job.csv"});
        }

        const auto r = run_pipeline(c.np, args, t.path());
        EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
        for (std::size_t i = 0; i < stale.size(); ++i) {
            SCOPED_TRACE(stale[i]);
            // The aligned CSV and database; the journal beside a database being written is the writer's.
            const bool rewritten = c.aligned && i < 2;
            if (c.aligned && i == 2) continue;
            EXPECT_EQ(has_line(r.out, "Removed a result file of an earlier run: " + stale[i]), !rewritten);
            if (rewritten)
                EXPECT_NE(read_file(stale[i]), "earlier run");
            else
                EXPECT_FALSE(fs::exists(stale[i]));
        }
        EXPECT_EQ(has_line(r.err, "KORVANE_Pipeline: error: none of the 1 samples could be processed"), c.exit_code != 0);
    }
}

// A long sample name is a name like any other while its result names fit the output folder (the
// longest, of the annotated CSV, is the sample name and 45 bytes); a sample whose result names
// cannot be made is skipped alone, and an unreadable one at the limit is skipped as unreadable.
TEST_F(PipelineRun, LongSampleNamesRunUpToTheFolderNameLimit) {
    TempDir t;
    fs::create_directories(t.path() / "data");
    const std::string fits(197, 'a'), at_limit(210, 'b'), over(211, 'c'), unreadable(210, 'd');
    for (const std::string& name : {fits, at_limit, over})
        fs::copy_file(data_dir() / sample_file(0), t.path() / "data" / (name + ".CDF"));
    t.write("data/" + unreadable + ".CDF", "not a netCDF file");
    const std::string broken = reader_reason(t.path() / "data" / (unreadable + ".CDF"));

    const auto r = run_pipeline(2, {"-c", config_dir(2).string(), "-d", t.file("data"), "-o", t.file("out")}, t.path());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string too_long = "its result file names would be 256 bytes long, over the output folder's limit of 255";
    EXPECT_TRUE(has_line(r.err, "Sample " + over + ".CDF skipped: " + too_long)) << r.err;
    EXPECT_EQ(lines_of(r.out).back(), "Skipped 2 of 4 samples: " + over + ".CDF (" + too_long + "); " + unreadable +
                                          ".CDF (" + broken + ")");
    for (const std::string& name : {fits, at_limit})
        for (const auto& suffix : kSampleSuffixes) {
            SCOPED_TRACE(name.substr(0, 1) + suffix);
            EXPECT_EQ(read_file(t.file("out/" + name + suffix)), read_file(t.file("out/" + fits + suffix)));
            EXPECT_FALSE(read_file(t.file("out/" + name + suffix)).empty());
        }
    std::set<std::string> names;
    for (const auto& line : lines_of(read_file(t.file("out/" + kAlignedCsv))))
        names.insert(korvane::split_commas(line)[17]);
    EXPECT_EQ(names, (std::set<std::string>{"SAMPLE_NAME", fits, at_limit}));
}

// Two runs into one output folder at once: neither removes the other's temporaries, and each
// leaves every result complete.
TEST_F(PipelineRun, TwoRunsIntoOneFolderAtOnceBothComplete) {
    TempDir t;
    const std::vector<std::string> args = {"-c", config_dir(2).string(), "-d", data_dir().string(), "-o"};
    auto with_output = [&](const std::string& out) {
        std::vector<std::string> a = args;
        a.push_back(out);
        return a;
    };
    const auto solo = run_pipeline(2, with_output(t.file("solo")), t.path());
    ASSERT_EQ(solo.exit_code, 0) << solo.err;
    fs::create_directories(t.path() / "first");
    fs::create_directories(t.path() / "second");
    Run_Result first, second;
    std::thread other([&] { second = run_pipeline(2, with_output(t.file("shared")), t.path() / "second"); });
    first = run_pipeline(2, with_output(t.file("shared")), t.path() / "first");
    other.join();
    EXPECT_EQ(first.exit_code, 0) << first.err;
    EXPECT_EQ(second.exit_code, 0) << second.err;
    std::set<std::string> solo_names, shared_names;
    for (const auto& e : fs::directory_iterator(t.path() / "solo")) solo_names.insert(e.path().filename().string());
    for (const auto& e : fs::directory_iterator(t.path() / "shared")) shared_names.insert(e.path().filename().string());
    EXPECT_EQ(shared_names, solo_names);
    for (const std::string& name : solo_names) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(read_file(t.file("shared/" + name)) == read_file(t.file("solo/" + name)));
    }
}

TEST_F(PipelineRun, OutputFolderIsCreatedOrRefused) {
    TempDir t;
    const auto r = run_pipeline(0, {"-c", config_dir(2).string(), "-d", data_dir().string(), "-o", t.file("a/b/c")},
                                t.path());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(fs::exists(t.file("a/b/c/" + kAlignedCsv)));

    t.write("plain_file", "x");
    const auto refused = run_pipeline(
        2, {"-c", config_dir(2).string(), "-d", data_dir().string(), "-o", t.file("plain_file/out")}, t.path());
    EXPECT_NE(refused.exit_code, 0);
    EXPECT_NE(refused.err.find("Output folder could not be created: " + t.file("plain_file/out")), std::string::npos)
        << refused.err;
}

TEST_F(PipelineRun, CommandLineOutcomes) {
    TempDir t;
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int exit_code;
        std::string err_start;
    };
    const Case cases[] = {
        {"no arguments", {}, 0, ""},
        {"help", {"-c", "C", "-h"}, 0, KORVANE_PIPELINE_EXE},
        {"missing value", {"-c", config_dir(2).string(), "-d"}, 2, "Parse cmd_line fail, Need to clearly specific the path for LC-MS CDF files\n"},
        {"unknown option", {"-c", config_dir(2).string(), "--bogus"}, 2,
         "Parse cmd_line fail, unknown option or stray argument: --bogus\n" + std::string(KORVANE_PIPELINE_EXE) + "\n"},
        {"job line without a comma", {"-c", config_dir(2).string(), "-d", data_dir().string(), "-o", t.str(), "-x", "bad_job.csv"},
         1, "KORVANE_Pipeline: error: Job file " + t.file("bad_job.csv") + ", line 7: "},
        {"missing job file", {"-x", "absent.csv", "-o", t.str(), "-d", data_dir().string(), "-c", config_dir(2).string()}, 1,
         "KORVANE_Pipeline: error: Job file could not be opened: " + t.file("absent.csv")},
    };
    t.write("bad_job.csv", "1\n2\n3\n4\n5\n6\nsample_0.CDF\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = run_pipeline(0, c.args, t.path());
        EXPECT_EQ(r.exit_code, c.exit_code);
        EXPECT_EQ(r.err.substr(0, c.err_start.size()), c.err_start);
        EXPECT_EQ(r.out, "");
    }
}

TEST(PipelineFaahKO, SixSamplesUnderThreeProcesses) {
    const std::string shared = korvane::test::shared_data_dir();
    if (shared.empty()) GTEST_SKIP() << "../shared/data is absent";
    const fs::path data = fs::path(shared) / "lcms" / "faahKO";
    const fs::path config = fs::path(KORVANE_SOURCE_DIR) / "examples" / "config-faahKO";
    if (!fs::exists(data) || !fs::exists(config / "config_para.csv")) GTEST_SKIP() << "faahKO samples or config absent";
    TempDir t;
    const auto r = run_pipeline(3, {"-c", config.string(), "-d", data.string(), "-o", t.file("out")}, t.path());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // Every file, the aligned ones too, is the one a single process writes.
    const auto one = run_pipeline(1, {"-c", config.string(), "-d", data.string(), "-o", t.file("np1")}, t.path());
    ASSERT_EQ(one.exit_code, 0) << one.err;
    std::vector<std::string> names = {kAlignedCsv, kAlignedDb};
    for (const char* name : {"ko15", "ko16", "ko18", "wt15", "wt16", "wt18"})
        for (const auto& suffix : kSampleSuffixes) names.push_back(name + suffix);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(fs::exists(t.file("out/" + name)));
        EXPECT_TRUE(read_file(t.file("out/" + name)) == read_file(t.file("np1/" + name)));
    }
    const auto features = aligned_features(read_file(t.file("out/" + kAlignedCsv)));
    // The example configuration is fitted to this data: well over 50 compounds are found in every
    // sample (163 when it was fitted); far fewer means a parameter or a stage has slipped.
    std::size_t in_all_six = 0;
    for (const auto& f : features) {
        std::set<std::string> samples;
        for (const std::string& member : f) samples.insert(member.substr(0, member.find('/')));
        in_all_six += samples.size() == 6;
    }
    EXPECT_GE(in_all_six, 50u);
}

}  // namespace
