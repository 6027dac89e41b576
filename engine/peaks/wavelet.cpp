#include "engine/peaks/wavelet.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <immintrin.h>
#include <limits>
#include <mutex>

#include "engine/peaks/internal/extremum.h"
#include "engine/peaks/internal/wavelet_kernels.h"

namespace {

using korvane::wavelet_kernels::convolve_scale_plain;
using korvane::wavelet_kernels::convolve_scale_wide;
using korvane::wavelet_kernels::finish_coefficients_plain;
using korvane::wavelet_kernels::finish_coefficients_wide;
using korvane::wavelet_kernels::kBlock;
using korvane::wavelet_kernels::kPadding;
using korvane::wavelet_kernels::ScaleInputs;

constexpr double kPi = 3.14159265358979323846;
// The wavelet's support: x from -8 to 8, sampled as 16a + 1 points at scale a, centred on 8a.
constexpr double kSupportHalfWidth = 8.0;
constexpr double kSupportWidth = 16.0;
constexpr int kSamplesPerScale = 16;
constexpr int kCentrePerScale = 8;

double round_to_five_significant_digits(double v) {
    char text[40];
    const auto written = std::to_chars(text, text + sizeof text, v, std::chars_format::scientific, 4);
    double rounded = v;
    std::from_chars(text, written.ptr, rounded);
    return rounded;
}

std::array<double, 1024> make_mexhat_table() {
    const double norm = 2.0 / (std::sqrt(3.0) * std::pow(kPi, 0.25));
    const double step = kSupportWidth / 1023.0;
    std::array<double, 1024> table{};
    double running_sum = 0.0;
    for (std::size_t k = 0; k < table.size(); ++k) {
        const double x = -kSupportHalfWidth + static_cast<double>(k) * step;
        running_sum += norm * (1.0 - x * x) * std::exp(-x * x / 2.0);
        table[k] = round_to_five_significant_digits(step * running_sum);
    }
    return table;
}

// Bit k set when value k of the eight from p on equals value.
inline unsigned equal_bits(const double* p, double value) {
    const __m128d b = _mm_set1_pd(value);
    unsigned bits = 0;
    for (int k = 0; k < 8; k += 2)
        bits |= static_cast<unsigned>(_mm_movemask_pd(_mm_cmpeq_pd(_mm_loadu_pd(p + k), b))) << k;
    return bits;
}

// The detector's scans, two values at a time. They compare exactly as the scalar tests do, so a
// NaN never counts as outside, rising or falling.

// The first index from i on, below end, whose value lies below lo or above hi; end when there is none.
inline std::uint32_t first_outside(const double* v, std::uint32_t i, std::uint32_t end, double lo, double hi) {
    const __m128d low = _mm_set1_pd(lo), high = _mm_set1_pd(hi);
    for (; end - i >= 8; i += 8) {
        __m128d out = _mm_setzero_pd();
        for (std::uint32_t k = 0; k < 8; k += 2) {
            const __m128d x = _mm_loadu_pd(v + i + k);
            out = _mm_or_pd(out, _mm_or_pd(_mm_cmplt_pd(x, low), _mm_cmpgt_pd(x, high)));
        }
        if (_mm_movemask_pd(out) != 0) break;
    }
    for (; i < end; ++i)
        if (v[i] < lo || v[i] > hi) break;
    return i;
}

// The first index from i on (i >= 1) whose value is not above its predecessor (rising) or not
// below it (falling); n when there is none.
template <bool rising>
std::uint32_t end_of_run(const double* v, std::uint32_t i, std::uint32_t n) {
    for (; n - i >= 8; i += 8) {
        __m128d on = _mm_castsi128_pd(_mm_set1_epi32(-1));
        for (std::uint32_t k = 0; k < 8; k += 2) {
            const __m128d x = _mm_loadu_pd(v + i + k), previous = _mm_loadu_pd(v + i + k - 1);
            on = _mm_and_pd(on, rising ? _mm_cmpgt_pd(x, previous) : _mm_cmplt_pd(x, previous));
        }
        if (_mm_movemask_pd(on) != 3) break;
    }
    for (; i < n; ++i)
        if (!(rising ? v[i] > v[i - 1] : v[i] < v[i - 1])) break;
    return i;
}

// Whether the eight values from p on (at index i) leave the search quiet: none can record the
// extremum sought or turn the search, because every one lies within value_delta of the furthest
// value the extremum reaches in the block (or already has). Then only the extremum moves, to the
// first of the block's largest (smallest) values if that lies beyond it. A NaN never counts.
template <bool rising>
inline bool quiet_block(const double* p, std::uint32_t i, double value_delta, double& kept, std::uint32_t& kept_pos) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    __m128d high = _mm_set1_pd(-inf), low = _mm_set1_pd(inf);
    for (int k = 0; k < 8; k += 2) {
        const __m128d x = _mm_loadu_pd(p + k);
        high = _mm_max_pd(x, high);  // the second operand wins over a NaN
        low = _mm_min_pd(x, low);
    }
    const double block_high = std::max(_mm_cvtsd_f64(high), _mm_cvtsd_f64(_mm_unpackhi_pd(high, high)));
    const double block_low = std::min(_mm_cvtsd_f64(low), _mm_cvtsd_f64(_mm_unpackhi_pd(low, low)));
    const double furthest = rising ? block_high : block_low;
    const bool moves = rising ? furthest > kept : furthest < kept;
    const double reach = moves ? furthest : kept;
    if (!(rising ? block_low >= reach - value_delta : block_high <= reach + value_delta)) return false;
    if (moves) {
        const auto at = static_cast<std::uint32_t>(__builtin_ctz(equal_bits(p, furthest)));
        kept_pos = i + at;
        kept = p[at];
    }
    return true;
}

