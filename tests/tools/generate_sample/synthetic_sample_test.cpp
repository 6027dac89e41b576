#include "tools/generate_sample/synthetic_sample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "engine/io/netcdf_reader.h"
#include "engine/records/reference_tables.h"
#include "tools/generate_sample/cdf_writer.h"
#include "tools/generate_sample/sample_file.h"
#include "tests/support/temp_dir.h"

namespace {

using korvane::synth::Options;
using korvane::synth::Sample;

Options small_options(std::uint64_t seed = 7) {
    Options o;
    o.scans = 300;
    o.points_per_scan = 200;
    o.compounds = 40;
    o.seed = seed;
    return o;
}

bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST(SyntheticSample, SameOptionsGiveTheSameBytesAndAnotherSeedDoesNot) {
    const Sample a = korvane::synth::generate_sample(small_options());
    const Sample b = korvane::synth::generate_sample(small_options());
    const Sample c = korvane::synth::generate_sample(small_options(8));
    EXPECT_TRUE(same_bits(a.mass_value_arry, b.mass_value_arry));
    EXPECT_TRUE(same_bits(a.intensity_value_arry, b.intensity_value_arry));
    EXPECT_EQ(a.scan_index_arry, b.scan_index_arry);
    EXPECT_FALSE(same_bits(a.mass_value_arry, c.mass_value_arry));
}

// Samples of one experiment: the same compound seed gives the same compounds at nearly the same
// times, while each sample keeps its own noise; without it the compounds follow the seed.
TEST(SyntheticSample, CompoundSeedSharesCompoundsAcrossSamples) {
    std::vector<korvane::synth::Planted_Compound> a, b, c;
    Options o = small_options(7);
    o.compound_seed = 42;
    const Sample sa = korvane::synth::generate_sample(o, a);
    o.seed = 8;
    const Sample sb = korvane::synth::generate_sample(o, b);
    korvane::synth::generate_sample(small_options(8), c);
    ASSERT_EQ(a.size(), b.size());
    bool all_same = true;
    for (std::size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(a[i].monoisotopic_mass, b[i].monoisotopic_mass);
        EXPECT_EQ(a[i].fwhm_scans, b[i].fwhm_scans);
        EXPECT_LE(std::fabs(a[i].apex_time - b[i].apex_time), 4.0 * o.scan_time_step);
        all_same = all_same && a[i].monoisotopic_mass == c[i].monoisotopic_mass;
    }
    EXPECT_FALSE(all_same);
    EXPECT_FALSE(same_bits(sa.intensity_value_arry, sb.intensity_value_arry));
}

TEST(SyntheticSample, ArraysAreConsistentAndScansAscendInMz) {
    const Options o = small_options();
    const Sample s = korvane::synth::generate_sample(o);
    ASSERT_EQ(s.Total_Scan_Num, o.scans);
    ASSERT_EQ(s.scan_num_arry.size(), o.scans);
    EXPECT_EQ(s.Total_Point_Num, s.mass_value_arry.size());
    EXPECT_EQ(s.mass_value_arry.size(), s.intensity_value_arry.size());
    // The point budget is met on average to within the 5 % per-scan spread.
    EXPECT_NEAR(static_cast<double>(s.Total_Point_Num) / o.scans, o.points_per_scan, 0.05 * o.points_per_scan);
    std::size_t next = 0;
    for (std::uint32_t i = 0; i < o.scans; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(s.scan_num_arry[i], i + 1);
        EXPECT_EQ(s.scan_index_arry[i], next);
        EXPECT_DOUBLE_EQ(s.scan_acquisition_time_arry[i], i * o.scan_time_step);
        const std::size_t end = next + static_cast<std::size_t>(s.point_count_arry[i]);
        double tic = 0.0;
        for (std::size_t p = next; p < end; ++p) {
            if (p > next) {
                ASSERT_LE(s.mass_value_arry[p - 1], s.mass_value_arry[p]);
            }
            ASSERT_GE(s.mass_value_arry[p], o.min_mz * (1 - 1e-4));
            ASSERT_LE(s.mass_value_arry[p], o.max_mz * (1 + 1e-4));
            ASSERT_GT(s.intensity_value_arry[p], 0.0f);
            tic += s.intensity_value_arry[p];
        }
        EXPECT_DOUBLE_EQ(s.total_intensity_arry[i], tic);
        next = end;
    }
    EXPECT_EQ(next, s.Total_Point_Num);
}

// A planted compound must be findable: at its apex scan the [M+H]+ ion is there within a few ppm,
// and it is the strongest point of that m/z window over the scans around it.
TEST(SyntheticSample, PlantedCompoundsShowTheirProtonatedIonAtTheApex) {
    Options o = small_options();
    o.compounds = 10;
    std::vector<korvane::synth::Planted_Compound> planted;
    const Sample s = korvane::synth::generate_sample(o, planted);
    ASSERT_EQ(planted.size(), 10u);
    std::vector<double> avg, mono;
    read_hmdb_file(korvane::synth::default_hmdb_csv(), avg, mono);
    for (const auto& c : planted) {
        SCOPED_TRACE(c.monoisotopic_mass);
        EXPECT_NE(std::find(mono.begin(), mono.end(), c.monoisotopic_mass), mono.end());
        EXPECT_GE(c.fwhm_scans, o.min_peak_width_scans);
        EXPECT_LE(c.fwhm_scans, o.max_peak_width_scans);
        const double mz = c.monoisotopic_mass + 1.007276;
        const auto apex_scan = static_cast<std::size_t>(std::lround(c.apex_time / o.scan_time_step));
        const std::size_t begin = s.scan_index_arry[apex_scan];
        const std::size_t end = begin + static_cast<std::size_t>(s.point_count_arry[apex_scan]);
        double best = 0.0;
        for (std::size_t p = begin; p < end; ++p)
            if (std::fabs(s.mass_value_arry[p] - mz) < mz * 20e-6) best = std::max<double>(best, s.intensity_value_arry[p]);
        EXPECT_GT(best, 0.5 * c.apex_intensity);
        EXPECT_LT(best, 1.5 * c.apex_intensity);
    }
}

TEST(SyntheticSample, BadOptionsAndMissingExportAreRejected) {
    struct Row {
        const char* name;
        Options options;
    };
    std::vector<Row> rows;
    Options o = small_options();
    o.scans = 0;
    rows.push_back({"no scans", o});
    o = small_options();
    o.min_peak_width_scans = 50;
    rows.push_back({"min width above max", o});
    o = small_options();
    o.min_mz = 2000;
    rows.push_back({"empty m/z window", o});
    o = small_options();
    o.scans = 4000000;
    o.points_per_scan = 4000;
    rows.push_back({"more points than a file holds", o});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_THROW(korvane::synth::generate_sample(row.options), std::invalid_argument);
    }
    o = small_options();
    o.hmdb_csv = "/nonexistent/hmdb.csv";
    EXPECT_THROW(korvane::synth::generate_sample(o), korvane::TableOpenError);
}

