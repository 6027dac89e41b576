#include "engine/peaks/peak_measures.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "engine/records/variant.h"

namespace {

// Floor on the four edge points' sum, so a peak standing on zeros still has a finite significance.
constexpr double kEdgeSumFloor = 0.01;
// Half-width of the band around the midline, as a fraction of the apex.
constexpr double kMidlineBandFraction = 0.02;
// A point counts as high above the midline less this fraction of the apex.
constexpr double kHighPointDrop = 0.25;
// Half-width of the band around the noise window's mid-range, as a fraction of its range.
constexpr double kNoiseBandFraction = 0.1;
// Where, as a fraction of the window sorted by magnitude, the noise level is read.
constexpr double kSwingFreeNoiseRank = 0.7;
constexpr double kPlainNoiseRank = 0.95;
// The smallest noise level a signal is divided by.
constexpr double kNoiseFloor = 0.0001;
// Refinement moves each boundary outward at most this many points.
constexpr int kMaxBoundaryMoves = 10;

// The measures the filter judges one peak by.
struct PeakShapeMeasures {
    double height = 0.0;            // apex intensity above the edge level
    double significance = 0.0;      // mean of the top three over mean of the four edge points
    double triangle_bias = 0.0;     // |area - triangle area| / triangle area
    int band_crossings = 0;         // swings through the band around the midline
    int high_points = 0;            // points in the upper part of the peak
    double zig_zag = 0.0;           // the peak's own roughness
    double rise_and_fall = 0.0;     // relative rises up to the apex plus relative falls after it
};

// Rises count up to and including the apex point; a peak whose apex is its first point never
// meets the apex in this walk, so every point counts as a rise.
double rise_and_fall(const std::vector<Data_Point>& shape, std::size_t apex_index) {
    double sum = 0.0;
    bool past_apex = false;
    for (std::size_t i = 1; i < shape.size(); ++i) {
        const double previous = shape[i - 1].intensity, v = shape[i].intensity;
        if (!past_apex) {
            sum += (v - previous) / previous;
            if (i == apex_index) past_apex = true;
        } else {
            sum += (previous - v) / v;
        }
    }
    return sum;
}

// with_rise_and_fall: also step 6, which only the workbench's variant judges.
PeakShapeMeasures measure_peak(const Chromatogram_Peak& peak, bool with_rise_and_fall) {
    const std::vector<Data_Point>& shape = peak.Peak_shape;
    const std::size_t count = shape.size();
    const std::uint32_t W = peak.Right_Boundary - peak.Left_Boundary + 1;
    PeakShapeMeasures m;

    // 1. Apex A: the first point of the largest intensity.
    const auto apex_it = std::max_element(shape.begin(), shape.end(), comp_point_intensity);
    const double A = apex_it->intensity;

    // 2. Significance S, edge level E, top level T. The apex has to lie strictly inside the shape
    // for the three points around it to exist.
    double S = 0.0, E = 0.0, T = A;
    const bool degenerate = peak.Left_Boundary >= peak.Apex_Pos || peak.Right_Boundary <= peak.Apex_Pos || W < 5 ||
                            count < 5 || peak.Apex_Pos - peak.Left_Boundary + 1 >= count;
    if (!degenerate) {
        const std::size_t j = peak.Apex_Pos - peak.Left_Boundary;
        const double top3 = shape[j - 1].intensity + shape[j].intensity + shape[j + 1].intensity;
        const double edge4 =
            shape[0].intensity + shape[1].intensity + shape[count - 2].intensity + shape[count - 1].intensity;
        S = top3 * 4 / (std::max(edge4, kEdgeSumFloor) * 3);
        E = edge4 * 0.25;
        T = top3 / 3;
    }

    // 3. Triangle area bias ratio.
    const double first = shape.front().intensity, last = shape.back().intensity;
    const double low_edge = first < last ? first : last;
    const double triangle = (T - low_edge) * W * 0.5;
    m.triangle_bias = std::fabs(peak.Peak_Area - triangle) / triangle;

    // 4. Midline counts and the curvature sum.
    const double M = (E + A) * 0.5;
    const double band = kMidlineBandFraction * A;
    bool above = shape[0].intensity > M;
    double curvature = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double v = shape[i].intensity;
        if (v > M - kHighPointDrop * A) ++m.high_points;
        if (i >= 1) {
            if (!above && v > M + band) {
                above = true;
                ++m.band_crossings;
            } else if (above && v < M - band) {
                above = false;
                ++m.band_crossings;
            }
        }
        if (i >= 2) {
            const double d = 2 * shape[i - 1].intensity - shape[i - 2].intensity - v;
            curvature += d * d;
        }
    }

