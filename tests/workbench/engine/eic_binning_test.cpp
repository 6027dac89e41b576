#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/workbench/engine/facade_test_support.h"
#include "workbench/engine/korvane_engine.h"

namespace {

// A sample as the flat arrays the reader hands out, built scan by scan.
struct Flat_Sample {
    std::vector<std::uint32_t> scan_num;
    std::vector<std::uint32_t> scan_index;
    std::vector<std::int32_t> point_count;
    std::vector<double> time;
    std::vector<float> mz;
    std::vector<float> intensity;

    void add_scan(std::uint32_t number, double t, std::vector<float> masses, std::vector<float> intensities) {
        scan_num.push_back(number);
        scan_index.push_back(static_cast<std::uint32_t>(mz.size()));
        point_count.push_back(static_cast<std::int32_t>(masses.size()));
        time.push_back(t);
        mz.insert(mz.end(), masses.begin(), masses.end());
        intensity.insert(intensity.end(), intensities.begin(), intensities.end());
    }
    std::uint32_t scans() const { return static_cast<std::uint32_t>(scan_num.size()); }
    std::uint32_t points() const { return static_cast<std::uint32_t>(mz.size()); }

    // Hands the sample to the facade as a loaded file (total intensities are not read by binning).
    void load_into(CKORVANE_Engine& engine) const {
        engine.Total_Scan_Num = scans();
        engine.Total_Point_Num = points();
        engine.scan_num_arry = scan_num;
        engine.scan_index_arry = scan_index;
        engine.point_count_arry = point_count;
        engine.scan_acquisition_time_arry = time;
        engine.mass_value_arry = mz;
        engine.intensity_value_arry = intensity;
    }

