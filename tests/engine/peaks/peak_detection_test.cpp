#include "engine/peaks/peak_detection.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <tuple>

#include "engine/peaks/peak_measures.h"
#include "engine/peaks/wavelet.h"
#include "reference/peak_detection_oracle.h"

namespace {

using korvane::detail::build_eic_signal;
using korvane::detail::link_ridge_lines;

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

Data_Point point(std::uint32_t scan, double intensity, double mz = 300.0) {
    Data_Point p;
    p.scan_num = scan;
    p.retention_time = scan * 0.5;
    p.mz = mz;
    p.intensity = intensity;
    return p;
}

Mass_Trace trace_of(const std::vector<Data_Point>& points, double centre = 300.0) {
    Mass_Trace t;
    t.Cent_Mass = centre;
    t.trace_length = static_cast<std::int32_t>(points.size());
    t.EIC_shape = points;
    return t;
}

// 200 scans from first_scan: two Gaussian peaks (apex 60, sigma 4, height 1e5; apex 140, sigma 6,
// height 5e4) on a flat baseline of 100.
Mass_Trace gaussian_trace(std::uint32_t first_scan) {
    std::vector<Data_Point> points;
    for (int i = 0; i < 200; ++i) {
        const double x1 = (i - 60) / 4.0, x2 = (i - 140) / 6.0;
        points.push_back(point(first_scan + i, 100 + 1e5 * std::exp(-x1 * x1 / 2) + 5e4 * std::exp(-x2 * x2 / 2)));
    }
    return trace_of(points);
}

Mass_Trace jagged_trace(std::uint32_t first_scan) {
    std::vector<Data_Point> points;
    for (int i = 0; i < 100; ++i) points.push_back(point(first_scan + i, i % 2 ? 5000.0 : 100.0));
    return trace_of(points);
}

// The example parameters: widths 5 to 60 scans, ridge gap 2, length 5, span 3, marker 3,
// intensity 1000, SNR 3, significance 1.5, triangle 0.5, zig-zag 0.5.
std::vector<Chromatogram_Peak> detect(const std::list<Mass_Trace>& traces, std::uint32_t width_min = 5,
                                      std::uint32_t width_max = 60) {
    std::vector<Chromatogram_Peak> peaks;
    mass_trace_list_peak_detection(peaks, traces, width_min, width_max, 2, 5, 3, 3, 1000, 3, 1.5, 0.5, 0.5);
    return peaks;
}

TEST(BuildEicSignal, FillsGapsBetweenScans) {
    {
        SCOPED_TRACE("gap of 3 is interpolated");
        const auto s = build_eic_signal(trace_of({point(100, 10, 300.0), point(101, 40, 300.3), point(104, 70, 300.6)}), 0);
        EXPECT_EQ(s.first_scan, 100u);
        ASSERT_EQ(s.intensity.size(), 5u);
        EXPECT_DOUBLE_EQ(s.intensity[2], 50);
        EXPECT_DOUBLE_EQ(s.intensity[3], 60);
        EXPECT_EQ(s.intensity[4], 70);
        EXPECT_DOUBLE_EQ(s.mz[2], 300.4);
        EXPECT_DOUBLE_EQ(s.retention_time[3], 51.5);
        EXPECT_EQ(s.mz[4], 300.6);
    }
    {
        SCOPED_TRACE("gap of 10 is still interpolated");
        const auto s = build_eic_signal(trace_of({point(100, 10), point(110, 110)}), 0);
        ASSERT_EQ(s.intensity.size(), 11u);
        EXPECT_DOUBLE_EQ(s.intensity[5], 60);
    }
    {
        SCOPED_TRACE("gap of 20 is zero-filled at the centre mass");
        const auto s = build_eic_signal(trace_of({point(100, 10, 300.2), point(120, 30, 300.4)}, 300.3), 0);
        ASSERT_EQ(s.intensity.size(), 21u);
        for (std::size_t i = 1; i < 20; ++i) {
            EXPECT_EQ(s.intensity[i], 0.0) << i;
            EXPECT_EQ(s.mz[i], 300.3) << i;
            EXPECT_DOUBLE_EQ(s.retention_time[i], 50 + 0.5 * static_cast<double>(i)) << i;
        }
        EXPECT_EQ(s.intensity[20], 30);
        EXPECT_EQ(s.mz[20], 300.4);
    }
    {
        SCOPED_TRACE("a repeated scan is left out with a message");
        testing::internal::CaptureStdout();
        const auto s = build_eic_signal(trace_of({point(5, 1), point(6, 2), point(6, 3), point(7, 4)}), 17);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "EIC cwt peak detection failed at EIC_ID=17\n");
        EXPECT_EQ(s.intensity, (std::vector<double>{1, 2, 4}));
    }
    EXPECT_TRUE(build_eic_signal(Mass_Trace{}, 0).intensity.empty());
}

