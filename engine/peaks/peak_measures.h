// Measures that describe candidate peaks and decide which survive: baseline-corrected area,
// signal-to-noise ratio, the zig-zag index that rejects noisy traces, the refinement that moves a
// candidate's apex and boundaries onto the signal, and the peak filter.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/peaks/peak_detection.h"
#include "engine/records/records.h"

// Sum of signal_data[L..R] minus (R - L + 1) times the lower of the two boundary values: a
// baseline-corrected sum of samples (negative when the inside dips below the lower edge). 0 when
// the boundaries do not lie inside the signal in order.
double Calculate_Peak_Area(std::vector<double> signal_data, std::uint32_t Left_boundary, std::uint32_t Right_boundary);

// signal_level over a noise level estimated from noise_vector, the N scale-1 wavelet coefficients
// across the peak:
//  1. the range of the values and its mid-range;
//  2. the swings through a band of 0.1 x range around the mid-range, an odd count rounded up to
//     the next even one;
//  3. the noise: with more than two swings, the mean deviation from the mid-range times
//     (swings - 1); otherwise the (trunc(0.7 N) + 1)-th largest magnitude. The workbench's variant
//     takes the mean magnitude instead in both cases;
//  4. signal_level over the noise, the noise floored at 0.0001.
// An empty noise vector gives 0.
double New_Calculate_Peak_SNR(double signal_level, std::vector<double> noise_vector);

// Roughness of a trace: ln(N) * sum of squared second differences / ((M + 2) * range^2), over
// segments split where the scan number jumps by more than 5. 1.0 when there is no second
// difference or the intensities do not vary.
double eic_zig_zag_index_calculation(Mass_Trace eic);

// For each peak:
//  1. the apex moves to the first largest value between its boundaries (the right boundary is a
//     candidate only when it is also the left);
//  2. each boundary moves outward, at most 10 indices, while its value lies above the mean of
//     itself and its outer neighbours, that is while the signal keeps falling;
//  3. the area is recomputed over the new boundaries.
// The signal-to-noise ratio is kept.
void peak_refinement_processing(std::vector<Detect_Peak>& Detect_Peak_List, std::vector<double> signal_data);

// Erases in place every peak of one trace that fails one of its conditions; the others keep their
// order. Each peak is measured on its shape of W points:
//  1. its apex A, the first point of the largest intensity;
//  2. significance S (mean of the three points around the apex over the mean of the four edge
//     points), edge level E and top level T: 0, 0 and A when the apex lies on a boundary or W < 5;
//  3. the triangle area bias |area - triangle area| / triangle area;
//  4. about the midline (E + A) / 2: the high points, the crossings of a band around it, and the
//     sum of squared second differences;
//  5. the height A - E and the peak's own zig-zag index;
//  6. in the workbench's variant, the sum of relative rises up to the apex and falls after it.
// A peak stays when (1) W >= PeakWidth_Min, (2) W <= PeakWidth_Max, (3) height > PeakIntensity_Th,
// (4) area > 0, (5) Peak_SNR > SNR_Th, (6) S > Peak_Significance_Th, (7) triangle area bias <
// Triangle_Area_Bias_Ratio_Th, (8) band crossings < 3, (9) high points > 1, (10) zig-zag index <
// Zig_Zag_Index_Th and, in the workbench's variant only, (11) rise-and-fall sum > 2.0. A measure
// that is not a number fails its condition.
void chromatograph_peak_filter(std::vector<Chromatogram_Peak>& EIC_Chromatograph_Peak_list, std::uint32_t PeakWidth_Min,
                               std::uint32_t PeakWidth_Max, double PeakIntensity_Th, double SNR_Th,
                               double Peak_Significance_Th, double Triangle_Area_Bias_Ratio_Th,
                               double Zig_Zag_Index_Th);

namespace korvane::detail {
// Calculate_Peak_Area and eic_zig_zag_index_calculation without the copy of their input, for
// callers that measure many peaks of one signal.
double peak_area(const std::vector<double>& signal, std::uint32_t Left_boundary, std::uint32_t Right_boundary);
double zig_zag_index(const Mass_Trace& eic);
}  // namespace korvane::detail

// Older signal-to-noise ratio, kept for the workbench but called by nothing: the noise is
// the (trunc(0.95 N) + 1)-th largest of the N magnitudes of noise_vector, floored at 0.0001. An
// empty vector gives 0.
double Calculate_Peak_SNR(double signal_level, std::vector<double> noise_vector);

// Trace-quality index, called by nothing:
//  1. the N intensities, extended by Window_Length / 2 copies of the first in front and
//     (Window_Length + 1) / 2 copies of the last at the end;
//  2. their moving mean over Window_Length points, N values;
//  3. the moving mean standardised, with N - 1 in the deviation;
//  4. the cosine between the intensities and the standardised mean.
// Not a number for fewer than two points or a window shorter than one point.
double mcq_index_calculation(Mass_Trace eic, std::int32_t Window_Length);
