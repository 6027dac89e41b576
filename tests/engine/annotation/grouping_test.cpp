#include "engine/annotation/grouping.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "reference/grouping_oracle.h"
#include "tests/support/peak_builder.h"

namespace {

constexpr double kRightAngle = 90.0000015;  // acos(0) * 180 / 3.1415926, to the digits quoted

using korvane::test::make_peak;

Chromatogram_Peak_Group as_group(const Chromatogram_Peak& p) {
    Chromatogram_Peak_Group g;
    g.Peak_shape = p.Peak_shape;
    g.EIC_ID = p.EIC_ID;
    g.Peak_ID = p.Peak_ID;
    g.Apex_Pos = p.Apex_Pos;
    g.Peak_Area = p.Peak_Area;
    g.Left_Boundary = p.Left_Boundary;
    g.Right_Boundary = p.Right_Boundary;
    return g;
}

Chromatogram_Peak_Group shape(std::uint32_t left, const std::vector<double>& intensities) {
    return as_group(make_peak(left, intensities, left, 0));
}

struct GroupRun {
    std::vector<Chromatogram_Peak_Group> out;
    std::string printed;
};

GroupRun run_group(const std::vector<Chromatogram_Peak>& peaks, std::uint32_t tol, double angle_tol) {
    GroupRun r;
    testing::internal::CaptureStdout();
    peak_group(r.out, peaks, tol, angle_tol);
    r.printed = testing::internal::GetCapturedStdout();
    return r;
}

std::string last_line(const std::string& text) {
    const auto end = text.find_last_of('\n');
    const auto begin = text.find_last_of('\n', end - 1);
    return text.substr(begin == std::string::npos ? 0 : begin + 1, end - (begin == std::string::npos ? 0 : begin + 1));
}

TEST(VectorDot, CosineAndItsDegenerateCases) {
    EXPECT_DOUBLE_EQ(vector_dot({1, 0}, {0, 1}), 0.0);
    EXPECT_DOUBLE_EQ(vector_dot({1, 2}, {2, 4}), 1.0);
    EXPECT_DOUBLE_EQ(vector_dot({3, 4}, {4, 3}), 24.0 / 25.0);
    EXPECT_EQ(vector_dot({}, {}), 0.0);
    EXPECT_EQ(vector_dot({0, 0}, {1, 2}), 0.0);
    // Squares that underflow to 0 while the dot product does not: no 2^1022 blow-up.
    EXPECT_EQ(vector_dot({1e-170, 0}, {1e100, 0}), 0.0);

    testing::internal::CaptureStdout();
    const double c = vector_dot({1, 2}, {1});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "For Dot product, vec1 and vec2 should have the same size!\n");
    EXPECT_EQ(c, 0.0);
}

// Worked angles: A = 1,3,1 over scans 10..12, B = 2,3,1 over 9..11 (window 9..12).
TEST(ShapeAngle, WorkedValues) {
    const auto A = shape(10, {1, 3, 1}), B = shape(9, {2, 3, 1});
    const auto a3 = shape(10, {1, 3, 5, 3, 1}), b3 = shape(10, {2, 6, 9, 6, 2}), c3 = shape(10, {5, 1, 1, 1, 5});
    const struct {
        const char* name;
        Chromatogram_Peak_Group p1, p2;
        std::int32_t tol;
        double degrees;
    } rows[] = {
        {"A,B no shift", A, B, 0, 61.0862},
        {"A,B shift 1", A, B, 1, 14.7631},
        {"A,B shift 3", A, B, 3, 14.7631},
        {"A,B negative shift", A, B, -2, 61.0862},
        {"A3,B3", a3, b3, 3, 3.0117},
        {"A3,C3", a3, c3, 3, 45.9731},
        {"B3,C3", b3, c3, 3, 45.9731},
        {"far apart", shape(10, {1, 2, 1}), shape(16, {1, 2, 1}), 3, kRightAngle},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_NEAR(calc_dotproduct_angle(row.p1, row.p2, row.tol), row.degrees, 5e-5);
        EXPECT_EQ(calc_dotproduct_angle(row.p1, row.p2, row.tol), oracle::calc_dotproduct_angle(row.p1, row.p2, row.tol));
    }
    // Only Peak1 moves, and it loses what leaves the window, so the order of the operands counts.
    const auto P = shape(10, {5, 1, 3}), Q = shape(10, {1, 5, 1});
    EXPECT_NE(calc_dotproduct_angle(P, Q, 1), calc_dotproduct_angle(Q, P, 1));
}

