// Plain transcription of the ridge-line detector on one signal, kept as the yardstick for the fast
// one: every scale from 1 up is transformed with the rotating convolution, the maxima of each
// scale are found by a literal copy of the alternating detector, and at every scale each branch
// after the first is offered to a literal duplicate test on a freshly built list. Slow on purpose;
// nothing here is shared with the engine except the records.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <list>
#include <map>
#include <vector>

#include "engine/peaks/peak_detection.h"
#include "reference/wavelet_oracle.h"

namespace peak_detection_oracle {

// A ridge peak before measuring: the apex, its boundaries, the ridge's largest coefficient and
// the scale-1 coefficients of its noise window.
struct RidgePeak {
    std::uint32_t apex = 0, left = 0, right = 0;
    double apex_intensity = 0.0, area = 0.0, coefficient = 0.0;
    std::vector<double> noise;
};

inline std::vector<std::uint32_t> maxima_positions(const std::vector<double>& v, double value_delta,
                                                   std::uint32_t pos_delta) {
    std::vector<std::uint32_t> found;
    bool look_for_max = true;
    double mx = std::numeric_limits<double>::lowest(), mn = std::numeric_limits<double>::max();
    std::uint32_t mx_pos = 0, mn_pos = 0;
    for (std::uint32_t i = 0; i < v.size(); ++i) {
        if (v[i] > mx) mx = v[i], mx_pos = i;
        if (v[i] < mn) mn = v[i], mn_pos = i;
        if (look_for_max) {
            if (v[i] < mx - value_delta && i - mx_pos > pos_delta) {
                found.push_back(mx_pos);
                mn = v[i], mn_pos = i;
                look_for_max = false;
            }
        } else if (v[i] > mn + value_delta && i - mn_pos > pos_delta) {
            mx = v[i], mx_pos = i;
            look_for_max = true;
        }
    }
    return found;
}

inline std::int32_t absolute_difference(std::uint32_t a, std::uint32_t b) {
    return std::abs(static_cast<std::int32_t>(a) - static_cast<std::int32_t>(b));
}

inline void offer(std::list<Peak_Branch>& list, const Peak_Branch& nb, std::int32_t span) {
    const CWT_Data_Point nl = nb.points.back(), nm = nb.max_point;
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (absolute_difference(nm.scale, it->max_point.scale) <= span &&
            absolute_difference(nm.position, it->max_point.position) <= span &&
            it->points.back().scale == nl.scale && it->points.back().position == nl.position) {
            if (nb.length > it->length) {
                it = list.erase(it);
                list.insert(it, nb);
            }
            return;
        }
    }
    list.push_back(nb);
}

inline Peak_Branch seed(const CWT_Data_Point& p) {
    Peak_Branch b;
    b.points = {p};
    b.max_point = p;
    b.gap_count = 0;
    b.length = 1;
    return b;
}

// Scale_Min is at least 1.
inline std::vector<RidgePeak> ridge_peaks(const std::vector<double>& signal, std::uint32_t Scale_Max,
                                          std::uint32_t Scale_Min, std::int32_t gap_allow, std::int32_t min_length,
                                          std::int32_t span_min, std::int32_t marker) {
    std::vector<RidgePeak> out;
    const std::uint32_t n = static_cast<std::uint32_t>(signal.size());
    if (Scale_Max - Scale_Min < 1 || n < 6) return out;

    std::map<std::uint32_t, std::vector<double>> coef;
    for (std::uint32_t s = 1; s <= Scale_Max; ++s) coef[s] = wavelet_oracle::cwt_scale(signal, s);

    std::map<std::uint32_t, std::vector<CWT_Data_Point>> maxima;
    const std::uint32_t pos_delta = std::min<std::uint32_t>(n / 4, 3);
    for (std::uint32_t s = Scale_Min; s <= Scale_Max; ++s) {
        const std::vector<double>& c = coef[s];
        const double largest = *std::max_element(c.begin(), c.end());
        for (std::uint32_t p : maxima_positions(c, 0.03 * largest, pos_delta)) maxima[s].push_back({s, p, c[p], false});
    }

    std::uint32_t top = Scale_Max;
    while (top >= Scale_Min && maxima[top].empty()) --top;
    if (top <= Scale_Min + static_cast<std::uint32_t>(min_length) - 1) return out;

    std::list<Peak_Branch> branches;
    for (const CWT_Data_Point& p : maxima[top]) branches.push_back(seed(p));
    for (std::uint32_t s = top - 1; s >= Scale_Min; --s) {
        const std::int32_t w = std::max(static_cast<std::int32_t>(s), span_min);
        std::vector<CWT_Data_Point>& here = maxima[s];
        for (Peak_Branch& b : branches) {
            b.gap_count += 1;
            int chosen = -1;
            std::int32_t best = 0;
            for (std::size_t k = 0; k < here.size(); ++k) {
                const std::int32_t d = absolute_difference(here[k].position, b.points.back().position);
                if (d < w && absolute_difference(here[k].position, b.max_point.position) < marker &&
                    (chosen < 0 || d < best)) {
                    chosen = static_cast<int>(k);
                    best = d;
                }
            }
            if (chosen < 0) continue;
            here[static_cast<std::size_t>(chosen)].linked = true;
            const CWT_Data_Point q = here[static_cast<std::size_t>(chosen)];
            b.points.push_back(q);
            b.length += 1;
            b.gap_count = 0;
            if (q.coefficient > b.max_point.coefficient) b.max_point = q;
        }
        for (auto it = branches.begin(); it != branches.end();)
            it = (it->gap_count > gap_allow && it->length < min_length) ? branches.erase(it) : std::next(it);
        if (branches.size() > 1) {
            std::list<Peak_Branch> fresh{branches.front()};
            for (auto it = std::next(branches.begin()); it != branches.end(); ++it) offer(fresh, *it, span_min);
            branches = fresh;
        }
        for (const CWT_Data_Point& p : here)
            if (!p.linked) branches.push_back(seed(p));
        if (s == 1) break;
    }

    for (const Peak_Branch& b : branches) {
        if (b.length < min_length || b.gap_count > gap_allow) continue;
        RidgePeak r;
        r.apex = b.max_point.position;
        r.apex_intensity = signal[r.apex];
        const std::int32_t s = static_cast<std::int32_t>(b.max_point.scale), a = static_cast<std::int32_t>(r.apex);
        r.left = static_cast<std::uint32_t>(std::max(0, a - s));
        r.right = static_cast<std::uint32_t>(std::min(static_cast<std::int32_t>(n) - 1, a + s));
        double sum = 0.0;
        for (std::uint32_t i = r.left; i <= r.right; ++i) sum += signal[i];
        const double base = signal[r.left] < signal[r.right] ? signal[r.left] : signal[r.right];
        r.area = sum - (r.right - r.left + 1) * base;
        r.coefficient = b.max_point.coefficient;
        for (std::uint32_t i = r.apex == 0 ? 2 : r.left; i <= r.right; ++i) r.noise.push_back(coef[1][i]);
        out.push_back(r);
    }
    return out;
}

}  // namespace peak_detection_oracle