    // 5. Height and the peak's zig-zag index.
    m.height = A - E;
    m.zig_zag = std::log(static_cast<double>(W)) * curvature / (m.height * m.height) / W;
    m.significance = S;

    // 6. Rises and falls.
    if (with_rise_and_fall)
        m.rise_and_fall = rise_and_fall(shape, static_cast<std::size_t>(apex_it - shape.begin()));
    return m;
}

}  // namespace

double Calculate_Peak_Area(std::vector<double> signal_data, std::uint32_t Left_boundary, std::uint32_t Right_boundary) {
    return korvane::detail::peak_area(signal_data, Left_boundary, Right_boundary);
}

double korvane::detail::peak_area(const std::vector<double>& signal_data, std::uint32_t Left_boundary,
                                  std::uint32_t Right_boundary) {
    if (Left_boundary > Right_boundary || Right_boundary >= signal_data.size()) return 0.0;
    double sum = 0.0;
    for (std::size_t i = Left_boundary; i <= Right_boundary; ++i) sum += signal_data[i];
    const double left = signal_data[Left_boundary], right = signal_data[Right_boundary];
    const double baseline = left < right ? left : right;
    const std::uint32_t count = Right_boundary - Left_boundary + 1;
    return sum - count * baseline;
}

double New_Calculate_Peak_SNR(double signal_level, std::vector<double> noise_vector) {
    // A window with no coefficient (apex at index 0, ridge maximum at scale 1) carries no evidence
    // of a peak.
    if (noise_vector.empty()) return 0.0;
    const std::size_t N = noise_vector.size();

    // 1. Range and mid-range.
    double lo = noise_vector[0], hi = noise_vector[0];
    for (const double v : noise_vector) {
        if (v < lo) lo = v;
        if (v > hi) hi = v;
    }
    const double range = hi - lo;
    const double mid = (lo + hi) * 0.5;

    // 2. Swings through the band around the mid-range; an odd count goes up to the next even one.
    const double band = kNoiseBandFraction * range;
    bool high = false;
    int crossings = 0;
    for (const double v : noise_vector) {
        if (!high && v > mid + band) {
            high = true;
            ++crossings;
        }
        if (high && v < mid - band) {
            high = false;
            ++crossings;
        }
    }
    const int c2 = 2 * static_cast<int>(std::trunc(crossings * 0.5 + 0.5));

    // 3. Noise level.
    double noise;
    if (korvane::variant::snr_noise_is_mean_magnitude()) {
        double magnitude_sum = 0.0;
        for (const double v : noise_vector) magnitude_sum += std::fabs(v);
        noise = magnitude_sum / N;
        if (c2 > 2) noise = noise * (c2 - 1);
    } else if (c2 > 2) {
        double deviation_sum = 0.0;
        for (const double v : noise_vector) deviation_sum += std::fabs(v - mid);
        noise = deviation_sum / N * (c2 - 1);
    } else {
        // Few swings: the (trunc(0.7 N) + 1)-th largest magnitude.
        std::vector<double> by_magnitude = noise_vector;
        std::stable_sort(by_magnitude.begin(), by_magnitude.end(), compareByABS);
        noise = std::fabs(by_magnitude[static_cast<std::size_t>(N * kSwingFreeNoiseRank)]);
    }
    // 4. Floor and ratio.
    if (noise <= kNoiseFloor) noise = kNoiseFloor;
    return signal_level / noise;
}

