// Result files are complete or absent: whatever a failed or killed writer leaves under a result
// name must be the bytes a clean run writes, and no temporary or journal may stay behind.
#include "engine/records/result_file.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <list>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/output/csv_output.h"
#include "engine/output/database_output.h"
#include "sqlitewrap/cppsqlite3.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using korvane::test::FileSizeLimit;
using korvane::test::read_file;
using korvane::test::TempDir;

// Enough rows that every file spans many blocks and takes a while to write.
struct Lists {
    std::vector<Chromatogram_Peak> peaks;
    std::vector<Chromatogram_Peak_Group> groups;
    std::vector<Chromatogram_Peak_Group_Compound> compounds;
    std::vector<Chromatogram_Peak_Group_Compound_Align> aligned;
    std::list<Mass_Trace> traces;

    explicit Lists(std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            const double x = static_cast<double>(i);
            std::vector<Data_Point> shape;
            for (std::uint32_t k = 0; k < 30; ++k) shape.push_back({k, x + 0.25 * k, 100.0 + x / 7.0, 1000.0 + k * x});
            Chromatogram_Peak_Group_Compound_Align a;
            a.Peak_shape = shape;
            a.EIC_ID = a.Peak_ID = a.Group_ID = a.Compound_ID = a.Align_ID = static_cast<std::uint32_t>(i);
            a.Apex_MZ = a.Compound_MolecularMass = 100.0 + x / 7.0;
            a.Apex_Retention_Time = a.Align_RT = x / 3.0;
            a.Apex_Intensity = a.Peak_Area = a.Peak_SNR = 1000.0 + x;
            a.Adduct_Annotation = "[M+H]+";
            a.SAMPLE_NAME = "S";
            aligned.push_back(a);
            compounds.emplace_back().Adduct_Annotation = a.Adduct_Annotation;
            groups.emplace_back().Group_ID = a.Group_ID;
            peaks.emplace_back();
            korvane::copy_peak_scalars(a, compounds.back());
            korvane::copy_peak_scalars(a, groups.back());
            korvane::copy_peak_scalars(a, peaks.back());
            compounds.back().Peak_shape = shape;
            traces.push_back({100.0 + x / 7.0, 30, 0, shape});
        }
    }
};

const std::vector<std::string> kNames = {
    "s_chromatograph_peaklist.csv", "s_grouped_chromatograph_peaklist.csv",
    "s_annotated_grouped_chromatograph_peaklist.csv", "s_annotated_grouped_chromatograph_peaklist.db",
    "aligned_annotated_grouped_chromatograph_peaklist.csv", "aligned_annotated_grouped_chromatograph_peaklist.aligndb"};

// Runs the six writers into dir, in the order a run does; returns each one's error text, "" when
// it succeeded.
std::vector<std::string> write_all(const Lists& l, const std::string& dir) {
    const std::function<void()> writers[] = {
        [&] { OutputChromatographPeaklist2CSVFile(l.peaks, dir, kNames[0]); },
        [&] { OutputGroupedChromatographPeaklist2CSVFile(l.groups, dir, kNames[1]); },
        [&] { OutputAnnotatedGroupedChromatographPeaklist2CSVFile(l.compounds, dir, kNames[2]); },
        [&] { OutputAnnotatedGroupedChromatographPeaklist2database(l.compounds, l.traces, dir, kNames[3]); },
        [&] { OutputAlignedAnnotatedGroupedChromatographPeaklist2CSVFile(l.aligned, dir, kNames[4]); },
        [&] { OutputAlignedAnnotatedGroupedChromatographPeaklist2database(l.aligned, dir, kNames[5]); },
    };
    std::vector<std::string> errors;
    for (const auto& write : writers) {
        try {
            write();
            errors.emplace_back();
        } catch (const std::exception& e) {
            errors.emplace_back(e.what());
        } catch (const CppSQLite3Exception& e) {
            errors.emplace_back(e.errorMessage());
        }
    }
    return errors;
}

std::map<std::string, std::string> files_in(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(dir)) files[e.path().filename().string()] = read_file(e.path().string());
    return files;
}

