#include "engine/peaks/mass_trace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <iterator>
#include <limits>
#include <list>
#include <random>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "reference/mass_trace_oracle.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const std::string kFinished = "Mass trace Extraction Finished!\n";
const std::string kOutOfOrder =
    "The scan number of new data point is smaller than the last data point of the mass trace!, pls check\n";

struct Peak {
    float mz;
    float intensity;
};

Spectrum_Scan make_scan(std::uint32_t num, std::vector<Peak> peaks) {
    Spectrum_Scan s;
    s.scan_num = num;
    s.scan_acquisition_time = 0.5 * num;
    for (const Peak& p : peaks) {
        s.mass_values.push_back(p.mz);
        s.intensity_values.push_back(p.intensity);
    }
    s.empty_flag = peaks.empty() ? 1 : 0;
    return s;
}

struct Params {
    double ppm = 10;
    std::int32_t min_eic = 0;
    std::int32_t miss = 3;
    double dist = 0;
};

struct Outcome {
    std::list<Mass_Trace> traces;
    std::string out;
};

Outcome run_engine(const std::vector<Spectrum_Scan>& scans, const Params& p) {
    Outcome r;
    testing::internal::CaptureStdout();
    mass_trace_extraction(r.traces, scans, p.ppm, p.min_eic, p.miss, p.dist);
    r.out = testing::internal::GetCapturedStdout();
    return r;
}

Outcome run_oracle(const std::vector<Spectrum_Scan>& scans, const Params& p) {
    Outcome r;
    testing::internal::CaptureStdout();
    mass_trace_oracle::extraction(r.traces, scans, p.ppm, p.min_eic, p.miss, p.dist);
    r.out = testing::internal::GetCapturedStdout();
    return r;
}

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// Same traces, same order, same bits.
void expect_identical(const std::list<Mass_Trace>& fast, const std::list<Mass_Trace>& slow) {
    ASSERT_EQ(fast.size(), slow.size());
    std::size_t i = 0;
    for (auto a = fast.begin(), b = slow.begin(); a != fast.end(); ++a, ++b, ++i) {
        SCOPED_TRACE("trace " + std::to_string(i));
        ASSERT_EQ(bits(a->Cent_Mass), bits(b->Cent_Mass)) << std::hexfloat << a->Cent_Mass << " vs " << b->Cent_Mass;
        ASSERT_EQ(a->trace_length, b->trace_length);
        ASSERT_EQ(a->miss_count, b->miss_count);
        ASSERT_EQ(a->EIC_shape.size(), b->EIC_shape.size());
        for (std::size_t k = 0; k < a->EIC_shape.size(); ++k) {
            const Data_Point &x = a->EIC_shape[k], &y = b->EIC_shape[k];
            ASSERT_EQ(x.scan_num, y.scan_num) << "point " << k;
            ASSERT_EQ(bits(x.retention_time), bits(y.retention_time)) << "point " << k;
            ASSERT_EQ(bits(x.mz), bits(y.mz)) << "point " << k;
            ASSERT_EQ(bits(x.intensity), bits(y.intensity)) << "point " << k;
        }
    }
}

// Samples built to hit every tie: m/z on a coarse grid (equal centres, equal ppm terms), few
// distinct intensities (equal log terms) including zero and negatives, repeated m/z within a scan
// (same-scan points), scan numbers that jump, repeat and now and then step back.
std::vector<Spectrum_Scan> random_sample(std::mt19937_64& rng, std::size_t n_scans, std::size_t max_points,
                                         bool hostile) {
    std::uniform_int_distribution<int> grid(0, 24), step(0, 19), count(0, static_cast<int>(max_points));
    std::uniform_int_distribution<int> level(0, 9), odd(0, 99);
    const float levels[] = {1.0f, 1.0f, 2.0f, 2.0f, 4.0f, 10.0f, 1000.0f, 0.5f, 3.0f, 0.0f};
    std::vector<Spectrum_Scan> scans;
    std::uint32_t num = std::uniform_int_distribution<std::uint32_t>(0, 5)(rng);
    for (std::size_t s = 0; s < n_scans; ++s) {
        std::vector<Peak> peaks;
        const int np = count(rng);
        for (int k = 0; k < np; ++k) {
            float mz = 200.0f + 0.0005f * static_cast<float>(grid(rng));
            float in = levels[level(rng)];
            if (hostile) {
                const int o = odd(rng);
                if (o == 0) in = -1.0f;
                if (o == 1) in = std::numeric_limits<float>::quiet_NaN();
                if (o == 2) mz = std::numeric_limits<float>::quiet_NaN();
                if (o == 3) mz = std::numeric_limits<float>::infinity();
                if (o == 4) mz = -mz;
                if (o == 5) mz = 0.0f;
                if (o == 6) in = std::numeric_limits<float>::infinity();
            }
            peaks.push_back({mz, in});
        }
        scans.push_back(make_scan(num, peaks));
        const int st = step(rng);
        num += st < 14 ? 1u : st < 17 ? 2u : st < 18 ? 5u : st < 19 ? 0u : (hostile ? static_cast<std::uint32_t>(-2) : 1u);
    }
    return scans;
}

