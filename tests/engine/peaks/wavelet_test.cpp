#include "engine/peaks/wavelet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <thread>

#include "reference/wavelet_oracle.h"

namespace {

// Signals like a filled trace: positive intensities with runs of exact zeros (long gaps), plus
// negative values so that sums cancel and the sign of zero terms matters.
std::vector<double> random_signal(std::mt19937_64& rng, std::size_t n) {
    std::uniform_real_distribution<double> value(-1e4, 1e5);
    std::uniform_int_distribution<int> kind(0, 9);
    std::vector<double> s(n);
    for (std::size_t i = 0; i < n;) {
        if (kind(rng) == 0) {  // a gap of up to 40 zeros
            const std::size_t run = std::min<std::size_t>(n - i, 1 + rng() % 40);
            for (std::size_t k = 0; k < run; ++k) s[i++] = 0.0;
        } else {
            s[i++] = value(rng);
        }
    }
    return s;
}

void expect_same_bits(const std::vector<double>& fast, const std::vector<double>& slow) {
    ASSERT_EQ(fast.size(), slow.size());
    for (std::size_t k = 0; k < fast.size(); ++k)
        ASSERT_EQ(std::bit_cast<std::uint64_t>(fast[k]), std::bit_cast<std::uint64_t>(slow[k]))
            << "k=" << k << std::hexfloat << ' ' << fast[k] << " vs " << slow[k];
}

TEST(MexhatTable, MatchesTheTellingEntriesAndShape) {
    // 1023 follows the formula (1.6511e-13), not the rounded 1.6514e-13 quoted beside it.
    const struct { std::size_t index; double value; } rows[] = {
        {0, -1.0823e-14}, {100, -5.9336e-09}, {300, -0.012354}, {447, -0.52607}, {511, 8.2572e-14},
        {512, 0.013564},  {575, 0.52607},     {700, 0.032466},  {1023, 1.6511e-13},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.index);
        EXPECT_EQ(mexhat_wav[row.index], row.value);  // stored rounded: the decimal literal exactly
    }
    EXPECT_EQ(std::min_element(mexhat_wav.begin(), mexhat_wav.end()) - mexhat_wav.begin(), 447);
    EXPECT_EQ(std::max_element(mexhat_wav.begin(), mexhat_wav.end()) - mexhat_wav.begin(), 575);
    // Odd about 511 to within 1e-12 before rounding; rounding to five digits adds up to one unit
    // in the fifth digit of either entry.
    for (std::size_t i = 0; i <= 511; ++i)
        EXPECT_NEAR(mexhat_wav[511 - i], -mexhat_wav[511 + i], 1e-12 + 1e-4 * std::fabs(mexhat_wav[511 + i])) << i;
}

TEST(WaveletSamples, ScaleOneAndTheLastSampleOfOddScales) {
    const std::size_t scale_one[] = {0, 63, 127, 191, 255, 319, 383, 447, 511, 575, 639, 703, 767, 831, 895, 959, 1023};
    for (std::uint32_t j = 0; j <= 16; ++j) EXPECT_EQ(wavelet_oracle::sample_index(j, 1), scale_one[j]) << j;
    // The grid step is not exact, so for some scales the last sample lands one entry short.
    for (std::uint32_t a : {11u, 15u, 22u, 30u}) EXPECT_EQ(wavelet_oracle::sample_index(16 * a, a), 1022u) << a;
    for (std::uint32_t a = 1; a <= 4096; ++a) ASSERT_LE(wavelet_oracle::sample_index(16 * a, a), 1023u) << a;
}

TEST(Conv, SmallExamplesAndAppending) {
    std::vector<double> out{-7.0};
    conv({1, 2, 3}, {1, 10}, out);
    EXPECT_EQ(out, (std::vector<double>{-7.0, 1, 12, 23, 30}));  // appends, keeps what was there

    const struct { const char* name; std::vector<double> f, h; std::size_t size; } rows[] = {
        {"empty f", {}, {1, 2}, 0}, {"empty h", {1, 2}, {}, 0}, {"both empty", {}, {}, 0},
        {"1 and 1", {4}, {0.5}, 1}, {"5 and 3", {1, 2, 3, 4, 5}, {1, 1, 1}, 7},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<double> r;
        conv(row.f, row.h, r);
        EXPECT_EQ(r.size(), row.size);
    }
}

TEST(Conv, SameBitsAsTheRotatingConvolution) {
    std::mt19937_64 rng(20261209);
    for (std::size_t n : {1u, 2u, 7u, 64u, 301u}) {
        for (std::size_t m : {1u, 17u, 33u, 400u}) {
            SCOPED_TRACE(testing::Message() << "n=" << n << " m=" << m);
            const auto f = random_signal(rng, n), h = random_signal(rng, m);
            std::vector<double> fast;
            conv(f, h, fast);
            expect_same_bits(fast, wavelet_oracle::conv_rotating(f, h));
        }
    }
}

using korvane::detail::SignalTransform;

