// The m/z-binned chromatogram the annotation tab plots: per scan, the points whose m/z falls in a
// window around one mass are summed into one chromatogram point.
#include <algorithm>
#include <cstdint>
#include <iostream>

#include "workbench/engine/korvane_engine.h"

namespace {

struct Bin_Window {
    float lower;
    float upper;
};

// The bounds are single precision because the masses are: comparing a float mass against a
// double bound would move hits at the very edge of the window in or out.
Bin_Window bin_window(double mass_bin, double ppm, double bin_size, bool PPM_DA) {
    const double half_width = PPM_DA ? mass_bin * ppm / 1000000.0 : bin_size;
    return {static_cast<float>(mass_bin - half_width), static_cast<float>(mass_bin + half_width)};
}

void reset_trace(Mass_Trace& trace, double mass_bin) {
    trace.trace_length = 0;
    trace.miss_count = 0;
    trace.Cent_Mass = mass_bin;
}

// Adds one point for the hits of a scan whose masses ascend, or counts the scan as a miss.
void bin_scan(const float* mass_begin, const float* mass_end, const float* intensity_begin, Bin_Window w,
              std::uint32_t scan_num, double retention_time, Mass_Trace& trace) {
    const float* first = std::lower_bound(mass_begin, mass_end, w.lower);
    const float* last = std::upper_bound(first, mass_end, w.upper);
    if (first == last) {
        ++trace.miss_count;
        return;
    }
    double mz_sum = 0.0, intensity_sum = 0.0;
    for (const float* m = first; m != last; ++m) {
        mz_sum += static_cast<double>(*m);
        intensity_sum += static_cast<double>(intensity_begin[m - mass_begin]);
    }
    const auto hits = static_cast<double>(last - first);
    trace.EIC_shape.push_back(Data_Point{scan_num, retention_time, mz_sum / hits, intensity_sum});
    trace.miss_count = 0;
    ++trace.trace_length;
}

}  // namespace

void EIC_extraction_binning(std::uint32_t Total_Scan_Num, std::uint32_t Total_Point_Num, std::uint32_t start_scan,
                            std::uint32_t end_scan, const std::uint32_t* scan_num_arry,
                            const std::uint32_t* scan_index_arry, const double* scan_acquisition_time_arry,
                            const std::int32_t* /*point_count_arry*/, const float* mass_value_arry,
                            const float* intensity_value_arry, double mass_bin, double ppm, double bin_size,
                            bool PPM_DA, Mass_Trace& EIC_extracted) {
    // 1. Window and reset; the caller's points stay.
    const Bin_Window w = bin_window(mass_bin, ppm, bin_size, PPM_DA);
    reset_trace(EIC_extracted, mass_bin);
    // Nothing loaded: there is no first or last scan number to clamp to.
    if (Total_Scan_Num == 0 || scan_num_arry == nullptr || scan_index_arry == nullptr) return;

    // 2. Clamp the scan-number range to the sample's first and last scan numbers.
    const std::uint32_t first = scan_num_arry[0];
    const std::uint32_t last = scan_num_arry[Total_Scan_Num - 1];
    const std::uint32_t start = std::clamp(start_scan, std::min(first, last), std::max(first, last));
    const std::uint32_t end = std::clamp(end_scan, std::min(first, last), std::max(first, last));

    // 3. Every scan in range, in order.
    for (std::uint32_t i = 0; i < Total_Scan_Num; ++i) {
        const std::uint32_t scan = scan_num_arry[i];
        if (scan < start || scan > end) continue;
        const std::uint32_t begin_point = scan_index_arry[i];
        const std::uint32_t end_point = i + 1 == Total_Scan_Num ? Total_Point_Num : scan_index_arry[i + 1];
        // A range past the last point is as broken as a backwards one, and would read beyond the
        // arrays.
        if (end_point < begin_point || end_point > Total_Point_Num) {
            std::cout << "EIC binning error at Scan=" << scan << std::endl;
            return;
        }
        if (end_point == begin_point) {
            ++EIC_extracted.miss_count;
            continue;
        }
        bin_scan(mass_value_arry + begin_point, mass_value_arry + end_point, intensity_value_arry + begin_point, w,
                 scan, scan_acquisition_time_arry[i], EIC_extracted);
    }
}

void EIC_extraction_binning(std::vector<Spectrum_Scan> spectrum_arry, double mass_bin, double ppm, double bin_size,
                            bool PPM_DA, Mass_Trace& EIC_extracted) {
    const Bin_Window w = bin_window(mass_bin, ppm, bin_size, PPM_DA);
    reset_trace(EIC_extracted, mass_bin);
    for (const Spectrum_Scan& s : spectrum_arry) {
        // A scan whose two vectors disagree in length cannot be trusted; it counts as empty.
        if (s.empty_flag != 0 || s.intensity_values.size() != s.mass_values.size()) {
            ++EIC_extracted.miss_count;
            continue;
        }
        const float* masses = s.mass_values.data();
        bin_scan(masses, masses + s.mass_values.size(), s.intensity_values.data(), w, s.scan_num,
                 s.scan_acquisition_time, EIC_extracted);
    }
}
