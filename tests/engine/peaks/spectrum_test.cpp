#include "engine/peaks/spectrum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <random>

#include "reference/spectrum_oracle.h"

namespace {

constexpr std::uint32_t kAll = std::numeric_limits<std::uint32_t>::max();
const std::string kSplitDone = "Spectrum spliting Finished!\n";
const std::string kCutoffDone = "Intensity cutoff Finished!\n";

// Four scans numbered 5..8 with 2, 0, 3 and 1 points; point_count is deliberately wrong, as in
// files whose counts describe the uncut scans.
struct Flat_Sample {
    std::vector<std::uint32_t> num{5, 6, 7, 8}, index{0, 2, 2, 5};
    std::vector<double> time{10, 20, 30, 40};
    std::vector<std::int32_t> count{9, 9, 9, 9};
    std::vector<float> mz{100, 101, 200, 201, 202, 300};
    std::vector<float> intensity{1, 2, 3, 4, 5, 6};
    std::uint32_t scans = 4, points = 6;
};

std::vector<Spectrum_Scan> split(const Flat_Sample& f, std::uint32_t start, std::uint32_t end, std::string* out = nullptr) {
    std::vector<Spectrum_Scan> scans;
    testing::internal::CaptureStdout();
    spectrum_split(scans, f.scans, f.points, start, end, f.num, f.index, f.time, f.count, f.mz, f.intensity);
    const std::string text = testing::internal::GetCapturedStdout();
    if (out) *out = text;
    return scans;
}

std::vector<std::uint32_t> scan_numbers(const std::vector<Spectrum_Scan>& scans) {
    std::vector<std::uint32_t> n;
    for (const auto& s : scans) n.push_back(s.scan_num);
    return n;
}

TEST(SpectrumSplit, RequestedRangeIsClampedToTheFirstAndLastScanNumbers) {
    struct Row {
        const char* name;
        std::uint32_t start, end;
        std::vector<std::uint32_t> expected;
    };
    const Row rows[] = {
        {"everything", 0, kAll, {5, 6, 7, 8}},
        {"inside", 6, 7, {6, 7}},
        {"entirely below: first scan only", 0, 2, {5}},
        {"entirely above: last scan only", 100, 200, {8}},
        {"start after end", 7, 6, {}},
        {"start after end once clamped", 9, 3, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string out;
        EXPECT_EQ(scan_numbers(split(Flat_Sample{}, row.start, row.end, &out)), row.expected);
        EXPECT_EQ(out, kSplitDone);
    }
}

TEST(SpectrumSplit, PointsRunFromScanIndexToTheNextScanAndEmptyScansAreFlagged) {
    const auto scans = split(Flat_Sample{}, 0, kAll);
    ASSERT_EQ(scans.size(), 4u);
    EXPECT_EQ(scans[0].mass_values, (std::vector<float>{100, 101}));
    EXPECT_EQ(scans[0].intensity_values, (std::vector<float>{1, 2}));
    EXPECT_EQ(scans[0].empty_flag, 0);
    EXPECT_DOUBLE_EQ(scans[0].scan_acquisition_time, 10);
    EXPECT_TRUE(scans[1].mass_values.empty());
    EXPECT_TRUE(scans[1].intensity_values.empty());
    EXPECT_EQ(scans[1].empty_flag, 1);
    EXPECT_EQ(scans[2].mass_values, (std::vector<float>{200, 201, 202}));
    // The last scan runs to the point count, whatever point_count says.
    EXPECT_EQ(scans[3].mass_values, (std::vector<float>{300}));
    EXPECT_EQ(scans[3].intensity_values, (std::vector<float>{6}));
    EXPECT_DOUBLE_EQ(scans[3].scan_acquisition_time, 40);
}

TEST(SpectrumSplit, UnsortedScanNumbersAreTestedScanByScan) {
    Flat_Sample f;
    // The bounds come from the first and last entries, not the smallest and largest: with first
    // 8 and last 6, a request from 8 upward clamps to [6, 6].
    f.num = {8, 5, 7, 6};
    EXPECT_EQ(scan_numbers(split(f, 8, kAll)), (std::vector<std::uint32_t>{6}));
    f.num = {5, 9, 6, 8};
    EXPECT_EQ(scan_numbers(split(f, 6, 8)), (std::vector<std::uint32_t>{6, 8}));
}

TEST(SpectrumSplit, BadScanBoundsStopTheLoopAndKeepEarlierRecords) {
    struct Row {
        const char* name;
        std::vector<std::uint32_t> index;
        std::uint32_t points;
        std::vector<std::uint32_t> kept;
        std::string line;
    };
    const Row rows[] = {
        {"start after end", {0, 3, 2, 5}, 6, {5}, "split spectrum error at Scan=6\n"},
        {"end past the point count", {0, 2, 2, 7}, 6, {5, 6}, "split spectrum error at Scan=7\n"},
        {"last scan starts past the points", {0, 2, 2, 5}, 4, {5, 6}, "split spectrum error at Scan=7\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Flat_Sample f;
        f.index = row.index;
        f.points = row.points;
        std::string out;
        EXPECT_EQ(scan_numbers(split(f, 0, kAll, &out)), row.kept);
        EXPECT_EQ(out, row.line + kSplitDone);
    }
}

TEST(SpectrumSplit, CountsBeyondTheArraysAndEmptySamplesAreSafe) {
    struct Row {
        const char* name;
        std::uint32_t scans, points;
        std::size_t records;
    };
    const Row rows[] = {
        {"no scans", 0, 6, 0},
        {"scan count beyond the arrays", 40, 6, 4},
        {"point count beyond the arrays", 4, 600, 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Flat_Sample f;
        f.scans = row.scans;
        f.points = row.points;
        std::string out;
        const auto scans = split(f, 0, kAll, &out);
        EXPECT_EQ(scans.size(), row.records);
        EXPECT_EQ(out, kSplitDone);
        if (!scans.empty()) {
            EXPECT_EQ(scans.back().mass_values, std::vector<float>{300});
        }
    }
    Flat_Sample empty;
    empty.num.clear();
    empty.index.clear();
    empty.time.clear();
    EXPECT_TRUE(split(empty, 0, kAll).empty());
}

TEST(SpectrumSplit, AppendsToTheCallersVector) {
    Flat_Sample f;
    std::vector<Spectrum_Scan> scans(1);
    scans[0].scan_num = 99;
    testing::internal::CaptureStdout();
    spectrum_split(scans, f.scans, f.points, 5, 5, f.num, f.index, f.time, f.count, f.mz, f.intensity);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(scan_numbers(scans), (std::vector<std::uint32_t>{99, 5}));
}

Spectrum_Scan make_scan(std::vector<float> intensity) {
    Spectrum_Scan s;
    s.scan_num = 1;
    for (std::size_t i = 0; i < intensity.size(); ++i) s.mass_values.push_back(static_cast<float>(i + 1));
    s.intensity_values = std::move(intensity);
    return s;
}

std::string cutoff(std::vector<Spectrum_Scan>& scans, std::int32_t value, std::uint32_t top, double percent, std::int32_t mode) {
    testing::internal::CaptureStdout();
    intensity_cutoff(scans, value, top, percent, mode);
    return testing::internal::GetCapturedStdout();
}

TEST(IntensityCutoff, ThresholdsByModeKeepTiesAndInputOrder) {
    struct Row {
        const char* name;
        std::int32_t mode, value;
        std::uint32_t top;
        double percent;
        std::vector<float> kept_mz;
    };
    // Intensities 5 1 3 3 2 at m/z 1..5; sorted 1 2 3 3 5.
    const Row rows[] = {
        {"mode 1", 1, 3, 0, 0, {1, 3, 4}},
        {"mode 1 at zero keeps all", 1, 0, 0, 0, {1, 2, 3, 4, 5}},
        {"mode 0 acts as mode 1", 0, 3, 1, 0.9, {1, 3, 4}},
        {"unknown mode acts as mode 1", 7, 2, 1, 0.9, {1, 3, 4, 5}},
        {"top 1", 2, 0, 1, 0, {1}},
        {"top 2 keeps the tie", 2, 0, 2, 0, {1, 3, 4}},
        {"top 4", 2, 0, 4, 0, {1, 3, 4, 5}},
        {"top beyond the count keeps all", 2, 0, 10, 0, {1, 2, 3, 4, 5}},
        {"0 percent keeps all", 3, 0, 0, 0.0, {1, 2, 3, 4, 5}},
        {"50 percent: third smallest", 3, 0, 0, 0.5, {1, 3, 4}},
        {"39 percent: index 1", 3, 0, 0, 0.39, {1, 3, 4, 5}},
        {"99 percent: the largest", 3, 0, 0, 0.99, {1}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<Spectrum_Scan> scans{make_scan({5, 1, 3, 3, 2})};
        EXPECT_EQ(cutoff(scans, row.value, row.top, row.percent, row.mode), kCutoffDone);
        EXPECT_EQ(scans[0].mass_values, row.kept_mz);
        ASSERT_EQ(scans[0].intensity_values.size(), row.kept_mz.size());
        for (std::size_t i = 0; i < row.kept_mz.size(); ++i)
            EXPECT_EQ(scans[0].intensity_values[i], (std::vector<float>{5, 1, 3, 3, 2})[row.kept_mz[i] - 1]);
        EXPECT_EQ(scans[0].empty_flag, 0);
    }
}

TEST(IntensityCutoff, EmptyAndInconsistentScansAreReportedByPositionAndLeftAlone) {
    std::vector<Spectrum_Scan> scans{make_scan({1, 9}), make_scan({}), make_scan({4, 5}), make_scan({9})};
    scans[1].scan_num = 40;
    scans[1].empty_flag = 1;
    scans[2].mass_values.push_back(7);  // 3 m/z values, 2 intensities
    EXPECT_EQ(cutoff(scans, 5, 0, 0, 1),
              "intensity cutoff error at Scan=1\nintensity cutoff error at Scan=2\n" + kCutoffDone);
    EXPECT_EQ(scans[0].mass_values, std::vector<float>{2});
    EXPECT_TRUE(scans[1].mass_values.empty());
    EXPECT_EQ(scans[1].empty_flag, 1);
    EXPECT_EQ(scans[2].mass_values, (std::vector<float>{1, 2, 7}));
    EXPECT_EQ(scans[2].intensity_values, (std::vector<float>{4, 5}));
    EXPECT_EQ(scans[3].mass_values, std::vector<float>{1});
}

TEST(IntensityCutoff, AScanThatLosesEveryPointIsFlaggedEmptyAndNaNIsDropped) {
    std::vector<Spectrum_Scan> scans{make_scan({1, 2}), make_scan({std::nanf(""), 8, std::nanf("")})};
    cutoff(scans, 5, 0, 0, 1);
    EXPECT_TRUE(scans[0].mass_values.empty());
    EXPECT_TRUE(scans[0].intensity_values.empty());
    EXPECT_EQ(scans[0].empty_flag, 1);
    EXPECT_EQ(scans[1].mass_values, std::vector<float>{2});
    // An already empty-flagged scan keeps its flag when points remain.
    std::vector<Spectrum_Scan> flagged{make_scan({6})};
    flagged[0].empty_flag = 1;
    cutoff(flagged, 5, 0, 0, 1);
    EXPECT_EQ(flagged[0].empty_flag, 1);
}

// A top number of 0 or a percentage that is not a rank below n would index past the sorted
// intensities; such a parameter is reported once and nothing is changed.
TEST(IntensityCutoff, InvalidRankParametersAreReportedBeforeAnyScanIsTouched) {
    struct Row {
        const char* name;
        std::uint32_t top;
        double percent;
        std::int32_t mode;
        std::string line;
    };
    const Row rows[] = {
        {"top 0", 0, 0.5, 2, "intensity cutoff error: invalid Para_Cutoff_TopNumber=0\n"},
        {"percent 1", 5, 1.0, 3, "intensity cutoff error: invalid Para_Cutoff_LowPercent=1\n"},
        {"percent above 1", 5, 1.5, 3, "intensity cutoff error: invalid Para_Cutoff_LowPercent=1.5\n"},
        {"negative percent", 5, -0.1, 3, "intensity cutoff error: invalid Para_Cutoff_LowPercent=-0.1\n"},
        {"NaN percent", 5, std::nan(""), 3, "intensity cutoff error: invalid Para_Cutoff_LowPercent=nan\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<Spectrum_Scan> scans{make_scan({5, 1, 3}), make_scan({})};
        EXPECT_EQ(cutoff(scans, 2, row.top, row.percent, row.mode), row.line + kCutoffDone);
        EXPECT_EQ(scans[0].intensity_values, (std::vector<float>{5, 1, 3}));
        EXPECT_EQ(scans[0].empty_flag, 0);
    }
    // The same values are harmless in the modes that do not use them.
    std::vector<Spectrum_Scan> scans{make_scan({5, 1, 3})};
    EXPECT_EQ(cutoff(scans, 2, 0, 7.0, 1), kCutoffDone);
    EXPECT_EQ(scans[0].intensity_values, (std::vector<float>{5, 3}));
}

TEST(IntensityCutoff, ParameterConversionTruncatesAndSaturates) {
    struct Row {
        double in;
        std::int32_t out;
    };
    const Row rows[] = {{3.9, 3},
                        {-3.9, -3},
                        {2147483646.5, 2147483646},
                        {1e12, 2147483647},
                        {-1e12, -2147483647 - 1},
                        {std::numeric_limits<double>::infinity(), 2147483647},
                        {std::nan(""), 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.in);
        EXPECT_EQ(cutoff_intensity_from_parameter(row.in), row.out);
    }
}

// The engine finds the threshold by partial selection; it must keep exactly the points a full
// sort would, ties and all.
TEST(IntensityCutoff, SelectionKeepsWhatTheSortedTranscriptionKeeps) {
    std::mt19937_64 rng(20261209);
    for (std::size_t n : {1u, 2u, 3u, 7u, 64u, 513u}) {
        for (int trial = 0; trial < 20; ++trial) {
            std::vector<float> intensity(n);
            const int levels = trial % 2 ? 4 : 1000;  // few levels: many ties
            for (float& v : intensity) v = static_cast<float>(rng() % levels);
            Spectrum_Scan scan = make_scan(intensity);
            const std::uint32_t top = static_cast<std::uint32_t>(rng() % (n + 3)) + 1;
            const double percent = static_cast<double>(rng() % 1000) / 1000.0;
            for (std::int32_t mode : {2, 3}) {
                SCOPED_TRACE("n=" + std::to_string(n) + " mode=" + std::to_string(mode));
                std::vector<Spectrum_Scan> scans{scan};
                cutoff(scans, 0, top, percent, mode);
                std::vector<float> mz, in;
                oracle::cutoff_scan(scan.mass_values, scan.intensity_values, 0, top, percent, mode, mz, in);
                ASSERT_EQ(scans[0].mass_values, mz);
                ASSERT_EQ(scans[0].intensity_values, in);
            }
        }
    }
}

// m/z 100 + 0.01 i. Maximum A at 20, a minimum at 36 and maximum B at 55; both windows include
// the shared minimum, and every point of each window lies within 0.25 m/z of its apex.
struct Two_Peaks {
    std::vector<float> mz, intensity;
    Two_Peaks() {
        for (int i = 0; i <= 70; ++i) {
            float v;
            if (i <= 20) v = 50.0f * i;            // rises to A = 1000
            else if (i <= 34) v = 900;             // holds until A is confirmed at 34
            else if (i == 35) v = 400;
            else if (i == 36) v = 7;               // the minimum
            else if (i <= 49) v = 8;               // confirmed at 50
            else if (i <= 55) v = 100.0f + 140.0f * (i - 50);  // rises to B = 800
            else v = 100;                          // B confirmed at 69
            mz.push_back(static_cast<float>(100.0 + 0.01 * i));
            intensity.push_back(v);
        }
    }
    double sum(int lo, int hi) const { return std::accumulate(intensity.begin() + lo, intensity.begin() + hi + 1, 0.0); }
};

TEST(Profile2Centroid, WindowsRunBetweenMinimaAndShareThem) {
    const Two_Peaks p;
    std::vector<float> mz{-1}, in{-1};  // appended to, not cleared
    profile2centroid(p.mz, p.intensity, mz, in);
    ASSERT_EQ(mz.size(), 3u);
    EXPECT_EQ(mz[1], p.mz[20]);
    EXPECT_EQ(in[1], static_cast<float>(p.sum(0, 36)));
    EXPECT_EQ(mz[2], p.mz[55]);
    EXPECT_EQ(in[2], static_cast<float>(p.sum(36, 70)));
}

TEST(Profile2Centroid, OnlyPointsCloserThanAQuarterMzCount) {
    // One maximum and no recorded minimum: the window is the whole scan, m/z spaced 0.04, so
    // apex +- 6 points (0.24) count and +- 7 (0.28) do not.
    std::vector<float> mz, intensity;
    for (int i = 0; i < 40; ++i) {
        mz.push_back(static_cast<float>(200.0 + 0.04 * i));
        intensity.push_back(i == 10 ? 1000.0f : 10.0f);
    }
    std::vector<float> out_mz, out_in;
    profile2centroid(mz, intensity, out_mz, out_in);
    ASSERT_EQ(out_mz.size(), 1u);
    EXPECT_EQ(out_mz[0], mz[10]);
    EXPECT_EQ(out_in[0], 1000.0f + 12 * 10.0f);
}

TEST(Profile2Centroid, AMaximumNeedsFourteenPointsAfterItToBeRecorded) {
    struct Row {
        int after;
        std::size_t centroids;
    };
    for (const Row row : {Row{13, 0}, Row{14, 1}}) {
        SCOPED_TRACE(row.after);
        std::vector<float> intensity{10, 100};
        intensity.insert(intensity.end(), row.after, 50.0f);
        std::vector<float> mz(intensity.size());
        for (std::size_t i = 0; i < mz.size(); ++i) mz[i] = static_cast<float>(300.0 + 0.1 * i);
        std::vector<float> out_mz, out_in;
        profile2centroid(mz, intensity, out_mz, out_in);
        EXPECT_EQ(out_mz.size(), row.centroids);
    }
}

TEST(Profile2Centroid, ScansWithoutARecordedMaximumGiveNothing) {
    struct Row {
        const char* name;
        std::vector<float> intensity;
    };
    std::vector<float> rising(30);
    std::iota(rising.begin(), rising.end(), 1.0f);
    const Row rows[] = {{"flat", std::vector<float>(30, 5.0f)}, {"rising to the end", rising}, {"empty", {}}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<float> mz(row.intensity.size(), 100.0f), out_mz, out_in;
        profile2centroid(mz, row.intensity, out_mz, out_in);
        EXPECT_TRUE(out_mz.empty());
        EXPECT_TRUE(out_in.empty());
    }
}

// Unequal vectors use the shorter length (the plain code indexes the m/z vector by intensity).
TEST(Profile2Centroid, UnequalLengthsUseTheShorter) {
    const Two_Peaks p;
    std::vector<float> ref_mz, ref_in;
    profile2centroid(p.mz, p.intensity, ref_mz, ref_in);
    std::vector<float> short_mz(p.mz.begin(), p.mz.begin() + 60), short_in(p.intensity.begin(), p.intensity.begin() + 60);
    std::vector<float> a_mz, a_in, b_mz, b_in, c_mz, c_in;
    profile2centroid(short_mz, p.intensity, a_mz, a_in);
    profile2centroid(p.mz, short_in, b_mz, b_in);
    profile2centroid(short_mz, short_in, c_mz, c_in);
    EXPECT_EQ(a_mz, c_mz);
    EXPECT_EQ(a_in, c_in);
    EXPECT_EQ(b_mz, c_mz);
    EXPECT_EQ(b_in, c_in);
    EXPECT_EQ(c_mz.size(), 1u);  // B is no longer confirmed within 60 points
}

TEST(SpectrumCentroiding, ReplacesProfileScansSilentlyAndSkipsBadOnes) {
    const Two_Peaks p;
    std::vector<Spectrum_Scan> scans(4);
    scans[0].mass_values = p.mz;
    scans[0].intensity_values = p.intensity;
    scans[1].mass_values = std::vector<float>(30, 100.0f);  // flat: no centroid
    scans[1].intensity_values = std::vector<float>(30, 5.0f);
    scans[2].empty_flag = 1;                               // no points
    scans[3].mass_values = {1, 2, 3};                      // unequal counts
    scans[3].intensity_values = {1, 2};
    testing::internal::CaptureStdout();
    spectrum_centroiding(scans);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(scans[0].mass_values, (std::vector<float>{p.mz[20], p.mz[55]}));
    EXPECT_EQ(scans[0].intensity_values.size(), 2u);
    EXPECT_EQ(scans[0].empty_flag, 0);
    EXPECT_TRUE(scans[1].mass_values.empty());
    EXPECT_TRUE(scans[1].intensity_values.empty());
    EXPECT_EQ(scans[1].empty_flag, 1);
    EXPECT_EQ(scans[2].empty_flag, 1);
    EXPECT_EQ(scans[3].mass_values, (std::vector<float>{1, 2, 3}));
    EXPECT_EQ(scans[3].empty_flag, 0);
}

TEST(SpectrumLocalMaxMinDet, RecordsAlternatingExtremaBeyondBothDeltas) {
    // Value steps exactly equal to the delta do not count; larger ones do.
    struct Row {
        const char* name;
        std::vector<float> signal;
        double value_delta;
        std::uint32_t pos_delta;
        std::map<std::uint32_t, double> maxima, minima;
    };
    const Row rows[] = {
        {"peak, valley, peak", {0, 5, 1, 1, 6, 2}, 1.0, 0, {{1, 5}, {4, 6}}, {{2, 1}}},
        {"drop equal to the delta", {0, 5, 4, 4}, 1.0, 0, {}, {}},
        {"distance must exceed pos_delta", {0, 5, 1, 1}, 1.0, 2, {}, {}},
        {"distance beyond pos_delta", {0, 5, 1, 1, 1}, 1.0, 2, {{1, 5}}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::map<std::uint32_t, double> maxima{{100, -1}}, minima;
        spectrum_local_max_min_det(row.signal, row.value_delta, row.pos_delta, maxima, minima);
        std::map<std::uint32_t, double> expected = row.maxima;
        expected[100] = -1;  // inserted into, not cleared
        EXPECT_EQ(maxima, expected);
        EXPECT_EQ(minima, row.minima);
    }
}

}  // namespace
