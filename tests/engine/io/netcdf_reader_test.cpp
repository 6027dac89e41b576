#include "engine/io/netcdf_reader.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netcdf.h>

#include <filesystem>
#include <fstream>

#include "engine/peaks/spectrum.h"
#include "tests/support/cdf_writer.h"
#include "tests/support/temp_dir.h"

namespace {

using korvane::test::Cdf_Content;
using korvane::test::TempDir;

// Everything necdf_read hands out, pre-set to values a failed read must leave alone.
struct Read {
    int rc = -1;
    std::uint32_t scans = 777, points = 888;
    std::vector<std::uint32_t> num{42}, index{42};
    std::vector<std::int32_t> count{42};
    std::vector<double> time{42}, tic{42};
    std::vector<float> mz{42}, intensity{42};

    bool untouched() const {
        return scans == 777 && points == 888 && num == std::vector<std::uint32_t>{42} &&
               index == std::vector<std::uint32_t>{42} && count == std::vector<std::int32_t>{42} &&
               time == std::vector<double>{42} && tic == std::vector<double>{42} &&
               mz == std::vector<float>{42} && intensity == std::vector<float>{42};
    }
};

Read read_sample(const std::string& dir, const std::string& name,
                 const std::vector<std::string>& libraries = netcdf_library_candidates()) {
    Read r;
    r.rc = necdf_read(dir, name, r.scans, r.points, r.num, r.index, r.count, r.time, r.mz, r.intensity, r.tic,
                      libraries);
    return r;
}

// Three scans of 2, 2 and 1 points.
Cdf_Content three_scans() {
    Cdf_Content c;
    c.scan_acquisition_time = {1.5, 3.0, 4.5};
    c.total_intensity = {30, 70, 50};
    c.mass_values = {100.5f, 101.5f, 200.25f, 201.0f, 300.0f};
    c.intensity_values = {10, 20, 30, 40, 50};
    c.scan_index = {0, 2, 4};
    c.point_count = {2, 2, 1};
    c.actual_scan_number = std::vector<int>{11, 12, 13};
    c.global_units = "Seconds";
    return c;
}

std::string write(const TempDir& dir, const Cdf_Content& c, const std::string& name = "s.CDF") {
    korvane::test::write_cdf(dir.file(name), c);
    return name;
}

TEST(NetcdfReader, ReadsEveryArrayInEachFileFormat) {
    struct Row {
        const char* name;
        Cdf_Content::Format format;
        bool unlimited;
    };
    const Row rows[] = {{"classic", Cdf_Content::Format::classic, false},
                        {"64-bit offset", Cdf_Content::Format::offset64, false},
                        {"netCDF-4 classic model", Cdf_Content::Format::netcdf4, false},
                        {"record dimension for points", Cdf_Content::Format::classic, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const TempDir dir;
        Cdf_Content c = three_scans();
        c.format = row.format;
        c.unlimited_points = row.unlimited;
        const Read r = read_sample(dir.str(), write(dir, c));
        ASSERT_EQ(r.rc, 1);
        EXPECT_EQ(r.scans, 3u);
        EXPECT_EQ(r.points, 5u);
        EXPECT_EQ(r.num, (std::vector<std::uint32_t>{11, 12, 13}));
        EXPECT_EQ(r.index, (std::vector<std::uint32_t>{0, 2, 4}));
        EXPECT_EQ(r.count, (std::vector<std::int32_t>{2, 2, 1}));
        EXPECT_EQ(r.time, c.scan_acquisition_time);
        EXPECT_EQ(r.tic, c.total_intensity);
        EXPECT_EQ(r.mz, c.mass_values);
        EXPECT_EQ(r.intensity, c.intensity_values);
    }
}

TEST(NetcdfReader, TimesBecomeSecondsUnlessUnitsSaySeconds) {
    struct Row {
        const char* name;
        std::optional<std::string> global_units, time_values_units;
        double factor;
    };
    const Row rows[] = {
        {"global Seconds", "Seconds", std::nullopt, 1},
        {"global Minutes", "Minutes", std::nullopt, 60},
        {"lower-case seconds is still seconds", "seconds", std::nullopt, 1},
        {"upper case", "SECONDS", std::nullopt, 1},
        {"surrounding blanks", "  Seconds \t", std::nullopt, 1},
        {"text ends at its first zero byte", std::string("Seconds\0junk", 12), std::nullopt, 1},
        {"other text", "Secs", std::nullopt, 60},
        {"empty global units", "", std::nullopt, 60},
        {"no units anywhere", std::nullopt, std::nullopt, 60},
        {"time_values Seconds", std::nullopt, "Seconds", 1},
        {"time_values Minutes", std::nullopt, "Minutes", 60},
        {"global units win over time_values", "Minutes", "Seconds", 60},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const TempDir dir;
        Cdf_Content c = three_scans();
        c.global_units = row.global_units;
        c.time_values_units = row.time_values_units;
        const Read r = read_sample(dir.str(), write(dir, c));
        ASSERT_EQ(r.rc, 1);
        ASSERT_EQ(r.time.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(r.time[i], c.scan_acquisition_time[i] * row.factor);
    }
}

TEST(NetcdfReader, ScanNumbersComeFromTheFileOnlyWhenTheyStartAboveZero) {
    struct Row {
        const char* name;
        std::optional<std::vector<int>> actual;
        std::vector<std::uint32_t> expected;
    };
    const Row rows[] = {
        {"absent", std::nullopt, {1, 2, 3}},
        {"starting at 0", std::vector<int>{0, 1, 2}, {1, 2, 3}},
        {"starting below 0", std::vector<int>{-4, 9, 10}, {1, 2, 3}},
        {"starting at 5, kept as stored", std::vector<int>{5, 9, 7}, {5, 9, 7}},
        // n is the variable's own length; an empty one gives no scans and is never indexed.
        {"empty", std::vector<int>{}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const TempDir dir;
        Cdf_Content c = three_scans();
        c.actual_scan_number = row.actual;
        const Read r = read_sample(dir.str(), write(dir, c));
        ASSERT_EQ(r.rc, 1);
        EXPECT_EQ(r.num, row.expected);
        EXPECT_EQ(r.scans, row.expected.size());
    }
}

TEST(NetcdfReader, UnreadableFilesGiveZeroAndHandNothingOut) {
    const TempDir dir;
    dir.write("text.CDF", "this is not a netCDF file\n");
    std::filesystem::create_directory(dir.path() / "folder.CDF");
    Cdf_Content c = three_scans();
    write(dir, c, "good.CDF");
    std::filesystem::resize_file(dir.path() / "good.CDF", 0);
    for (const char* name : {"missing.CDF", "text.CDF", "folder.CDF", "good.CDF"}) {
        SCOPED_TRACE(name);
        const Read r = read_sample(dir.str(), name);
        EXPECT_EQ(r.rc, 0);
        EXPECT_TRUE(r.untouched());
    }
}

TEST(NetcdfReader, AMissingRequiredVariableFailsTheRead) {
    for (const char* omitted : {"scan_acquisition_time", "total_intensity", "mass_values", "intensity_values",
                                "scan_index", "point_count"}) {
        SCOPED_TRACE(omitted);
        const TempDir dir;
        Cdf_Content c = three_scans();
        c.omit = {omitted};
        const Read r = read_sample(dir.str(), write(dir, c));
        EXPECT_EQ(r.rc, 0);
        EXPECT_TRUE(r.untouched());
    }
}

// A variable that is not one-dimensional has no single length to read; the plain reader would
// index past its one-element start and count arrays.
TEST(NetcdfReader, VariablesThatAreNotOneDimensionalFailTheRead) {
    struct Row {
        const char* name;
        const char* variable;
        int rank;
    };
    const Row rows[] = {{"scalar mass_values", "mass_values", 0}, {"2-D intensity_values", "intensity_values", 2}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const TempDir dir;
        Cdf_Content c = three_scans();
        c.omit = {row.variable};
        const int rank = row.rank;
        const std::string variable = row.variable;
        c.extra_define = [rank, variable](int ncid) {
            int dims[2] = {0, 0}, id = 0;
            korvane::test::nc_check(nc_def_dim(ncid, "odd_a", 5, &dims[0]), "def_dim");
            korvane::test::nc_check(nc_def_dim(ncid, "odd_b", 2, &dims[1]), "def_dim");
            korvane::test::nc_check(nc_def_var(ncid, variable.c_str(), NC_FLOAT, rank, dims, &id), "def_var");
        };
        const Read r = read_sample(dir.str(), write(dir, c));
        EXPECT_EQ(r.rc, 0);
        EXPECT_TRUE(r.untouched());
    }
}

TEST(NetcdfReader, CountsNeverExceedTheArraysTheyDescribe) {
    struct Row {
        const char* name;
        std::function<void(Cdf_Content&)> change;
        std::uint32_t scans, points;
    };
    const Row rows[] = {
        {"scan_index shorter than the scans", [](Cdf_Content& c) { c.scan_index = {0, 2}; }, 2, 5},
        {"actual_scan_number longer than the scans",
         [](Cdf_Content& c) { c.actual_scan_number = std::vector<int>{11, 12, 13, 14, 15}; }, 3, 5},
        {"actual_scan_number shorter than the scans", [](Cdf_Content& c) { c.actual_scan_number = std::vector<int>{11, 12}; },
         2, 5},
        {"intensity_values shorter than mass_values", [](Cdf_Content& c) { c.intensity_values = {1, 2, 3}; }, 3, 3},
        {"mass_values shorter than intensity_values",
         [](Cdf_Content& c) { c.intensity_values = {1, 2, 3, 4, 5, 6, 7}; }, 3, 5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const TempDir dir;
        Cdf_Content c = three_scans();
        row.change(c);
        const Read r = read_sample(dir.str(), write(dir, c));
        ASSERT_EQ(r.rc, 1);
        EXPECT_EQ(r.scans, row.scans);
        EXPECT_EQ(r.points, row.points);
        EXPECT_EQ(r.num.size(), r.scans);
        EXPECT_LE(r.scans, r.time.size());
        EXPECT_LE(r.scans, r.index.size());
        EXPECT_LE(r.points, r.mz.size());
        EXPECT_LE(r.points, r.intensity.size());
    }
}

TEST(NetcdfReader, MissingLibraryThrowsTheFixedMessageAndHandsNothingOut) {
#if KORVANE_WORKBENCH
    const std::string expected = "netcdf related .so file doesn't exist in the current path or its parent path!";
#else
    const std::string expected = "libnetcdf.so doesn't exist in the current path or its parent path!";
#endif
    const TempDir dir;
    write(dir, three_scans());
    dir.write("libnetcdf.so", "not a shared object");
    Read r;
    try {
        r.rc = necdf_read(dir.str(), "s.CDF", r.scans, r.points, r.num, r.index, r.count, r.time, r.mz,
                          r.intensity, r.tic, {"/nonexistent/libnetcdf.so", dir.file("libnetcdf.so")});
        FAIL() << "no exception";
    } catch (const std::string& message) {
        EXPECT_EQ(message, expected);
    }
    EXPECT_TRUE(r.untouched());
}

TEST(NetcdfReader, LibraryCandidatesAreTriedInOrder) {
#if KORVANE_WORKBENCH
    const std::vector<std::string> expected = {"../libnetcdf_32.so", "./libnetcdf_32.so", "libnetcdf.so.19"};
#else
    const std::vector<std::string> expected = {"../libnetcdf.so", "./libnetcdf.so", "libnetcdf.so.19"};
#endif
    EXPECT_EQ(netcdf_library_candidates(), expected);

    // A candidate that is missing or is not a library is passed over; the first that loads is used.
    void* shim = dlopen(KORVANE_NETCDF_SHIM, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(shim, nullptr) << dlerror();
    reinterpret_cast<void (*)()>(dlsym(shim, "shim_reset"))();
    const TempDir dir;
    write(dir, three_scans());
    dir.write("libnetcdf.so", "not a shared object");
    const Read r = read_sample(dir.str(), "s.CDF", {"/nonexistent.so", dir.file("libnetcdf.so"), KORVANE_NETCDF_SHIM});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(reinterpret_cast<int (*)()>(dlsym(shim, "shim_opens"))(), 1);
    dlclose(shim);
}

// The stand-in library records what the reader asks of netCDF and fails chosen calls.
class ShimTest : public ::testing::Test {
protected:
    void SetUp() override {
        handle_ = dlopen(KORVANE_NETCDF_SHIM, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
        fn<void (*)()>("shim_reset")();
    }
    void TearDown() override {
        if (handle_) dlclose(handle_);
    }
    template <typename F>
    F fn(const char* name) {
        return reinterpret_cast<F>(dlsym(handle_, name));
    }
    void fail(const char* entry) { fn<void (*)(const char*)>("shim_fail")(entry); }
    int opens() { return fn<int (*)()>("shim_opens")(); }
    int closes() { return fn<int (*)()>("shim_closes")(); }
    int open_mode() { return fn<int (*)()>("shim_last_open_mode")(); }

    void* handle_ = nullptr;
};

TEST_F(ShimTest, OpensReadOnlyAndClosesWhatItOpened) {
    const TempDir dir;
    const Read r = read_sample(dir.str(), write(dir, three_scans()), {KORVANE_NETCDF_SHIM});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(open_mode(), NC_NOWRITE);
    EXPECT_EQ(opens(), 1);
    EXPECT_EQ(closes(), 1);
}

TEST_F(ShimTest, EveryFailingCallAfterTheOpenFailsTheReadAndStillCloses) {
    for (const char* entry : {"nc_inq_ndims", "nc_inq_varndims", "nc_inq_vardimid", "nc_inq_dim", "nc_get_vara_double",
                              "nc_get_vara_float", "nc_get_vara_int", "nc_inq_varid:scan_index",
                              "nc_inq_varid:mass_values"}) {
        SCOPED_TRACE(entry);
        fn<void (*)()>("shim_reset")();
        fail(entry);
        const TempDir dir;
        const Read r = read_sample(dir.str(), write(dir, three_scans()), {KORVANE_NETCDF_SHIM});
        EXPECT_EQ(r.rc, 0);
        EXPECT_TRUE(r.untouched());
        EXPECT_EQ(opens(), 1);
        EXPECT_EQ(closes(), 1);
    }
}

TEST_F(ShimTest, AFailedUnitsLookupMeansNoUnits) {
    for (const char* entry : {"nc_inq_attlen", "nc_get_att_text"}) {
        SCOPED_TRACE(entry);
        fn<void (*)()>("shim_reset")();
        fail(entry);
        const TempDir dir;
        const Read r = read_sample(dir.str(), write(dir, three_scans()), {KORVANE_NETCDF_SHIM});
        ASSERT_EQ(r.rc, 1);
        EXPECT_EQ(r.time, (std::vector<double>{90, 180, 270}));
    }
}

TEST_F(ShimTest, AFailedOpenClosesNothing) {
    fail("nc_open");
    const TempDir dir;
    const Read r = read_sample(dir.str(), write(dir, three_scans()), {KORVANE_NETCDF_SHIM});
    EXPECT_EQ(r.rc, 0);
    EXPECT_TRUE(r.untouched());
    EXPECT_EQ(closes(), 0);
}

TEST(NetcdfReader, ALibraryWithoutAnEntryPointFailsTheReadCleanly) {
    const TempDir dir;
    const Read r = read_sample(dir.str(), write(dir, three_scans()), {KORVANE_NETCDF_SHIM_WITHOUT_NDIMS});
    EXPECT_EQ(r.rc, 0);
    EXPECT_TRUE(r.untouched());
}

TEST(NetcdfReader, RepeatedReadsLeaveNoFileOpen) {
    const auto open_files = [] {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
        return n;
    };
    const TempDir dir;
    const std::string name = write(dir, three_scans());
    const std::size_t before = open_files();
    for (int i = 0; i < 20; ++i) ASSERT_EQ(read_sample(dir.str(), name).rc, 1);
    EXPECT_EQ(open_files(), before);
}

// A sample cut short anywhere must read cleanly or fail cleanly, and what it hands out must split
// without reading past an array (run under the sanitizer build).
TEST(NetcdfReader, TruncatedFilesReadOrFailWithoutOverrunning) {
    const TempDir dir;
    Cdf_Content c;
    for (int s = 0; s < 40; ++s) {
        c.scan_acquisition_time.push_back(s * 0.5);
        c.total_intensity.push_back(0);
        c.scan_index.push_back(s * 25);
        c.point_count.push_back(25);
        for (int p = 0; p < 25; ++p) {
            c.mass_values.push_back(100.0f + p);
            c.intensity_values.push_back(1000.0f + s);
        }
    }
    c.actual_scan_number = std::vector<int>(40, 0);
    for (int s = 0; s < 40; ++s) (*c.actual_scan_number)[s] = s + 1;
    c.global_units = "Seconds";
    for (auto format : {Cdf_Content::Format::classic, Cdf_Content::Format::netcdf4}) {
        c.format = format;
        c.unlimited_points = format == Cdf_Content::Format::classic;
        write(dir, c, "whole.CDF");
        const auto size = std::filesystem::file_size(dir.path() / "whole.CDF");
        for (std::uintmax_t step = 1; step < 64; ++step) {
            const std::uintmax_t cut = size * step / 64;
            SCOPED_TRACE(std::to_string(cut) + " of " + std::to_string(size) + " bytes");
            std::filesystem::copy_file(dir.path() / "whole.CDF", dir.path() / "cut.CDF",
                                       std::filesystem::copy_options::overwrite_existing);
            std::filesystem::resize_file(dir.path() / "cut.CDF", cut);
            const Read r = read_sample(dir.str(), "cut.CDF");
            if (r.rc == 0) {
                EXPECT_TRUE(r.untouched());
                continue;
            }
            ASSERT_EQ(r.rc, 1);
            ASSERT_LE(r.scans, r.time.size());
            ASSERT_LE(r.points, r.mz.size());
            std::vector<Spectrum_Scan> scans;
            testing::internal::CaptureStdout();
            spectrum_split(scans, r.scans, r.points, 0, 0xFFFFFFFFu, r.num, r.index, r.time, r.count, r.mz,
                           r.intensity);
            testing::internal::GetCapturedStdout();
            EXPECT_LE(scans.size(), r.scans);
        }
    }
}

// A classic header whose dimension claims far more points than the file holds.
TEST(NetcdfReader, AHeaderClaimingMorePointsThanTheFileHoldsFailsCleanly) {
    const TempDir dir;
    write(dir, three_scans(), "s.CDF");
    std::string bytes = korvane::test::read_file(dir.file("s.CDF"));
    // Classic layout: magic, record count, dimension tag, count, then (name length, name padded
    // to 4 bytes, length) per dimension, all big-endian.
    const auto be32 = [&](std::size_t at) {
        return (std::uint32_t(std::uint8_t(bytes[at])) << 24) | (std::uint32_t(std::uint8_t(bytes[at + 1])) << 16) |
               (std::uint32_t(std::uint8_t(bytes[at + 2])) << 8) | std::uint32_t(std::uint8_t(bytes[at + 3]));
    };
    ASSERT_EQ(bytes.substr(0, 3), "CDF");
    std::size_t at = 12;
    const std::uint32_t dims = be32(at);
    at += 4;
    bool patched = false;
    for (std::uint32_t d = 0; d < dims; ++d) {
        const std::uint32_t len = be32(at);
        const std::string name = bytes.substr(at + 4, len);
        at += 4 + (len + 3) / 4 * 4;
        if (name == "point_number") {
            bytes.replace(at, 4, std::string("\x7f\xff\xff\xf0", 4));
            patched = true;
        }
        at += 4;
    }
    ASSERT_TRUE(patched);
    dir.write("huge.CDF", bytes);
    const Read r = read_sample(dir.str(), "huge.CDF");
    if (r.rc == 0) {
        EXPECT_TRUE(r.untouched());
    } else {
        EXPECT_LE(r.points, r.mz.size());
        EXPECT_LE(r.points, r.intensity.size());
    }
}

// Scan starts that run backwards, past the points or below zero must stop the split, not overrun.
TEST(NetcdfReader, InconsistentScanIndexesStopTheSplit) {
    struct Row {
        const char* name;
        std::vector<int> scan_index;
        std::size_t records;
        const char* line;
    };
    const Row rows[] = {
        {"running backwards", {0, 4, 2}, 1, "split spectrum error at Scan=12\n"},
        {"past the points", {0, 2, 9}, 1, "split spectrum error at Scan=12\n"},
        {"last start past the points ends the scan before it", {0, 2, 6}, 1, "split spectrum error at Scan=12\n"},
        {"negative", {0, -3, 4}, 0, "split spectrum error at Scan=11\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const TempDir dir;
        Cdf_Content c = three_scans();
        c.scan_index = row.scan_index;
        const Read r = read_sample(dir.str(), write(dir, c));
        ASSERT_EQ(r.rc, 1);
        std::vector<Spectrum_Scan> scans;
        testing::internal::CaptureStdout();
        spectrum_split(scans, r.scans, r.points, 0, 0xFFFFFFFFu, r.num, r.index, r.time, r.count, r.mz, r.intensity);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(row.line) + "Spectrum spliting Finished!\n");
        EXPECT_EQ(scans.size(), row.records);
    }
}

// The public ANDI-MS files of the shared data folder: counts from its README; scan_index, not the
// stale point_count of the faahKO files, decides where scans end.
TEST(NetcdfReader, RealSamplesReadAndSplitIntoAllTheirPoints) {
    const std::string data = korvane::test::shared_data_dir();
    if (data.empty()) GTEST_SKIP() << "no shared data folder";
    struct Row {
        const char* file;
        std::uint32_t scans, points;
        double first_time;  // seconds, after the units rule
    };
    const Row rows[] = {
        {"faahKO/ko15.CDF", 1278, 445769, 2501.378},
        {"faahKO/ko16.CDF", 1278, 440794, 2501.378},
        {"faahKO/ko18.CDF", 1278, 442516, 2501.379},
        {"faahKO/wt15.CDF", 1278, 445106, 2501.378},
        {"faahKO/wt16.CDF", 1278, 450065, 2501.378},
        {"faahKO/wt18.CDF", 1278, 444570, 2501.378},
        {"other/advion-expression.cdf", 60, 199393, 0.081},
        {"other/agilent-gcms-P071.cdf", 6401, 157201, 5.25},  // "Seconds" on time_values
        // Its only units sit on scan_acquisition_time itself, a place the reader does not look.
        {"other/msdk-test_output.cdf", 69, 17042, 30.013 * 60},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        const std::filesystem::path path = std::filesystem::path(data) / "lcms" / row.file;
        if (!std::filesystem::exists(path)) {
            ADD_FAILURE() << "missing " << path;
            continue;
        }
        const Read r = read_sample(path.parent_path().string(), path.filename().string());
        ASSERT_EQ(r.rc, 1);
        EXPECT_EQ(r.scans, row.scans);
        EXPECT_EQ(r.points, row.points);
        EXPECT_NEAR(r.time.front(), row.first_time, 0.001 * (row.first_time > 1000 ? 60 : 1));
        std::vector<Spectrum_Scan> scans;
        testing::internal::CaptureStdout();
        spectrum_split(scans, r.scans, r.points, 0, 0xFFFFFFFFu, r.num, r.index, r.time, r.count, r.mz, r.intensity);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Spectrum spliting Finished!\n");
        ASSERT_EQ(scans.size(), row.scans);
        std::size_t total = 0;
        for (const Spectrum_Scan& s : scans) {
            total += s.mass_values.size();
            EXPECT_EQ(s.mass_values.size(), s.intensity_values.size());
        }
        EXPECT_EQ(total, row.points);
    }
}

}  // namespace