// acos of a cosine one ulp above 1 is not a number, and a NaN angle would keep identical shapes
// apart; clamped, such a pair reads 0 degrees. A cosine a few ulps below 1 stays as it is: with
// n <= 22 terms the cosine lies within about n * eps of 1, so the angle is at most
// sqrt(2 * 22 * 2^-53) * 180 / pi, about 4e-6 degrees, far below any threshold. The count shows
// that the input does reach past 1.
TEST(ShapeAngle, IdenticalAndProportionalShapesGiveZero) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> value(0.1, 1000.0), factor(0.01, 100.0);
    int above_one = 0;
    for (int trial = 0; trial < 400; ++trial) {
        std::vector<double> v(3 + trial % 20), w;
        for (double& x : v) x = value(rng);
        const double f = trial % 2 ? 1.0 : factor(rng);
        for (const double x : v) w.push_back(x * f);
        SCOPED_TRACE(trial);
        const auto P = shape(100, v), Q = shape(100, w);
        for (const std::int32_t tol : {0, 3}) {
            const double degrees = calc_dotproduct_angle(P, Q, tol);
            EXPECT_GE(degrees, 0.0);
            EXPECT_LE(degrees, 4e-6);
            if (vector_dot(v, w) > 1.0) {
                EXPECT_EQ(degrees, 0.0);
                above_one += tol == 0;
            }
        }
    }
    EXPECT_GT(above_one, 20);
}

TEST(ShapeAngle, MalformedShapesAndLongShifts) {
    auto short_shape = shape(10, {1, 4, 2});
    short_shape.Right_Boundary = 14;  // two scans with no point
    auto empty = shape(10, {1, 2, 3});
    empty.Left_Boundary = 12;
    empty.Right_Boundary = 10;
    auto both_empty = empty;
    const struct {
        const char* name;
        Chromatogram_Peak_Group p1, p2;
        std::int32_t tol;
        double degrees;
    } rows[] = {
        // Missing points read as 0: the same as writing the zeros out.
        {"short shape", short_shape, shape(9, {2, 1, 4, 2, 1, 1}), 3,
         calc_dotproduct_angle(shape(10, {1, 4, 2, 0, 0}), shape(9, {2, 1, 4, 2, 1, 1}), 3)},
        {"empty peak first", empty, shape(9, {1, 2}), 3, kRightAngle},
        {"empty peak second", shape(9, {1, 2}), empty, 3, kRightAngle},
        {"both empty", empty, both_empty, 3, kRightAngle},
        // Opposite signs: the unshifted cosine is -1; shift 1 leaves half the profile (135
        // degrees); shift 2 equals the window and gives cosine 0; shift 3 lies beyond it.
        {"shift 1 of window 2", shape(10, {1, 1}), shape(10, {-1, -1}), 1, 135.0 * 3.141592653589793 / 3.1415926},
        {"shift equal to window", shape(10, {1, 1}), shape(10, {-1, -1}), 2, kRightAngle},
        {"shift beyond window", shape(10, {1, 1}), shape(10, {-1, -1}), 3, kRightAngle},
        {"huge shift", shape(10, {1, 1}), shape(10, {-1, -1}), 2147483647, kRightAngle},
        // Squares of the first profile underflow: cosine 0, not a 2^1022 multiple.
        {"underflow", shape(10, {1e-170, 1e-170}), shape(10, {1e100, 1e100}), 0, kRightAngle},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_NEAR(calc_dotproduct_angle(row.p1, row.p2, row.tol), row.degrees, 1e-6);
        EXPECT_EQ(calc_dotproduct_angle(row.p1, row.p2, row.tol), oracle::calc_dotproduct_angle(row.p1, row.p2, row.tol));
    }
}