// The steps of detect_alternating_extrema, taken from event to event. While a maximum is sought
// the running minimum is never read (recording the maximum resets it), and the other way round, so
// between events nothing that can be seen changes. The events while a maximum is sought: a value
// above it (a new maximum, and every value that goes on rising after it is the next one), or,
// more than pos_delta past it, a value more than value_delta below it (the maximum is recorded and
// a minimum is sought from that value). The same, mirrored, while a minimum is sought.
void detect_maxima(const double* v, std::uint32_t n, double value_delta, std::uint32_t pos_delta,
                   std::vector<std::uint32_t>& maxima) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    bool looking_for_max = true;
    double run_max = std::numeric_limits<double>::lowest(), run_min = 0.0;
    std::uint32_t max_pos = 0, min_pos = 0;
    std::uint32_t i = 0;
    while (i < n) {
        const std::uint32_t extremum_pos = looking_for_max ? max_pos : min_pos;
        const auto guard_end =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(n, std::uint64_t{extremum_pos} + pos_delta + 1));
        std::uint32_t j;
        if (looking_for_max) {
            j = i < guard_end ? first_outside(v, i, guard_end, -inf, run_max) : guard_end;
            if (j == guard_end) j = first_outside(v, std::max(i, guard_end), n, run_max - value_delta, run_max);
        } else {
            j = i < guard_end ? first_outside(v, i, guard_end, run_min, inf) : guard_end;
            if (j == guard_end) j = first_outside(v, std::max(i, guard_end), n, run_min, run_min + value_delta);
        }
        if (j == n) break;
        const double x = v[j];
        if (looking_for_max && x > run_max) {
            const std::uint32_t end = end_of_run<true>(v, j + 1, n);
            max_pos = end - 1, run_max = v[max_pos];
            i = end;
            // A rise that goes on in small steps back and forth: blocks that only move the maximum.
            while (n - i >= 8 && quiet_block<true>(v + i, i, value_delta, run_max, max_pos)) i += 8;
        } else if (!looking_for_max && x < run_min) {
            const std::uint32_t end = end_of_run<false>(v, j + 1, n);
            min_pos = end - 1, run_min = v[min_pos];
            i = end;
            while (n - i >= 8 && quiet_block<false>(v + i, i, value_delta, run_min, min_pos)) i += 8;
        } else if (looking_for_max) {
            maxima.push_back(max_pos);
            run_min = x, min_pos = j;
            looking_for_max = false;
            i = j + 1;
        } else {
            run_max = x, max_pos = j;
            looking_for_max = true;
            i = j + 1;
        }
    }
}

// Reversed wavelet samples of one scale, h[t] = sample 16a - t for t = 0..16a, with kPadding zeros
// on either side. They depend on the scale alone, so the scales up to kSharedScales are built once
// per process, on first use, and shared by every thread; a larger scale is built into the caller's
// scratch each time, which keeps the memory bounded whatever the configured peak width.
constexpr std::uint32_t kSharedScales = 128;

void build_reversed_samples(std::uint32_t scale, std::vector<double>& padded) {
    const std::ptrdiff_t m = kSamplesPerScale * static_cast<std::ptrdiff_t>(scale) + 1;
    padded.assign(static_cast<std::size_t>(m + 2 * kPadding), 0.0);
    double* const h = padded.data() + kPadding;
    const double stretch = static_cast<double>(scale) * kMexhatGridStep;
    for (std::ptrdiff_t j = 0; j < m; ++j) {
        const auto index = static_cast<std::size_t>(std::floor(static_cast<double>(j) / stretch));
        h[m - 1 - j] = mexhat_wav[index];
    }
}

const double* reversed_samples(std::uint32_t scale, std::vector<double>& scratch) {
    if (scale > kSharedScales) {
        build_reversed_samples(scale, scratch);
        return scratch.data() + kPadding;
    }
    // Never destroyed: a worker thread may still be transforming while the program exits.
    static std::mutex* const guard = new std::mutex;
    static auto* const shared = new std::array<std::vector<double>, kSharedScales + 1>;
    const std::lock_guard<std::mutex> lock(*guard);
    std::vector<double>& samples = (*shared)[scale];
    if (samples.empty()) build_reversed_samples(scale, samples);
    return samples.data() + kPadding;
}

}  // namespace

