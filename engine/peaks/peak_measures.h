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

// signal_level over a noise level estimated from noise_vector (the scale-1 wavelet coefficients
// across the peak): for a noise vector that swings through its mid-range band more than twice, its
// mean deviation from the mid-range times (swings - 1), the swings rounded up to an even count;
// otherwise the (trunc(0.7 N) + 1)-th largest of its N magnitudes. The workbench's variant takes the
// mean magnitude in both cases. The noise is floored at 0.0001. An empty noise vector gives 0.
double New_Calculate_Peak_SNR(double signal_level, std::vector<double> noise_vector);

// Roughness of a trace: ln(N) * sum of squared second differences / ((M + 2) * range^2), over
// segments split where the scan number jumps by more than 5. 1.0 when there is no second
// difference or the intensities do not vary.
double eic_zig_zag_index_calculation(Mass_Trace eic);

// Moves each peak's apex to the first largest value between its boundaries (the right boundary
// excluded), widens each boundary outward by at most 10 indices while the signal keeps falling,
// and recomputes the area. The signal-to-noise ratio is kept.
void peak_refinement_processing(std::vector<Detect_Peak>& Detect_Peak_List, std::vector<double> signal_data);

// Erases in place every peak of one trace that fails any of ten conditions (eleven in the
// workbench's variant): width within [PeakWidth_Min, PeakWidth_Max], height, positive area,
// signal-to-noise ratio, significance, triangle area bias, fewer than 3 band crossings, more than
// one high point, and the peak's own zig-zag index. A measure that is not a number fails.
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

// Trace-quality index, called by nothing: the cosine between the trace's intensities and their
// standardised moving mean over Window_Length points. Not a number for fewer than two points or a
// window shorter than one point.
double mcq_index_calculation(Mass_Trace eic, std::int32_t Window_Length);