TEST(ShapeAngle, CompoundOperandsUseOnlyShapeAndBoundaries) {
    const auto A = shape(10, {5, 1, 3}), B = shape(10, {1, 5, 1});
    Chromatogram_Peak_Group_Compound cb;
    cb.Peak_shape = B.Peak_shape;
    cb.Left_Boundary = B.Left_Boundary;
    cb.Right_Boundary = B.Right_Boundary;
    cb.Apex_Pos = 400;
    cb.Adduct_Annotation = "[M+H]+";
    EXPECT_EQ(calc_dotproduct_angle(A, cb, 1), calc_dotproduct_angle(A, B, 1));
    Chromatogram_Peak_Group_Compound ca;
    ca.Peak_shape = A.Peak_shape;
    ca.Left_Boundary = A.Left_Boundary;
    ca.Right_Boundary = A.Right_Boundary;
    // (compound, group) swaps the operands; (compound, compound) keeps them.
    EXPECT_EQ(calc_dotproduct_angle(ca, B, 1), calc_dotproduct_angle(B, A, 1));
    EXPECT_EQ(calc_dotproduct_angle(ca, cb, 1), calc_dotproduct_angle(A, B, 1));
    EXPECT_NE(calc_dotproduct_angle(B, A, 1), calc_dotproduct_angle(A, B, 1));
}

// Random shapes with zeros, short shapes, empty peaks, negative and non-finite values, every
// shift tolerance from -1 to 6: the sparse computation must give the full-window bits.
TEST(ShapeAngle, MatchesPlainTranscription) {
    std::mt19937_64 rng(20261209);
    std::uniform_int_distribution<int> len(0, 12), left(0, 20), kind(0, 19);
    std::uniform_real_distribution<double> value(-5, 100);
    auto random_shape = [&]() {
        std::vector<double> v(static_cast<std::size_t>(len(rng)));
        for (double& x : v) {
            const int k = kind(rng);
            x = k < 3 ? 0.0 : k == 3 ? std::floor(value(rng)) : value(rng);
        }
        const int k = kind(rng);
        if (k == 0 && !v.empty()) v[rng() % v.size()] = std::numeric_limits<double>::infinity();
        if (k == 1 && !v.empty()) v[rng() % v.size()] = std::numeric_limits<double>::quiet_NaN();
        if (k == 2) v.assign(v.size(), 1e-170);
        // An empty shape at scan 0 would put its right boundary at 2^32-1: a window the full-width
        // transcription cannot hold.
        auto g = shape(static_cast<std::uint32_t>(left(rng)) + (v.empty() ? 1 : 0), v);
        g.Right_Boundary = g.Left_Boundary + static_cast<std::uint32_t>(v.size()) - 1;  // empty: below left
        if (k == 3) g.Right_Boundary += 3;                                              // short shape
        if (k == 4 && g.Peak_shape.size() > 1) g.Right_Boundary -= 1;                   // long shape
        return g;
    };
    for (int trial = 0; trial < 20000; ++trial) {
        const auto p1 = random_shape(), p2 = random_shape();
        // Half the trials at grouping's tolerance 3, which takes the one-pass form.
        const std::int32_t tol = trial % 2 ? 3 : trial % 16 / 2 - 1;
        const double fast = calc_dotproduct_angle(p1, p2, tol), slow = oracle::calc_dotproduct_angle(p1, p2, tol);
        if (std::isnan(slow)) {
            ASSERT_TRUE(std::isnan(fast)) << "trial " << trial;
        } else {
            ASSERT_EQ(std::bit_cast<std::uint64_t>(fast), std::bit_cast<std::uint64_t>(slow))
                << "trial " << trial << std::hexfloat << ' ' << fast << " vs " << slow;
        }
    }
}

TEST(MatchedPeak, FirstMatchOrUpper) {
    std::vector<Chromatogram_Peak_Group> v(5);
    for (std::uint32_t k = 0; k < 5; ++k) {
        v[k].EIC_ID = k % 2;
        v[k].Peak_ID = 7;
        v[k].Apex_Pos = k;
    }
    EXPECT_EQ(get_matchedpeak_by_EIC_ID_Peak_ID(v.begin(), v.end(), 1, 7) - v.begin(), 1);
    EXPECT_EQ(get_matchedpeak_by_EIC_ID_Peak_ID(v.begin() + 2, v.end(), 1, 7) - v.begin(), 3);
    EXPECT_EQ(get_matchedpeak_by_EIC_ID_Peak_ID(v.begin(), v.end(), 1, 8) - v.begin(), 5);
    EXPECT_EQ(get_matchedpeak_by_EIC_ID_Peak_ID(v.begin(), v.begin() + 1, 1, 7) - v.begin(), 1);
}