TEST(MassTraceExtraction, MatchesReferenceOnRandomSamples) {
    std::mt19937_64 rng(20261209);
    const double ppms[] = {10, 4, 25, 0, 1e6, 300};
    const double dists[] = {0, 0.0003, 0.0011, 0.004, 1.0};
    const std::int32_t min_eics[] = {0, 1, 2, 3, 5};
    const std::int32_t misses[] = {0, 1, 2, 3};
    const std::size_t sizes[] = {1, 2, 3, 7, 20, 45};
    int cases = 0;
    for (std::size_t n : sizes) {
        for (int rep = 0; rep < 80; ++rep) {
            const bool hostile = rep % 4 == 3;
            const auto scans = random_sample(rng, n, rep % 2 ? 14 : 5, hostile);
            Params p;
            p.ppm = ppms[rep % 6];
            p.dist = dists[(rep / 5) % 5];
            p.min_eic = min_eics[(rep / 2) % 5];
            p.miss = misses[(rep / 3) % 4];
            SCOPED_TRACE("scans=" + std::to_string(n) + " rep=" + std::to_string(rep) + " ppm=" +
                         std::to_string(p.ppm) + " dist=" + std::to_string(p.dist) + " min_eic=" +
                         std::to_string(p.min_eic) + " miss=" + std::to_string(p.miss));
            const Outcome fast = run_engine(scans, p);
            const Outcome slow = run_oracle(scans, p);
            ASSERT_NO_FATAL_FAILURE(expect_identical(fast.traces, slow.traces));
            ASSERT_EQ(fast.out, slow.out);
            ++cases;
        }
    }
    EXPECT_EQ(cases, 480);
}