CWT_Data_Point maximum(std::uint32_t scale, std::uint32_t position, double coefficient) {
    return {scale, position, coefficient, false};
}

using korvane::detail::Ridge;

std::vector<Ridge> link(std::vector<std::vector<CWT_Data_Point>>& maxima, std::uint32_t top, std::uint32_t lowest,
                        std::int32_t gap_allow, std::int32_t min_length, std::int32_t span, std::int32_t marker) {
    std::vector<Ridge> ridges{Ridge{}};  // replaced, not appended to
    link_ridge_lines(maxima, top, lowest, gap_allow, min_length, span, marker, ridges);
    return ridges;
}

// Where a ridge ends and how long it is: (scale, position, length).
std::tuple<std::uint32_t, std::uint32_t, std::int32_t> end_and_length(const Ridge& r) {
    return {r.last.scale, r.last.position, r.length};
}

TEST(LinkRidgeLines, NearestMaximumWinsAndTiesGoToTheSmallerIndex) {
    // Distances 2, 1, 1 from the branch's last point at 10: the one at 9 is taken.
    std::vector<std::vector<CWT_Data_Point>> maxima{{maximum(2, 8, 1), maximum(2, 9, 1), maximum(2, 11, 1)},
                                                    {maximum(3, 10, 5)}};
    const auto ridges = link(maxima, 3, 2, 2, 1, 3, 5);
    ASSERT_EQ(ridges.size(), 3u);
    EXPECT_EQ(end_and_length(ridges[0]), std::make_tuple(2u, 9u, 2));
    EXPECT_EQ(ridges[0].gap_count, 0);
    EXPECT_EQ(ridges[0].max_point.position, 10u);  // the new point's coefficient is lower
    // The two maxima nobody took start branches of their own, in ascending index.
    EXPECT_EQ(end_and_length(ridges[1]), std::make_tuple(2u, 8u, 1));
    EXPECT_EQ(end_and_length(ridges[2]), std::make_tuple(2u, 11u, 1));
    EXPECT_TRUE(maxima[0][1].linked);
    EXPECT_FALSE(maxima[0][0].linked);
}

TEST(LinkRidgeLines, LinkWindowAndMarkerDistanceAreStrict) {
    // Window max(2, span 3) = 3 and marker 3: positions 13 (distance 3) and 7 are both out.
    std::vector<std::vector<CWT_Data_Point>> maxima{{maximum(2, 7, 9), maximum(2, 13, 9)}, {maximum(3, 10, 5)}};
    const auto ridges = link(maxima, 3, 2, 2, 1, 3, 3);
    ASSERT_EQ(ridges.size(), 3u);
    EXPECT_EQ(ridges[0].length, 1);
    EXPECT_EQ(ridges[0].gap_count, 1);
}