// Every file left is a result name holding a clean run's bytes; nothing else is left.
void expect_only_complete_results(const std::string& dir, const std::map<std::string, std::string>& clean) {
    for (const auto& [name, bytes] : files_in(dir)) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(clean.count(name)) << "left behind";
        EXPECT_TRUE(bytes == clean.at(name)) << "differs from a clean run's file (" << bytes.size() << " bytes)";
    }
}

TEST(ResultFiles, AFullDiskFailsNamingTheFileAndLeavesOnlyCompleteFiles) {
    const Lists lists(400);
    TempDir clean_dir;
    for (const std::string& e : write_all(lists, clean_dir.str())) ASSERT_EQ(e, "");
    const auto clean = files_in(clean_dir.str());
    // Limits between and beyond the sizes of the files, so that each writer fails somewhere in
    // its middle (or at its first byte) while smaller files fit.
    for (rlim_t limit : {rlim_t{0}, rlim_t{100}, rlim_t{5000}, rlim_t{40000}, rlim_t{200000}, rlim_t{1500000}}) {
        SCOPED_TRACE("limit " + std::to_string(limit));
        TempDir dir;
        std::vector<std::string> errors;
        {
            FileSizeLimit full(limit);
            errors = write_all(lists, dir.str());
        }
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            SCOPED_TRACE(kNames[i]);
            const bool fits = clean.at(kNames[i]).size() <= limit;
            EXPECT_EQ(fs::exists(dir.file(kNames[i])), fits);
            if (fits) continue;
            EXPECT_NE(errors[i].find(dir.file(kNames[i]) + (i == 3 || i == 5 ? ": " : " (")), std::string::npos)
                << errors[i];
        }
        expect_only_complete_results(dir.str(), clean);
    }
}

// Whether dir shows writer k of write_all at work, with a temporary whose name ends so: each
// writer removes its earlier file first, so its result is the one missing while those before it
// are there.
bool writing(const fs::path& dir, std::size_t k, const std::string& ending) {
    bool temporary = false;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        temporary = temporary || e.path().filename().string().ends_with(ending);
    for (std::size_t j = 0; temporary && j <= k; ++j)
        if (fs::exists(dir / kNames[j]) == (j == k)) return false;
    return temporary;
}

// The writers run over and over in a child until the parent sees the temporary (or the journal)
// it waits for, and ends the child with a signal.
TEST(ResultFiles, AKilledWriterLeavesOnlyCompleteFiles) {
    const Lists lists(3000);
    TempDir clean_dir;
    for (const std::string& e : write_all(lists, clean_dir.str())) ASSERT_EQ(e, "");
    const auto clean = files_in(clean_dir.str());
    struct Case {
        const char* name;
        std::size_t writer;  // the parent waits for this writer's temporary ending so
        std::string ending;
        int signal_number;
    };
    const Case cases[] = {
        {"peak list being written", 0, ".tmp", SIGTERM},
        {"per-sample database in its transaction", 3, ".tmp-journal", SIGTERM},
        {"aligned database, interrupted from the terminal", 5, ".tmp", SIGINT},
        {"grouped peak list, the terminal's session lost", 1, ".tmp", SIGHUP},
        // Nothing runs on SIGKILL: the next run's writers in the folder clear what it left.
        {"per-sample database killed outright", 3, ".tmp-journal", SIGKILL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) write_all(lists, dir.str());
        }
        bool seen = false;
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!seen && std::chrono::steady_clock::now() < give_up) seen = writing(dir.path(), c.writer, c.ending);
        kill(child, c.signal_number);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(seen);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal_number) << status;
        if (c.signal_number == SIGKILL) {
            const auto left = files_in(dir.str());
            EXPECT_TRUE(std::any_of(left.begin(), left.end(), [](const auto& f) { return f.first.ends_with(".tmp"); }));
            for (const std::string& e : write_all(lists, dir.str())) EXPECT_EQ(e, "");
        }
        expect_only_complete_results(dir.str(), clean);
    }
}

