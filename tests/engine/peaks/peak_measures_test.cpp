#include "engine/peaks/peak_measures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/support/peak_builder.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Mass_Trace make_trace(const std::vector<std::uint32_t>& scans, const std::vector<double>& intensities) {
    Mass_Trace t;
    t.Cent_Mass = 200.0;
    for (std::size_t i = 0; i < scans.size(); ++i) {
        Data_Point p;
        p.scan_num = scans[i];
        p.retention_time = scans[i] * 0.5;
        p.mz = 200.0;
        p.intensity = intensities[i];
        t.EIC_shape.push_back(p);
    }
    return t;
}

std::vector<std::uint32_t> consecutive(std::uint32_t first, std::size_t count) {
    std::vector<std::uint32_t> s;
    for (std::size_t i = 0; i < count; ++i) s.push_back(first + static_cast<std::uint32_t>(i));
    return s;
}

TEST(CalculatePeakArea, BaselineCorrectedSums) {
    const struct { const char* name; std::vector<double> signal; std::uint32_t left, right; double area; } rows[] = {
        {"symmetric peak", {1, 3, 5, 3, 1}, 0, 4, 8},
        {"inner span", {1, 3, 5, 3, 1}, 1, 3, 2},
        {"ramp, left edge is the baseline", {1, 2, 3}, 0, 2, 3},
        {"right edge is the baseline", {3, 2, 1}, 0, 2, 3},
        {"dip below the lower edge is negative", {2, 1, 2}, 0, 2, -1},
        {"single point", {4, 7, 4}, 1, 1, 0},
        // Out-of-range spans read nothing.
        {"right beyond the signal", {1, 2, 3}, 1, 3, 0},
        {"left above right", {1, 2, 3}, 2, 1, 0},
        {"empty signal", {}, 0, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Calculate_Peak_Area(row.signal, row.left, row.right), row.area);
    }
}