// An installed program finds the export installed beside it and needs no source tree; a
// program without one (a build, or an install that lost the file) uses the source tree's.
TEST(SyntheticSample, DefaultExportIsTheInstalledOneWhenThere) {
    const korvane::test::TempDir dir;
    const std::string source = std::string(KORVANE_SOURCE_DIR) + "/examples/config/hmdb.csv";
    const std::string bin = dir.file("bin");
    const std::string installed = dir.file("share/korvane/hmdb.csv");
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(dir.file("share/korvane"));
    std::filesystem::create_directories(dir.file("other/share/korvane/hmdb.csv"));
    struct Row {
        const char* name;
        std::string program_dir;
        bool install;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"unknown program folder", "", true, source},
        {"nothing installed", bin, false, source},
        {"installed", bin, true, installed},
        {"a folder of that name is no export", dir.file("other/bin"), false, source},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.install) dir.write("share/korvane/hmdb.csv", "HMDB\n");
        else std::filesystem::remove(installed);
        EXPECT_EQ(korvane::synth::default_hmdb_csv(row.program_dir), row.expected);
    }
}

// The generator's file, read back by the engine's reader, gives the arrays that were written.
TEST(SyntheticSample, WrittenFileReadsBackUnchanged) {
    const korvane::test::TempDir dir;
    const Sample s = korvane::synth::generate_sample(small_options());
    korvane::synth::write_sample_cdf(dir.file("synthetic.CDF"), s);

    std::uint32_t scans = 0, points = 0;
    std::vector<std::uint32_t> num, index;
    std::vector<std::int32_t> count;
    std::vector<double> time, tic;
    std::vector<float> mz, intensity;
    ASSERT_EQ(necdf_read(dir.str(), "synthetic.CDF", scans, points, num, index, count, time, mz, intensity, tic), 1);
    EXPECT_EQ(scans, s.Total_Scan_Num);
    EXPECT_EQ(points, s.Total_Point_Num);
    EXPECT_EQ(num, s.scan_num_arry);
    EXPECT_EQ(index, s.scan_index_arry);
    EXPECT_EQ(count, s.point_count_arry);
    EXPECT_EQ(time, s.scan_acquisition_time_arry);
    EXPECT_EQ(tic, s.total_intensity_arry);
    EXPECT_TRUE(same_bits(mz, s.mass_value_arry));
    EXPECT_TRUE(same_bits(intensity, s.intensity_value_arry));
}

// A header rewrite that cannot be written back says so, rather than leave the caller a file that is
// not the one it asked for.
TEST(CdfWriter, HeaderRewriteThatCannotBeWrittenThrows) {
    const korvane::test::TempDir dir;
    const std::string path = dir.file("small.CDF");
    korvane::synth::Cdf_Content c;
    c.scan_acquisition_time = {0.0};
    c.total_intensity = {1.0};
    c.mass_values = {100.0f};
    c.intensity_values = {1.0f};
    c.scan_index = {0};
    c.point_count = {1};
    korvane::synth::write_cdf(path, c);
    const korvane::test::FileSizeLimit limit(16);
    EXPECT_THROW(korvane::synth::set_record_count(path, 2), std::runtime_error);
}

}  // namespace