// Long samples: thousands of traces alive at once, so the ordered index splits, folds and empties
// blocks, and many traces share a centre.
TEST(MassTraceExtraction, MatchesReferenceOnLargerSamples) {
    std::mt19937_64 rng(7);
    struct Case {
        const char* name;
        std::size_t scans;
        std::size_t points;
        Params p;
        bool ascending;  // points of a scan in ascending m/z, as sample files hold them
        bool wide_span = false;  // scan numbers of the second half raised by 2^31
    };
    const Case cases[] = {
        {"dense grid, no removal", 30, 400, {10, 0, 3, 0}, false},
        {"dense grid, removal and merge", 60, 300, {10, 2, 2, 0.0007}, false},
        {"wide window", 40, 200, {400, 1, 1, 0}, false},
        {"everything removed at the end", 25, 300, {10, 1000, 1000, 0.0012}, false},
        {"ascending scans, example parameters", 60, 400, {10, 5, 3, 0.005}, true},
        {"ascending scans, faahKO-like parameters", 40, 300, {300, 5, 3, 0.3}, true},
        {"sparse ascending scans over many blocks", 80, 40, {10, 0, 3, 0}, true},
        {"scan numbers spanning 2^31, removal", 60, 300, {10, 2, 2, 0}, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto scans = random_sample(rng, c.scans, c.points, false);
        // Spread the grid so that several thousand distinct centres coexist.
        std::uniform_int_distribution<int> shift(0, 800);
        for (auto& s : scans) {
            for (float& mz : s.mass_values) mz += 0.01f * static_cast<float>(shift(rng));
            if (c.ascending) {
                std::vector<std::size_t> idx(s.mass_values.size());
                for (std::size_t i = 0; i < idx.size(); ++i) idx[i] = i;
                std::stable_sort(idx.begin(), idx.end(),
                                 [&](std::size_t a, std::size_t b) { return s.mass_values[a] < s.mass_values[b]; });
                Spectrum_Scan sorted = s;
                for (std::size_t i = 0; i < idx.size(); ++i) {
                    sorted.mass_values[i] = s.mass_values[idx[i]];
                    sorted.intensity_values[i] = s.intensity_values[idx[i]];
                }
                s = sorted;
            }
        }
        if (c.wide_span)
            for (std::size_t i = scans.size() / 2; i < scans.size(); ++i) scans[i].scan_num += 0x80000000u;
        const Outcome fast = run_engine(scans, c.p);
        const Outcome slow = run_oracle(scans, c.p);
        ASSERT_NO_FATAL_FAILURE(expect_identical(fast.traces, slow.traces));
        EXPECT_EQ(fast.out, slow.out);
    }
}

// Scans crowded with points of a handful of m/z values: the first scan seeds hundreds of traces
// of one centre, and every later point weighs them all. Intensities come from a few levels two
// decades apart (equal traces; later scans also fall between the first scan's levels, nearer the
// one below), from levels a float step apart, from a wide random range, or include zeros and NaNs
// that can never join.
TEST(MassTraceExtraction, MatchesReferenceOnCrowdedScans) {
    enum class Levels { few, float_steps, wide, with_unscorable };
    struct Case {
        const char* name;
        std::size_t scans, crowd, values;
        Levels levels;
        Params p;
        std::uint32_t scan_step = 1;
    };
    const Case cases[] = {
        {"one m/z, few intensities", 4, 400, 1, Levels::few, {10, 0, 3, 0}},
        {"one m/z, wide intensities", 4, 400, 1, Levels::wide, {10, 0, 3, 0}},
        {"one m/z, zeros and NaNs among them", 4, 400, 1, Levels::with_unscorable, {10, 0, 3, 0}},
        {"three m/z, removal and merging", 6, 300, 3, Levels::wide, {10, 1, 1, 0.0002}},
        {"two m/z, both kinds, removal", 5, 300, 2, Levels::with_unscorable, {10, 2, 2, 0}},
        // Scan numbers 2^30 apart make the scan term so large that intensities a float step apart
        // score the same after rounding: ties then decide between different last intensities.
        {"huge scan steps: scores tie by rounding", 4, 400, 40, Levels::float_steps, {10, 0, 3, 0}, 1u << 30},
    };
    std::mt19937_64 rng(20261210);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::uniform_int_distribution<std::size_t> which(0, c.values - 1);
        std::uniform_int_distribution<int> level(0, 9), exponent(0, 6);
        std::uniform_real_distribution<float> mantissa(1.0f, 10.0f);
        const auto intensity = [&](std::size_t s) -> float {
            const int l = level(rng);
            switch (c.levels) {
                case Levels::few:
                    return std::pow(10.0f, static_cast<float>(2 * (l % 5)) + (s > 0 && l >= 5 ? 0.8f : 0.0f));
                case Levels::float_steps: return 1000.0f + std::ldexp(1.0f, -14) * static_cast<float>(l);
                case Levels::with_unscorable:
                    if (l == 0) return 0.0f;
                    if (l == 1) return std::numeric_limits<float>::quiet_NaN();
                    [[fallthrough]];
                case Levels::wide: break;
            }
            return mantissa(rng) * std::pow(10.0f, static_cast<float>(exponent(rng)));
        };
        std::vector<Spectrum_Scan> scans;
        for (std::size_t s = 0; s < c.scans; ++s) {
            std::vector<Peak> peaks;
            for (std::size_t k = 0; k < c.crowd; ++k)
                peaks.push_back({300.0f + 0.001f * static_cast<float>(which(rng)), intensity(s)});
            scans.push_back(make_scan(static_cast<std::uint32_t>(1 + s * c.scan_step), peaks));
        }
        const Outcome fast = run_engine(scans, c.p);
        const Outcome slow = run_oracle(scans, c.p);
        ASSERT_NO_FATAL_FAILURE(expect_identical(fast.traces, slow.traces));
        EXPECT_EQ(fast.out, slow.out);
    }
}

