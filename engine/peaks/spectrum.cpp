#include "engine/peaks/spectrum.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include "engine/peaks/internal/extremum.h"
#include "engine/records/text_util.h"

namespace {

// The detector's value threshold, as a fraction of the scan's largest intensity.
constexpr double kCentroidValueDeltaFraction = 0.01;
// A centroid's maxima and minima lie at least this many points apart.
constexpr int kCentroidPosDelta = 13;
// A centroid sums the points closer than this many m/z units to its apex.
constexpr double kCentroidMzHalfWidth = 0.25;

// The two cut-off parameters that would make the threshold look-up read past the sorted
// intensities: no top number at all, or a percentage that reaches (or is not) a rank.
bool cutoff_parameters_valid(std::uint32_t cutoff_top_num, double cutoff_percent, std::int32_t cutoff_mode) {
    if (cutoff_mode == 2 && cutoff_top_num == 0) {
        std::cout << "intensity cutoff error: invalid Para_Cutoff_TopNumber=" << cutoff_top_num << std::endl;
        return false;
    }
    if (cutoff_mode == 3 && !(cutoff_percent >= 0.0 && cutoff_percent < 1.0)) {
        std::cout << "intensity cutoff error: invalid Para_Cutoff_LowPercent=" << cutoff_percent << std::endl;
        return false;
    }
    return true;
}

// Ascending, with NaN after every number so the order stays a strict weak ordering.
bool ascending_nan_last(double a, double b) { return a < b || (!std::isnan(a) && std::isnan(b)); }

double scan_threshold(const std::vector<float>& intensities, std::int32_t cutoff_intensity,
                      std::uint32_t cutoff_top_num, double cutoff_percent, std::int32_t cutoff_mode) {
    if (cutoff_mode != 2 && cutoff_mode != 3) return static_cast<double>(cutoff_intensity);
    std::vector<double> sorted(intensities.begin(), intensities.end());
    const std::size_t n = sorted.size();
    std::size_t rank;
    if (cutoff_mode == 2) {
        rank = n < cutoff_top_num ? 0 : n - cutoff_top_num;
    } else {
        rank = static_cast<std::size_t>(static_cast<double>(n) * cutoff_percent);
        rank = std::min(rank, n - 1);  // n * p can round up to n for p just below 1
    }
    // Only the value at one rank is needed: a partial selection gives the same value as a sort.
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(rank), sorted.end(),
                     ascending_nan_last);
    return sorted[rank];
}

}  // namespace

void spectrum_split(std::vector<Spectrum_Scan>& spectrum_arry, std::uint32_t Total_Scan_Num,
                    std::uint32_t Total_Point_Num, std::uint32_t start_scan, std::uint32_t end_scan,
                    const std::vector<std::uint32_t>& scan_num_arry, const std::vector<std::uint32_t>& scan_index_arry,
                    const std::vector<double>& scan_acquisition_time_arry,
                    const std::vector<std::int32_t>& /*point_count_arry*/, const std::vector<float>& mass_value_arry,
                    const std::vector<float>& intensity_value_arry) {
    const std::size_t scans = std::min({static_cast<std::size_t>(Total_Scan_Num), scan_num_arry.size(),
                                        scan_index_arry.size(), scan_acquisition_time_arry.size()});
    const std::size_t points = std::min({static_cast<std::size_t>(Total_Point_Num), mass_value_arry.size(),
                                         intensity_value_arry.size()});
    if (scans > 0) {
        const std::uint32_t first = scan_num_arry[0], last = scan_num_arry[scans - 1];
        const std::uint32_t lower = start_scan < first ? first : std::min(start_scan, last);
        const std::uint32_t upper = end_scan < first ? first : std::min(end_scan, last);
        for (std::size_t i = 0; i < scans; ++i) {
            const std::uint32_t scan = scan_num_arry[i];
            if (scan < lower || scan > upper) continue;
            const std::size_t begin = scan_index_arry[i];
            const std::size_t end = i + 1 < scans ? scan_index_arry[i + 1] : points;
            if (begin > end || end > points) {
                std::cout << "split spectrum error at Scan=" << scan << std::endl;
                break;
            }
            Spectrum_Scan record;
            record.scan_num = scan;
            record.scan_acquisition_time = scan_acquisition_time_arry[i];
            record.empty_flag = 0;
            if (begin < end) {
                record.mass_values.assign(mass_value_arry.begin() + static_cast<std::ptrdiff_t>(begin),
                                          mass_value_arry.begin() + static_cast<std::ptrdiff_t>(end));
                record.intensity_values.assign(intensity_value_arry.begin() + static_cast<std::ptrdiff_t>(begin),
                                               intensity_value_arry.begin() + static_cast<std::ptrdiff_t>(end));
            } else {
                record.empty_flag = 1;
            }
            spectrum_arry.push_back(std::move(record));
        }
    }
    std::cout << "Spectrum spliting Finished!" << std::endl;
}

std::int32_t cutoff_intensity_from_parameter(double Para_Cutoff_Intensity) {
    return korvane::saturating_int32(Para_Cutoff_Intensity);
}