struct Expected {
    std::uint32_t eic;
    std::uint32_t group;
};

TEST(PeakGroup, WorkedExamples) {
    const auto A = make_peak(10, {1, 3, 5, 3, 1}, 12, 100, 0), B = make_peak(10, {2, 6, 9, 6, 2}, 12, 50, 1),
               C = make_peak(10, {5, 1, 1, 1, 5}, 12, 20, 2);
    const auto a2 = make_peak(10, {1, 3, 1}, 11, 10, 0), b2 = make_peak(9, {2, 3, 1}, 10, 20, 1);
    const struct {
        const char* name;
        std::vector<Chromatogram_Peak> peaks;
        std::uint32_t tol;
        double angle;
        std::vector<Expected> result;  // in output order
        std::uint32_t groups;
    } rows[] = {
        {"empty", {}, 3, 30, {}, 0},
        {"single", {make_peak(5, {1, 2, 1}, 6, 3, 4)}, 3, 30, {{4, 1}}, 1},
        {"apart, larger area first", {make_peak(5, {1, 2, 1}, 6, 3, 0), make_peak(50, {1, 2, 1}, 51, 9, 1)}, 3, 180,
         {{1, 1}, {0, 2}}, 2},
        {"A,B,C", {A, B, C}, 2, 10, {{0, 1}, {1, 1}, {2, 2}}, 2},
        {"A,B,C all one shape group", {A, B, C}, 2, 50, {{0, 1}, {1, 1}, {2, 1}}, 1},
        {"A,B,C window too narrow", {A, B, make_peak(10, {1, 3, 5, 3, 1}, 15, 20, 2)}, 2, 10,
         {{0, 1}, {1, 1}, {2, 2}}, 2},
        // Seed b2 moves to match a2 (shift 1: 14.7631 degrees).
        {"pair at its angle", {a2, b2}, 3, 14.7632, {{0, 1}, {1, 1}}, 1},
        {"pair below its angle", {a2, b2}, 3, 14.7630, {{1, 1}, {0, 2}}, 2},
        // Window from scan 0 when the tolerance exceeds the apex.
        {"window clipped at 0", {make_peak(0, {1, 2, 1}, 1, 5, 0), make_peak(3, {1, 2, 1}, 4, 9, 1)}, 6, 1,
         {{0, 1}, {1, 1}}, 1},
        // A tolerance read as 2^32-1 must neither wrap nor drop the seed.
        {"tolerance 2^32-1", {make_peak(500, {1, 2, 1}, 501, 5, 0), make_peak(9000, {1, 2, 1}, 9001, 9, 1)},
         4294967295u, 100, {{0, 1}, {1, 1}}, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const GroupRun r = run_group(row.peaks, row.tol, row.angle);
        ASSERT_EQ(r.out.size(), row.result.size());
        for (std::size_t k = 0; k < r.out.size(); ++k) {
            EXPECT_EQ(r.out[k].EIC_ID, row.result[k].eic) << k;
            EXPECT_EQ(r.out[k].Group_ID, row.result[k].group) << k;
        }
        EXPECT_EQ(last_line(r.printed), "Peak Grouping Finished! Ttotally," + std::to_string(row.groups) + "Groups are Got!");
    }
}

std::vector<Chromatogram_Peak> random_peaks(std::mt19937_64& rng, std::size_t n, std::uint32_t scans, bool odd) {
    std::uniform_int_distribution<std::uint32_t> apex(0, scans), width(0, 7), area(1, 30);
    std::uniform_real_distribution<double> jitter(0.5, 1.5);
    std::vector<Chromatogram_Peak> peaks;
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint32_t a = apex(rng), wl = width(rng), wr = width(rng);
        const std::uint32_t left = a > wl ? a - wl : 0;
        std::vector<double> v;
        // A few shared templates so that shapes group; jitter so that not all do.
        const int tmpl = static_cast<int>(rng() % 3);
        for (std::uint32_t s = left; s <= a + wr; ++s) {
            const double x = static_cast<double>(s) - a;
            const double base = tmpl == 0 ? std::exp(-x * x / 8) : tmpl == 1 ? 1.0 / (1 + x * x) : (x < 0 ? 1 : 0.3);
            v.push_back(base * 1000 * (rng() % 4 == 0 ? jitter(rng) : 1.0));
        }
        // Areas from a small set give ties for the seed choice.
        auto p = make_peak(left, v, a, area(rng), static_cast<std::uint32_t>(k / 2), static_cast<std::uint32_t>(k % 2));
        if (odd) {
            const int what = static_cast<int>(rng() % 40);
            if (what == 0) p.Peak_Area = std::numeric_limits<double>::quiet_NaN();
            if (what == 1 && k > 0) {
                p.EIC_ID = static_cast<std::uint32_t>((k - 1) / 2);  // an (EIC_ID, Peak_ID) pair seen before
                p.Peak_ID = static_cast<std::uint32_t>((k - 1) % 2);
            }
            if (what == 2) p.Peak_shape.resize(p.Peak_shape.size() / 2);
            if (what == 3) p.Peak_Area = -0.0;
            if (what == 4 && !p.Peak_shape.empty()) p.Peak_shape[0].intensity = std::numeric_limits<double>::infinity();
        }
        peaks.push_back(std::move(p));
    }
    return peaks;
}

