#include "engine/io/netcdf_reader.h"

#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netcdf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <thread>

#include "engine/peaks/spectrum.h"
#include "tools/generate_sample/cdf_writer.h"
#include "tests/support/temp_dir.h"

namespace {

using korvane::synth::Cdf_Content;
using korvane::test::TempDir;

// Everything necdf_read hands out, pre-set to values a failed read must leave alone.
struct Read {
    int rc = -1;
    std::string reason = "not set";
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
    bool same_arrays(const Read& o) const {
        return scans == o.scans && points == o.points && num == o.num && index == o.index && count == o.count &&
               time == o.time && tic == o.tic && mz == o.mz && intensity == o.intensity;
    }
};

// Through the overload that says why, with the program's own library search.
Read read_sample(const std::string& dir, const std::string& name) {
    Read r;
    r.rc = necdf_read(dir, name, r.scans, r.points, r.num, r.index, r.count, r.time, r.mz, r.intensity, r.tic,
                      r.reason);
    return r;
}

// Through the plain overload with the given library files.
Read read_with(const std::string& dir, const std::string& name, const std::vector<std::string>& libraries) {
    Read r;
    r.rc = necdf_read(dir, name, r.scans, r.points, r.num, r.index, r.count, r.time, r.mz, r.intensity, r.tic,
                      libraries);
    return r;
}

// A refused read: result 0, the reason given, nothing handed out.
void expect_refused(const Read& r, const std::string& reason) {
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.reason, reason);
    EXPECT_TRUE(r.untouched());
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

// scans scans of `width` points each, numbered from 1, times in seconds.
Cdf_Content regular_scans(int scans, int width) {
    Cdf_Content c;
    c.actual_scan_number = std::vector<int>();
    for (int s = 0; s < scans; ++s) {
        c.scan_acquisition_time.push_back(s * 0.5);
        c.total_intensity.push_back(s);
        c.scan_index.push_back(s * width);
        c.point_count.push_back(width);
        c.actual_scan_number->push_back(s + 1);
        for (int p = 0; p < width; ++p) {
            c.mass_values.push_back(100.0f + p + s * 0.001f);
            c.intensity_values.push_back(1000.0f + p * s);
        }
    }
    c.global_units = "Seconds";
    return c;
}

// The layouts whose header the reader measures itself; netCDF-4 is left to the library.
struct Format_Row {
    const char* name;
    Cdf_Content::Format format;
    bool unlimited;  // points on the record dimension
};
const Format_Row kClassicFormats[] = {{"classic", Cdf_Content::Format::classic, false},
                                      {"64-bit offset", Cdf_Content::Format::offset64, false},
                                      {"CDF-5", Cdf_Content::Format::cdf5, false},
                                      {"record dimension for points", Cdf_Content::Format::classic, true},
                                      {"64-bit offset, record dimension", Cdf_Content::Format::offset64, true},
                                      {"CDF-5, record dimension", Cdf_Content::Format::cdf5, true}};

std::string write(const TempDir& dir, const Cdf_Content& c, const std::string& name = "s.CDF") {
    korvane::synth::write_cdf(dir.file(name), c);
    return name;
}

// A one-dimensional variable `name` of `type` on dimension `dim` (the record dimension, defined
// here, when the file has no such dimension yet), holding `values`.
void add_variable(Cdf_Content& c, const std::string& name, nc_type type, const std::string& dim,
                  const std::vector<double>& values) {
    c.extra_define = [name, type, dim](int ncid) {
        int d = -1, id = -1;
        if (nc_inq_dimid(ncid, dim.c_str(), &d) != NC_NOERR)
            korvane::synth::nc_check(nc_def_dim(ncid, dim.c_str(), NC_UNLIMITED, &d), "nc_def_dim");
        korvane::synth::nc_check(nc_def_var(ncid, name.c_str(), type, 1, &d, &id), "nc_def_var");
    };
    c.extra_write = [name, values](int ncid) {
        int id = -1;
        const std::size_t start = 0, count = values.size();
        korvane::synth::nc_check(nc_inq_varid(ncid, name.c_str(), &id), "nc_inq_varid");
        korvane::synth::nc_check(nc_put_vara_double(ncid, id, &start, &count, values.data()), "nc_put_vara_double");
    };
}

// A last variable of 2^32 bytes, unfilled so the file stays sparse: too large for the 32-bit
// stored size of the older formats, which hold 2^32 - 1 for it.
void add_4_gib_variable(Cdf_Content& c) {
    c.extra_define = [](int ncid) {
        int old_mode = 0, d = -1, id = -1;
        korvane::synth::nc_check(nc_set_fill(ncid, NC_NOFILL, &old_mode), "nc_set_fill");
        korvane::synth::nc_check(nc_def_dim(ncid, "blob_length", std::size_t{1} << 29, &d), "nc_def_dim");
        korvane::synth::nc_check(nc_def_var(ncid, "blob", NC_DOUBLE, 1, &d, &id), "nc_def_var");
    };
}

// Besides each format, the layouts the library writes that the header checks must accept: a lone
// record variable of a small type packed unpadded while its stored size is padded, several record
// variables padded to 4 bytes, 2^32 - 1 stored for a variable of 4 GiB, and intensities in
// another numeric type.
TEST(NetcdfReader, ReadsEveryArrayInEachFileFormat) {
    using Format = Cdf_Content::Format;
    struct Row {
        const char* name;
        Format format;
        bool unlimited;  // points on the record dimension
        std::function<void(Cdf_Content&)> add;
    };
    const auto record_shorts = [](Cdf_Content& c) { add_variable(c, "flag", NC_SHORT, "flag_number", {1, 2, 3, 4, 5, 6, 7}); };
    const auto record_bytes = [](Cdf_Content& c) { add_variable(c, "flag", NC_BYTE, "flag_number", {1, 2, 3, 4, 5}); };
    const auto point_bytes = [](Cdf_Content& c) { add_variable(c, "flag", NC_BYTE, "point_number", {1, 0, 1, 0, 1}); };
    const auto intensities_as = [](nc_type type) {
        return [type](Cdf_Content& c) {
            c.omit = {"intensity_values"};
            add_variable(c, "intensity_values", type, "point_number",
                         std::vector<double>(c.intensity_values.begin(), c.intensity_values.end()));
        };
    };
    std::vector<Row> rows;
    for (const Format_Row& f : kClassicFormats) rows.push_back({f.name, f.format, f.unlimited, [](Cdf_Content&) {}});
    rows.insert(rows.end(), {
        {"netCDF-4 classic model", Format::netcdf4, false, [](Cdf_Content&) {}},
        {"one short record variable, classic", Format::classic, false, record_shorts},
        {"one short record variable, CDF-5", Format::cdf5, false, record_shorts},
        {"one byte record variable, 64-bit offset", Format::offset64, false, record_bytes},
        {"three record variables, one of bytes, classic", Format::classic, true, point_bytes},
        {"three record variables, one of bytes, CDF-5", Format::cdf5, true, point_bytes},
        {"a 4 GiB variable, classic", Format::classic, false, add_4_gib_variable},
        {"a 4 GiB variable, 64-bit offset", Format::offset64, false, add_4_gib_variable},
        {"a 4 GiB variable, CDF-5", Format::cdf5, false, add_4_gib_variable},
        {"int intensities, classic", Format::classic, false, intensities_as(NC_INT)},
        {"double intensities, 64-bit offset", Format::offset64, false, intensities_as(NC_DOUBLE)},
        {"int intensities on the record dimension, classic", Format::classic, true, intensities_as(NC_INT)},
        {"double intensities, netCDF-4", Format::netcdf4, false, intensities_as(NC_DOUBLE)},
    });
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const TempDir dir;
        Cdf_Content c = three_scans();
        c.format = row.format;
        c.unlimited_points = row.unlimited;
        row.add(c);
        const Read r = read_sample(dir.str(), write(dir, c));
        ASSERT_EQ(r.rc, 1) << r.reason;
        EXPECT_EQ(r.reason, "");
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

// Numbers that do not increase would put every scan outside the clamped scan range and give no
// peaks without a word; such a file is numbered 1..n and a line says so.
TEST(NetcdfReader, ScanNumbersComeFromTheFileOnlyWhenTheyStartAboveZeroAndIncrease) {
    struct Row {
        const char* name;
        std::optional<std::vector<int>> actual;
        std::vector<std::uint32_t> expected;
        const char* line;
    };
    const Row rows[] = {
        {"absent", std::nullopt, {1, 2, 3}, ""},
        {"starting at 0", std::vector<int>{0, 1, 2}, {1, 2, 3}, ""},
        {"starting below 0", std::vector<int>{-4, 9, 10}, {1, 2, 3}, ""},
        {"starting at 5, kept as stored", std::vector<int>{5, 9, 70}, {5, 9, 70}, ""},
        {"decreasing", std::vector<int>{11, 13, 12}, {1, 2, 3}, " does not increase at scan 3; its scans are numbered 1 to 3\n"},
        {"constant", std::vector<int>{5, 5, 5}, {1, 2, 3}, " does not increase at scan 2; its scans are numbered 1 to 3\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const TempDir dir;
        Cdf_Content c = three_scans();
        c.actual_scan_number = row.actual;
        const std::string name = write(dir, c);
        testing::internal::CaptureStdout();
        const Read r = read_sample(dir.str(), name);
        const std::string out = testing::internal::GetCapturedStdout();
        ASSERT_EQ(r.rc, 1) << r.reason;
        EXPECT_EQ(r.num, row.expected);
        EXPECT_EQ(r.scans, row.expected.size());
        EXPECT_EQ(out, *row.line ? "actual_scan_number of " + dir.file(name) + row.line : "");
    }
}

// Only a regular file is opened: opening a FIFO would wait for a writer forever.
TEST(NetcdfReader, OnlyRegularNetcdfFilesAreRead) {
    const TempDir dir;
    dir.write("text.CDF", "this is not a netCDF file\n");
    dir.write("empty.CDF", "");
    std::filesystem::create_directory(dir.path() / "folder.CDF");
    ASSERT_EQ(mkfifo(dir.file("fifo.CDF").c_str(), 0600), 0);
    write(dir, three_scans(), "good.CDF");
    std::filesystem::create_symlink(dir.file("good.CDF"), dir.path() / "link.CDF");
    struct Row {
        const char* name;
        const char* reason;  // "" when it is read
    };
    const Row rows[] = {{"missing.CDF", "no such file or directory"},
                        {"text.CDF", "not a netCDF file"},
                        {"empty.CDF", "not a netCDF file"},
                        {"folder.CDF", "not a regular file"},
                        {"fifo.CDF", "not a regular file"},
                        {"link.CDF", ""}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Read r = read_sample(dir.str(), row.name);
        if (*row.reason) expect_refused(r, row.reason);
        else EXPECT_EQ(r.rc, 1) << r.reason;
    }
}

// point_count is never needed: scan_index says where scans end, and real files carry stale counts.
TEST(NetcdfReader, AMissingVariableFailsTheReadUnlessItIsPointCount) {
    for (const char* omitted : {"scan_acquisition_time", "total_intensity", "mass_values", "intensity_values",
                                "scan_index"}) {
        SCOPED_TRACE(omitted);
        const TempDir dir;
        Cdf_Content c = three_scans();
        c.omit = {omitted};
        expect_refused(read_sample(dir.str(), write(dir, c)), std::string("missing variable ") + omitted);
    }
    struct Row {
        const char* name;
        std::function<void(Cdf_Content&)> change;
        std::vector<std::uint32_t> index;
        std::vector<std::int32_t> counts;
    };
    const Row rows[] = {
        {"stale point_count kept as stored", [](Cdf_Content& c) { c.point_count = {7, 0, 7}; }, {0, 2, 4}, {7, 0, 7}},
        {"no point_count", [](Cdf_Content& c) { c.omit = {"point_count"}; }, {0, 2, 4}, {2, 2, 1}},
        {"point_count of another length", [](Cdf_Content& c) { c.point_count = {2, 2}; }, {0, 2, 4}, {2, 2, 1}},
        {"scan_index closed by the point count", [](Cdf_Content& c) { c.scan_index = {0, 2, 4, 5}; }, {0, 2, 4},
         {2, 2, 1}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const TempDir dir;
        Cdf_Content c = three_scans();
        row.change(c);
        const Read r = read_sample(dir.str(), write(dir, c));
        ASSERT_EQ(r.rc, 1) << r.reason;
        EXPECT_EQ(r.index, row.index);
        EXPECT_EQ(r.count, row.counts);
    }
}

// A variable that is not one-dimensional has no single length to read (the plain reader would
// index past its one-element start and count arrays); text cannot be read as numbers.
TEST(NetcdfReader, VariablesThatAreNotOneDimensionalOrNotNumbersFailTheRead) {
    struct Row {
        const char* name;
        const char* variable;
        int rank;
    };
    const Row rows[] = {{"scalar mass_values", "mass_values", 0},
                        {"2-D intensity_values", "intensity_values", 2},
                        {"text scan_index", "scan_index", -1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const TempDir dir;
        Cdf_Content c = three_scans();
        c.omit = {row.variable};
        const int rank = row.rank;
        const std::string variable = row.variable;
        c.extra_define = [rank, variable](int ncid) {
            int dims[2] = {0, 0}, id = 0;
            korvane::synth::nc_check(nc_def_dim(ncid, "odd_a", 5, &dims[0]), "def_dim");
            korvane::synth::nc_check(nc_def_dim(ncid, "odd_b", 2, &dims[1]), "def_dim");
            const nc_type type = rank < 0 ? NC_CHAR : NC_FLOAT;
            korvane::synth::nc_check(nc_def_var(ncid, variable.c_str(), type, rank < 0 ? 1 : rank, dims, &id), "def_var");
        };
        expect_refused(read_sample(dir.str(), write(dir, c)),
                       "variable " + variable + " has the wrong type or shape");
    }
}

// A change to the three-scan sample and the reason it is refused for.
struct Damage {
    const char* name;
    std::function<void(Cdf_Content&)> change;
    const char* reason;
};

template <std::size_t N>
void expect_each_refused(const Damage (&rows)[N]) {
    for (const Damage& row : rows) {
        SCOPED_TRACE(row.name);
        const TempDir dir;
        Cdf_Content c = three_scans();
        row.change(c);
        expect_refused(read_sample(dir.str(), write(dir, c)), row.reason);
    }
}

// Taking the shortest array would fold the remaining points into the last scan without a word.
TEST(NetcdfReader, ArraysOfDifferentLengthsAreRefusedWithTheirNames) {
    const Damage rows[] = {
        {"scan_acquisition_time shorter", [](Cdf_Content& c) { c.scan_acquisition_time = {1.5, 3.0}; },
         "inconsistent lengths of scan_acquisition_time (2) and scan_index (3)"},
        {"scan_index shorter", [](Cdf_Content& c) { c.scan_index = {0, 2}; },
         "inconsistent lengths of scan_acquisition_time (3) and scan_index (2)"},
        {"scan_index one longer, not closed by the point count", [](Cdf_Content& c) { c.scan_index = {0, 2, 4, 4}; },
         "inconsistent lengths of scan_acquisition_time (3) and scan_index (4)"},
        {"total_intensity longer", [](Cdf_Content& c) { c.total_intensity = {1, 2, 3, 4}; },
         "inconsistent lengths of scan_acquisition_time (3) and total_intensity (4)"},
        {"actual_scan_number shorter", [](Cdf_Content& c) { c.actual_scan_number = std::vector<int>{11, 12}; },
         "inconsistent lengths of scan_acquisition_time (3) and actual_scan_number (2)"},
        {"actual_scan_number empty", [](Cdf_Content& c) { c.actual_scan_number = std::vector<int>{}; },
         "inconsistent lengths of scan_acquisition_time (3) and actual_scan_number (0)"},
        {"intensity_values shorter", [](Cdf_Content& c) { c.intensity_values = {1, 2, 3}; },
         "inconsistent lengths of mass_values (5) and intensity_values (3)"},
        {"intensity_values longer", [](Cdf_Content& c) { c.intensity_values = {1, 2, 3, 4, 5, 6, 7}; },
         "inconsistent lengths of mass_values (5) and intensity_values (7)"},
    };
    expect_each_refused(rows);
}

// A half-split sample would be processed and aligned as if whole; NaN times collapse the
// alignment of every sample.
TEST(NetcdfReader, ImpossibleScanIndexesAndTimesAreRefused) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const Damage rows[] = {
        {"scan_index running backwards", [](Cdf_Content& c) { c.scan_index = {0, 4, 2}; },
         "scan_index decreases at scan 3"},
        {"scan_index past the points", [](Cdf_Content& c) { c.scan_index = {0, 2, 9}; },
         "scan_index points outside the point arrays"},
        {"scan_index one past the points", [](Cdf_Content& c) { c.scan_index = {0, 2, 6}; },
         "scan_index points outside the point arrays"},
        {"negative scan_index", [](Cdf_Content& c) { c.scan_index = {0, -3, 4}; },
         "scan_index points outside the point arrays"},
        {"NaN time", [nan](Cdf_Content& c) { c.scan_acquisition_time[1] = nan; }, "non-finite scan time at scan 2"},
        {"infinite time", [inf](Cdf_Content& c) { c.scan_acquisition_time[0] = -inf; }, "non-finite scan time at scan 1"},
        {"minutes too large for seconds",
         [](Cdf_Content& c) {
             c.scan_acquisition_time[2] = 1e308;
             c.global_units = "Minutes";
         },
         "non-finite scan time at scan 3"},
    };
    expect_each_refused(rows);
}

// The console's variant; the workbench's is tested in tests/engine/variant.
constexpr const char* kLibraryFile = "libnetcdf.so";
constexpr const char* kMissingLibrary = "libnetcdf.so doesn't exist in the current path or its parent path!";

bool loaded(const std::string& library) {
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

// A library planted in the working folder or its parent must never run: only the program's own
// folder, its parent and the system library are searched.
TEST(NetcdfLibrarySearch, LooksBesideTheProgramNeverInTheWorkingFolder) {
    const std::string program = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
    EXPECT_EQ(netcdf_library_candidates(),
              (std::vector<std::string>{program + "/../" + kLibraryFile, program + "/" + kLibraryFile, "libnetcdf.so.19"}));

    const TempDir dir;
    std::filesystem::create_directory(dir.path() / "work");
    const std::string planted[] = {dir.file(kLibraryFile), dir.file(std::string("work/") + kLibraryFile)};
    for (const std::string& p : planted) std::filesystem::copy_file(KORVANE_NETCDF_SHIM, p);
    write(dir, three_scans());
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path() / "work");
    korvane::require_netcdf_library();
    const Read r = read_sample(dir.str(), "s.CDF");
    std::filesystem::current_path(before);
    EXPECT_EQ(r.rc, 1) << r.reason;
    for (const std::string& p : planted) EXPECT_FALSE(loaded(p)) << p;
}

TEST(NetcdfLibrarySearch, CandidatesAreTriedInOrderUntilOneHasEveryEntryPoint) {
    const TempDir dir;
    write(dir, three_scans());
    const std::string not_a_library = dir.write("libnetcdf.so", "not a shared object");
    struct Row {
        const char* name;
        std::vector<std::string> candidates;
        bool usable;
        std::vector<std::string> failures;  // pieces of require_netcdf_library's message
    };
    const Row rows[] = {
        {"missing files and non-libraries are passed over",
         {"/nonexistent/libnetcdf.so", not_a_library, KORVANE_NETCDF_SHIM}, true, {}},
        {"a library lacking an entry point is closed and the next one used",
         {KORVANE_NETCDF_SHIM_WITHOUT_NDIMS, KORVANE_NETCDF_SHIM}, true, {}},
        {"none usable",
         {"/nonexistent/libnetcdf.so", not_a_library, KORVANE_NETCDF_SHIM_WITHOUT_NDIMS},
         false,
         {"no usable netCDF library; tried /nonexistent/libnetcdf.so did not load (",
          "; " + not_a_library + " did not load (",
          std::string("; ") + KORVANE_NETCDF_SHIM_WITHOUT_NDIMS + " lacks entry point nc_inq_ndims"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.usable) {
            EXPECT_NO_THROW(korvane::require_netcdf_library(row.candidates));
            EXPECT_EQ(read_with(dir.str(), "s.CDF", row.candidates).rc, 1);
        } else {
            try {
                korvane::require_netcdf_library(row.candidates);
                ADD_FAILURE() << "no exception";
            } catch (const std::runtime_error& e) {
                for (const std::string& piece : row.failures) EXPECT_THAT(e.what(), testing::HasSubstr(piece));
            }
            Read r;
            try {
                r = read_with(dir.str(), "s.CDF", row.candidates);
                ADD_FAILURE() << "no exception";
            } catch (const std::string& message) {
                EXPECT_EQ(message, kMissingLibrary);
            }
            EXPECT_TRUE(r.untouched());
        }
        EXPECT_FALSE(loaded(KORVANE_NETCDF_SHIM_WITHOUT_NDIMS));
    }
}

// The library is not safe for concurrent use: unserialised, two reading threads crashed or
// corrupted the heap.
TEST(NetcdfReader, ConcurrentReadsGetWhatALoneReadGets) {
    const TempDir dir;
    Cdf_Content c = regular_scans(300, 40);
    write(dir, c, "a.CDF");
    c.format = Cdf_Content::Format::netcdf4;
    write(dir, c, "b.CDF");
    const Read alone[] = {read_sample(dir.str(), "a.CDF"), read_sample(dir.str(), "b.CDF")};
    ASSERT_EQ(alone[0].rc, 1);
    ASSERT_EQ(alone[1].rc, 1);
    std::atomic<int> mismatches{0};
    const auto reader = [&](int first) {
        for (int i = 0; i < 20; ++i) {
            const int k = (first + i) % 2;
            if (!read_sample(dir.str(), k == 0 ? "a.CDF" : "b.CDF").same_arrays(alone[k])) ++mismatches;
        }
    };
    std::thread one(reader, 0), two(reader, 1);
    one.join();
    two.join();
    EXPECT_EQ(mismatches.load(), 0);
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
    const Read r = read_with(dir.str(), write(dir, three_scans()), {KORVANE_NETCDF_SHIM});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(open_mode(), NC_NOWRITE);
    EXPECT_EQ(opens(), 1);
    EXPECT_EQ(closes(), 1);
}

TEST_F(ShimTest, EveryFailingCallAfterTheOpenFailsTheReadAndStillCloses) {
    for (const char* entry : {"nc_inq_ndims", "nc_inq_varndims", "nc_inq_vartype", "nc_inq_vardimid", "nc_inq_dim", "nc_get_vara_double",
                              "nc_get_vara_float", "nc_get_vara_int", "nc_inq_varid:scan_index",
                              "nc_inq_varid:mass_values"}) {
        SCOPED_TRACE(entry);
        fn<void (*)()>("shim_reset")();
        fail(entry);
        const TempDir dir;
        const Read r = read_with(dir.str(), write(dir, three_scans()), {KORVANE_NETCDF_SHIM});
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
        const Read r = read_with(dir.str(), write(dir, three_scans()), {KORVANE_NETCDF_SHIM});
        ASSERT_EQ(r.rc, 1);
        EXPECT_EQ(r.time, (std::vector<double>{90, 180, 270}));
    }
}

TEST_F(ShimTest, AFailedOpenClosesNothing) {
    fail("nc_open");
    const TempDir dir;
    const Read r = read_with(dir.str(), write(dir, three_scans()), {KORVANE_NETCDF_SHIM});
    EXPECT_EQ(r.rc, 0);
    EXPECT_TRUE(r.untouched());
    EXPECT_EQ(closes(), 0);
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

// The bytes a refusal says the header needs, or 0 when it is no truncation of a file of `size`.
std::uint64_t needed_bytes(const std::string& reason, std::uintmax_t size) {
    unsigned long long n = 0, m = 0;
    int used = 0;
    if (std::sscanf(reason.c_str(), "truncated: %llu bytes, its header needs %llu%n", &n, &m, &used) != 2 ||
        static_cast<std::size_t>(used) != reason.size() || n != size)
        return 0;
    return m;
}

// The library reads the missing part of a classic-format file as zeros, so a file cut anywhere
// would be processed as if whole; a file longer than its header needs is fine.
TEST(NetcdfReader, ClassicFilesCutShortAreRefusedWithTheirSize) {
    for (const Format_Row& row : kClassicFormats) {
        SCOPED_TRACE(row.name);
        const TempDir dir;
        Cdf_Content c = regular_scans(40, 25);
        c.format = row.format;
        c.unlimited_points = row.unlimited;
        write(dir, c, "whole.CDF");
        const auto size = std::filesystem::file_size(dir.path() / "whole.CDF");
        for (std::uintmax_t step = 1; step <= 64; ++step) {
            const std::uintmax_t cut = step == 64 ? size - 1 : size * step / 64;
            SCOPED_TRACE(std::to_string(cut) + " of " + std::to_string(size) + " bytes");
            std::filesystem::copy_file(dir.path() / "whole.CDF", dir.path() / "cut.CDF",
                                       std::filesystem::copy_options::overwrite_existing);
            std::filesystem::resize_file(dir.path() / "cut.CDF", cut);
            const Read r = read_sample(dir.str(), "cut.CDF");
            EXPECT_EQ(r.rc, 0);
            EXPECT_TRUE(r.untouched());
            const std::uint64_t needed = needed_bytes(r.reason, cut);
            EXPECT_GT(needed, cut) << r.reason;
            EXPECT_LE(needed, size) << r.reason;
            if (step == 64) {
                EXPECT_EQ(needed, size) << r.reason;
            }
        }
        std::filesystem::resize_file(dir.path() / "whole.CDF", size + 3);
        EXPECT_EQ(read_sample(dir.str(), "whole.CDF").rc, 1);
    }
}

// A header claiming more than the file holds is refused from the header alone, before the
// library allocates for it or reads for minutes.
TEST(NetcdfReader, HeadersClaimingMoreThanTheFileHoldsAreRefused) {
    struct Row {
        const char* name;
        std::function<void(const std::string&)> inflate;
    };
    const Row rows[] = {
        {"400000 records", [](const std::string& p) { korvane::synth::set_record_count(p, 400000); }},
        {"2^31 - 1 records", [](const std::string& p) { korvane::synth::set_record_count(p, 0x7fffffffu); }},
        {"a point dimension of 2^31 - 16",
         [](const std::string& p) { korvane::synth::set_dimension_length(p, "point_number", 0x7ffffff0u); }},
        {"a scan dimension of 2^31 - 16",
         [](const std::string& p) { korvane::synth::set_dimension_length(p, "scan_number", 0x7ffffff0u); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const TempDir dir;
        Cdf_Content c = regular_scans(40, 25);
        c.unlimited_points = true;
        write(dir, c, "s.CDF");
        row.inflate(dir.file("s.CDF"));
        const auto size = std::filesystem::file_size(dir.path() / "s.CDF");
        const Read r = read_sample(dir.str(), "s.CDF");
        EXPECT_EQ(r.rc, 0);
        EXPECT_TRUE(r.untouched());
        EXPECT_GT(needed_bytes(r.reason, size), size) << r.reason;
    }
}

// A streaming writer leaves the record count all ones, for the file size to tell; the library
// takes that as 2^32 - 1 records (2^64 - 1 in CDF-5), and the reader filled 16 GiB per array of
// the older formats and refused CDF-5 as misshapen. Only whole records count:
// the writer may not have finished the last one. Five records of a mass and an intensity, 8 bytes
// each, end the file.
TEST(NetcdfReader, StreamingRecordCountsTakeTheWholeRecordsTheFileHolds) {
    struct Row {
        const char* name;
        std::uintmax_t cut;   // bytes cut off the end
        std::uint32_t points;  // read, or 0 when refused
    };
    const Row rows[] = {
        {"whole", 0, 5},
        {"last intensity one byte short", 1, 4},
        {"fourth intensity one byte short", 9, 0},  // 3 points, but scan 3 starts at point 4
        {"no whole record", 40, 0},
    };
    for (const Format_Row& format : kClassicFormats) {
        if (!format.unlimited) continue;
        const TempDir dir;
        Cdf_Content c = three_scans();
        c.format = format.format;
        c.unlimited_points = true;
        const Read whole = read_sample(dir.str(), write(dir, c, "whole.CDF"));
        ASSERT_EQ(whole.rc, 1) << whole.reason;
        const auto size = std::filesystem::file_size(dir.path() / "whole.CDF");
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(format.name) + ": " + row.name);
            write(dir, c, "s.CDF");
            korvane::synth::set_record_count(dir.file("s.CDF"), format.format == Cdf_Content::Format::cdf5
                                                                    ? std::numeric_limits<std::uint64_t>::max()
                                                                    : 0xFFFFFFFFu);
            std::filesystem::resize_file(dir.path() / "s.CDF", size - row.cut);
            const Read r = read_sample(dir.str(), "s.CDF");
            if (row.points == 0) {
                expect_refused(r, "scan_index points outside the point arrays");
                continue;
            }
            Read expected = whole;
            expected.points = row.points;
            expected.mz.resize(row.points);
            expected.intensity.resize(row.points);
            ASSERT_EQ(r.rc, 1) << r.reason;
            EXPECT_EQ(r.points, row.points);
            EXPECT_TRUE(r.same_arrays(expected));
        }
    }
}

// The library sizes each variable from its dimensions and type and never looks at the size the
// header stores, so a dimension one short folded the last scans together and a changed type code
// read the bytes as other numbers, both with exit 0; data of two variables in one place reads one
// as the other.
TEST(NetcdfReader, HeadersThatContradictThemselvesAreRefused) {
    namespace synth = korvane::synth;
    using synth::Variable_Field;
    const auto begin_of = [](const std::string& p, const char* v) {
        return synth::variable_field(p, v, Variable_Field::begin);
    };
    struct Row {
        const char* name;
        bool records;  // points on the record dimension: 5 records of mass_values and intensity_values
        std::function<void(const std::string&)> damage;
        std::string reason;
        std::function<void(Cdf_Content&)> add = [](Cdf_Content&) {};
    };
    const std::string long_name(80, 'n');  // shown cut to 64 characters
    const Row rows[] = {
        {"scan dimension one short", false, [](const std::string& p) { synth::set_dimension_length(p, "scan_number", 2); },
         "variable scan_acquisition_time stores 24 bytes, its dimensions and type need 16"},
        {"intensity_values typed short", false,
         [](const std::string& p) { synth::set_variable_field(p, "intensity_values", Variable_Field::type, NC_SHORT); },
         "variable intensity_values stores 20 bytes, its dimensions and type need 12"},
        {"mass_values typed byte", false,
         [](const std::string& p) { synth::set_variable_field(p, "mass_values", Variable_Field::type, NC_BYTE); },
         "variable mass_values stores 20 bytes, its dimensions and type need 8"},
        {"stored size edited", false,
         [](const std::string& p) { synth::set_variable_field(p, "total_intensity", Variable_Field::vsize, 32); },
         "variable total_intensity stores 32 bytes, its dimensions and type need 24"},
        {"stored size edited, an escape byte in the name", false,
         [](const std::string& p) {
             synth::set_variable_field(p, "total_intensity", Variable_Field::vsize, 32);
             std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
             std::string bytes((std::istreambuf_iterator<char>(f)), {});
             f.seekp(static_cast<std::streamoff>(bytes.find("total_intensity") + 5));
             f.put('\x1b');
         },
         "variable total?intensity stores 32 bytes, its dimensions and type need 24"},
        {"stored size edited, a long name", false,
         [&](const std::string& p) { synth::set_variable_field(p, long_name, Variable_Field::vsize, 32); },
         "variable " + long_name.substr(0, 64) + "... stores 32 bytes, its dimensions and type need 24",
         [&](Cdf_Content& c) { add_variable(c, long_name, NC_DOUBLE, "scan_number", {1, 2, 3}); }},
        {"2^32 - 1 stored for a variable that fits", false,
         [](const std::string& p) { synth::set_variable_field(p, "scan_index", Variable_Field::vsize, 0xFFFFFFFFu); },
         "variable scan_index stores 4294967295 bytes, its dimensions and type need 12"},
        {"intensity_values begins inside mass_values", false,
         [&](const std::string& p) {
             synth::set_variable_field(p, "intensity_values", Variable_Field::begin, begin_of(p, "mass_values") + 4);
         },
         "data of variables mass_values and intensity_values overlap"},
        {"two record variables in one place", true,
         [&](const std::string& p) {
             synth::set_variable_field(p, "intensity_values", Variable_Field::begin, begin_of(p, "mass_values"));
         },
         "data of variables mass_values and intensity_values overlap"},
        {"a record slice running into the next record", true,
         [&](const std::string& p) {
             synth::set_variable_field(p, "intensity_values", Variable_Field::begin, begin_of(p, "mass_values") + 6);
             std::filesystem::resize_file(p, std::filesystem::file_size(p) + 8);  // not refused as cut short
         },
         "data of variables mass_values and intensity_values overlap"},
        {"non-record data in the second record", true,
         [&](const std::string& p) {
             synth::set_variable_field(p, "scan_index", Variable_Field::begin, begin_of(p, "mass_values") + 8);
         },
         "data of variables mass_values and scan_index overlap"},
    };
    for (const Format_Row& format : kClassicFormats) {
        if (format.unlimited) continue;  // the rows choose
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(format.name) + ": " + row.name);
            const TempDir dir;
            Cdf_Content c = three_scans();
            c.format = format.format;
            c.unlimited_points = row.records;
            row.add(c);
            const std::string name = write(dir, c);
            row.damage(dir.file(name));
            expect_refused(read_sample(dir.str(), name), std::string("header damaged: ") + row.reason);
        }
    }
}

// netCDF-4 files are left to the library: cut anywhere, they read cleanly or fail cleanly, and
// what they hand out splits without reading past an array (run under the sanitizer build).
TEST(NetcdfReader, CutNetcdf4FilesReadOrFailWithoutOverrunning) {
    const TempDir dir;
    Cdf_Content c = regular_scans(40, 25);
    c.format = Cdf_Content::Format::netcdf4;
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
            EXPECT_FALSE(r.reason.empty());
            continue;
        }
        ASSERT_EQ(r.rc, 1);
        std::vector<Spectrum_Scan> scans;
        testing::internal::CaptureStdout();
        spectrum_split(scans, r.scans, r.points, 0, 0xFFFFFFFFu, r.num, r.index, r.time, r.count, r.mz, r.intensity);
        testing::internal::GetCapturedStdout();
        EXPECT_LE(scans.size(), r.scans);
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
        ASSERT_EQ(r.rc, 1) << r.reason;
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
