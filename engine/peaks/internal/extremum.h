// The alternating peak-and-valley detector shared by profile centroiding and by the wavelet ridge
// search. It starts looking for a maximum; an extremum is recorded only once the signal has moved
// more than value_delta away from it, more than pos_delta positions later, so the extremum still
// being tracked when the signal ends is never recorded.
#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <vector>

namespace korvane {

template <typename T>
void detect_alternating_extrema(const std::vector<T>& signal, double value_delta, std::uint32_t pos_delta,
                                std::map<std::uint32_t, double>& maxima, std::map<std::uint32_t, double>& minima) {
    bool looking_for_max = true;
    double run_max = std::numeric_limits<double>::lowest();
    double run_min = std::numeric_limits<double>::max();
    std::uint32_t max_pos = 0, min_pos = 0;
    const auto n = static_cast<std::uint32_t>(signal.size());
    for (std::uint32_t i = 0; i < n; ++i) {
        const double v = static_cast<double>(signal[i]);
        if (v > run_max) run_max = v, max_pos = i;
        if (v < run_min) run_min = v, min_pos = i;
        if (looking_for_max) {
            if (v < run_max - value_delta && i - max_pos > pos_delta) {
                maxima.insert({max_pos, run_max});
                run_min = v, min_pos = i;
                looking_for_max = false;
            }
        } else if (v > run_min + value_delta && i - min_pos > pos_delta) {
            minima.insert({min_pos, run_min});
            run_max = v, max_pos = i;
            looking_for_max = true;
        }
    }
}

}  // namespace korvane
