#include "workbench/window/data_view.h"

#include <algorithm>
#include <cmath>

#include "workbench/engine/korvane_engine.h"

namespace korvane::wb {

namespace {

// The points of scan pos as [first, last) within the copied points; empty when the stored count
// or index is negative or lies past the end.
std::pair<std::size_t, std::size_t> point_range(const Sample_View& view, std::size_t pos) {
    const long long first = view.scan_index_arry1[pos];
    const long long count = view.point_count_arry1[pos];
    const long long total = static_cast<long long>(view.intensity_value_arry1.size());
    if (first < 0 || count <= 0 || first >= total) return {0, 0};
    return {static_cast<std::size_t>(first), static_cast<std::size_t>(std::min(first + count, total))};
}

std::string whole_number_text(double v) {
    return std::to_string(static_cast<long long>(std::nearbyint(v)));
}

}  // namespace

Sample_View make_sample_view(const CKORVANE_Engine& e) {
    Sample_View v;
    const std::size_t scans = std::min({static_cast<std::size_t>(e.Total_Scan_Num), e.scan_num_arry.size(),
                                        e.scan_index_arry.size(), e.point_count_arry.size(),
                                        e.scan_acquisition_time_arry.size(), e.total_intensity_arry.size()});
    const std::size_t points = std::min({static_cast<std::size_t>(e.Total_Point_Num), e.mass_value_arry.size(),
                                         e.intensity_value_arry.size()});
    v.mass_value_arry1.assign(e.mass_value_arry.begin(), e.mass_value_arry.begin() + points);
    v.intensity_value_arry1.assign(e.intensity_value_arry.begin(), e.intensity_value_arry.begin() + points);
    v.scanNumber.reserve(scans);
    for (std::size_t i = 0; i < scans; ++i) {
        v.scanNumber.push_back(e.scan_num_arry[i]);
        v.retentionTime.push_back(e.scan_acquisition_time_arry[i]);
        v.point_count_arry1.push_back(e.point_count_arry[i]);
        v.scan_index_arry1.push_back(static_cast<int>(e.scan_index_arry[i]));
        double tic = e.total_intensity_arry[i];
        // Some instruments leave the stored total at 0; the scan's own points still give it.
        if (!(tic > 0)) {
            tic = 0;
            const auto [first, last] = point_range(v, i);
            for (std::size_t k = first; k < last; ++k) tic += v.intensity_value_arry1[k];
        }
        v.tic.push_back(tic);
    }
    return v;
}

Points_2D points_above_threshold(const Sample_View& view, int threshold) {
    Points_2D p;
    const float t = static_cast<float>(threshold);
    for (std::size_t i = 0; i < view.scan_count(); ++i) {
        const auto [first, last] = point_range(view, i);
        for (std::size_t k = first; k < last; ++k) {
            if (static_cast<float>(view.intensity_value_arry1[k]) > t) {
                p.time.push_back(view.retentionTime[i]);
                p.mz.push_back(view.mass_value_arry1[k]);
            }
        }
    }
    return p;
}

Spectrum_Choice choose_spectrum_scan(const Sample_View& view, Plot_Mode mode, double x) {
    Spectrum_Choice c;
    const std::size_t n = view.scan_count();
    if (n == 0) return c;
    const std::vector<double>& keys = mode == Plot_Mode::ScanNumber ? view.scanNumber : view.retentionTime;
    double target = mode == Plot_Mode::ScanNumber ? std::nearbyint(x) : x;
    if (std::isnan(target)) target = keys.front();
    target = std::clamp(target, keys.front(), std::max(keys.front(), keys.back()));
    std::size_t i = 0;
    while (i + 1 < n && keys[i] < target) ++i;
    c.scan_pos = i;
    if (mode == Plot_Mode::ScanNumber)
        c.title = "Spectrum at Scan Number = " + whole_number_text(target);
    else
        c.title = "Spectrum at Retention Time = " + whole_number_text(target) +
                  " and Scan Number = " + whole_number_text(view.scanNumber[i]);
    return c;
}

void spectrum_points(const Sample_View& view, std::size_t pos, std::vector<double>& mz,
                     std::vector<double>& intensity) {
    if (pos >= view.scan_count()) return;
    const auto [first, last] = point_range(view, pos);
    for (std::size_t k = first; k < last; ++k) {
        mz.push_back(view.mass_value_arry1[k]);
        intensity.push_back(view.intensity_value_arry1[k]);
    }
}

}  // namespace korvane::wb