TEST(LinkRidgeLines, BranchesShareAMaximumUnlessTheirMaximaAreClose) {
    auto make = [] {
        return std::vector<std::vector<CWT_Data_Point>>{{maximum(2, 12, 1)}, {maximum(3, 10, 5), maximum(3, 14, 6)}};
    };
    {
        SCOPED_TRACE("span 3: ridge maxima 4 apart, both keep the shared point");
        auto maxima = make();
        const auto ridges = link(maxima, 3, 2, 2, 1, 3, 5);
        ASSERT_EQ(ridges.size(), 2u);
        EXPECT_EQ(ridges[0].max_point.position, 10u);
        EXPECT_EQ(ridges[1].max_point.position, 14u);
        EXPECT_EQ(end_and_length(ridges[0]), std::make_tuple(2u, 12u, 2));
        EXPECT_EQ(end_and_length(ridges[1]), std::make_tuple(2u, 12u, 2));
    }
    {
        SCOPED_TRACE("span 4: a duplicate of equal length, the earlier one stays");
        auto maxima = make();
        const auto ridges = link(maxima, 3, 2, 2, 1, 4, 5);
        ASSERT_EQ(ridges.size(), 1u);
        EXPECT_EQ(ridges[0].max_point.position, 10u);
    }
}

TEST(LinkRidgeLines, PruningSparesBranchesThatAreLongEnough) {
    // Gap allowance 0, minimum length 3. The branch at 10 reaches length 3 and survives its gap at
    // scale 2; the branch at 30 misses scale 4 while still short and is pruned at once.
    std::vector<std::vector<CWT_Data_Point>> maxima{
        {maximum(2, 50, 1)}, {maximum(3, 10, 3)}, {maximum(4, 10, 2)}, {maximum(5, 10, 1), maximum(5, 30, 1)}};
    const auto ridges = link(maxima, 5, 2, 0, 3, 1, 5);
    ASSERT_EQ(ridges.size(), 2u);
    EXPECT_EQ(end_and_length(ridges[0]), std::make_tuple(3u, 10u, 3));
    EXPECT_EQ(ridges[0].gap_count, 1);
    EXPECT_EQ(ridges[0].max_point.scale, 3u);
    EXPECT_EQ(end_and_length(ridges[1]), std::make_tuple(2u, 50u, 1));
}

Peak_Branch branch(std::vector<CWT_Data_Point> points, CWT_Data_Point max_point, std::int32_t length) {
    Peak_Branch b;
    b.points = std::move(points);
    b.max_point = max_point;
    b.length = length;
    return b;
}