double eic_zig_zag_index_calculation(Mass_Trace eic) { return korvane::detail::zig_zag_index(eic); }

double korvane::detail::zig_zag_index(const Mass_Trace& eic) {
    const std::vector<Data_Point>& points = eic.EIC_shape;
    const std::size_t N = points.size();
    if (N == 0) return 1.0;

    double lo = points[0].intensity, hi = points[0].intensity;
    double curvature = 0.0;
    std::size_t second_differences = 0;
    std::size_t segment_length = 1;
    for (std::size_t i = 1; i < N; ++i) {
        // A jump of more than 5 scans starts a new segment; its first point stays out of the range.
        const auto step = static_cast<std::int32_t>(points[i].scan_num - points[i - 1].scan_num);
        if (step > 5) {
            segment_length = 1;
            continue;
        }
        ++segment_length;
        const double v = points[i].intensity;
        if (v < lo) lo = v;
        if (v > hi) hi = v;
        if (segment_length >= 3) {
            const double d = 2 * points[i - 1].intensity - points[i - 2].intensity - v;
            curvature += d * d;
            ++second_differences;
        }
    }
    const double R = hi - lo;
    if (second_differences > 0 && R > 0) {
        return std::log(static_cast<double>(N)) * curvature /
               ((static_cast<double>(second_differences) + 2) * (R * R));
    }
    return 1.0;
}

void peak_refinement_processing(std::vector<Detect_Peak>& Detect_Peak_List, std::vector<double> signal_data) {
    const std::size_t n = signal_data.size();
    const std::vector<double>& s = signal_data;
    for (Detect_Peak& peak : Detect_Peak_List) {
        std::size_t L = peak.Left_Boundary, R = peak.Right_Boundary;
        if (L > R || R >= n) continue;  // not a span of this signal

        // 1. Apex: first largest value; the right boundary is a candidate only when it is also the left.
        std::size_t apex = L;
        for (std::size_t i = L + 1; i < R; ++i)
            if (s[i] > s[apex]) apex = i;
        peak.Apex_Pos = static_cast<std::uint32_t>(apex);
        peak.Apex_Intensity = s[apex];

        // 2. Widen while the boundary value still lies above the mean of itself and its outer
        // neighbours, that is while the signal keeps falling outward.
        for (int moves = 0; moves < kMaxBoundaryMoves && L > 0; ++moves) {
            const double mean = L >= 2 ? (s[L] + s[L - 1] + s[L - 2]) / 3.0 : (s[L] + s[L - 1]) / 2.0;
            if (!(s[L] > mean)) break;
            --L;
        }
        for (int moves = 0; moves < kMaxBoundaryMoves && R + 1 < n; ++moves) {
            const double mean = R + 2 < n ? (s[R] + s[R + 1] + s[R + 2]) / 3.0 : (s[R] + s[R + 1]) / 2.0;
            if (!(s[R] > mean)) break;
            ++R;
        }
        peak.Left_Boundary = static_cast<std::uint32_t>(L);
        peak.Right_Boundary = static_cast<std::uint32_t>(R);

        // 3. Area over the new boundaries.
        peak.Peak_Area = korvane::detail::peak_area(signal_data, peak.Left_Boundary, peak.Right_Boundary);
    }
}