    void bin(std::uint32_t start, std::uint32_t end, double mass_bin, double ppm, double bin_size, bool ppm_da,
             Mass_Trace& trace) const {
        EIC_extraction_binning(scans(), points(), start, end, scan_num.data(), scan_index.data(), time.data(),
                               point_count.data(), mz.data(), intensity.data(), mass_bin, ppm, bin_size, ppm_da,
                               trace);
    }
};

std::vector<std::uint32_t> scans_of(const Mass_Trace& t) {
    std::vector<std::uint32_t> v;
    for (const Data_Point& p : t.EIC_shape) v.push_back(p.scan_num);
    return v;
}

// One scan per candidate mass, each scan holding only that mass: the scans with a point are the
// masses inside the window.
TEST(EicBinning, WindowBoundsAreInclusiveInSinglePrecision) {
    struct Case {
        const char* name;
        bool ppm_da;
        double ppm, bin_size;
        float lower, upper;
    };
    const Case cases[] = {
        {"40 ppm around 100", true, 40.0, 0.0, 99.996f, 100.004f},
        {"0.1 Da around 100", false, 0.0, 0.1, 99.9f, 100.1f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Flat_Sample s;
        const std::vector<float> masses = {std::nextafter(c.lower, 0.0f), c.lower, 100.0f, c.upper,
                                           std::nextafter(c.upper, 1000.0f)};
        for (std::size_t i = 0; i < masses.size(); ++i)
            s.add_scan(static_cast<std::uint32_t>(i + 1), 0.5 * static_cast<double>(i), {masses[i]}, {7.0f});
        Mass_Trace t;
        s.bin(0, 100, 100.0, c.ppm, c.bin_size, c.ppm_da, t);
        EXPECT_EQ(scans_of(t), (std::vector<std::uint32_t>{2, 3, 4}));
        EXPECT_EQ(t.trace_length, 3);
        EXPECT_EQ(t.miss_count, 1);  // the last scan
        EXPECT_EQ(t.Cent_Mass, 100.0);
        ASSERT_EQ(t.EIC_shape.size(), 3u);
        EXPECT_EQ(t.EIC_shape[0].mz, static_cast<double>(c.lower));
        EXPECT_EQ(t.EIC_shape[0].retention_time, 0.5);
        EXPECT_EQ(t.EIC_shape[0].intensity, 7.0);
    }
}

TEST(EicBinning, HitsOfOneScanGiveTheirMeanMassAndSummedIntensity) {
    Flat_Sample s;
    s.add_scan(10, 1.0, {99.0f, 100.0f, 100.002f, 101.0f}, {1.0f, 10.0f, 30.5f, 1.0f});
    Mass_Trace t;
    s.bin(0, 100, 100.0, 40.0, 0.0, true, t);
    ASSERT_EQ(t.EIC_shape.size(), 1u);
    EXPECT_EQ(t.EIC_shape[0].scan_num, 10u);
    EXPECT_EQ(t.EIC_shape[0].mz, (100.0 + static_cast<double>(100.002f)) / 2.0);
    EXPECT_EQ(t.EIC_shape[0].intensity, 40.5);
    EXPECT_EQ(t.trace_length, 1);
    EXPECT_EQ(t.miss_count, 0);
}

TEST(EicBinning, NoHitKeepsTheCallersPointsAndCountsEveryScanInRangeAsMissed) {
    Flat_Sample s;
    for (std::uint32_t n = 1; n <= 6; ++n) s.add_scan(n, n, {50.0f, 300.0f}, {1.0f, 1.0f});
    s.add_scan(7, 7, {}, {});  // an empty scan is a miss too
    Mass_Trace t;
    t.EIC_shape.push_back(Data_Point{99, 9.0, 9.0, 9.0});
    t.trace_length = 42;
    t.miss_count = 42;
    t.Cent_Mass = 1.0;
    s.bin(2, 7, 100.0, 40.0, 0.0, true, t);
    ASSERT_EQ(t.EIC_shape.size(), 1u);
    EXPECT_EQ(t.EIC_shape[0].scan_num, 99u);
    EXPECT_EQ(t.trace_length, 0);
    EXPECT_EQ(t.miss_count, 6);
    EXPECT_EQ(t.Cent_Mass, 100.0);
}

TEST(EicBinning, ScanRangeIsClampedToTheFirstAndLastScanNumbers) {
    Flat_Sample s;
    for (std::uint32_t n = 1; n <= 5; ++n) s.add_scan(n, n, {100.0f}, {1.0f});
    struct Case {
        const char* name;
        std::uint32_t start, end;
        std::vector<std::uint32_t> scans;
    };
    const Case cases[] = {
        {"start 0 and end past the last", 0, 99, {1, 2, 3, 4, 5}},
        {"both inside", 2, 4, {2, 3, 4}},
        {"both below the first", 0, 0, {1}},
        {"both above the last", 7, 9, {5}},
        {"start after end", 4, 2, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Mass_Trace t;
        s.bin(c.start, c.end, 100.0, 40.0, 0.0, true, t);
        EXPECT_EQ(scans_of(t), c.scans);
        EXPECT_EQ(t.trace_length, static_cast<std::int32_t>(c.scans.size()));
    }
}

TEST(EicBinning, BrokenPointRangeStopsWithTheErrorLineAndKeepsEarlierPoints) {
    struct Case {
        const char* name;
        std::vector<std::uint32_t> scan_index;
        std::uint32_t total_points;
        std::uint32_t start;
        std::string line;
        std::vector<std::uint32_t> kept;
    };
    const Case cases[] = {
        {"backwards range", {0, 3, 2, 4}, 5, 0, "EIC binning error at Scan=12\n", {11}},
        {"last scan backwards", {0, 1, 2, 6}, 5, 14, "EIC binning error at Scan=14\n", {}},
        {"range past the last point", {0, 1, 2, 9}, 5, 0, "EIC binning error at Scan=13\n", {11, 12}},
        {"sound ranges", {0, 1, 2, 4}, 5, 0, "", {11, 12, 13, 14}},
    };
    const std::vector<std::uint32_t> scan_num = {11, 12, 13, 14};
    const std::vector<double> time = {1, 2, 3, 4};
    const std::vector<std::int32_t> counts = {1, 1, 1, 1};
    const std::vector<float> mz(16, 100.0f), intensity(16, 2.0f);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Mass_Trace t;
        testing::internal::CaptureStdout();
        EIC_extraction_binning(4, c.total_points, c.start, 100, scan_num.data(), c.scan_index.data(), time.data(),
                               counts.data(), mz.data(), intensity.data(), 100.0, 40.0, 0.0, true, t);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
        EXPECT_EQ(scans_of(t), c.kept);
    }
}

TEST(EicBinning, ScanFormMatchesTheArrayFormAndSkipsFlaggedScans) {
    // A synthetic sample: both forms must give the same points over every scan.
    const korvane::synth::Sample s = korvane::synth::generate_sample(korvane::test::small_sample_options(3));
    std::vector<Spectrum_Scan> scans = korvane::synth::generate_scans(korvane::test::small_sample_options(3));
    ASSERT_EQ(scans.size(), s.Total_Scan_Num);
    for (const double mass : {static_cast<double>(s.mass_value_arry[s.scan_index_arry[100]]), 300.0}) {
        SCOPED_TRACE(mass);
        Mass_Trace from_arrays, from_scans;
        EIC_extraction_binning(s.Total_Scan_Num, s.Total_Point_Num, 0, s.Total_Scan_Num, s.scan_num_arry.data(),
                               s.scan_index_arry.data(), s.scan_acquisition_time_arry.data(),
                               s.point_count_arry.data(), s.mass_value_arry.data(), s.intensity_value_arry.data(),
                               mass, 10.0, 0.0, true, from_arrays);
        EIC_extraction_binning(scans, mass, 10.0, 0.0, true, from_scans);
        ASSERT_EQ(from_arrays.EIC_shape.size(), from_scans.EIC_shape.size());
        for (std::size_t k = 0; k < from_arrays.EIC_shape.size(); ++k) {
            EXPECT_EQ(from_arrays.EIC_shape[k].scan_num, from_scans.EIC_shape[k].scan_num);
            EXPECT_EQ(from_arrays.EIC_shape[k].retention_time, from_scans.EIC_shape[k].retention_time);
            EXPECT_EQ(from_arrays.EIC_shape[k].mz, from_scans.EIC_shape[k].mz);
            EXPECT_EQ(from_arrays.EIC_shape[k].intensity, from_scans.EIC_shape[k].intensity);
        }
        EXPECT_EQ(from_arrays.trace_length, from_scans.trace_length);
        EXPECT_EQ(from_arrays.miss_count, from_scans.miss_count);
    }
    // The first scan's own mass is found there; flagged empty, the scan is a miss.
    const double first_mass = s.mass_value_arry[0];
    Mass_Trace before, after;
    EIC_extraction_binning(scans, first_mass, 10.0, 0.0, true, before);
    ASSERT_FALSE(before.EIC_shape.empty());
    ASSERT_EQ(before.EIC_shape[0].scan_num, scans[0].scan_num);
    scans[0].empty_flag = 1;
    EIC_extraction_binning(scans, first_mass, 10.0, 0.0, true, after);
    EXPECT_TRUE(after.EIC_shape.empty() || after.EIC_shape[0].scan_num != scans[0].scan_num);
    EXPECT_EQ(after.trace_length, before.trace_length - 1);
}

TEST(EicBinning, FacadeBinsTheLoadedSampleAndNothingWhenNothingIsLoaded) {
    CKORVANE_Engine engine;
    Flat_Sample s;
    s.add_scan(1, 0.0, {100.0f}, {5.0f});
    s.add_scan(2, 0.5, {99.0f}, {5.0f});
    s.add_scan(3, 1.0, {100.001f}, {6.0f});
    s.load_into(engine);
    engine.total_intensity_arry = {5.0, 5.0, 6.0};

    Mass_Trace t;
    engine.Engine_EIC_extraction_binning(100.0, 40.0, 0.0, true, t);
    EXPECT_EQ(scans_of(t), (std::vector<std::uint32_t>{1, 3}));
    EXPECT_EQ(t.miss_count, 0);

    // Counts that promise more than the arrays hold are not trusted.
    engine.Total_Point_Num = 1000;
    Mass_Trace too_many;
    engine.Engine_EIC_extraction_binning(100.0, 40.0, 0.0, true, too_many);
    EXPECT_TRUE(too_many.EIC_shape.empty());

    // clean_engine keeps the counts; the binning must not read the released arrays through them.
    engine.Total_Point_Num = s.points();
    engine.clean_engine();
    Mass_Trace empty;
    empty.miss_count = 5;
    engine.Engine_EIC_extraction_binning(100.0, 40.0, 0.0, true, empty);
    EXPECT_TRUE(empty.EIC_shape.empty());
    EXPECT_EQ(empty.miss_count, 0);
    EXPECT_EQ(empty.trace_length, 0);
}

// The facade bins the whole sample, also when the file numbers its scans from an offset (the
// scan count is then no scan number).
TEST(EicBinning, FacadeBinsEveryScanWhateverTheFirstScanNumber) {
    for (const std::uint32_t first : {1u, 101u}) {
        SCOPED_TRACE(first);
        CKORVANE_Engine engine;
        Flat_Sample s;
        for (std::uint32_t k = 0; k < 4; ++k) s.add_scan(first + k, k, {100.0f}, {1.0f});
        s.load_into(engine);
        Mass_Trace t;
        engine.Engine_EIC_extraction_binning(100.0, 40.0, 0.0, true, t);
        EXPECT_EQ(scans_of(t), s.scan_num);
        EXPECT_EQ(t.trace_length, 4);
    }
}

// A scan whose intensities are fewer than its masses is counted as a miss, not read past its end.
TEST(EicBinning, ScanFormCountsAScanWithMismatchedVectorsAsAMiss) {
    Spectrum_Scan broken;
    broken.scan_num = 1;
    broken.mass_values = {99.0f, 100.0f};
    broken.intensity_values = {1.0f};
    Spectrum_Scan sound = broken;
    sound.scan_num = 2;
    sound.intensity_values = {1.0f, 2.0f};
    Mass_Trace t;
    EIC_extraction_binning({broken, sound}, 100.0, 40.0, 0.0, true, t);
    EXPECT_EQ(scans_of(t), (std::vector<std::uint32_t>{2}));
    EXPECT_EQ(t.trace_length, 1);
    EXPECT_EQ(t.miss_count, 0);
    EIC_extraction_binning({sound, broken}, 100.0, 40.0, 0.0, true, t);
    EXPECT_EQ(t.miss_count, 1);
}

}  // namespace