TEST(UniqueBranchTest, ReplacesInPlaceDropsOrAppends) {
    const auto end = maximum(2, 20, 1);
    const auto listed = [&] {
        return std::list<Peak_Branch>{branch({maximum(4, 5, 1), maximum(2, 5, 1)}, maximum(4, 5, 1), 2),
                                      branch({maximum(4, 20, 7), end}, maximum(4, 20, 7), 2),
                                      branch({maximum(3, 40, 1)}, maximum(3, 40, 1), 1)};
    };
    const struct {
        const char* name;
        Peak_Branch offered;
        std::vector<std::int32_t> lengths;  // of the list afterwards, in order
    } rows[] = {
        {"longer duplicate replaces in place",
         branch({maximum(6, 22, 9), maximum(4, 21, 8), end}, maximum(6, 22, 9), 3), {2, 3, 1}},
        {"equal length is dropped", branch({maximum(5, 21, 9), end}, maximum(5, 21, 9), 2), {2, 2, 1}},
        // Maxima one step beyond the span of 2 in scale or in position: not a duplicate.
        {"ridge maximum too far in scale", branch({maximum(7, 20, 9), end}, maximum(7, 20, 9), 5), {2, 2, 1, 5}},
        {"ridge maximum too far in position", branch({maximum(4, 23, 9), end}, maximum(4, 23, 9), 5), {2, 2, 1, 5}},
        {"different end point", branch({maximum(4, 20, 9), maximum(2, 21, 1)}, maximum(4, 20, 9), 5), {2, 2, 1, 5}},
        {"same position, other scale", branch({maximum(4, 20, 9), maximum(3, 20, 1)}, maximum(4, 20, 9), 5),
         {2, 2, 1, 5}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto list = listed();
        unique_branch_test(list, row.offered, 2);
        std::vector<std::int32_t> lengths;
        for (const auto& b : list) lengths.push_back(b.length);
        EXPECT_EQ(lengths, row.lengths);
    }
    std::list<Peak_Branch> empty;
    unique_branch_test(empty, branch({end}, end, 1), 2);
    EXPECT_EQ(empty.size(), 1u);
}

TEST(CwtPeakDetection, ChecksAndTheirMessages) {
    const std::vector<double> signal{1, 5, 20, 50, 20, 5, 1, 0, 0, 0, 0, 0};
    const struct {
        const char* name;
        std::vector<double> signal;
        std::uint32_t scale_max, scale_min;
        std::string output;
    } rows[] = {
        {"equal scales", signal, 4, 4, "Scale Number is not enoguh!\n"},
        {"too short", {1, 2, 3, 2, 1}, 4, 1, "Signal Size is too small!\n"},
        // An upper scale below the lower one wraps past the count check and finds nothing.
        {"upper below lower", signal, 2, 5, ""},
        // Scale 0 is reported and never transformed.
        {"lower scale 0", signal, 4, 0, "Scale must be larger than 0\n"},
        {"both 0", signal, 0, 0, "Scale must be larger than 0\nScale Number is not enoguh!\n"},
        {"upper 0", signal, 0, 1, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<Detect_Peak> peaks;
        testing::internal::CaptureStdout();
        cwt_peak_detection(peaks, row.signal, row.scale_max, row.scale_min, 2, 2, 3, 3);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), row.output);
        if (row.output.rfind("Scale must", 0) != 0) {
            EXPECT_TRUE(peaks.empty());
        }
    }
}

TEST(CwtPeakDetection, EmptyNoiseWindowGivesZeroSnr) {
    // Found by search: a ridge whose largest coefficient lies at scale 1 and index 0, so the noise
    // window (index 2 to the right boundary 1) is empty.
    std::vector<Detect_Peak> peaks;
    cwt_peak_detection(peaks, {7, 0, 1, 2, 5, 3}, 3, 1, 3, 1, 1, 5);
    const Detect_Peak* edge = nullptr;
    for (const auto& p : peaks)
        if (p.Apex_Pos == 0) edge = &p;
    ASSERT_NE(edge, nullptr);
    EXPECT_EQ(edge->Left_Boundary, 0u);
    EXPECT_EQ(edge->Right_Boundary, 1u);
    EXPECT_EQ(edge->Peak_SNR, 0.0);
    EXPECT_EQ(edge->Peak_Area, 7.0);  // 7 + 0 - 2 x 0
}

TEST(CwtPeakDetection, ApexAtIndexZeroTakesItsNoiseFromIndexTwo) {
    // Found by search: a ridge whose largest coefficient lies at scale 3 and index 0. Its noise
    // window is the scale-1 coefficients at 2 and 3, not 0 to 3.
    const std::vector<double> signal{1, 0, 4, 0, 0, 1, 3, 5, 8, 3};
    std::vector<Detect_Peak> peaks;
    cwt_peak_detection(peaks, signal, 4, 1, 3, 1, 1, 5);
    const Detect_Peak* edge = nullptr;
    for (const auto& p : peaks)
        if (p.Apex_Pos == 0) edge = &p;
    ASSERT_NE(edge, nullptr);
    ASSERT_EQ(edge->Left_Boundary, 0u);
    ASSERT_EQ(edge->Right_Boundary, 3u);
    std::map<std::uint32_t, std::vector<double>> coef;
    cwt(signal, {1, 3}, coef);
    const std::vector<double>& s1 = coef.at(1);
    const double from_two = New_Calculate_Peak_SNR(coef.at(3)[0], {s1[2], s1[3]});
    const double from_zero = New_Calculate_Peak_SNR(coef.at(3)[0], {s1[0], s1[1], s1[2], s1[3]});
    ASSERT_NE(from_two, from_zero);  // the example tells the two windows apart
    EXPECT_TRUE(same_bits(edge->Peak_SNR, from_two));
}

