#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/workbench/engine/facade_test_support.h"
#include "workbench/engine/korvane_engine.h"
#include "workbench/engine/launcher_state.h"
#include "workbench/engine/platform_hooks.h"

namespace fs = std::filesystem;
using korvane::test::lines_of;
using korvane::test::read_file;
using korvane::test::TempDir;
using testing::HasSubstr;

namespace {

using Message = std::pair<std::string, std::string>;  // text, caption

// Records the warnings instead of showing them; restores the defaults afterwards.
class Launch : public testing::Test {
protected:
    void SetUp() override {
        korvane::wb::set_message_box_handler(
            [this](const std::string& text, const std::string& caption) { messages_.emplace_back(text, caption); });
    }
    void TearDown() override {
        korvane::wb::set_message_box_handler({});
        korvane::wb::set_launcher_programs("mpiexec", "");
    }

    // An executable shell script standing in for the launcher.
    std::string script(const std::string& name, const std::string& body) const {
        const std::string path = dir_.write(name, "#!/bin/sh\n" + body + "\n");
        chmod(path.c_str(), 0755);
        return path;
    }

    TempDir dir_;
    std::vector<Message> messages_;
};

const Message kRunFailed{"MPI Run Failed", "Warning"};

TEST_F(Launch, LauncherGetsTheArgumentVectorUnquoted) {
    const std::string args_file = dir_.file("args.txt");
    korvane::wb::set_launcher_programs(script("launcher.sh", "for a in \"$@\"; do echo \"$a\"; done > '" + args_file + "'"),
                                       "/opt/k/KORVANE_Pipeline");
    CKORVANE_Engine e;
    e.Config_Engine("/cfg with blank", "/data \"quoted\"", "ignored.CDF", "/data \"quoted\"/Result");
    e.Parallel_Pipeline({"a.CDF"}, {1}, 3);
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(lines_of(read_file(args_file)),
              (std::vector<std::string>{"-np", "3", "/opt/k/KORVANE_Pipeline", "-c", "/cfg with blank", "-d",
                                        "/data \"quoted\"", "-o", "/data \"quoted\"/Result", "-x",
                                        "Job_Run_Config.csv"}));
    EXPECT_FALSE(korvane::wb::kill_started_launcher());

    // A run on its own folders neither reads nor writes the members the window sets meanwhile.
    e.Parallel_Pipeline(korvane::wb::Run_Folders{"/c", "/d", "/o"}, 2);
    EXPECT_EQ(lines_of(read_file(args_file)),
              (std::vector<std::string>{"-np", "2", "/opt/k/KORVANE_Pipeline", "-c", "/c", "-d", "/d", "-o", "/o",
                                        "-x", "Job_Run_Config.csv"}));
    EXPECT_EQ(e.config_file_path + e.data_file_path + e.data_file_Name + e.output_path,
              "/cfg with blank/data \"quoted\"ignored.CDF/data \"quoted\"/Result");
}

// The launcher's output reaches this program's standard output as it is, and its summary line of
// skipped samples reaches the run's outcome.
TEST_F(Launch, OutputIsPassedOnAndTheSkippedSamplesNoted) {
    korvane::wb::set_launcher_programs(
        script("talker.sh", "printf 'Begin to process for File a.CDF\\n'\n"
                            "printf 'Skipped 1 of 2 samples: bad.CDF (not a netCDF file)\\r\\n'\n"
                            "printf 'no line end'"),
        "KORVANE_Pipeline");
    CKORVANE_Engine e;
    e.last_run.skipped.push_back({"stale.CDF", "from an earlier run"});
    testing::internal::CaptureStdout();
    e.Parallel_Pipeline({}, {}, 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Begin to process for File a.CDF\nSkipped 1 of 2 samples: bad.CDF (not a netCDF file)\r\nno line end");
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(e.last_run.total, 2u);
    ASSERT_EQ(e.last_run.skipped.size(), 1u);
    EXPECT_EQ(e.last_run.skipped[0].file, "bad.CDF");
    EXPECT_EQ(e.last_run.skipped[0].reason, "not a netCDF file");
}

TEST_F(Launch, MissingLauncherIsReported) {
    korvane::wb::set_launcher_programs(dir_.file("no-such-mpiexec"), "KORVANE_Pipeline");
    CKORVANE_Engine e;
    testing::internal::CaptureStdout();
    e.Parallel_Pipeline({}, {}, 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: CreateProcess failed!");
    EXPECT_EQ(messages_, std::vector<Message>{kRunFailed});
    EXPECT_EQ(e.last_run.failure, "could not start " + dir_.file("no-such-mpiexec") + ": No such file or directory");
    EXPECT_FALSE(korvane::wb::kill_started_launcher());
}

// A failed run is reported, and what stopped it is taken from the launcher's standard error (which
// is passed on as it is): the console pipeline's own error line first, else the launcher's first
// paragraph; the lines of skipped samples are no failure.
TEST_F(Launch, LauncherThatFailsIsReportedNotPassedAsDone) {
    const std::string pipeline_error =
        "Sample file could not be read, skipped: /d/bad.CDF: not a netCDF file\n"
        "KORVANE_Pipeline: error in process 1: Parameter file /c/config_para.csv: no line for Para_Min_EIC\n"
        "KORVANE_Pipeline: error in process 0: Parameter file /c/config_para.csv: no line for Para_Min_EIC\n"
        "-----\nMPI_ABORT was invoked on rank 0\n";
    const std::string launcher_error =
        "-----\nThere are not enough slots available in the system to satisfy the 16\n"
        "slots that were requested by the application:\n\n  KORVANE_Pipeline\n\nEither request fewer slots\n";
    struct Case {
        const char* name;
        std::string launcher;
        std::string line;
        std::string error_output;
        std::string failure;
    };
    const Case cases[] = {
        {"/bin/false", "/bin/false", "ERROR: MPI run ended with exit status 1\n", "", ""},
        {"exit 3", script("exit3.sh", "exit 3"), "ERROR: MPI run ended with exit status 3\n", "", ""},
        {"killed", script("killed.sh", "kill -9 $$"), "ERROR: MPI run ended by signal 9\n", "", ""},
        {"pipeline error", script("pipeline.sh", "printf '%b' '" + pipeline_error + "' >&2\nexit 1"),
         "ERROR: MPI run ended with exit status 1\n", pipeline_error,
         "Parameter file /c/config_para.csv: no line for Para_Min_EIC"},
        {"launcher error", script("slots.sh", "printf '%b' '" + launcher_error + "' >&2\nexit 1"),
         "ERROR: MPI run ended with exit status 1\n", launcher_error,
         "There are not enough slots available in the system to satisfy the 16 slots that were requested by the "
         "application:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages_.clear();
        korvane::wb::set_launcher_programs(c.launcher, "KORVANE_Pipeline");
        CKORVANE_Engine e;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        e.Parallel_Pipeline({}, {}, 2);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.error_output);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
        EXPECT_EQ(messages_, std::vector<Message>{kRunFailed});
        EXPECT_EQ(e.last_run.failure, c.failure);
    }
}

TEST_F(Launch, OnlyTheStartedLauncherIsKilled) {
    korvane::wb::set_launcher_programs(script("sleeper.sh", "exec sleep 60"), "KORVANE_Pipeline");
    EXPECT_FALSE(korvane::wb::kill_started_launcher());
    CKORVANE_Engine e;
    testing::internal::CaptureStdout();
    std::thread run([&] { e.Parallel_Pipeline({}, {}, 2); });
    bool killed = false;
    for (int i = 0; i < 1000 && !killed; ++i) {
        killed = korvane::wb::kill_started_launcher();
        if (!killed) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    run.join();
    EXPECT_TRUE(killed);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: MPI run ended by signal 15\n");
    EXPECT_TRUE(messages_.empty());  // stopped on purpose: no warning
    EXPECT_FALSE(korvane::wb::kill_started_launcher());

    // The request does not outlive its run: the next launcher that fails is reported.
    korvane::wb::set_launcher_programs("/bin/false", "KORVANE_Pipeline");
    testing::internal::CaptureStdout();
    e.Parallel_Pipeline({}, {}, 2);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(messages_, std::vector<Message>{kRunFailed});
}

TEST_F(Launch, DefaultPipelineSitsBesideThisProgram) {
    korvane::wb::set_launcher_programs("mpiexec", "");
    const auto [launcher, pipeline] = korvane::wb::launcher_programs();
    EXPECT_EQ(launcher, "mpiexec");
    EXPECT_EQ(fs::path(pipeline), fs::read_symlink("/proc/self/exe").parent_path() / "KORVANE_Pipeline");
}

// The real thing: mpiexec from PATH starts KORVANE_Pipeline on two processes with the job file the
// facade wrote; the samples' files and the aligned files of the flagged samples appear.
TEST_F(Launch, MpiexecRunsThePipelineOnTheJobFile) {
    const fs::path data = dir_.path() / "data";
    const fs::path out = data / "Result";
    fs::create_directories(out);
    korvane::test::write_example_config(dir_.path() / "config");
    const std::vector<std::string> files = {"s0.CDF", "s1.CDF", "s2.CDF"};
    for (std::size_t k = 0; k < files.size(); ++k) korvane::test::write_small_sample(data / files[k], 50 + k);
    korvane::test::write_small_sample(data / "not_selected.CDF", 60);

    korvane::wb::set_launcher_programs("mpiexec", KORVANE_PIPELINE_EXE);
    CKORVANE_Engine e;
    e.Config_Engine((dir_.path() / "config").string(), data.string(), "", out.string());
    e.Save_Run_Config_Parameter(files, {1, 0, 1}, 0, 2);
    progressValue = 0.0;
    e.Parallel_Pipeline(files, {1, 0, 1}, 2);

    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(progressValue.load(), 0.0);
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        const std::string name = f.substr(0, f.find('.'));
        EXPECT_TRUE(fs::exists(out / (name + "_chromatograph_peaklist.csv")));
        EXPECT_TRUE(fs::exists(out / (name + "_annotated_grouped_chromatograph_peaklist.db")));
    }
    EXPECT_FALSE(fs::exists(out / "not_selected_chromatograph_peaklist.csv"));
    EXPECT_TRUE(fs::exists(out / "aligned_annotated_grouped_chromatograph_peaklist.aligndb"));

    // Rows of the flagged samples only: SAMPLE_ID 0 and 2.
    const std::string aligned_csv = read_file((out / "aligned_annotated_grouped_chromatograph_peaklist.csv").string());
    EXPECT_THAT(aligned_csv, HasSubstr(",s0,"));
    EXPECT_THAT(aligned_csv, HasSubstr(",s2,"));
    EXPECT_THAT(aligned_csv, testing::Not(HasSubstr(",s1,")));
}

// The real pipeline's error on a broken configuration reaches the run's outcome: file and key.
TEST_F(Launch, MpiexecRunOnABrokenConfigurationSaysWhy) {
    const fs::path data = dir_.path() / "data", config = dir_.path() / "config";
    fs::create_directories(data / "Result");
    korvane::test::write_example_config(config);
    const std::string para = read_file((config / "config_para.csv").string());
    const std::size_t line = para.find("Para_Min_EIC,");
    ASSERT_NE(line, std::string::npos);
    dir_.write("config/config_para.csv", para.substr(0, line) + para.substr(para.find('\n', line) + 1));
    korvane::test::write_small_sample(data / "s0.CDF", 50);

    korvane::wb::set_launcher_programs("mpiexec", KORVANE_PIPELINE_EXE);
    CKORVANE_Engine e;
    e.Config_Engine(config.string(), data.string(), "", (data / "Result").string());
    e.Save_Run_Config_Parameter({"s0.CDF"}, {1}, 0, 2);
    testing::internal::CaptureStderr();
    e.Parallel_Pipeline({"s0.CDF"}, {1}, 2);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(messages_, std::vector<Message>{kRunFailed});
    EXPECT_THAT(e.last_run.failure, HasSubstr((config / "config_para.csv").string()));
    EXPECT_THAT(e.last_run.failure, HasSubstr("Para_Min_EIC"));
}


}  // namespace