std::uint64_t bits_of(double v) { return std::bit_cast<std::uint64_t>(v); }

TEST(Cwt, SameBitsAsTheReferenceForAllScalesUpTo64) {
    // cwt takes the fastest kernels the processor has; the portable ones must give the same bits,
    // from one transform object reset from signal to signal, with the largest coefficient as
    // std::max_element finds it.
    std::mt19937_64 rng(7);
    std::vector<std::uint32_t> scales;
    for (std::uint32_t a = 1; a <= 64; ++a) scales.push_back(a);
    SignalTransform portable(SignalTransform::Kernels::portable);
    for (std::size_t n : {1u, 2u, 6u, 31u, 33u, 97u, 260u}) {
        const auto signal = random_signal(rng, n);
        std::map<std::uint32_t, std::vector<double>> coef;
        cwt(signal, scales, coef);
        ASSERT_EQ(coef.size(), scales.size());
        portable.reset(signal);
        for (std::uint32_t a : scales) {
            SCOPED_TRACE(testing::Message() << "n=" << n << " scale=" << a);
            const auto slow = wavelet_oracle::cwt_scale(signal, a);
            expect_same_bits(coef.at(a), slow);
            std::vector<double> mine{1.0};  // replaced
            const double largest = portable.coefficients(a, mine);
            expect_same_bits(mine, slow);
            if (!slow.empty()) {
                EXPECT_EQ(bits_of(largest), bits_of(*std::max_element(slow.begin(), slow.end())));
            }
        }
    }
}

TEST(Cwt, SameBitsOnTraceLikeSignals) {
    // Peaks separated by long zero gaps and a signal that is zero at both ends: the fast path skips
    // those stretches entirely.
    std::vector<double> trace(400, 0.0);
    for (std::size_t i = 0; i < trace.size(); ++i) {
        const double x1 = (static_cast<double>(i) - 60) / 5, x2 = (static_cast<double>(i) - 300) / 9;
        if (i < 120) trace[i] = 1e5 * std::exp(-x1 * x1 / 2);
        if (i > 250 && i < 350) trace[i] = 3e4 * std::exp(-x2 * x2 / 2) + 10;
    }
    SignalTransform portable(trace, SignalTransform::Kernels::portable);
    for (std::uint32_t a : {1u, 2u, 5u, 16u, 31u, 50u}) {
        SCOPED_TRACE(a);
        std::map<std::uint32_t, std::vector<double>> coef;
        cwt(trace, {a}, coef);
        const auto slow = wavelet_oracle::cwt_scale(trace, a);
        expect_same_bits(coef.at(a), slow);
        std::vector<double> mine;
        portable.coefficients(a, mine);
        expect_same_bits(mine, slow);
    }
}

TEST(Cwt, SameCoefficientsFromThreadsThatStartAtOnce) {
    // The wavelet samples of a scale are built once per process, on first use, and shared: threads
    // that ask for the same new scales at once must all see them whole. Scales above 64 are new to
    // this program; those above 128 are built per call.
    std::mt19937_64 rng(11);
    const auto signal = random_signal(rng, 40);
    std::vector<std::uint32_t> scales;
    for (std::uint32_t a = 65; a <= 131; ++a) scales.push_back(a);
    std::vector<std::map<std::uint32_t, std::vector<double>>> results(4);
    {
        std::vector<std::thread> threads;
        for (auto& result : results) threads.emplace_back([&] { cwt(signal, scales, result); });
        for (auto& t : threads) t.join();
    }
    for (std::uint32_t a : {65u, 100u, 128u, 131u}) {
        SCOPED_TRACE(a);
        expect_same_bits(results[0].at(a), wavelet_oracle::cwt_scale(signal, a));
    }
    for (std::size_t k = 1; k < results.size(); ++k)
        for (std::uint32_t a : scales) expect_same_bits(results[k].at(a), results[0].at(a));
}

TEST(Cwt, ShapeOfTheResult) {
    std::map<std::uint32_t, std::vector<double>> coef;
    cwt({}, {1, 3}, coef);
    ASSERT_EQ(coef.size(), 2u);
    EXPECT_TRUE(coef.at(1).empty());
    EXPECT_TRUE(coef.at(3).empty());

    // Scale 0 is left out; a scale already present keeps its vector.
    std::map<std::uint32_t, std::vector<double>> kept{{2, {42.0}}};
    cwt({1, 2, 3, 4, 5}, {0, 2, 4, 4}, kept);
    EXPECT_EQ(kept.count(0), 0u);
    EXPECT_EQ(kept.at(2), std::vector<double>{42.0});
    EXPECT_EQ(kept.at(4).size(), 5u);

    std::map<std::uint32_t, std::vector<double>> zero;
    cwt(std::vector<double>(50, 0.0), {1, 7}, zero);
    for (const auto& [a, v] : zero)
        for (double c : v) EXPECT_EQ(c, 0.0) << a;
}