// Trace-like signals: a few Gaussian peaks of varied width (sigma up to max_sigma scans) on a
// baseline, with noise, and now and then runs of exact zeros (filled gaps); every fourth signal is
// noise alone.
std::vector<double> random_trace_signal(std::mt19937_64& rng, std::size_t n, double max_sigma = 8.0,
                                        int zero_runs = 1) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> s(n, 50.0 * unit(rng));
    const int peaks = static_cast<int>(rng() % 4) == 0 ? 0 : 1 + static_cast<int>(rng() % 5);
    for (int k = 0; k < peaks; ++k) {
        const double apex = unit(rng) * static_cast<double>(n), sigma = 1.0 + (max_sigma - 1.0) * unit(rng);
        const double height = 1e3 + 1e5 * unit(rng);
        for (std::size_t i = 0; i < n; ++i) {
            const double x = (static_cast<double>(i) - apex) / sigma;
            s[i] += height * std::exp(-x * x / 2);
        }
    }
    const double noise = peaks == 0 ? 1e3 : 0.05;
    for (double& v : s) v = peaks == 0 ? noise * unit(rng) : v * (1.0 + noise * (unit(rng) - 0.5));
    for (int z = 0; z < zero_runs; ++z) {
        if (rng() % 3 != 0) continue;
        const std::size_t from = rng() % n, run = 11 + rng() % (n > 200 ? 120 : 20);
        for (std::size_t i = from; i < std::min(n, from + run); ++i) s[i] = 0.0;
    }
    return s;
}

// The fast detector against the literal transcription on one signal; returns the peaks compared.
std::size_t expect_same_peaks(const std::vector<double>& signal, std::uint32_t scale_max, std::uint32_t scale_min,
                              std::int32_t gap_allow, std::int32_t min_length, std::int32_t span_min,
                              std::int32_t marker) {
    std::vector<Detect_Peak> fast;
    testing::internal::CaptureStdout();
    cwt_peak_detection(fast, signal, scale_max, scale_min, gap_allow, min_length, span_min, marker);
    testing::internal::GetCapturedStdout();
    const auto slow =
        peak_detection_oracle::ridge_peaks(signal, scale_max, scale_min, gap_allow, min_length, span_min, marker);
    EXPECT_EQ(fast.size(), slow.size());
    for (std::size_t k = 0; k < std::min(fast.size(), slow.size()); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(fast[k].Apex_Pos, slow[k].apex);
        EXPECT_EQ(fast[k].Left_Boundary, slow[k].left);
        EXPECT_EQ(fast[k].Right_Boundary, slow[k].right);
        EXPECT_TRUE(same_bits(fast[k].Apex_Intensity, slow[k].apex_intensity));
        EXPECT_TRUE(same_bits(fast[k].Peak_Area, slow[k].area));
        EXPECT_TRUE(same_bits(fast[k].Peak_SNR, New_Calculate_Peak_SNR(slow[k].coefficient, slow[k].noise)));
    }
    return fast.size();
}