// A writer in a child process that stops in its database's transaction, with its temporary and
// journal on disk, until go is written to; it exits 0 once its database is complete.
struct Stopped_Writer {
    pid_t pid = -1;
    int go = -1;
};

Stopped_Writer start_writer(const std::string& final_path) {
    int ready[2], go[2];
    if (pipe(ready) != 0 || pipe(go) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        close(go[1]);
        int status = 1;
        try {
            korvane::ResultFile file(final_path);
            CppSQLite3DB db;
            db.open(file.temporary_path().c_str());
            db.execDML("begin;");
            db.execDML("create table t(x);");
            db.execDML("insert into t values(1);");
            char c = 0;
            if (write(ready[1], "r", 1) == 1 && read(go[0], &c, 1) == 1) {
                db.execDML("commit;");
                db.close();
                status = file.commit() ? 1 : 0;
            }
        } catch (...) {
        }
        _exit(status);
    }
    close(ready[1]);
    close(go[0]);
    char c = 0;
    const bool stopped = read(ready[0], &c, 1) == 1;
    close(ready[0]);
    return {stopped ? pid : -1, go[1]};
}

std::set<std::string> hidden_files(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().starts_with(".")) names.insert(e.path().filename().string());
    return names;
}

// Two writers of one result in a folder: a live one keeps its temporary and journal through the
// other's clean-up and completes its database; those of a writer killed outright go.
TEST(ResultFiles, OnlyTemporariesNoLiveWriterHoldsAreRemoved) {
    TempDir dir;
    const std::string db = dir.file("a.db");
    const Stopped_Writer live = start_writer(db);
    ASSERT_GT(live.pid, 0);
    const std::set<std::string> live_files = hidden_files(dir.path());
    ASSERT_EQ(live_files.size(), 2u);
    const Stopped_Writer killed = start_writer(db);
    ASSERT_GT(killed.pid, 0);
    kill(killed.pid, SIGKILL);
    waitpid(killed.pid, nullptr, 0);
    close(killed.go);
    ASSERT_EQ(hidden_files(dir.path()).size(), 4u);

    korvane::replace_whole_file(db, "written in between");
    EXPECT_EQ(hidden_files(dir.path()), live_files);

    ASSERT_EQ(write(live.go, "g", 1), 1);
    close(live.go);
    int status = -1;
    waitpid(live.pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(hidden_files(dir.path()).empty());
    CppSQLite3DB back;
    back.open(db.c_str());
    EXPECT_EQ(back.execScalar("select count(*) from t;"), 1);
}

}  // namespace

namespace stop_moments {

// Which moment of a set's life the child is stopped at: before writing file k (0 to 4, 4 being
// the commit), after rename k of the commit (5 + k), or after the commit (9).
int g_stop_at_rename = 0;
void stop_after_rename(std::size_t renamed) {
    if (static_cast<int>(renamed) == g_stop_at_rename) raise(SIGTERM);
}

const char* const kSampleFiles[] = {"s_chromatograph_peaklist.csv", "s_grouped_chromatograph_peaklist.csv",
                                    "s_annotated_grouped_chromatograph_peaklist.csv",
                                    "s_annotated_grouped_chromatograph_peaklist.db"};

// Writes the four files in a set, stopped by SIGTERM before file before_file or after rename
// after_rename, else once the set is committed. By an error instead, the set is left by an
// exception at the moment of the stop.
void write_set(const std::string& dir, int before_file, int after_rename, bool by_error) {
    g_stop_at_rename = after_rename;
    korvane::set_result_set_rename_hook(by_error ? nullptr : stop_after_rename);
    const auto stop = [by_error] {
        if (by_error) throw std::runtime_error("stopped");
        raise(SIGTERM);
    };
    korvane::Result_Set set;
    const std::function<void()> writers[] = {
        [&] { OutputChromatographPeaklist2CSVFile({}, dir, kSampleFiles[0]); },
        [&] { OutputGroupedChromatographPeaklist2CSVFile({}, dir, kSampleFiles[1]); },
        [&] { OutputAnnotatedGroupedChromatographPeaklist2CSVFile({}, dir, kSampleFiles[2]); },
        [&] { OutputAnnotatedGroupedChromatographPeaklist2database({}, {}, dir, kSampleFiles[3]); },
    };
    for (int k = 0; k < 4; ++k) {
        if (k == before_file) stop();
        writers[k]();
    }
    if (before_file == 4) stop();
    if (set.commit()) _exit(3);
    if (!by_error) raise(SIGTERM);
}

}  // namespace stop_moments