TEST(MassTraceExtraction, SameScanPointsCombineIntoOnePoint) {
    // Both points of scan 2 fall in the window of the trace seeded at 300; the second also has a
    // scan term of 0 against it, so it joins the same trace.
    const std::vector<Spectrum_Scan> scans = {make_scan(1, {{300.0f, 10.0f}}),
                                              make_scan(2, {{300.0005f, 10.0f}, {300.001f, 30.0f}})};
    const Outcome r = run_engine(scans, {10, 0, 3, 0});
    ASSERT_EQ(r.traces.size(), 1u);
    const Mass_Trace& t = r.traces.front();
    EXPECT_EQ(t.trace_length, 2);
    ASSERT_EQ(t.EIC_shape.size(), 2u);
    const double p1 = 300.0005f, p2 = 300.001f;
    const double w = 30.0 / (10.0 + 30.0);
    EXPECT_EQ(t.EIC_shape[1].scan_num, 2u);
    EXPECT_EQ(t.EIC_shape[1].intensity, 40.0);
    EXPECT_EQ(t.EIC_shape[1].mz, (1 - w) * p1 + w * p2);
    // The centre moved only with the first point of scan 2.
    EXPECT_EQ(t.Cent_Mass, (1 * static_cast<double>(300.0f) + p1) / 2);
}

