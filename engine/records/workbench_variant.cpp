// The workbench's side of variant.h.
#include "engine/records/variant.h"

#include <iostream>

namespace korvane::variant {

void mass_trace_scan_started(std::uint32_t scan_num) {
    std::cout << "Mass Trace Extraction, scan=" << scan_num << std::endl;
}

void peak_detection_trace_started(std::uint32_t EIC_ID) {
    std::cout << "Peak Detection,  EIC=" << EIC_ID << std::endl;
}

void peak_grouping_started(std::uint32_t Group_ID, std::size_t ungrouped) {
    std::cout << "Peak Grouping, Group_ID=" << Group_ID << "Ungroup PeakNum=" << ungrouped << std::endl;
}

void alignment_feature_started(std::uint32_t Align_ID, std::size_t unaligned, double founder_intensity) {
    std::cout << "Compound alignment, Align_ID=" << Align_ID << std::endl;
    std::cout << "unalign peak number=" << unaligned << "Unalign Max_Compound_Intensity=" << founder_intensity
              << std::endl;
}

void alignment_finished(std::uint32_t features) {
    std::cout << "Compound Alignment Finished, Totoally, " << features << "Groups are generated!" << std::endl;
}

void adduct_annotation_groups_reached(std::uint64_t first, std::uint64_t Group_ID) {
    for (std::uint64_t g = first; g <= Group_ID; ++g) std::cout << "Adduct Annotation and Group_ID=" << g << std::endl;
}

bool snr_noise_is_mean_magnitude() { return true; }
bool peak_filter_checks_rise_and_fall() { return true; }

const char* netcdf_library_file() { return "libnetcdf_32.so"; }
const char* netcdf_missing_library() {
    return "netcdf related .so file doesn't exist in the current path or its parent path!";
}

}  // namespace korvane::variant
