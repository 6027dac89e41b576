// The console program's side of variant.h.
#include "engine/records/variant.h"

#include <iostream>

namespace korvane::variant {

void mass_trace_scan_started(std::uint32_t) {}
void peak_detection_trace_started(std::uint32_t) {}
void peak_grouping_started(std::uint32_t, std::size_t) {}
void alignment_feature_started(std::uint32_t, std::size_t, double) {}

void alignment_finished(std::uint32_t features) {
    std::cout << "Compound Alignment Finished, Totoally, " << features << "Align Groups are generated!" << std::endl;
}

void adduct_annotation_groups_reached(std::uint64_t, std::uint64_t) {}

bool snr_noise_is_mean_magnitude() { return false; }
bool peak_filter_checks_rise_and_fall() { return false; }

const char* netcdf_library_file() { return "libnetcdf.so"; }
const char* netcdf_missing_library() { return "libnetcdf.so doesn't exist in the current path or its parent path!"; }

}  // namespace korvane::variant
