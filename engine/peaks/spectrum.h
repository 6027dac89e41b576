// Spectrum preprocessing: cutting a sample's flat arrays (as necdf_read hands them out) into one
// Spectrum_Scan per scan, profile-to-centroid conversion and the per-scan intensity cut-off. All
// three work in place on the caller's vector and report progress and problems on standard output.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "engine/records/records.h"

// Appends one record per scan whose scan number lies in [start_scan, end_scan] after clamping the
// range to the first and last scan numbers. A scan's points run from its scan_index entry to the
// next scan's (the last scan's to Total_Point_Num); point_count_arry is not used because some
// files carry stale counts. A scan whose start passes its end, or whose end passes the point
// count, prints "split spectrum error at Scan=<scan number>" and stops the loop. Always ends
// with "Spectrum spliting Finished!". Counts beyond the lengths of the arrays are cut down to them.
void spectrum_split(std::vector<Spectrum_Scan>& spectrum_arry, std::uint32_t Total_Scan_Num,
                    std::uint32_t Total_Point_Num, std::uint32_t start_scan, std::uint32_t end_scan,
                    const std::vector<std::uint32_t>& scan_num_arry, const std::vector<std::uint32_t>& scan_index_arry,
                    const std::vector<double>& scan_acquisition_time_arry,
                    const std::vector<std::int32_t>& point_count_arry, const std::vector<float>& mass_value_arry,
                    const std::vector<float>& intensity_value_arry);

// Keeps, per scan, the points whose intensity is at least the scan's threshold: cutoff_intensity
// (mode 1 and any unknown mode), the cutoff_top_num-th largest intensity (mode 2) or the intensity
// at rank floor(n * cutoff_percent) from the bottom (mode 3). Ties at the threshold are kept. A
// scan that loses every point gets empty_flag 1. Empty or inconsistent scans print
// "intensity cutoff error at Scan=<position>" and are left alone. Ends with "Intensity cutoff Finished!".
void intensity_cutoff(std::vector<Spectrum_Scan>& spectrum_arry, std::int32_t cutoff_intensity,
                      std::uint32_t cutoff_top_num, double cutoff_percent, std::int32_t cutoff_mode);

// Para_Cutoff_Intensity as intensity_cutoff takes it: truncated toward zero, saturated to the
// 32-bit range, NaN giving 0.
std::int32_t cutoff_intensity_from_parameter(double Para_Cutoff_Intensity);

// Replaces every profile scan by its centroids (profile2centroid); a scan with no centroid gets
// empty_flag 1. Empty or inconsistent scans are skipped silently.
void spectrum_centroiding(std::vector<Spectrum_Scan>& spectrum_arry);

// Appends one centroid per local maximum of the intensities (value delta 1 % of the largest
// intensity, position delta 13): the apex m/z and the summed intensity of the points of the
// maximum's window within 0.25 m/z of the apex. Vectors of different lengths use the shorter.
void profile2centroid(std::vector<float> mz_arry_profile, std::vector<float> intensity_arry_profile,
                      std::vector<float>& mz_arry_centroid, std::vector<float>& intensity_arry_centroid);

// Inserts the alternating maxima and minima of the signal (korvane::detect_alternating_extrema).
void spectrum_local_max_min_det(std::vector<float> signal_data, double value_delta, std::uint32_t pos_delta,
                                std::map<std::uint32_t, double>& Local_Maximum,
                                std::map<std::uint32_t, double>& Local_Mininum);
