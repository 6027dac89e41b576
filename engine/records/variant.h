// The few behaviours in which the console program's engine and the workbench's differ: progress
// lines, the noise estimate and one extra peak filter, and the netCDF library's file name. Each
// function is defined in console_variant.cpp and again in workbench_variant.cpp, and a program
// links exactly one of the two: both would define every function twice and fail to link, so the
// behaviours can never mix in one program. The rest of the engine is compiled once for both.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvane::variant {

// Progress lines, flushed one by one; the console prints none of them.
void mass_trace_scan_started(std::uint32_t scan_num);
void peak_detection_trace_started(std::uint32_t EIC_ID);
void peak_grouping_started(std::uint32_t Group_ID, std::size_t ungrouped);
void alignment_feature_started(std::uint32_t Align_ID, std::size_t unaligned, double founder_intensity);
// "Compound Alignment Finished, ..." with the number of features; the wording differs.
void alignment_finished(std::uint32_t features);

// Adduct annotation takes up the group Group_ID, after passing the values first .. Group_ID - 1
// that no peak carries (first == Group_ID when there was no gap). The workbench reports every
// value from first to Group_ID, one line each; the console reports none.
void adduct_annotation_groups_reached(std::uint64_t first, std::uint64_t Group_ID);

// New_Calculate_Peak_SNR: true when the noise is the mean magnitude in every case.
bool snr_noise_is_mean_magnitude();
// chromatograph_peak_filter: true when a peak must also rise and fall by more than 2.0 in all.
bool peak_filter_checks_rise_and_fall();

// The file name of the netCDF library searched beside the program, and the message thrown when
// no candidate loads.
const char* netcdf_library_file();
const char* netcdf_missing_library();

}  // namespace korvane::variant
