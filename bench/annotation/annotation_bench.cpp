// Times adduct_annotation on the groups of the benchmark sample: the default synthetic sample of
// korvane_synth (2,400 scans x 1,750 centroids, 4.2 million points) taken through intensity
// cut-off, mass traces, peak detection and grouping with the example parameters, against 11,000
// HMDB masses: the bundled export's masses, topped up with deterministic synthetic masses (the
// export holds fewer). Only the annotation is timed.
// Usage: annotation_bench [repetitions=5]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <list>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/annotation/adduct_annotation.h"
#include "engine/annotation/grouping.h"
#include "engine/peaks/mass_trace.h"
#include "engine/peaks/peak_detection.h"
#include "engine/peaks/spectrum.h"
#include "engine/records/para_configure.h"
#include "engine/records/reference_tables.h"
#include "tools/generate_sample/synthetic_sample.h"

namespace {

constexpr std::size_t kHmdbMasses = 11000;

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string config = std::string(KORVANE_SOURCE_DIR) + "/examples/config";

    Para_Configure para;
    if (!Read_Configured_ParafromCSVFile(config, "config_para.csv", para)) {
        std::fprintf(stderr, "cannot read %s/config_para.csv\n", config.c_str());
        return 1;
    }
    std::vector<adduct_configure_node> adducts;
    read_adduct_configure_file(config + "/Adduct_Config_Positive.csv", adducts);
    std::vector<double> average, hmdb;
    read_hmdb_file(config + "/hmdb.csv", average, hmdb);
    const std::size_t bundled = hmdb.size();
    std::mt19937_64 rng(11000);
    std::uniform_real_distribution<double> synthetic_mass(60.0, 1200.0);
    while (hmdb.size() < kHmdbMasses) hmdb.push_back(std::round(synthetic_mass(rng) * 1e6) / 1e6);

    // Untimed: the stages that make the groups, with the console pipeline's arguments.
    auto t0 = std::chrono::steady_clock::now();
    std::vector<Spectrum_Scan> scans = korvane::synth::generate_scans(korvane::synth::Options{});
    std::size_t centroids = 0;
    for (const Spectrum_Scan& s : scans) centroids += s.mass_values.size();
    intensity_cutoff(scans, cutoff_intensity_from_parameter(para.Para_Cutoff_Intensity),
                     static_cast<std::uint32_t>(para.Para_Cutoff_TopNumber), para.Para_Cutoff_LowPercent,
                     para.Para_Cutoff_Mode);
    std::list<Mass_Trace> traces;
    mass_trace_extraction(traces, std::move(scans), para.Para_PPM, static_cast<std::int32_t>(para.Para_Min_EIC),
                          static_cast<std::int32_t>(para.Para_Misscount_Allow), para.Para_InterTrace_Dist_Min);
    std::vector<Chromatogram_Peak> peaks;
    mass_trace_list_peak_detection(peaks, traces, para.Para_Min_PeakWidth, para.Para_Max_PeakWidth,
                                   static_cast<std::int32_t>(para.Para_Branch_Gap_Allow),
                                   static_cast<std::int32_t>(para.Para_Min_Branch_Length),
                                   static_cast<std::int32_t>(para.Para_Min_Span),
                                   static_cast<std::int32_t>(para.Para_MarkerBranch_Dif_Th), para.Para_PeakIntensity_Th,
                                   para.Para_SNR_Th, para.Para_Peak_Significance_Th, para.Para_TPASR_Th,
                                   para.Para_Zig_Zag_Index_Th);
    std::vector<Chromatogram_Peak_Group> groups;
    peak_group(groups, peaks, para.Para_Group_Scan_Shift_Tol, para.Para_Group_Shape_Angle_Th);
    const double setup = seconds_since(t0);

    std::map<std::uint32_t, std::size_t> group_sizes;
    for (const auto& g : groups) ++group_sizes[g.Group_ID];
    std::size_t largest_group = 0;
    for (const auto& [id, n] : group_sizes) largest_group = std::max(largest_group, n);
    std::fprintf(stderr,
                 "sample: %zu centroids, %zu traces, %zu peaks, %zu groups (largest %zu peaks); %zu adduct rows; "
                 "%zu HMDB masses (%zu from the bundled export, the rest synthetic); setup %.1f s\n",
                 centroids, traces.size(), peaks.size(), group_sizes.size(), largest_group, adducts.size(),
                 hmdb.size(), bundled, setup);

    std::vector<double> times;
    std::size_t rows = 0, compounds = 0;
    for (int r = 0; r < reps; ++r) {
        std::vector<Chromatogram_Peak_Group_Compound> annotated;
        t0 = std::chrono::steady_clock::now();
        adduct_annotation(groups, adducts, hmdb, para.Para_Annotate_Mass_Tol, para.Para_Refinement_Shape_Th,
                          LC_Positive_Mode, annotated);
        times.push_back(seconds_since(t0));
        rows = annotated.size();
        compounds = 0;
        for (const auto& a : annotated) compounds = std::max<std::size_t>(compounds, a.Compound_ID);
    }
    std::sort(times.begin(), times.end());
    std::fprintf(stderr, "adduct_annotation: median %.3f s (min %.3f, max %.3f, %d runs); %zu rows, %zu compounds\n",
                 times[times.size() / 2], times.front(), times.back(), reps, rows, compounds);
    return 0;
}
