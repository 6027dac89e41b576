// Ridge-line peak detection on mass traces.
//
// Each trace becomes an evenly spaced intensity signal (one value per scan, gaps filled), the
// signal is transformed with the Mexican-hat wavelet at integer scales, the local maxima of every
// scale are linked from the largest scale downwards into ridge lines, and every ridge that is long
// enough and still alive at the smallest scale gives one peak. Its apex is the ridge point with the
// largest coefficient and its half-width in scans is that point's scale. Candidates are then
// refined, measured and filtered (peak_measures.h).
//
// Scales: Scale_Max = ceil(PeakWidth_Max / 2) + 1, Scale_Min = floor(PeakWidth_Min / 2) - 1 raised
// to 1; a trace never uses a scale above its own length.
#pragma once

#include <cstdint>
#include <list>
#include <vector>

#include "engine/records/records.h"

// One local maximum of the wavelet coefficients at one scale.
struct CWT_Data_Point {
    std::uint32_t scale = 0;
    std::uint32_t position = 0;  // signal index
    double coefficient = 0.0;
    bool linked = false;  // set once a ridge line has taken the point
};

// One ridge line, from the scale where it started downwards.
struct Peak_Branch {
    std::vector<CWT_Data_Point> points;
    CWT_Data_Point max_point;     // the ridge point with the largest coefficient
    std::int32_t gap_count = 0;   // consecutive scales, back from the current one, not extended
    std::int32_t length = 0;      // number of points; 1 at creation
};

// One peak in signal coordinates (indices into the trace's filled signal).
struct Detect_Peak {
    std::uint32_t Apex_Pos = 0;
    double Apex_Intensity = 0.0;
    std::uint32_t Left_Boundary = 0;
    std::uint32_t Right_Boundary = 0;  // inclusive
    double Peak_Area = 0.0;
    double Peak_SNR = 0.0;
};

// Detects, measures and filters the peaks of every trace of a sample and appends the survivors to
// All_EIC_Chromatograph_Peak_list: traces in list order, within a trace in descending Peak_ID. A
// trace's EIC_ID is its 0-based position in mass_trace_list, also for traces that yield nothing.
// Prints "Mass trace Peak detection Finished!" when done (the workbench's variant also prints one
// progress line per trace).
void mass_trace_list_peak_detection(std::vector<Chromatogram_Peak>& All_EIC_Chromatograph_Peak_list,
                                    std::list<Mass_Trace> mass_trace_list, std::uint32_t PeakWidth_Min,
                                    std::uint32_t PeakWidth_Max, std::int32_t branch_gap_allow,
                                    std::int32_t min_branch_length, std::int32_t span_min,
                                    std::int32_t marker_pos_dif_th, double PeakIntensity_Th, double SNR_Th,
                                    double Peak_Significance_Th, double Triangle_Area_Bias_Ratio_Th,
                                    double Zig_Zag_Index_Th);

// Appends the refined (not yet filtered) peaks of one trace, numbered by Peak_ID from 0, with scan
// numbers in place of signal indices.
void eic_cwt_peak_detection(std::vector<Chromatogram_Peak>& EIC_Chromatograph_Peak_list, Mass_Trace eic,
                            std::uint32_t EIC_ID, std::uint32_t Scale_Max, std::uint32_t Scale_Min,
                            std::int32_t branch_gap_allow, std::int32_t min_branch_length, std::int32_t span_min,
                            std::int32_t marker_pos_dif_th);

// Appends the ridge-line peaks of one signal, with area and signal-to-noise ratio.
void cwt_peak_detection(std::vector<Detect_Peak>& Detect_Peak_List, std::vector<double> signal_data,
                        std::uint32_t Scale_Max, std::uint32_t Scale_Min, std::int32_t branch_gap_allow,
                        std::int32_t min_branch_length, std::int32_t span_min, std::int32_t marker_pos_dif_th);

// Offers new_branch to the list: a listed branch that ends on the same maximum and whose largest
// coefficient lies within Span_min scales and positions of new_branch's is a duplicate. The first
// duplicate is replaced in place when new_branch is strictly longer; otherwise new_branch is dropped.
// With no duplicate new_branch is appended.
void unique_branch_test(std::list<Peak_Branch>& Peak_branch_list_trim, Peak_Branch new_branch, std::int32_t Span_min);

namespace korvane::detail {

// A trace as an evenly spaced signal: index i stands for scan first_scan + i. Gaps of 2 to 10 scans
// are interpolated linearly in all three values; longer gaps hold zero intensity at the trace's
// Cent_Mass with interpolated retention times. A point whose scan does not rise prints the failure
// line for EIC_ID and adds nothing.
struct EicSignal {
    std::uint32_t first_scan = 0;
    std::vector<double> intensity, mz, retention_time;
};
EicSignal build_eic_signal(const Mass_Trace& eic, std::uint32_t EIC_ID);

// A ridge line as the linking follows it: only its last point is read again, so it stands for the
// points.
struct Ridge {
    CWT_Data_Point last;       // the point of the lowest scale reached
    CWT_Data_Point max_point;  // the point with the largest coefficient
    std::int32_t gap_count = 0;
    std::int32_t length = 0;
};

// The ridge-line stage of cwt_peak_detection, on maxima already found: maxima_by_scale[s - Scale_Min]
// holds the maxima of scale s, in ascending position, for every scale from Scale_Min to top_scale
// (their linked flags are updated). Seeds a branch per maximum of top_scale and extends, prunes and
// de-duplicates the branches scale by scale down to Scale_Min; ridges is replaced by the final
// branches in list order.
void link_ridge_lines(std::vector<std::vector<CWT_Data_Point>>& maxima_by_scale, std::uint32_t top_scale,
                      std::uint32_t Scale_Min, std::int32_t branch_gap_allow, std::int32_t min_branch_length,
                      std::int32_t span_min, std::int32_t marker_pos_dif_th, std::vector<Ridge>& ridges);

}  // namespace korvane::detail