namespace korvane::detail {

SignalTransform::SignalTransform(Kernels kernels)
    : wide_(kernels == Kernels::fastest && __builtin_cpu_supports("avx512f")) {}

void SignalTransform::reset(const std::vector<double>& s) {
    n_ = static_cast<std::ptrdiff_t>(s.size());
    padded_.assign(s.size() + 2 * kPadding, 0.0);
    std::copy(s.begin(), s.end(), padded_.begin() + kPadding);
    nonzero_position_.clear();
    nonzero_value_.clear();
    nonzero_before_.resize(s.size() + 1);
    for (std::ptrdiff_t i = 0; i < n_; ++i) {
        nonzero_before_[static_cast<std::size_t>(i)] = static_cast<std::ptrdiff_t>(nonzero_position_.size());
        if (s[static_cast<std::size_t>(i)] != 0.0) {
            nonzero_position_.push_back(i);
            nonzero_value_.push_back(s[static_cast<std::size_t>(i)]);
        }
    }
    nonzero_before_[static_cast<std::size_t>(n_)] = static_cast<std::ptrdiff_t>(nonzero_position_.size());
    run_first_.resize(nonzero_position_.size());
    for (std::size_t k = 0; k < run_first_.size(); ++k) {
        const bool continues = k > 0 && nonzero_position_[k - 1] + 1 == nonzero_position_[k];
        run_first_[k] = continues ? run_first_[k - 1] : static_cast<std::ptrdiff_t>(k);
    }
}

double SignalTransform::coefficients(std::uint32_t scale, std::vector<double>& out) {
    const std::ptrdiff_t a = scale;
    const ScaleInputs in{padded_.data() + kPadding, n_, nonzero_position_.data(), nonzero_value_.data(),
                         nonzero_before_.data(), run_first_.data(), reversed_samples(scale, samples_), kSamplesPerScale * a + 1};

    // sums_[k] = c[8a - 1 + k] for k = 0..n.
    const std::ptrdiff_t blocks = (n_ + 1 + kBlock - 1) / kBlock;
    sums_.resize(static_cast<std::size_t>(blocks * kBlock));
    if (wide_) {
        convolve_scale_wide(in, kCentrePerScale * a - 1, blocks, sums_.data());
    } else {
        convolve_scale_plain(in, kCentrePerScale * a - 1, blocks, sums_.data());
    }

    out.resize(static_cast<std::size_t>(n_));
    if (out.empty()) return 0.0;
    const double root = std::sqrt(static_cast<double>(scale));
    const double largest = wide_ ? finish_coefficients_wide(sums_.data(), out.size(), root, out.data())
                                 : finish_coefficients_plain(sums_.data(), out.size(), root, out.data());
    if (largest != 0.0) return largest;
    return *std::max_element(out.begin(), out.end());
}

void alternating_maxima(const std::vector<double>& signal, double value_delta, std::uint32_t pos_delta,
                        std::vector<std::uint32_t>& maxima) {
    detect_maxima(signal.data(), static_cast<std::uint32_t>(signal.size()), value_delta, pos_delta, maxima);
}

}  // namespace korvane::detail

const std::array<double, 1024> mexhat_wav = make_mexhat_table();

void cwt(std::vector<double> signal_data, std::vector<std::uint32_t> Scale_Array,
         std::map<std::uint32_t, std::vector<double>>& Coef_Scale) {
    korvane::detail::SignalTransform transform(signal_data);
    for (const std::uint32_t scale : Scale_Array) {
        // Scale 0 would divide by zero in the table index.
        if (scale == 0) continue;
        // A repeated scale would give the same vector again, which is not stored.
        if (Coef_Scale.count(scale) != 0) continue;
        transform.coefficients(scale, Coef_Scale[scale]);
    }
}

void conv(std::vector<double> f, std::vector<double> h, std::vector<double>& Result_Conv) {
    if (f.empty() || h.empty()) return;  // n + m - 1 would wrap
    const std::size_t n = f.size(), m = h.size(), N = n + m - 1;
    Result_Conv.reserve(Result_Conv.size() + N);
    for (std::size_t k = 0; k < N; ++k) {
        // Zero padding contributes exact zeros: the valid j alone give the same bits.
        const std::size_t lo = k + 1 > m ? k + 1 - m : 0, hi = std::min(k, n - 1);
        double s = 0.0;
        for (std::size_t j = hi + 1; j-- > lo;) s += f[j] * h[k - j];
        Result_Conv.push_back(s);
    }
}

void local_max_min_det(std::vector<double> signal_data, double value_delta, std::uint32_t pos_delta,
                       std::map<std::uint32_t, double>& Local_Maximum, std::map<std::uint32_t, double>& Local_Mininum) {
    korvane::detect_alternating_extrema(signal_data, value_delta, pos_delta, Local_Maximum, Local_Mininum);
}
