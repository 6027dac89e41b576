#include "pipeline/pipeline_process.h"

#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <list>
#include <utility>

#include "engine/annotation/adduct_annotation.h"
#include "engine/annotation/grouping.h"
#include "engine/output/csv_output.h"
#include "engine/output/database_output.h"
#include "engine/peaks/mass_trace.h"
#include "engine/peaks/peak_detection.h"
#include "engine/peaks/spectrum.h"

void pipeline_process(std::vector<Spectrum_Scan> spectrum_arry, Para_Configure Para,
                      std::vector<adduct_configure_node> adduct_configure_arry,
                      std::vector<double> hmdb_mass_weight_arry, std::string Sample_Name,
                      std::string Output_Dir,
                      std::vector<Chromatogram_Peak_Group_Compound>& peaklist_adduct_annotated) {
    // Every stage takes its inputs by value; an input that is not needed afterwards is moved in
    // rather than copied, which hands the stage the same values.

    // 1-2. Spectrum preprocessing.
    if (Para.Para_Profile_Centroid == 0) spectrum_centroiding(spectrum_arry);
    intensity_cutoff(spectrum_arry, cutoff_intensity_from_parameter(Para.Para_Cutoff_Intensity),
                     static_cast<std::uint32_t>(Para.Para_Cutoff_TopNumber), Para.Para_Cutoff_LowPercent,
                     Para.Para_Cutoff_Mode);

    // 3-4. Mass traces; the list stays whole for the database of step 12.
    std::list<Mass_Trace> mass_trace_list;
    mass_trace_extraction(mass_trace_list, std::move(spectrum_arry), Para.Para_PPM,
                          static_cast<std::int32_t>(Para.Para_Min_EIC),
                          static_cast<std::int32_t>(Para.Para_Misscount_Allow), Para.Para_InterTrace_Dist_Min);
    std::cout << "Totally, " << mass_trace_list.size() << "Mass traces are extracted!" << std::endl;

    // 5-7. Peak detection on a copy of the trace list.
    std::vector<Chromatogram_Peak> peaks;
    mass_trace_list_peak_detection(
        peaks, mass_trace_list, Para.Para_Min_PeakWidth, Para.Para_Max_PeakWidth,
        static_cast<std::int32_t>(Para.Para_Branch_Gap_Allow), static_cast<std::int32_t>(Para.Para_Min_Branch_Length),
        static_cast<std::int32_t>(Para.Para_Min_Span), static_cast<std::int32_t>(Para.Para_MarkerBranch_Dif_Th),
        Para.Para_PeakIntensity_Th, Para.Para_SNR_Th, Para.Para_Peak_Significance_Th, Para.Para_TPASR_Th,
        Para.Para_Zig_Zag_Index_Th);
    std::cout << "Totally, " << peaks.size() << "Peaks are detected!" << std::endl;
    OutputChromatographPeaklist2CSVFile(peaks, Output_Dir, Sample_Name + "_chromatograph_peaklist.csv");

    // 8-9. Grouping.
    std::vector<Chromatogram_Peak_Group> groups;
    peak_group(groups, std::move(peaks), Para.Para_Group_Scan_Shift_Tol, Para.Para_Group_Shape_Angle_Th);
    OutputGroupedChromatographPeaklist2CSVFile(groups, Output_Dir, Sample_Name + "_grouped_chromatograph_peaklist.csv");

    // 10-12. Annotation and the annotated outputs.
    const LC_Polar_Mode polar_mode = Para.Para_Polarity == 0 ? LC_Positive_Mode : LC_Negative_Mode;
    adduct_annotation(std::move(groups), std::move(adduct_configure_arry), std::move(hmdb_mass_weight_arry),
                      Para.Para_Annotate_Mass_Tol, Para.Para_Refinement_Shape_Th, polar_mode,
                      peaklist_adduct_annotated);
    OutputAnnotatedGroupedChromatographPeaklist2CSVFile(
        peaklist_adduct_annotated, Output_Dir, Sample_Name + "_annotated_grouped_chromatograph_peaklist.csv");
    OutputAnnotatedGroupedChromatographPeaklist2database(
        peaklist_adduct_annotated, std::move(mass_trace_list), Output_Dir,
        Sample_Name + "_annotated_grouped_chromatograph_peaklist.db");
}

std::string extract_sample_name(std::string sample_file_name) {
    const std::size_t dot = sample_file_name.rfind('.');
    if (dot == std::string::npos) return sample_file_name;
    sample_file_name.resize(dot);
    return sample_file_name;
}

std::string format_elapsed_time(double seconds) {
    // Truncated toward zero to 32 bits; saturated, since a cast of an out-of-range double is
    // undefined (only a clock gone wild could get there).
    std::int32_t n = 0;
    if (seconds >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        n = std::numeric_limits<std::int32_t>::max();
    else if (seconds > 0.0)
        n = static_cast<std::int32_t>(seconds);
    const std::int32_t days = n / 86400;
    const std::int32_t hours = (n % 86400) / 3600;
    const std::int32_t minutes = (n % 3600) / 60;
    const std::int32_t secs = static_cast<std::int32_t>(std::ceil(n % 60));

    std::string text;
    if (days > 0) text += std::to_string(days) + "d ";
    if (hours > 0) text += std::to_string(hours) + "h ";
    if (minutes > 0) text += std::to_string(minutes) + "m ";
    if (secs > 0) text += std::to_string(secs) + "s ";
    return text;
}