TEST(CwtPeakDetection, SamePeaksAsThePlainRidgeSearch) {
    // Against a literal transcription: all scales from 1 with the rotating convolution, and every
    // branch re-offered to the duplicate test at every scale.
    std::mt19937_64 rng(20261209);
    std::size_t compared = 0;
    for (int round = 0; round < 160; ++round) {
        const std::size_t n = 6 + rng() % 150;
        const auto signal = random_trace_signal(rng, n);
        const std::uint32_t scale_min = 1 + static_cast<std::uint32_t>(rng() % 4);
        const auto scale_max = static_cast<std::uint32_t>(
            std::min<std::size_t>(n, scale_min + 1 + rng() % 11));
        const auto gap_allow = static_cast<std::int32_t>(rng() % 4);
        const auto min_length = static_cast<std::int32_t>(rng() % 8) - 1;
        const auto span_min = static_cast<std::int32_t>(rng() % 7);
        const auto marker = 1 + static_cast<std::int32_t>(rng() % 12);
        SCOPED_TRACE(testing::Message() << "round " << round << " n=" << n << " scales " << scale_min << ".."
                                        << scale_max << " gap " << gap_allow << " length " << min_length << " span "
                                        << span_min << " marker " << marker);
        compared += expect_same_peaks(signal, scale_max, scale_min, gap_allow, min_length, span_min, marker);
    }
    EXPECT_GT(compared, 200u);  // the rounds do find ridges to compare
}

TEST(CwtPeakDetection, SamePeaksAsThePlainRidgeSearchOnWidePeaks) {
    // Long traces with wide peaks and long zero-filled gaps, through scale 51 (peak width 100), with
    // the example ridge parameters and a few others.
    std::mt19937_64 rng(20261210);
    const struct { std::uint32_t scale_min; std::int32_t gap_allow, min_length, span_min, marker; } rows[] = {
        {1, 2, 5, 3, 3}, {1, 3, 2, 6, 9}, {4, 1, 8, 2, 5}};
    std::size_t compared = 0;
    for (const auto& row : rows) {
        const std::size_t n = 400 + rng() % 500;
        const auto signal = random_trace_signal(rng, n, 30.0, 4);
        SCOPED_TRACE(testing::Message() << "n=" << n << " from scale " << row.scale_min);
        compared += expect_same_peaks(signal, 51, row.scale_min, row.gap_allow, row.min_length, row.span_min,
                                      row.marker);
    }
    EXPECT_GT(compared, 5u);
}

TEST(MassTraceListPeakDetection, GaussianPeaksComeOutWithApexBoundariesAndArea) {
    testing::internal::CaptureStdout();
    const auto peaks = detect({gaussian_trace(1000)});
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find("Mass trace Peak detection Finished!\n"), std::string::npos);

    ASSERT_EQ(peaks.size(), 2u);
    // Within a trace the later Peak_ID comes first.
    EXPECT_GT(peaks[0].Peak_ID, peaks[1].Peak_ID);
    const struct { double apex, sigma, height; } truth[] = {{1140, 6, 5e4}, {1060, 4, 1e5}};
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const Chromatogram_Peak& p = peaks[i];
        EXPECT_EQ(p.EIC_ID, 0u);
        EXPECT_EQ(p.Apex_Pos, truth[i].apex);
        EXPECT_DOUBLE_EQ(p.Apex_Intensity, 100 + truth[i].height);
        EXPECT_DOUBLE_EQ(p.Apex_Retention_Time, truth[i].apex * 0.5);
        EXPECT_EQ(p.Apex_MZ, 300.0);
        // Boundaries well out in the tails (beyond 3.5 sigma) but not past the neighbouring peak.
        EXPECT_LE(p.Left_Boundary, truth[i].apex - 3.5 * truth[i].sigma);
        EXPECT_GE(p.Right_Boundary, truth[i].apex + 3.5 * truth[i].sigma);
        EXPECT_GT(p.Left_Boundary, truth[i].apex - 40);
        EXPECT_LT(p.Right_Boundary, truth[i].apex + 40);
        // The baseline-corrected sum over +-3.5 sigma or more holds over 99.9% of the Gaussian.
        const double integral = truth[i].height * truth[i].sigma * std::sqrt(2 * std::numbers::pi);
        EXPECT_NEAR(p.Peak_Area, integral, 0.002 * integral);
        EXPECT_GT(p.Peak_SNR, 3);
        ASSERT_EQ(p.Peak_shape.size(), p.Right_Boundary - p.Left_Boundary + 1);
        EXPECT_EQ(p.Peak_shape.front().scan_num, p.Left_Boundary);
        EXPECT_EQ(p.Peak_shape.back().scan_num, p.Right_Boundary);
        EXPECT_EQ(p.Peak_shape[p.Apex_Pos - p.Left_Boundary].intensity, p.Apex_Intensity);
    }
}

