// The vector kernels of the wavelet transform (wavelet.cpp). Included by wavelet.cpp alone, so
// the compiler sees every caller of these functions in that one file and inlines as it would
// inside it; a second file including this one would define the dispatched functions twice and
// fail to link.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <immintrin.h>

namespace korvane::wavelet_kernels {

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
    static __attribute__((target("avx512f"))) inline void by_sample(const ScaleInputs& in, std::ptrdiff_t i0, std::ptrdiff_t tmin,
                                              std::ptrdiff_t tmax, double* out) {
        WideSums sums{_mm512_setzero_pd(), _mm512_setzero_pd(), _mm512_setzero_pd(), _mm512_setzero_pd()};
        for (std::ptrdiff_t t = tmin; t <= tmax; t += 8)
            slide_up_to_eight<false, 1>(sums, in.x + (i0 - t), in.h + t, tmax - t + 1);
        store(sums, out);
    }

    // As convolve_block_by_value: along a run of consecutive non-zero positions, taken from the
    // top down, the wavelet samples read move one place up per step.
    static __attribute__((target("avx512f"))) inline void by_value(const ScaleInputs& in, std::ptrdiff_t i0, std::ptrdiff_t from,
                                             std::ptrdiff_t to, double* out) {
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

// Flattened: the block kernels are called from here alone and belong inlined, which the compiler
// would not do by itself for functions other files could call.
__attribute__((target("avx512f"), flatten)) void convolve_scale_wide(const ScaleInputs& in, std::ptrdiff_t first,
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

}  // namespace korvane::wavelet_kernels
