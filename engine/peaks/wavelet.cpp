#include "engine/peaks/wavelet.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <immintrin.h>
#include <limits>
#include <mutex>

#include "engine/peaks/extremum.h"

namespace {

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

// ---- Fast transform ---------------------------------------------------------------------------
//
// Coefficient k of scale a needs only two values of the full convolution c = signal * reversed
// wavelet samples: c[8a - 1 + k] and c[8a + k]. Each value of c is summed as the padded, rotating
// convolution sums it, one term at a time from the largest signal index down, starting at 0.0.
// That convolution also adds the terms that fall on zero padding; those are exact zeros, and since
// a running sum that starts at +0.0 can never become -0.0, adding or leaving out a zero term
// changes no bit (finite input). That lets a block of outputs (a) leave out every term whose
// signal value is zero - the zero-filled gaps of a trace and the padding around it - and (b) add
// harmless zero terms where that keeps all lanes of the block in step.
//
// Outputs are computed kBlock at a time, one per vector lane, each lane adding its own terms in that
// order, so vectorising changes nothing either. A block walks its terms one of two ways,
// whichever takes fewer steps; both visit the signal indices from the top down:
//   by wavelet sample t ascending, over the span where the block's window holds non-zero values
//   (dense stretches of a trace);
//   by non-zero signal value, from the last down (sparse traces: isolated points between gaps).
// The kernels are compiled for several instruction sets, with a plain multiply then add: a fused
// multiply-add would round once instead of twice.

typedef double lanes4 __attribute__((vector_size(32)));
typedef double lanes8 __attribute__((vector_size(64)));
constexpr std::ptrdiff_t kVectors = 8;  // independent sums in flight: enough to hide the add latency
constexpr std::ptrdiff_t kBlock = 4 * kVectors;  // outputs per block
// Zeros around the signal and the wavelet samples: a block's lanes read up to kBlock - 1 values
// past either end, the sliding kernels 8 more.
constexpr std::ptrdiff_t kPadding = kBlock + 8;

#define KORVANE_ALWAYS_INLINE inline __attribute__((always_inline))

// out[v] = sum over t = tmin..tmax, ascending, of x[i0 + v - t] * h[t], for v = 0..kBlock-1.
KORVANE_ALWAYS_INLINE void convolve_block_by_sample(const double* x, std::ptrdiff_t i0, const double* h,
                                                    std::ptrdiff_t tmin, std::ptrdiff_t tmax, double* out) {
    lanes4 acc[kVectors];
    for (auto& a : acc) a = lanes4{};
    for (std::ptrdiff_t t = tmin; t <= tmax; ++t) {
        const double w = h[t];
        const lanes4 weight = {w, w, w, w};
        const double* src = x + (i0 - t);
#pragma GCC unroll 8
        for (std::ptrdiff_t u = 0; u < kVectors; ++u) {
            lanes4 v;
            std::memcpy(&v, src + 4 * u, sizeof v);
            const lanes4 product = v * weight;
            acc[u] += product;
        }
    }
    std::memcpy(out, acc, sizeof acc);
}

// out[v] = sum over k = count-1 down to 0 of value[k] * h[i0 + v - position[k]], for v = 0..kBlock-1,
// where h is zero outside the wavelet (the caller passes it padded with zeros).
KORVANE_ALWAYS_INLINE void convolve_block_by_value(const double* h, std::ptrdiff_t i0, const std::ptrdiff_t* position,
                                                   const double* value, std::ptrdiff_t count, double* out) {
    lanes4 acc[kVectors];
    for (auto& a : acc) a = lanes4{};
    for (std::ptrdiff_t k = count; k-- > 0;) {
        const double w = value[k];
        const lanes4 weight = {w, w, w, w};
        const double* src = h + (i0 - position[k]);
#pragma GCC unroll 8
        for (std::ptrdiff_t u = 0; u < kVectors; ++u) {
            lanes4 v;
            std::memcpy(&v, src + 4 * u, sizeof v);
            const lanes4 product = weight * v;
            acc[u] += product;
        }
    }
    std::memcpy(out, acc, sizeof acc);
}

// What the blocks of one scale read: the signal with kPadding zeros on either side (x points at its
// first value), its non-zero values with their positions, and the reversed wavelet samples h, also
// with kPadding zeros on either side.
struct ScaleInputs {
    const double* x;
    std::ptrdiff_t n;
    const std::ptrdiff_t* nonzero_position;  // ascending
    const double* nonzero_value;
    const std::ptrdiff_t* nonzero_before;    // [p]: non-zero values at indices below p; n + 1 entries
    const std::ptrdiff_t* run_first;         // [k]: first non-zero value of the run of positions k is in
    const double* h;
    std::ptrdiff_t m;                        // wavelet samples
};

struct PlainKernels {
    static KORVANE_ALWAYS_INLINE void by_sample(const ScaleInputs& in, std::ptrdiff_t i0, std::ptrdiff_t tmin,
                                                std::ptrdiff_t tmax, double* out) {
        convolve_block_by_sample(in.x, i0, in.h, tmin, tmax, out);
    }
    static KORVANE_ALWAYS_INLINE void by_value(const ScaleInputs& in, std::ptrdiff_t i0, std::ptrdiff_t from,
                                               std::ptrdiff_t to, double* out) {
        convolve_block_by_value(in.h, i0, in.nonzero_position + from, in.nonzero_value + from, to - from, out);
    }
};

// sums[k] = c[first + k] for k = 0..blocks * kBlock - 1.
template <class Kernels>
KORVANE_ALWAYS_INLINE void convolve_blocks(const ScaleInputs& in, std::ptrdiff_t first, std::ptrdiff_t blocks,
                                           double* sums) {
    for (std::ptrdiff_t b = 0; b < blocks; ++b) {
        const std::ptrdiff_t i0 = first + b * kBlock;
        double* const block = sums + b * kBlock;
        // Signal indices any lane of the block reads, and the non-zero values among them.
        const std::ptrdiff_t lo = std::max<std::ptrdiff_t>(i0 - (in.m - 1), 0);
        const std::ptrdiff_t hi = std::min<std::ptrdiff_t>(i0 + kBlock - 1, in.n - 1);
        const std::ptrdiff_t from = lo > hi ? 0 : in.nonzero_before[lo];
        const std::ptrdiff_t to = lo > hi ? 0 : in.nonzero_before[hi + 1];
        if (from == to) {  // only zero terms: the sums stay +0.0
            std::fill(block, block + kBlock, 0.0);
            continue;
        }
        const std::ptrdiff_t q1 = in.nonzero_position[from];
        const std::ptrdiff_t q2 = in.nonzero_position[to - 1];
        const std::ptrdiff_t tmin = std::max<std::ptrdiff_t>(0, i0 - q2);
        const std::ptrdiff_t tmax = std::min<std::ptrdiff_t>(in.m - 1, i0 + kBlock - 1 - q1);
        if (to - from < tmax - tmin + 1) {
            Kernels::by_value(in, i0, from, to, block);
        } else {
            Kernels::by_sample(in, i0, tmin, tmax, block);
        }
    }
}

__attribute__((target_clones("avx2", "default"))) void convolve_scale_plain(const ScaleInputs& in,
                                                                            std::ptrdiff_t first,
                                                                            std::ptrdiff_t blocks, double* sums) {
    convolve_blocks<PlainKernels>(in, first, blocks, sums);
}

// ---- Kernels with 512-bit vectors that slide ----------------------------------------------------
//
// Step after step, a block reads 32 values that lie one place further along than the step before:
// the wavelet samples against a run of consecutive non-zero signal values, or the signal values
// against consecutive wavelet samples. Plain kernels load every stretch afresh, and their loads,
// not the arithmetic, set their pace. Here, over up to eight steps, the first 16 values of each
// stretch are loaded and the other 16 are shifted out of three registers loaded once, so load and
// shuffle units share the work. Every lane still adds exactly its own products, in the same order.

#define KORVANE_WIDE_INLINE __attribute__((target("avx512f"), always_inline)) inline

struct WideSums {
    __m512d s0, s1, s2, s3;
};

// Values shift .. shift + 7 of the sixteen in low, high.
template <int shift>
KORVANE_WIDE_INLINE __m512d shifted(__m512d low, __m512d high) {
    if constexpr (shift == 0) {
        return low;
    } else {
        // The masked form: the unmasked one leaves its unused source undefined, which GCC 12 warns of.
        return _mm512_castsi512_pd(
            _mm512_maskz_alignr_epi64(0xFF, _mm512_castpd_si512(high), _mm512_castpd_si512(low), shift));
    }
}

KORVANE_WIDE_INLINE void add_products(WideSums& sums, __m512d v0, __m512d v1, __m512d v2, __m512d v3, double w) {
    const __m512d weight = _mm512_set1_pd(w);
    sums.s0 = _mm512_add_pd(sums.s0, _mm512_mul_pd(v0, weight));
    sums.s1 = _mm512_add_pd(sums.s1, _mm512_mul_pd(v1, weight));
    sums.s2 = _mm512_add_pd(sums.s2, _mm512_mul_pd(v2, weight));
    sums.s3 = _mm512_add_pd(sums.s3, _mm512_mul_pd(v3, weight));
}

// Steps 0..count-1: step s reads the 32 values from src + s (up) or src - s on, with the weight
// weights[s * weight_step]. Reads up to 8 values beyond the last stretch on the far side.
template <bool up, std::ptrdiff_t weight_step, int count, int s = 0>
KORVANE_WIDE_INLINE void slide_steps(WideSums& sums, const double* src, const double* weights, __m512d r2,
                                     __m512d r3, __m512d r4) {
    if constexpr (s < count) {
        constexpr int at = up ? s : 7 - s;
        const double* here = up ? src + s : src - s;
        add_products(sums, _mm512_loadu_pd(here), _mm512_loadu_pd(here + 8), shifted<at>(r2, r3), shifted<at>(r3, r4),
                     weights[s * weight_step]);
        slide_steps<up, weight_step, count, s + 1>(sums, src, weights, r2, r3, r4);
    }
}

template <bool up, std::ptrdiff_t weight_step, int count>
KORVANE_WIDE_INLINE void slide(WideSums& sums, const double* src, const double* weights) {
    // The 24 values from 16 on of every stretch: up, src + 16 .. src + 39; down, src + 9 .. src + 32.
    const double* upper = up ? src + 16 : src + 9;
    slide_steps<up, weight_step, count>(sums, src, weights, _mm512_loadu_pd(upper), _mm512_loadu_pd(upper + 8),
                                        _mm512_loadu_pd(upper + 16));
}

// Up to eight steps of a slide.
template <bool up, std::ptrdiff_t weight_step>
KORVANE_WIDE_INLINE void slide_up_to_eight(WideSums& sums, const double* src, const double* weights,
                                           std::ptrdiff_t count) {
    switch (count) {
        case 1: slide<up, weight_step, 1>(sums, src, weights); break;
        case 2: slide<up, weight_step, 2>(sums, src, weights); break;
        case 3: slide<up, weight_step, 3>(sums, src, weights); break;
        case 4: slide<up, weight_step, 4>(sums, src, weights); break;
        case 5: slide<up, weight_step, 5>(sums, src, weights); break;
        case 6: slide<up, weight_step, 6>(sums, src, weights); break;
        case 7: slide<up, weight_step, 7>(sums, src, weights); break;
        default: slide<up, weight_step, 8>(sums, src, weights); break;
    }
}

struct WideKernels {
    // As convolve_block_by_sample: step t reads the signal from i0 - t on, one place lower each step.
    static __attribute__((target("avx512f"))) inline void by_sample(const ScaleInputs& in, std::ptrdiff_t i0,
                                                                    std::ptrdiff_t tmin, std::ptrdiff_t tmax,
                                                                    double* out) {
        WideSums sums{_mm512_setzero_pd(), _mm512_setzero_pd(), _mm512_setzero_pd(), _mm512_setzero_pd()};
        for (std::ptrdiff_t t = tmin; t <= tmax; t += 8)
            slide_up_to_eight<false, 1>(sums, in.x + (i0 - t), in.h + t, tmax - t + 1);
        store(sums, out);
    }