// A sample's files take their names together: stopped at any moment, the folder holds all of the
// earlier run's files or all of the new ones, and no temporary.
TEST(ResultFiles, AStoppedSetLeavesEveryFileOfOneRun) {
    using namespace stop_moments;
    struct Moment {
        const char* name;
        int before_file, after_rename;
        bool by_error, is_new;
    };
    const Moment moments[] = {
        {"before the first file", 0, 0, false, false},
        {"after two files", 2, 0, false, false},
        {"all written, before the commit", 4, 0, false, false},
        {"after the first rename", -1, 1, false, true},
        {"after the third rename", -1, 3, false, true},
        {"after the commit", -1, 0, false, true},
        {"an error after two files", 2, 0, true, false},
        {"an error before the commit", 4, 0, true, false},
    };
    TempDir clean_dir;
    write_set(clean_dir.str(), -1, 0, true);
    const std::map<std::string, std::string> clean = files_in(clean_dir.str());
    std::map<std::string, std::string> earlier;
    for (int k = 0; k < 4; ++k) earlier[kSampleFiles[k]] = "earlier " + std::to_string(k);
    for (const Moment& m : moments) {
        SCOPED_TRACE(m.name);
        TempDir dir;
        for (const auto& [name, bytes] : earlier) dir.write(name, bytes);
        if (m.by_error) {
            EXPECT_THROW(write_set(dir.str(), m.before_file, m.after_rename, true), std::runtime_error);
        } else {
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                write_set(dir.str(), m.before_file, m.after_rename, false);
                _exit(4);
            }
            int status = 0;
            waitpid(child, &status, 0);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
        }
        EXPECT_TRUE(files_in(dir.str()) == (m.is_new ? clean : earlier));
    }
}

namespace {

// A FAT file system of its own, through FUSE, where the tools are there and FUSE may be used.
class Fat_Mount {
public:
    explicit Fat_Mount(const TempDir& scratch) : image_(scratch.file("fat.img")), point_(scratch.file("fat")) {
        fs::create_directories(point_);
        const std::string tools = "PATH=\"$PATH:/usr/sbin:/sbin\" ";
        mounted_ = std::system((tools + "truncate -s 8M " + image_ + " && mkfs.vfat " + image_ +
                                " >/dev/null 2>&1 && fusefat -o rw+ " + image_ + " " + point_ + " >/dev/null 2>&1")
                                   .c_str()) == 0;
    }
    ~Fat_Mount() {
        if (mounted_ && std::system(("fusermount -u " + point_ + " 2>/dev/null || umount " + point_).c_str()) != 0)
            ADD_FAILURE() << "could not unmount " << point_;
    }
    bool mounted() const { return mounted_; }
    const std::string& point() const { return point_; }

private:
    std::string image_, point_;
    bool mounted_ = false;
};

}  // namespace

// GA.CDF's and ga.CDF's results are one set of files only where the folder says so; the probe
// leaves nothing behind.
TEST(ResultFiles, WhetherAFolderFoldsCaseIsAskedOfTheFolder) {
    const TempDir plain;
    EXPECT_FALSE(korvane::folder_folds_case(plain.str()));
    EXPECT_TRUE(fs::is_empty(plain.path()));
    EXPECT_FALSE(korvane::folder_folds_case(plain.file("absent")));

    const TempDir scratch;
    const Fat_Mount fat(scratch);
    if (!fat.mounted()) GTEST_SKIP() << "no FAT file system through FUSE here (fusefat, mkfs.vfat, /dev/fuse)";
    EXPECT_TRUE(korvane::folder_folds_case(fat.point()));
    EXPECT_TRUE(fs::is_empty(fat.point()));
}