TEST(Cwt, IsLinearInTheSignal) {
    std::mt19937_64 rng(3);
    const auto x = random_signal(rng, 120), y = random_signal(rng, 120);
    std::vector<double> mix(120);
    for (std::size_t i = 0; i < mix.size(); ++i) mix[i] = 2.0 * x[i] - 0.5 * y[i];
    std::map<std::uint32_t, std::vector<double>> cx, cy, cm;
    cwt(x, {1, 4, 9}, cx);
    cwt(y, {1, 4, 9}, cy);
    cwt(mix, {1, 4, 9}, cm);
    for (std::uint32_t a : {1u, 4u, 9u}) {
        double scale_of_values = 0.0;
        for (double v : cm.at(a)) scale_of_values = std::max(scale_of_values, std::fabs(v));
        for (std::size_t k = 0; k < mix.size(); ++k)
            EXPECT_NEAR(cm.at(a)[k], 2.0 * cx.at(a)[k] - 0.5 * cy.at(a)[k], 1e-9 * scale_of_values) << a << ' ' << k;
    }
}

TEST(LocalMaxMinDet, AlternatingExtremaAndThePositionRule) {
    using Extrema = std::map<std::uint32_t, double>;
    const struct {
        const char* name;
        std::vector<double> signal;
        double value_delta;
        std::uint32_t pos_delta;
        Extrema maxima, minima;
    } rows[] = {
        {"rising to the end records nothing", {1, 2, 3, 4, 5, 6}, 0.5, 0, {}, {}},
        {"falling records position 0 once far enough", {9, 8, 7, 6, 5, 4}, 2.5, 1, {{0, 9}}, {}},
        // A maximum at p needs a value more than value_delta lower at p + pos_delta + 1 or later.
        {"pos_delta 3: low until 3 after the peak", {0, 5, 1, 1, 1}, 1, 3, {}, {}},
        {"pos_delta 3: low until 4 after the peak", {0, 5, 1, 1, 1, 1}, 1, 3, {{1, 5}}, {}},
        {"peak and valley", {0, 5, 1, 0, 1, 1, 6, 2, 2, 2, 2}, 1, 1, {{1, 5}, {6, 6}}, {{3, 0}}},
        {"value_delta is strict", {0, 5, 4, 4, 4}, 1, 0, {}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Extrema maxima, minima;
        local_max_min_det(row.signal, row.value_delta, row.pos_delta, maxima, minima);
        EXPECT_EQ(maxima, row.maxima);
        EXPECT_EQ(minima, row.minima);
    }
}

// Sequences the detector meets and the corners of its tests: smooth bumps with a small periodic
// wiggle (wavelet coefficients of a sparse trace), steps with plateaus and repeats, a few values
// with many ties and zeros of both signs, and now and then a NaN or an infinity.
std::vector<double> detector_input(std::mt19937_64& rng, int kind, std::size_t n) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> v(n);
    const double zeros[] = {-1.0, -0.0, 0.0, 1.0, 2.0};
    double level = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = static_cast<double>(i);
        switch (kind) {
            case 0:
                v[i] = 1e4 * std::sin(x / 23.0) * std::exp(-x / 400.0) + (i % 5 == 0 ? 30.0 : 0.0) + unit(rng);
                break;
            case 1:
                if (unit(rng) < 0.7) level += 100.0 * (unit(rng) - 0.45);
                v[i] = level;
                break;
            case 2:
                v[i] = zeros[rng() % 5];
                break;
            default: {
                const double special[] = {std::nan(""), std::numeric_limits<double>::infinity(),
                                          -std::numeric_limits<double>::infinity()};
                v[i] = unit(rng) < 0.05 ? special[rng() % 3] : 50.0 * std::sin(x / 7.0) + unit(rng);
            }
        }
    }
    return v;
}

TEST(LocalMaxMinDet, FastMaximaAreTheAlternatingDetectorsMaxima) {
    std::mt19937_64 rng(20261209);
    for (int kind = 0; kind < 4; ++kind) {
        for (std::size_t n : {0u, 1u, 7u, 8u, 9u, 40u, 333u, 1500u}) {
            const auto v = detector_input(rng, kind, n);
            const double largest = v.empty() ? 0.0 : *std::max_element(v.begin(), v.end());
            for (double value_delta : {0.03 * largest, 0.0, -5.0, 1e300, std::nan("")}) {
                for (std::uint32_t pos_delta : {0u, 1u, 3u, 9u, 4000u}) {
                    SCOPED_TRACE(testing::Message() << "kind " << kind << " n=" << n << " value_delta "
                                                    << value_delta << " pos_delta " << pos_delta);
                    std::map<std::uint32_t, double> maxima, minima;
                    local_max_min_det(v, value_delta, pos_delta, maxima, minima);
                    std::vector<std::uint32_t> expected, fast;
                    for (const auto& [position, value] : maxima) expected.push_back(position);
                    korvane::detail::alternating_maxima(v, value_delta, pos_delta, fast);
                    ASSERT_EQ(fast, expected);
                }
            }
        }
    }
}

}  // namespace
