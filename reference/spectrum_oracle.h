// Plain transcription of the per-scan intensity cut-off: sort a copy of the intensities and take
// the threshold at its rank. The engine selects the rank without a full sort; both must keep the
// same points.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace oracle {

inline void cutoff_scan(const std::vector<float>& mz, const std::vector<float>& intensity, std::int32_t cutoff_intensity,
                        std::uint32_t top_num, double percent, std::int32_t mode, std::vector<float>& kept_mz,
                        std::vector<float>& kept_intensity) {
    double threshold = cutoff_intensity;
    if (mode == 2 || mode == 3) {
        std::vector<double> sorted;
        for (float v : intensity) sorted.push_back(v);
        std::sort(sorted.begin(), sorted.end());
        const std::size_t n = sorted.size();
        if (mode == 2) threshold = n < top_num ? sorted[0] : sorted[n - top_num];
        else threshold = sorted[static_cast<std::size_t>(n * percent)];
    }
    for (std::size_t i = 0; i < intensity.size(); ++i) {
        if (static_cast<double>(intensity[i]) >= threshold) {
            kept_mz.push_back(mz[i]);
            kept_intensity.push_back(intensity[i]);
        }
    }
}

}  // namespace oracle