void chromatograph_peak_filter(std::vector<Chromatogram_Peak>& EIC_Chromatograph_Peak_list, std::uint32_t PeakWidth_Min,
                               std::uint32_t PeakWidth_Max, double PeakIntensity_Th, double SNR_Th,
                               double Peak_Significance_Th, double Triangle_Area_Bias_Ratio_Th,
                               double Zig_Zag_Index_Th) {
    const bool rise_and_fall_checked = korvane::variant::peak_filter_checks_rise_and_fall();
    auto passes = [&](const Chromatogram_Peak& peak) {
        if (peak.Peak_shape.empty()) return false;
        const std::uint32_t W = peak.Right_Boundary - peak.Left_Boundary + 1;
        const PeakShapeMeasures m = measure_peak(peak, rise_and_fall_checked);
        // Each condition keeps the peak when its measure passes, so a measure that is not a number fails.
        return W >= PeakWidth_Min &&                              // (1)
               W <= PeakWidth_Max &&                              // (2)
               m.height > PeakIntensity_Th &&                     // (3)
               peak.Peak_Area > 0 &&                              // (4)
               peak.Peak_SNR > SNR_Th &&                          // (5)
               m.significance > Peak_Significance_Th &&           // (6)
               m.triangle_bias < Triangle_Area_Bias_Ratio_Th &&   // (7)
               m.band_crossings < 3 &&                            // (8)
               m.high_points > 1 &&                               // (9)
               m.zig_zag < Zig_Zag_Index_Th &&                    // (10)
               (!rise_and_fall_checked || m.rise_and_fall > 2.0); // (11)
    };
    std::size_t kept = 0;
    for (std::size_t i = 0; i < EIC_Chromatograph_Peak_list.size(); ++i) {
        if (!passes(EIC_Chromatograph_Peak_list[i])) continue;
        if (kept != i) EIC_Chromatograph_Peak_list[kept] = std::move(EIC_Chromatograph_Peak_list[i]);
        ++kept;
    }
    EIC_Chromatograph_Peak_list.erase(EIC_Chromatograph_Peak_list.begin() + static_cast<std::ptrdiff_t>(kept),
                                      EIC_Chromatograph_Peak_list.end());
}

double Calculate_Peak_SNR(double signal_level, std::vector<double> noise_vector) {
    if (noise_vector.empty()) return 0.0;
    std::stable_sort(noise_vector.begin(), noise_vector.end(), compareByABS);
    double noise = std::fabs(noise_vector[static_cast<std::size_t>(noise_vector.size() * kPlainNoiseRank)]);
    if (noise < kNoiseFloor) noise = kNoiseFloor;
    return signal_level / noise;
}

double mcq_index_calculation(Mass_Trace eic, std::int32_t Window_Length) {
    const std::size_t N = eic.EIC_shape.size();
    // A single point has no spread to standardise by, and the window would read past the copies.
    if (N < 2 || Window_Length < 1) return std::nan("");
    const auto window = static_cast<std::size_t>(Window_Length);

    // 1. Extend with copies of the end values.
    std::vector<double> y(N);
    for (std::size_t i = 0; i < N; ++i) y[i] = eic.EIC_shape[i].intensity;
    std::vector<double> extended(window / 2, y.front());
    extended.insert(extended.end(), y.begin(), y.end());
    extended.insert(extended.end(), (window + 1) / 2, y.back());

    // 2. Moving mean.
    std::vector<double> smooth(N);
    for (std::size_t j = 0; j < N; ++j) {
        double sum = 0.0;
        for (std::size_t k = j; k < j + window; ++k) sum += extended[k];
        smooth[j] = sum / window;
    }

    // 3. Standardise, with N - 1 in the deviation.
    double mean = 0.0;
    for (const double v : smooth) mean += v;
    mean /= N;
    double squares = 0.0;
    for (const double v : smooth) squares += (v - mean) * (v - mean);
    const double deviation = std::sqrt(squares / (N - 1));
    std::vector<double> z(N);
    for (std::size_t j = 0; j < N; ++j) z[j] = (smooth[j] - mean) / deviation;

    // 4. Cosine between y and z.
    double y_norm = 0.0, z_norm = 0.0;
    for (std::size_t j = 0; j < N; ++j) {
        y_norm += y[j] * y[j];
        z_norm += z[j] * z[j];
    }
    y_norm = std::sqrt(y_norm);
    z_norm = std::sqrt(z_norm);
    double cosine = 0.0;
    for (std::size_t j = 0; j < N; ++j) cosine += (y[j] / y_norm) * (z[j] / z_norm);
    return cosine;
}
