// Continuous wavelet transform with the Mexican hat wavelet at integer scales, and the
// peak-and-valley detector run on each scale's coefficients.
//
// The transform follows the integrated-wavelet method: the signal is convolved with samples of the
// running integral of the wavelet stretched to the scale, and the first difference of the result,
// times -sqrt(scale), gives the coefficients. Coefficients are centred on the signal: entry k of a
// scale's vector belongs to signal position k.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

// Running integral of the normalised Mexican hat psi(x) = 2 / (sqrt(3) pi^(1/4)) (1 - x^2) e^(-x^2/2)
// on the grid x_k = -8 + k * 16/1023, by the rectangle rule, each entry rounded to five significant
// digits. Odd about index 511 to within 1e-12; extremes +-0.52607 at indices 447 and 575.
extern const std::array<double, 1024> mexhat_wav;

// Grid step of mexhat_wav (16/1023); scale a stretches the table to 16a + 1 samples.
inline constexpr double kMexhatGridStep = 0.015640273704789834;

// Inserts one vector of signal_data.size() coefficients per scale, in array order. A scale already
// in Coef_Scale keeps its vector; scale 0 lies outside the transform and is left out.
//
// Coefficients are bit-for-bit those of the full convolution summed term by term from the top
// index down (see conv), for finite input.
void cwt(std::vector<double> signal_data, std::vector<std::uint32_t> Scale_Array,
         std::map<std::uint32_t, std::vector<double>>& Coef_Scale);

// Appends the full linear convolution of f and h (f.size() + h.size() - 1 values); value k is the
// sum of f[j] * h[k - j] over the valid j, added from the largest j down, starting from 0.0. That
// order is part of the contract: cwt's fast path reproduces its bits. Empty input appends nothing.
void conv(std::vector<double> f, std::vector<double> h, std::vector<double>& Result_Conv);

// Alternating maxima and minima of signal_data, starting with a maximum; an extremum is recorded
// once the signal has moved more than value_delta away from it, more than pos_delta positions later.
void local_max_min_det(std::vector<double> signal_data, double value_delta, std::uint32_t pos_delta,
                       std::map<std::uint32_t, double>& Local_Maximum, std::map<std::uint32_t, double>& Local_Mininum);

namespace korvane::detail {

// One signal's transform, one scale at a time, for callers that read a scale and move on: the
// signal is prepared once (zero padding, the positions of its non-zero values) and the working
// storage is reused from scale to scale. Each thread uses its own object.
class SignalTransform {
public:
    // Kernels with 512-bit vectors where the processor has them; the portable ones give the same
    // bits (tests run both).
    enum class Kernels { fastest, portable };

    explicit SignalTransform(Kernels kernels = Kernels::fastest);
    explicit SignalTransform(const std::vector<double>& signal, Kernels kernels = Kernels::fastest)
        : SignalTransform(kernels) {
        reset(signal);
    }
    // Prepares the object for another signal, keeping its storage.
    void reset(const std::vector<double>& signal);
    // Replaces out with the signal.size() coefficients of scale (at least 1), the bits cwt gives,
    // and returns the value std::max_element finds among them (0.0 for an empty signal).
    double coefficients(std::uint32_t scale, std::vector<double>& out);

private:
    bool wide_ = false;
    std::ptrdiff_t n_ = 0;
    std::vector<double> padded_;                   // the signal with zeros on either side
    std::vector<std::ptrdiff_t> nonzero_position_;  // ascending
    std::vector<double> nonzero_value_;
    std::vector<std::ptrdiff_t> nonzero_before_;    // [p]: non-zero values at indices below p
    std::vector<std::ptrdiff_t> run_first_;         // [k]: where the run of consecutive positions of k starts
    std::vector<double> sums_;                     // the two convolution values each coefficient needs
    std::vector<double> samples_;                  // wavelet samples of a scale beyond the shared ones
};

// The positions local_max_min_det would insert into Local_Maximum, ascending, appended to maxima.
void alternating_maxima(const std::vector<double>& signal, double value_delta, std::uint32_t pos_delta,
                        std::vector<std::uint32_t>& maxima);

}  // namespace korvane::detail