void expect_same_records(const std::vector<Chromatogram_Peak_Group>& a, const std::vector<Chromatogram_Peak_Group>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t k = 0; k < a.size(); ++k) {
        ASSERT_EQ(a[k].Group_ID, b[k].Group_ID) << k;
        ASSERT_EQ(a[k].EIC_ID, b[k].EIC_ID) << k;
        ASSERT_EQ(a[k].Peak_ID, b[k].Peak_ID) << k;
        ASSERT_EQ(a[k].Apex_Pos, b[k].Apex_Pos) << k;
        ASSERT_EQ(a[k].Left_Boundary, b[k].Left_Boundary) << k;
        ASSERT_EQ(a[k].Right_Boundary, b[k].Right_Boundary) << k;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(a[k].Peak_Area), std::bit_cast<std::uint64_t>(b[k].Peak_Area)) << k;
        ASSERT_EQ(a[k].Peak_shape.size(), b[k].Peak_shape.size()) << k;
    }
}

// The fast grouping against the plain one on random lists, and the properties any grouping has.
TEST(PeakGroup, MatchesPlainTranscriptionAndKeepsItsPromises) {
    std::mt19937_64 rng(20261209);
    int multi_member_groups = 0;
    for (int trial = 0; trial < 60; ++trial) {
        const std::size_t n = trial < 5 ? static_cast<std::size_t>(trial) : 10 + static_cast<std::size_t>(trial) * 5;
        const bool odd = trial % 3 == 2;
        const auto peaks = random_peaks(rng, n, static_cast<std::uint32_t>(n / 2 + 5), odd);
        const std::uint32_t tol = static_cast<std::uint32_t>(trial % 5);
        const double angle = trial % 4 == 0 ? 5.0 : 30.0;
        SCOPED_TRACE("trial " + std::to_string(trial) + " n=" + std::to_string(n));

        const GroupRun fast = run_group(peaks, tol, angle);
        GroupRun slow;
        testing::internal::CaptureStdout();
        oracle::peak_group(slow.out, peaks, tol, angle);
        slow.printed = testing::internal::GetCapturedStdout();
        expect_same_records(fast.out, slow.out);
        EXPECT_EQ(fast.printed, slow.printed);

        // Every peak once, numbers 1..G all used, sorted, first seed the largest area.
        ASSERT_EQ(fast.out.size(), n);
        std::uint32_t expect_next = 1;
        for (std::size_t k = 0; k < n; ++k) {
            const std::uint32_t g = fast.out[k].Group_ID;
            ASSERT_TRUE(g == expect_next || (k > 0 && g == fast.out[k - 1].Group_ID)) << k;
            if (g == expect_next) ++expect_next;
            if (k > 0 && g == fast.out[k - 1].Group_ID) ++multi_member_groups;
        }
        if (!odd && n > 0) {
            double largest = 0;
            for (const auto& p : peaks) largest = std::max(largest, p.Peak_Area);
            bool seed_in_group_1 = false;
            for (const auto& p : fast.out)
                if (p.Group_ID == 1 && p.Peak_Area == largest) seed_in_group_1 = true;
            EXPECT_TRUE(seed_in_group_1);
        }
    }
    EXPECT_GT(multi_member_groups, 100);  // the random shapes do form groups
}

}  // namespace