// The workbench's variant takes the mean magnitude instead (tests/engine/variant).
TEST(ConsoleVariant, SnrNoiseFromMidRangeDeviationOrMagnitudeRank) {
    const struct { const char* name; std::vector<double> noise; double snr; } rows[] = {
        // 6 crossings: mean deviation 1 (mid is 0) times 5.
        {"alternating", {1, -1, 1, -1, 1, -1}, 2.0},
        // One crossing: the second-largest magnitude.
        {"one crossing", {2, 4}, 5.0},
        // 4 crossings: mean deviation from mid 1, times 3.
        {"four crossings", {3, 1, 3, 1}, 10.0 / 3},
        // 3 crossings go up to 4: 5 x 3.
        {"odd count rounds up", {0, 10, 0, 10}, 10.0 / 15},
        {"all zero is floored", {0, 0, 0}, 100000.0},
        // 10 values without crossings: index trunc(7) of 10..1 is 3.
        {"eighth largest magnitude of ten", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 10.0 / 3},
        // An empty window carries no evidence of a peak.
        {"empty window", {}, 0.0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_DOUBLE_EQ(New_Calculate_Peak_SNR(10.0, row.noise), row.snr);
    }
}

TEST(EicZigZagIndex, SmoothAndJaggedTraces) {
    const struct {
        const char* name;
        std::vector<std::uint32_t> scans;
        std::vector<double> intensities;
        double index;
    } rows[] = {
        {"jagged", consecutive(10, 4), {0, 2, 0, 2}, std::log(4.0) * 2},
        {"straight line", consecutive(10, 4), {1, 2, 3, 4}, 0.0},
        {"two points", consecutive(10, 2), {1, 5}, 1.0},
        {"flat", consecutive(10, 5), {3, 3, 3, 3, 3}, 1.0},
        {"no points", {}, {}, 1.0},
        // A step of exactly 5 scans stays in the segment: one second difference, 16.
        {"step of 5", {1, 6, 11}, {0, 2, 0}, std::log(3.0) * 16 / 12},
        // A step of 6 starts a segment: its first point (100) is left out of the range but still
        // enters the second difference two points later.
        {"step of 6", {1, 2, 3, 9, 10, 11}, {0, 2, 0, 100, 1, 1}, std::log(6.0) * (16 + 9801) / 16},
        {"segments of two points only", {1, 2, 20, 21}, {0, 5, 1, 7}, 1.0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_NEAR(eic_zig_zag_index_calculation(make_trace(row.scans, row.intensities)), row.index,
                    1e-12 * std::max(1.0, row.index));
    }
}

TEST(PeakRefinement, MovesApexAndBoundaries) {
    const std::vector<double> tent = {0, 1, 2, 3, 4, 5, 6, 5, 4, 3, 2, 1, 0};
    std::vector<double> ramp(40);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = i < 20 ? static_cast<double>(i) : 40.0 - i;
    const struct {
        const char* name;
        std::vector<double> signal;
        Detect_Peak in;
        std::uint32_t apex, left, right;
        double area;
    } rows[] = {
        // Boundaries walk down both flanks to the ends; the area follows the new span.
        {"tent", tent, {5, 0, 5, 7, 0, 9.5}, 6, 0, 12, 36},
        // Ten moves at most on either side.
        {"long ramp", ramp, {20, 0, 18, 22, 0, 1}, 20, 8, 32, 344 - 25 * 8},
        // The right boundary is not an apex candidate: on a rising span the apex stops short of it.
        // The right boundary stays, as the signal still rises beyond it.
        {"rising span", {0, 1, 2, 3, 4, 5, 6, 7}, {0, 0, 2, 5, 0, 1}, 4, 0, 5, 15},
        {"equal boundaries", {0, 1, 0, 0}, {3, 0, 1, 1, 0, 1}, 1, 0, 2, 1},
        {"edges of the signal", {5, 1, 1, 5}, {1, 0, 0, 3, 0, 1}, 0, 0, 3, -8},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<Detect_Peak> peaks{row.in};
        peak_refinement_processing(peaks, row.signal);
        ASSERT_EQ(peaks.size(), 1u);
        EXPECT_EQ(peaks[0].Apex_Pos, row.apex);
        EXPECT_EQ(peaks[0].Apex_Intensity, row.signal[row.apex]);
        EXPECT_EQ(peaks[0].Left_Boundary, row.left);
        EXPECT_EQ(peaks[0].Right_Boundary, row.right);
        EXPECT_EQ(peaks[0].Peak_Area, row.area);
        EXPECT_EQ(peaks[0].Peak_SNR, row.in.Peak_SNR);  // untouched
    }
}

// A peak on scans from 100 with the given intensities, apex at the given scan.
Chromatogram_Peak make_peak(const std::vector<double>& intensities, std::uint32_t apex_scan, double area, double snr,
                            std::uint32_t peak_id = 0) {
    Chromatogram_Peak p = korvane::test::make_peak(100, intensities, apex_scan, area, 0, peak_id);
    p.Peak_SNR = snr;
    return p;
}

struct Thresholds {
    std::uint32_t width_min = 1, width_max = 100;
    double intensity = 0, snr = 0, significance = 0, triangle = 1e9, zig_zag = 1e9;
};

bool kept(const Chromatogram_Peak& peak, const Thresholds& t) {
    std::vector<Chromatogram_Peak> list{peak};
    chromatograph_peak_filter(list, t.width_min, t.width_max, t.intensity, t.snr, t.significance, t.triangle,
                              t.zig_zag);
    return !list.empty();
}

TEST(ChromatographPeakFilter, EachConditionFailsAlone) {
    // The base peak: W 7, A 10, S 4.89, E 1.5, h 8.5, triangle ratio 0.0526, 2 crossings, 3 high
    // points, zig-zag index 0.3155; the workbench's rise-and-fall sum is 7.33.
    const Chromatogram_Peak base = make_peak({1, 2, 6, 10, 6, 2, 1}, 103, 21, 50);
    auto with = [](auto change) {
        Thresholds t;
        change(t);
        return t;
    };
    const struct { const char* name; Chromatogram_Peak peak; Thresholds thresholds; bool kept; } rows[] = {
        {"base passes", base, {}, true},
        {"1 width below the minimum", base, with([](Thresholds& t) { t.width_min = 8; }), false},
        {"1 width at the minimum", base, with([](Thresholds& t) { t.width_min = 7; }), true},
        {"2 width above the maximum", base, with([](Thresholds& t) { t.width_max = 6; }), false},
        {"3 height not above", base, with([](Thresholds& t) { t.intensity = 8.5; }), false},
        {"4 area not positive", make_peak({1, 2, 6, 10, 6, 2, 1}, 103, 0, 50), {}, false},
        {"5 snr not above", base, with([](Thresholds& t) { t.snr = 50; }), false},
        {"6 significance not above", base, with([](Thresholds& t) { t.significance = 4.9; }), false},
        {"6 significance just above", base, with([](Thresholds& t) { t.significance = 4.88; }), true},
        {"7 triangle ratio not below", base, with([](Thresholds& t) { t.triangle = 0.05; }), false},
        // The dip at scan 102 swings through the midline band four times.
        {"8 band crossings", make_peak({1, 8, 2, 10, 6, 2, 1}, 103, 21, 50), {}, false},
        // Only the apex lies in the upper quarter.
        {"9 one high point", make_peak({1, 1, 1, 10, 1, 1, 1}, 103, 21, 50), {}, false},
        {"10 zig-zag not below", base, with([](Thresholds& t) { t.zig_zag = 0.3; }), false},
        {"5 snr not a number fails", make_peak({1, 2, 6, 10, 6, 2, 1}, 103, 21, kNaN),
         with([](Thresholds& t) { t.snr = -1e300; }), false},
        {"5 infinite snr passes", make_peak({1, 2, 6, 10, 6, 2, 1}, 103, 21, kInf), {}, true},
        // Apex on a boundary: significance 0, kept only with a negative threshold.
        {"apex on the left boundary", make_peak({10, 9, 2, 1, 0.5}, 100, 10, 50), {}, false},
        // The console's variant has no eleventh condition (rise and fall): these would fail it.
        {"broad base", make_peak({100, 101, 105, 110, 105, 101, 100}, 103, 21, 50), {}, true},
        {"apex first", make_peak({10, 9, 2, 1, 0.5}, 100, 10, 50), with([](Thresholds& t) { t.significance = -1; }),
         true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(kept(row.peak, row.thresholds), row.kept);
    }
}

TEST(ChromatographPeakFilter, ErasesInPlaceAndKeepsOrder) {
    std::vector<Chromatogram_Peak> list{
        make_peak({1, 2, 6, 10, 6, 2, 1}, 103, 21, 50, 0), make_peak({1, 1, 1, 10, 1, 1, 1}, 103, 21, 50, 1),
        make_peak({1, 2, 6, 10, 6, 2, 1}, 103, 21, 50, 2), make_peak({1, 2, 6, 10, 6, 2, 1}, 103, -1, 50, 3),
        make_peak({1, 2, 6, 10, 6, 2, 1}, 103, 21, 50, 4)};
    chromatograph_peak_filter(list, 1, 100, 0, 0, 0, 1e9, 1e9);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].Peak_ID, 0u);
    EXPECT_EQ(list[1].Peak_ID, 2u);
    EXPECT_EQ(list[2].Peak_ID, 4u);
    EXPECT_EQ(list[2].Peak_shape.size(), 7u);
}

TEST(WorkbenchOnlyMeasures, OlderSnrAndTraceQuality) {
    std::vector<double> ramp;
    for (int i = 1; i <= 20; ++i) ramp.push_back(i);
    EXPECT_DOUBLE_EQ(Calculate_Peak_SNR(10, ramp), 10.0);            // 20th largest of 20: 1
    EXPECT_DOUBLE_EQ(Calculate_Peak_SNR(10, {0.5, -3, 2}), 20.0);    // index trunc(2.85) = 2: 0.5
    EXPECT_DOUBLE_EQ(Calculate_Peak_SNR(10, {0, 0}), 100000.0);
    EXPECT_EQ(Calculate_Peak_SNR(10, {}), 0.0);

    // Values from a direct transcription in Python.
    EXPECT_NEAR(mcq_index_calculation(make_trace(consecutive(1, 5), {1, 2, 3, 4, 5}), 1), 0.42640143271122083, 1e-14);
    EXPECT_NEAR(mcq_index_calculation(make_trace(consecutive(1, 5), {1, 2, 3, 4, 5}), 3), 0.4251454611090236, 1e-14);
    EXPECT_NEAR(mcq_index_calculation(make_trace(consecutive(1, 7), {5, 1, 4, 1, 5, 9, 2}), 4), 0.21956206424217553,
                1e-14);
    EXPECT_TRUE(std::isnan(mcq_index_calculation(make_trace({1}, {5}), 5)));
    EXPECT_TRUE(std::isnan(mcq_index_calculation(make_trace(consecutive(1, 3), {1, 2, 3}), 0)));
}

}  // namespace