    // As convolve_block_by_value: along a run of consecutive non-zero positions, taken from the
    // top down, the wavelet samples read move one place up per step.
    static __attribute__((target("avx512f"))) inline void by_value(const ScaleInputs& in, std::ptrdiff_t i0,
                                                                   std::ptrdiff_t from, std::ptrdiff_t to,
                                                                   double* out) {
        WideSums sums{_mm512_setzero_pd(), _mm512_setzero_pd(), _mm512_setzero_pd(), _mm512_setzero_pd()};
        for (std::ptrdiff_t k = to - 1; k >= from;) {
            const std::ptrdiff_t run_start = std::max(in.run_first[k], from);
            const std::ptrdiff_t count = std::min<std::ptrdiff_t>(k - run_start + 1, 8);
            slide_up_to_eight<true, -1>(sums, in.h + (i0 - in.nonzero_position[k]), in.nonzero_value + k, count);
            k -= count;
        }
        store(sums, out);
    }

    static KORVANE_WIDE_INLINE void store(const WideSums& sums, double* out) {
        _mm512_storeu_pd(out, sums.s0);
        _mm512_storeu_pd(out + 8, sums.s1);
        _mm512_storeu_pd(out + 16, sums.s2);
        _mm512_storeu_pd(out + 24, sums.s3);
    }
};

__attribute__((target("avx512f"))) void convolve_scale_wide(const ScaleInputs& in, std::ptrdiff_t first,
                                                             std::ptrdiff_t blocks, double* sums) {
    convolve_blocks<WideKernels>(in, first, blocks, sums);
}

// coefficients[k] = -(root * (c[k + 1] - c[k])) for k = 0..n-1 (n >= 1). Returns the largest
// coefficient, or 0.0 when a NaN turned up or the largest is a zero, whose sign per-lane maxima
// may not keep: the caller then looks again the scalar way. Lanes is a vector of doubles as wide
// as the instruction set handles whole.
template <class Lanes>
KORVANE_ALWAYS_INLINE double finish_coefficients(const double* c, std::size_t n, double root, double* coefficients) {
    constexpr std::size_t width = sizeof(Lanes) / sizeof(double);
    const double first = -(root * (c[1] - c[0]));
    Lanes r, best, nan;
    for (std::size_t lane = 0; lane < width; ++lane) r[lane] = root, best[lane] = first, nan[lane] = 0.0;
    std::size_t k = 0;
    for (; n - k >= width; k += width) {
        Lanes here, next;
        std::memcpy(&here, c + k, sizeof here);
        std::memcpy(&next, c + k + 1, sizeof next);
        const Lanes difference = next - here;
        const Lanes coefficient = -(r * difference);
        std::memcpy(coefficients + k, &coefficient, sizeof coefficient);
        best = coefficient > best ? coefficient : best;
        nan = coefficient != coefficient ? coefficient : nan;
    }
    double largest = best[0];
    bool plain = true;
    for (std::size_t lane = 0; lane < width; ++lane) {
        largest = best[lane] > largest ? best[lane] : largest;
        plain = plain && nan[lane] == 0.0;
    }
    for (; k < n; ++k) {
        const double coefficient = -(root * (c[k + 1] - c[k]));
        coefficients[k] = coefficient;
        if (coefficient != coefficient) plain = false;
        if (coefficient > largest) largest = coefficient;
    }
    return plain ? largest : 0.0;
}

__attribute__((target_clones("avx2", "default"))) double finish_coefficients_plain(const double* c, std::size_t n,
                                                                                     double root,
                                                                                     double* coefficients) {
    return finish_coefficients<lanes4>(c, n, root, coefficients);
}

__attribute__((target("avx512f"))) double finish_coefficients_wide(const double* c, std::size_t n, double root,
                                                                    double* coefficients) {
    return finish_coefficients<lanes8>(c, n, root, coefficients);
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