TEST(MassTraceExtraction, RemovalRules) {
    struct Case {
        const char* name;
        std::vector<Spectrum_Scan> scans;
        Params p;
        std::vector<double> centres;  // surviving traces, in order
        std::vector<std::int32_t> misses;
    };
    const Case cases[] = {
        // 400 is created in the last scan and 300 stops growing: at the last scan every trace of
        // at most minimum_eic_num points goes, whatever its miss count.
        {"last scan removes short traces, new ones too",
         {make_scan(1, {{300.0f, 5.0f}}), make_scan(2, {{300.0f, 5.0f}}), make_scan(3, {{400.0f, 5.0f}})},
         {10, 1, 100, 0},
         {300.0},
         {1}},
        {"minimum 0 keeps everything",
         {make_scan(1, {{300.0f, 5.0f}}), make_scan(2, {{500.0f, 5.0f}}), make_scan(3, {{400.0f, 5.0f}})},
         {10, 0, 0, 0},
         {300.0, 400.0, 500.0},
         {2, 0, 1}},
        // Scan numbers 1, 2, 7: the jump of 5 raises every miss count by 5 at once, so the trace
        // at 300 (last point in scan 2) reaches 5 and goes, while 350, seen in scan 7, stays.
        {"scan-number jump raises the miss count",
         {make_scan(1, {{300.0f, 5.0f}, {350.0f, 1.0f}}), make_scan(2, {{300.0f, 5.0f}}),
          make_scan(7, {{350.0f, 1.0f}}), make_scan(8, {{350.0f, 1.0f}})},
         {10, 2, 5, 0},
         {350.0},
         {0}},
        // The idle count wraps as the running sum of scan-number steps does: from scan 2 to scan
        // 0x90000000 it becomes negative, so the short trace at 300 is not dropped there and takes
        // the point of the last scan.
        {"idle count taken modulo 2^32",
         {make_scan(1, {{300.0f, 5.0f}, {350.0f, 1.0f}}), make_scan(2, {{300.0f, 5.0f}}),
          make_scan(0x90000000u, {{350.0f, 1.0f}}), make_scan(0x90000001u, {{300.0f, 5.0f}, {350.0f, 1.0f}})},
         {10, 2, 3, 0},
         {300.0, 350.0},
         {0, 0}},
        {"long trace survives any gap",
         {make_scan(1, {{300.0f, 5.0f}}), make_scan(2, {{300.0f, 5.0f}}), make_scan(3, {{300.0f, 5.0f}}),
          make_scan(50, {{500.0f, 5.0f}}), make_scan(51, {{500.0f, 5.0f}}), make_scan(52, {{500.0f, 5.0f}})},
         {10, 2, 1, 0},
         {300.0, 500.0},
         {49, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = run_engine(c.scans, c.p);
        ASSERT_EQ(r.traces.size(), c.centres.size());
        std::size_t i = 0;
        for (const Mass_Trace& t : r.traces) {
            EXPECT_EQ(t.Cent_Mass, c.centres[i]) << i;
            EXPECT_EQ(t.miss_count, c.misses[i]) << i;
            ++i;
        }
        expect_identical(r.traces, run_oracle(c.scans, c.p).traces);
    }
}

TEST(MassTraceExtraction, TiesGoToTheSmallerCentreAndMovedTracesGoFirst) {
    // A point at 2 against traces at 1 and 4 (equal intensities, one scan back): the ppm terms
    // 2e6 * 1 / 3 and 2e6 * 2 / 6 round to the same double, so the scores tie exactly and the
    // trace with the smaller centre takes the point, whatever the seeding order.
    {
        const std::vector<Spectrum_Scan> scans = {make_scan(1, {{4.0f, 7.0f}, {1.0f, 7.0f}}),
                                                  make_scan(2, {{2.0f, 7.0f}})};
        const Params p{1e6, 0, 3, 0};
        const Outcome r = run_engine(scans, p);
        ASSERT_EQ(r.traces.size(), 2u);
        EXPECT_EQ(r.traces.front().trace_length, 2);
        EXPECT_EQ(r.traces.front().Cent_Mass, 1.5);
        EXPECT_EQ(r.traces.back().trace_length, 1);
        expect_identical(r.traces, run_oracle(scans, p).traces);
    }
    // Three seeds with one centre keep their index order; the one that receives a point in scan 2
    // at the same m/z keeps its centre but is re-placed in front of the other two.
    {
        const std::vector<Spectrum_Scan> scans = {
            make_scan(1, {{250.0f, 1.0f}, {250.0f, 2.0f}, {250.0f, 4.0f}}),
            make_scan(2, {{250.0f, 4.0f}})};
        const Outcome r = run_engine(scans, {10, 0, 3, 0});
        ASSERT_EQ(r.traces.size(), 3u);
        auto it = r.traces.begin();
        EXPECT_EQ(it->EIC_shape[0].intensity, 4.0);  // the mover
        EXPECT_EQ(it->trace_length, 2);
        EXPECT_EQ((++it)->EIC_shape[0].intensity, 1.0);
        EXPECT_EQ((++it)->EIC_shape[0].intensity, 2.0);
        expect_identical(r.traces, run_oracle(scans, {10, 0, 3, 0}).traces);
    }
}

TEST(MassTraceExtraction, MergesClosestNeighboursAndComparesAgain) {
    struct Case {
        const char* name;
        std::vector<Peak> peaks;
        std::size_t expected_traces;
    };
    const Case cases[] = {
        // 0.004 apart: merged; the merged centre 100.002 is then 0.008 from 100.010: kept apart.
        {"100.000 100.004 100.010", {{100.000f, 1.0f}, {100.004f, 1.0f}, {100.010f, 1.0f}}, 2},
        // The heavy middle point pulls the merged centre to about 100.0036, now 0.0049 from the
        // third: the second round merges it too.
        {"merged centre moves into reach", {{100.000f, 1.0f}, {100.004f, 9.0f}, {100.0085f, 1.0f}}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A single scan: no pass runs and nothing is removed, so merging sees exactly the seeds.
        const std::vector<Spectrum_Scan> scans = {make_scan(1, c.peaks)};
        const Outcome r = run_engine(scans, {10, 5, 3, 0.005});
        ASSERT_EQ(r.traces.size(), c.expected_traces);
        const Mass_Trace& first = r.traces.front();
        const double a = c.peaks[0].mz, b = c.peaks[1].mz;
        const double ia = c.peaks[0].intensity, ib = c.peaks[1].intensity;
        // One scan, so the merged point combines both: weighted m/z, summed intensity.
        ASSERT_GE(first.EIC_shape.size(), 1u);
        EXPECT_EQ(first.trace_length, 1);
        EXPECT_EQ(first.miss_count, 0);
        if (c.expected_traces == 2) {
            EXPECT_EQ(first.Cent_Mass, (0.0 + a * ia + b * ib) / (0.0 + ia + ib));
            EXPECT_EQ(first.EIC_shape[0].intensity, ia + ib);
            EXPECT_EQ(r.traces.back().Cent_Mass, static_cast<double>(c.peaks[2].mz));
        }
        expect_identical(r.traces, run_oracle(scans, {10, 5, 3, 0.005}).traces);
    }
}

TEST(MassTraceExtraction, MergingIsSkippedWithoutPositiveThreshold) {
    const std::vector<Spectrum_Scan> scans = {make_scan(1, {{100.000f, 1.0f}, {100.001f, 1.0f}})};
    for (const double d : {0.0, -1.0, kNaN}) {
        SCOPED_TRACE(d);
        EXPECT_EQ(run_engine(scans, {10, 0, 3, d}).traces.size(), 2u);
    }
    EXPECT_EQ(run_engine(scans, {10, 0, 3, 0.01}).traces.size(), 1u);
}

TEST(MassTraceMerge, UnionWeightsAndZeroIntensity) {
    const auto point = [](std::uint32_t scan, double mz, double in) {
        Data_Point d;
        d.scan_num = scan;
        d.retention_time = scan * 2.0;
        d.mz = mz;
        d.intensity = in;
        return d;
    };
    Mass_Trace left, right;
    left.EIC_shape = {point(1, 100.0, 2.0), point(3, 101.0, 0.0)};
    right.EIC_shape = {point(2, 102.0, 4.0), point(3, 103.0, 0.0), point(5, 104.0, 1.0)};
    right.EIC_shape[1].retention_time = -1.0;  // must not win over the left point of scan 3
    left.miss_count = 4;
    Mass_Trace m;
    mass_trace_merge(m, left, right);
    ASSERT_EQ(m.EIC_shape.size(), 4u);
    EXPECT_EQ(m.trace_length, 4);
    EXPECT_EQ(m.miss_count, 0);
    const std::uint32_t scans[] = {1, 2, 3, 5};
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(m.EIC_shape[i].scan_num, scans[i]);
    EXPECT_EQ(m.EIC_shape[0].mz, 100.0 * 2.0 / 2.0);
    // Scan 3: intensities sum to zero, so the plain mean of 101 and 103 instead of 0/0.
    EXPECT_EQ(m.EIC_shape[2].mz, 102.0);
    EXPECT_EQ(m.EIC_shape[2].intensity, 0.0);
    EXPECT_EQ(m.EIC_shape[2].retention_time, 6.0);
    EXPECT_EQ(m.Cent_Mass, (0.0 + 200.0 + 0.0 + 408.0 + 0.0 + 104.0) / 7.0);

    // All intensities zero: the plain mean of every point.
    for (Data_Point& d : left.EIC_shape) d.intensity = 0.0;
    for (Data_Point& d : right.EIC_shape) d.intensity = 0.0;
    mass_trace_merge(m, left, right);
    EXPECT_EQ(m.Cent_Mass, (0.0 + 100.0 + 101.0 + 102.0 + 103.0 + 104.0) / 5);
    for (const Data_Point& d : m.EIC_shape) EXPECT_FALSE(std::isnan(d.mz));

    Mass_Trace o;
    mass_trace_oracle::merge(o, left, right);
    expect_identical({m}, {o});
}

// Inputs on which the literal method would use a trace that does not exist, walk off the end of
// the list or divide by zero.
TEST(MassTraceExtraction, UnscorablePointsStartTracesInSortedPlace) {
    struct Case {
        const char* name;
        std::vector<Spectrum_Scan> scans;
        Params p;
        std::size_t expected_traces;
    };
    const Case cases[] = {
        {"zero intensity on the point",
         {make_scan(1, {{300.0f, 5.0f}, {300.002f, 5.0f}}), make_scan(2, {{300.001f, 0.0f}})}, {10, 0, 3, 0}, 3},
        {"zero intensity on the candidate's last point",
         {make_scan(1, {{300.0f, 0.0f}}), make_scan(2, {{300.001f, 5.0f}})}, {10, 0, 3, 0}, 2},
        {"negative intensity", {make_scan(1, {{300.0f, 5.0f}}), make_scan(2, {{300.0f, -5.0f}})}, {10, 0, 3, 0}, 2},
        {"negative tolerance",
         {make_scan(1, {{300.0f, 5.0f}, {200.0f, 5.0f}}), make_scan(2, {{300.0f, 5.0f}, {250.0f, 5.0f}})},
         {-10, 0, 3, 0},
         4},
        {"NaN tolerance", {make_scan(1, {{300.0f, 5.0f}}), make_scan(2, {{300.0f, 5.0f}, {100.0f, 1.0f}})},
         {kNaN, 0, 3, 0},
         3},
        {"negative m/z", {make_scan(1, {{-300.0f, 5.0f}}), make_scan(2, {{-300.0f, 5.0f}, {-400.0f, 5.0f}})},
         {10, 0, 3, 0},
         3},
        {"NaN m/z is skipped",
         {make_scan(1, {{std::numeric_limits<float>::quiet_NaN(), 5.0f}, {300.0f, 5.0f}}),
          make_scan(2, {{std::numeric_limits<float>::quiet_NaN(), 5.0f}})},
         {10, 0, 3, 0},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = run_engine(c.scans, c.p);
        ASSERT_EQ(r.traces.size(), c.expected_traces);
        for (auto it = r.traces.begin(); std::next(it) != r.traces.end(); ++it)
            EXPECT_LE(it->Cent_Mass, std::next(it)->Cent_Mass);
        for (const Mass_Trace& t : r.traces) {
            EXPECT_FALSE(std::isnan(t.Cent_Mass));
            for (std::size_t k = 1; k < t.EIC_shape.size(); ++k)
                EXPECT_LT(t.EIC_shape[k - 1].scan_num, t.EIC_shape[k].scan_num);
        }
        expect_identical(r.traces, run_oracle(c.scans, c.p).traces);
    }
}

TEST(MassTraceExtraction, MessagesEmptyInputAndOutOfOrderScans) {
    {
        const Outcome r = run_engine({}, {10, 0, 3, 0.01});
        EXPECT_TRUE(r.traces.empty());
        EXPECT_EQ(r.out, kFinished);
    }
    {
        std::list<Mass_Trace> stale(2);
        testing::internal::CaptureStdout();
        mass_trace_extraction(stale, {make_scan(1, {{300.0f, 5.0f}})}, 10, 0, 3, 0);
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(stale.size(), 1u);
        EXPECT_EQ(stale.front().Cent_Mass, 300.0);
    }
    {
        // Scan 5 follows scan 9: its point scores against the trace last extended in scan 9, is
        // reported and dropped; the trace is unchanged.
        const std::vector<Spectrum_Scan> scans = {make_scan(8, {{300.0f, 5.0f}}), make_scan(9, {{300.0f, 5.0f}}),
                                                  make_scan(5, {{300.0f, 5.0f}})};
        const Outcome r = run_engine(scans, {10, 0, 3, 0});
        ASSERT_EQ(r.traces.size(), 1u);
        EXPECT_EQ(r.traces.front().trace_length, 2);
        EXPECT_EQ(r.traces.front().EIC_shape.back().scan_num, 9u);
        // 5 - 9 wraps as the running sum of scan-number steps does.
        EXPECT_EQ(r.traces.front().miss_count, -4);
        EXPECT_EQ(r.out, kOutOfOrder + kFinished);
    }
}

// Captures what is written to std::cout and where the stream was flushed, so a test can tell a
// line that reaches the terminal at once from one left in a buffer.
class Flush_Recorder : public std::streambuf {
public:
    Flush_Recorder() : previous_(std::cout.rdbuf(this)) {}
    ~Flush_Recorder() override { std::cout.rdbuf(previous_); }
    Flush_Recorder(const Flush_Recorder&) = delete;
    Flush_Recorder& operator=(const Flush_Recorder&) = delete;

    // The lines that were not flushed right after their line end.
    std::vector<std::string> unflushed_lines() const {
        std::vector<std::string> lines;
        std::size_t begin = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '\n') continue;
            if (std::find(flushed_at.begin(), flushed_at.end(), i + 1) == flushed_at.end())
                lines.push_back(text.substr(begin, i - begin));
            begin = i + 1;
        }
        return lines;
    }

    std::string text;
    std::vector<std::size_t> flushed_at;  // text.size() at each flush

protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) text.push_back(traits_type::to_char_type(c));
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        text.append(s, static_cast<std::size_t>(n));
        return n;
    }
    int sync() override {
        flushed_at.push_back(text.size());
        return 0;
    }

private:
    std::streambuf* previous_;
};

// Progress and problem lines are flushed one by one (the workbench's variant adds a progress
// line per scan), so they interleave correctly with other output and survive a crash.
TEST(MassTraceExtraction, EveryLineIsFlushedAsItIsWritten) {
    const std::vector<Spectrum_Scan> scans = {make_scan(8, {{300.0f, 5.0f}}), make_scan(9, {{300.0f, 5.0f}}),
                                              make_scan(5, {{300.0f, 5.0f}, {300.0f, 5.0f}})};
    std::list<Mass_Trace> traces;
    std::vector<std::string> unflushed;
    std::string text;
    {
        Flush_Recorder recorder;
        mass_trace_extraction(traces, scans, 10, 0, 3, 0);
        unflushed = recorder.unflushed_lines();
        text = recorder.text;
    }
    EXPECT_EQ(text, kOutOfOrder + kOutOfOrder + kFinished);
    EXPECT_EQ(unflushed, std::vector<std::string>{});
}

}  // namespace
