// Plain transcription of the reference wavelet transform, kept as the yardstick for the fast one:
// the convolution pads both inputs to full length, reverses the padded f and, once per output
// value, rotates the padded h left by one and takes the inner product in position order. It is
// O(N^2) per scale and slow on purpose; nothing here is shared with the engine except the table.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/peaks/wavelet.h"

namespace wavelet_oracle {

inline std::vector<double> conv_rotating(const std::vector<double>& f, const std::vector<double>& h) {
    const std::size_t N = f.size() + h.size() - 1;
    std::vector<double> f_padded(N, 0.0), h_padded(N, 0.0);
    std::copy(f.begin(), f.end(), f_padded.begin());
    std::copy(h.begin(), h.end(), h_padded.begin());
    std::reverse(f_padded.begin(), f_padded.end());
    std::vector<double> result;
    for (std::size_t k = 0; k < N; ++k) {
        std::rotate(h_padded.begin(), h_padded.begin() + 1, h_padded.end());
        double sum = 0.0;
        for (std::size_t p = 0; p < N; ++p) sum += f_padded[p] * h_padded[p];
        result.push_back(sum);
    }
    return result;
}

// Table index of wavelet sample j at scale a.
inline std::size_t sample_index(std::uint32_t j, std::uint32_t a) {
    return static_cast<std::size_t>(std::floor(static_cast<double>(j) / (static_cast<double>(a) * 0.015640273704789834)));
}

inline std::vector<double> cwt_scale(const std::vector<double>& signal, std::uint32_t a) {
    std::vector<double> samples;
    for (std::uint32_t j = 0; j <= 16 * a; ++j) samples.push_back(mexhat_wav[sample_index(j, a)]);
    std::reverse(samples.begin(), samples.end());
    const std::vector<double> c = conv_rotating(signal, samples);
    std::vector<double> d;
    for (std::size_t i = 0; i + 1 < c.size(); ++i) d.push_back(c[i + 1] - c[i]);
    const std::size_t n = signal.size();
    const auto start = static_cast<std::size_t>(std::floor((d.size() - n) * 0.5));
    std::vector<double> coefficients;
    for (std::size_t k = 0; k < n; ++k) coefficients.push_back(-(std::sqrt(static_cast<double>(a)) * d[start + k]));
    return coefficients;
}

}  // namespace wavelet_oracle