TEST(MassTraceListPeakDetection, EveryTraceUsesUpItsNumber) {
    // The jagged trace fails the zig-zag gate and yields nothing, but the next trace is number 1.
    testing::internal::CaptureStdout();
    const auto peaks = detect({jagged_trace(10), gaussian_trace(2000), Mass_Trace{}, gaussian_trace(500)});
    const std::string output = testing::internal::GetCapturedStdout();
    ASSERT_EQ(peaks.size(), 4u);
    const std::uint32_t ids[] = {1, 1, 3, 3};
    const std::uint32_t apexes[] = {2140, 2060, 640, 560};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(peaks[i].EIC_ID, ids[i]) << i;
        EXPECT_EQ(peaks[i].Apex_Pos, apexes[i]) << i;
    }
    EXPECT_EQ(output.find("Peak Detection"), std::string::npos);
}

TEST(MassTraceListPeakDetection, EmptyListOnlyFinishes) {
    std::vector<Chromatogram_Peak> peaks(1);
    testing::internal::CaptureStdout();
    mass_trace_list_peak_detection(peaks, {}, 5, 60, 2, 5, 3, 3, 1000, 3, 1.5, 0.5, 0.5);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Mass trace Peak detection Finished!\n");
    EXPECT_EQ(peaks.size(), 1u);  // appends, never clears
}

TEST(MassTraceListPeakDetection, ScaleRangeFollowsThePeakWidths) {
    // Widths 26 to 30 give scales 12 to 16; a trace of 12 scans can use scale 12 only, so the
    // range is empty, while 13 scans leave two scales.
    std::vector<Data_Point> twelve, thirteen;
    for (std::uint32_t i = 0; i < 13; ++i) {
        const double v = 1000 * std::exp(-(i - 6.0) * (i - 6.0) / 8);
        if (i < 12) twelve.push_back(point(i, v));
        thirteen.push_back(point(i, v));
    }
    testing::internal::CaptureStdout();
    detect({trace_of(twelve)}, 26, 30);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Scale Number is not enoguh!"), std::string::npos);
    testing::internal::CaptureStdout();
    detect({trace_of(thirteen)}, 26, 30);
    EXPECT_EQ(testing::internal::GetCapturedStdout().find("Scale Number is not enoguh!"), std::string::npos);

    // The count check fires exactly when the two scales come out equal, which pins the rounding of
    // both: ceil(max / 2) + 1 and floor(min / 2) - 1 raised to 1. A long trace keeps its length out
    // of the way; an upper scale below the lower one wraps past the check silently.
    const struct { std::uint32_t width_min, width_max; bool equal; } widths[] = {
        {26, 21, true},  {27, 21, true}, {28, 21, false}, {26, 22, true}, {26, 23, false},
        {0, 0, true},    {0, 1, false},  {1, 0, true},    {4, 0, true},   {5, 0, true},  {6, 0, false},
    };
    for (const auto& row : widths) {
        SCOPED_TRACE(testing::Message() << "widths " << row.width_min << ".." << row.width_max);
        testing::internal::CaptureStdout();
        detect({gaussian_trace(1000)}, row.width_min, row.width_max);
        const std::string output = testing::internal::GetCapturedStdout();
        EXPECT_EQ(output.find("Scale Number is not enoguh!\n") != std::string::npos, row.equal);
    }

    // A minimum width of 0 or 1 gives scale 1, not a wrapped lower scale that finds nothing.
    for (std::uint32_t width_min : {0u, 1u, 4u}) {
        SCOPED_TRACE(width_min);
        testing::internal::CaptureStdout();
        const auto peaks = detect({gaussian_trace(1000)}, width_min, 60);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(peaks.size(), 2u);
    }
}

}  // namespace