void intensity_cutoff(std::vector<Spectrum_Scan>& spectrum_arry, std::int32_t cutoff_intensity,
                      std::uint32_t cutoff_top_num, double cutoff_percent, std::int32_t cutoff_mode) {
    if (cutoff_parameters_valid(cutoff_top_num, cutoff_percent, cutoff_mode)) {
        std::vector<float> kept_mz, kept_intensity;
        for (std::size_t i = 0; i < spectrum_arry.size(); ++i) {
            Spectrum_Scan& scan = spectrum_arry[i];
            if (scan.intensity_values.empty() || scan.mass_values.size() != scan.intensity_values.size()) {
                std::cout << "intensity cutoff error at Scan=" << static_cast<unsigned long long>(i) << std::endl;
                continue;
            }
            const double threshold =
                scan_threshold(scan.intensity_values, cutoff_intensity, cutoff_top_num, cutoff_percent, cutoff_mode);
            kept_mz.clear();
            kept_intensity.clear();
            for (std::size_t p = 0; p < scan.intensity_values.size(); ++p) {
                // NaN fails the test, so a point without a valid intensity is dropped.
                if (static_cast<double>(scan.intensity_values[p]) >= threshold) {
                    kept_mz.push_back(scan.mass_values[p]);
                    kept_intensity.push_back(scan.intensity_values[p]);
                }
            }
            scan.mass_values.clear();
            scan.intensity_values.clear();
            if (kept_mz.empty()) {
                scan.empty_flag = 1;
            } else {
                scan.mass_values = kept_mz;
                scan.intensity_values = kept_intensity;
            }
        }
    }
    std::cout << "Intensity cutoff Finished!" << std::endl;
}

void spectrum_centroiding(std::vector<Spectrum_Scan>& spectrum_arry) {
    for (Spectrum_Scan& scan : spectrum_arry) {
        if (scan.intensity_values.empty() || scan.mass_values.size() != scan.intensity_values.size()) continue;
        std::vector<float> mz_centroid, intensity_centroid;
        profile2centroid(scan.mass_values, scan.intensity_values, mz_centroid, intensity_centroid);
        scan.mass_values.clear();
        scan.intensity_values.clear();
        if (mz_centroid.empty()) {
            scan.empty_flag = 1;
        } else {
            scan.mass_values = std::move(mz_centroid);
            scan.intensity_values = std::move(intensity_centroid);
        }
    }
}

void profile2centroid(std::vector<float> mz_arry_profile, std::vector<float> intensity_arry_profile,
                      std::vector<float>& mz_arry_centroid, std::vector<float>& intensity_arry_centroid) {
    const std::size_t n = std::min(mz_arry_profile.size(), intensity_arry_profile.size());
    if (n == 0) return;
    intensity_arry_profile.resize(n);

    // 1. The detector's value threshold: 1 % of the scan's largest intensity.
    double largest = static_cast<double>(intensity_arry_profile[0]);
    for (std::size_t i = 1; i < n; ++i)
        if (static_cast<double>(intensity_arry_profile[i]) > largest) largest = intensity_arry_profile[i];
    const double value_delta = kCentroidValueDeltaFraction * largest;

    // 2. Maxima and the minima between them; they interleave M0 < m0 < M1 < m1 < ...
    std::map<std::uint32_t, double> maxima, minima;
    spectrum_local_max_min_det(intensity_arry_profile, value_delta, kCentroidPosDelta, maxima, minima);
    if (maxima.empty()) return;
    std::vector<std::size_t> minimum_pos;
    minimum_pos.reserve(minima.size());
    for (const auto& m : minima) minimum_pos.push_back(m.first);

    // 3. Each maximum sums its window, bounded by the minima on either side (shared with the
    //    neighbouring windows), over the points within kCentroidMzHalfWidth m/z of the apex.
    std::size_t k = 0;
    for (const auto& maximum : maxima) {
        const std::size_t apex = maximum.first;
        const std::size_t lo = k == 0 ? 0 : minimum_pos[k - 1];
        const std::size_t hi = k < minimum_pos.size() ? minimum_pos[k] : n - 1;
        const double apex_mz = static_cast<double>(mz_arry_profile[apex]);
        double sum = 0.0;
        for (std::size_t j = lo; j <= hi; ++j)
            if (std::fabs(static_cast<double>(mz_arry_profile[j]) - apex_mz) < kCentroidMzHalfWidth)
                sum += static_cast<double>(intensity_arry_profile[j]);
        mz_arry_centroid.push_back(static_cast<float>(apex_mz));
        intensity_arry_centroid.push_back(static_cast<float>(sum));
        ++k;
    }
}

void spectrum_local_max_min_det(std::vector<float> signal_data, double value_delta, std::uint32_t pos_delta,
                                std::map<std::uint32_t, double>& Local_Maximum,
                                std::map<std::uint32_t, double>& Local_Mininum) {
    korvane::detect_alternating_extrema(signal_data, value_delta, pos_delta, Local_Maximum, Local_Mininum);
}
