#include "engine/run/pipeline_process.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <ostream>
#include <limits>
#include <list>
#include <map>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "engine/annotation/adduct_annotation.h"
#include "engine/annotation/alignment.h"
#include "engine/annotation/grouping.h"
#include "engine/output/csv_output.h"
#include "engine/output/database_output.h"
#include "engine/io/netcdf_reader.h"
#include "engine/peaks/mass_trace.h"
#include "engine/peaks/peak_detection.h"
#include "engine/peaks/spectrum.h"
#include "engine/records/error.h"
#include "engine/records/reference_tables.h"
#include "engine/records/result_file.h"
#include "engine/records/text_util.h"

namespace {

// The result names, written by the stages and by the alignment, and refused, removed and kept
// apart through the same lists: a name spelt twice could be written under one spelling and
// checked under another.
constexpr const char* kPeakListSuffix = "_chromatograph_peaklist.csv";
constexpr const char* kGroupedSuffix = "_grouped_chromatograph_peaklist.csv";
constexpr const char* kAnnotatedSuffix = "_annotated_grouped_chromatograph_peaklist.csv";
constexpr const char* kDatabaseSuffix = "_annotated_grouped_chromatograph_peaklist.db";
constexpr const char* kSampleSuffixes[] = {kPeakListSuffix, kGroupedSuffix, kAnnotatedSuffix, kDatabaseSuffix};
constexpr const char* kAlignedCsv = "aligned_annotated_grouped_chromatograph_peaklist.csv";
constexpr const char* kAlignedDatabase = "aligned_annotated_grouped_chromatograph_peaklist.aligndb";
constexpr const char* kAlignedNames[] = {kAlignedCsv, kAlignedDatabase};

// Gives the files waiting in results their names; a failure throws korvane::Error "Result files
// <whose> could not be given their names in <output_dir>: <reason>".
void commit_results(korvane::Result_Set& results, const std::string& output_dir, const std::string& whose) {
    if (const std::error_code ec = results.commit())
        throw korvane::Error("Result files " + whose + " could not be given their names in " +
                             (output_dir.empty() ? std::string(".") : output_dir) + ": " + ec.message());
}

}  // namespace

void pipeline_process(std::vector<Spectrum_Scan> spectrum_arry, Para_Configure Para,
                      std::vector<adduct_configure_node> adduct_configure_arry,
                      std::vector<double> hmdb_mass_weight_arry, std::string Sample_Name,
                      std::string Output_Dir,
                      std::vector<Chromatogram_Peak_Group_Compound>& peaklist_adduct_annotated) {
    // Every stage takes its inputs by value; an input that is not needed afterwards is moved in
    // rather than copied, which hands the stage the same values. Each stage is a named step, so
    // that running out of memory says where.
    using korvane::run_step;
    // The four files take their names together at the end: a sample stopped or failing part way
    // keeps all of its earlier run's results, never some of them beside some of this run's.
    korvane::Result_Set results;

    // 1. Spectrum preprocessing.
    run_step("spectrum preprocessing", [&] { korvane::preprocess_spectra(spectrum_arry, Para); });

    // 2. Mass traces; the list stays whole for the database of step 5.
    std::list<Mass_Trace> mass_trace_list;
    run_step("mass trace extraction",
             [&] { korvane::extract_mass_traces(mass_trace_list, std::move(spectrum_arry), Para); });
    std::cout << "Totally, " << mass_trace_list.size() << "Mass traces are extracted!" << std::endl;

    // 3. Peak detection on a copy of the trace list.
    std::vector<Chromatogram_Peak> peaks;
    run_step("peak detection", [&] { korvane::detect_peaks(peaks, mass_trace_list, Para); });
    std::cout << "Totally, " << peaks.size() << "Peaks are detected!" << std::endl;
    run_step("writing the peak list", [&] {
        OutputChromatographPeaklist2CSVFile(peaks, Output_Dir, Sample_Name + kPeakListSuffix);
    });

    // 4. Grouping.
    std::vector<Chromatogram_Peak_Group> groups;
    run_step("peak grouping", [&] {
        peak_group(groups, std::move(peaks), Para.Para_Group_Scan_Shift_Tol, Para.Para_Group_Shape_Angle_Th);
    });
    run_step("writing the grouped peak list", [&] {
        OutputGroupedChromatographPeaklist2CSVFile(groups, Output_Dir, Sample_Name + kGroupedSuffix);
    });

    // 5. Annotation and the annotated outputs.
    const LC_Polar_Mode polar_mode = Para.Para_Polarity == 0 ? LC_Positive_Mode : LC_Negative_Mode;
    run_step("adduct annotation", [&] {
        adduct_annotation(std::move(groups), std::move(adduct_configure_arry), std::move(hmdb_mass_weight_arry),
                          Para.Para_Annotate_Mass_Tol, Para.Para_Refinement_Shape_Th, polar_mode,
                          peaklist_adduct_annotated);
    });
    run_step("writing the annotated peak list", [&] {
        OutputAnnotatedGroupedChromatographPeaklist2CSVFile(peaklist_adduct_annotated, Output_Dir,
                                                            Sample_Name + kAnnotatedSuffix);
    });
    run_step("writing the sample database", [&] {
        OutputAnnotatedGroupedChromatographPeaklist2database(peaklist_adduct_annotated, std::move(mass_trace_list),
                                                             Output_Dir, Sample_Name + kDatabaseSuffix);
    });
    commit_results(results, Output_Dir, "of sample " + Sample_Name);
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

namespace korvane {

void preprocess_spectra(std::vector<Spectrum_Scan>& scans, const Para_Configure& para) {
    if (para.Para_Profile_Centroid == 0) spectrum_centroiding(scans);
    intensity_cutoff(scans, cutoff_intensity_from_parameter(para.Para_Cutoff_Intensity),
                     static_cast<std::uint32_t>(para.Para_Cutoff_TopNumber), para.Para_Cutoff_LowPercent,
                     para.Para_Cutoff_Mode);
}

void extract_mass_traces(std::list<Mass_Trace>& traces, std::vector<Spectrum_Scan> scans, const Para_Configure& para) {
    mass_trace_extraction(traces, std::move(scans), para.Para_PPM, static_cast<std::int32_t>(para.Para_Min_EIC),
                          static_cast<std::int32_t>(para.Para_Misscount_Allow), para.Para_InterTrace_Dist_Min);
}

void detect_peaks(std::vector<Chromatogram_Peak>& peaks, std::list<Mass_Trace> traces, const Para_Configure& para) {
    mass_trace_list_peak_detection(
        peaks, std::move(traces), para.Para_Min_PeakWidth, para.Para_Max_PeakWidth,
        static_cast<std::int32_t>(para.Para_Branch_Gap_Allow), static_cast<std::int32_t>(para.Para_Min_Branch_Length),
        static_cast<std::int32_t>(para.Para_Min_Span), static_cast<std::int32_t>(para.Para_MarkerBranch_Dif_Th),
        para.Para_PeakIntensity_Th, para.Para_SNR_Th, para.Para_Peak_Significance_Th, para.Para_TPASR_Th,
        para.Para_Zig_Zag_Index_Th);
}

namespace {

// The annotation's own check of the table, run before any sample rather than after the first
// sample's peaks: an annotation of no group checks the table and does nothing else.
void check_adducts_for_annotation(const std::vector<adduct_configure_node>& adducts, LC_Polar_Mode mode,
                                  const std::string& path) {
    std::vector<Chromatogram_Peak_Group_Compound> none;
    try {
        adduct_annotation({}, adducts, {}, 0.0, 0.0, mode, none);
    } catch (const AdductConfigError& e) {
        throw korvane::Error("Adduct table " + path + ": " + e.what());
    }
}

}  // namespace

Run_Configuration read_run_configuration(const std::string& config_dir) {
    // Every input is checked here, before any sample: a run that stops on one later leaves half
    // its output sets behind.
    Run_Configuration c;
    c.para = read_run_parameters(config_dir, "config_para.csv");
    const bool positive = c.para.Para_Polarity == 0;
    const std::string adduct_path =
        path_join(config_dir, positive ? "Adduct_Config_Positive.csv" : "Adduct_Config_Negative.csv");
    read_run_adduct_table(adduct_path, c.adducts);
    check_adducts_for_annotation(c.adducts, positive ? LC_Positive_Mode : LC_Negative_Mode, adduct_path);
    read_run_hmdb_masses(path_join(config_dir, "hmdb.csv"), c.hmdb_mono_masses);
    return c;
}

bool load_sample_scans(const std::string& data_dir, const std::string& file, const Para_Configure& para,
                       std::vector<Spectrum_Scan>& scans, std::string& reason) {
    std::uint32_t scan_count = 0, point_count = 0;
    std::vector<std::uint32_t> scan_num, scan_index;
    std::vector<std::int32_t> points_per_scan;
    std::vector<double> scan_time, total_intensity;
    std::vector<float> mass, intensity;
    if (necdf_read(data_dir, file, scan_count, point_count, scan_num, scan_index, points_per_scan, scan_time, mass,
                   intensity, total_intensity, reason) != 1)
        return false;
    spectrum_split(scans, scan_count, point_count, para.Para_Start_Scan, para.Para_End_Scan, scan_num, scan_index,
                   scan_time, points_per_scan, mass, intensity);
    return true;
}

std::string skipped_summary(const std::vector<Skipped_Sample>& skipped, std::size_t total) {
    std::string line = "Skipped " + std::to_string(skipped.size()) + " of " + std::to_string(total) + " samples: ";
    for (std::size_t i = 0; i < skipped.size(); ++i) {
        if (i > 0) line += "; ";
        line += skipped[i].file + " (" + skipped[i].reason + ")";
    }
    return line;
}

bool parse_skipped_summary(const std::string& line, std::vector<Skipped_Sample>& skipped, std::size_t& total) {
    static const std::string kHead = "Skipped ";
    if (line.compare(0, kHead.size(), kHead) != 0) return false;
    std::size_t k = 0, n = 0;
    int used = 0;
    if (std::sscanf(line.c_str() + kHead.size(), "%zu of %zu samples: %n", &k, &n, &used) != 2 || used == 0)
        return false;
    std::vector<Skipped_Sample> found;
    std::size_t pos = kHead.size() + static_cast<std::size_t>(used);
    while (pos < line.size()) {
        // An entry ends at the ")" that is followed by "; " or by the end of the line; names and
        // reasons may hold parentheses of their own.
        std::size_t close = line.find(")", pos);
        while (close != std::string::npos && close + 1 != line.size() && line.compare(close + 1, 2, "; ") != 0)
            close = line.find(")", close + 1);
        if (close == std::string::npos) return false;
        // The reason's own parentheses are balanced: its opening one is where the depth returns to 0.
        std::size_t open = std::string::npos;
        int depth = 0;
        for (std::size_t j = close + 1; j-- > pos;) {
            if (line[j] == ')') ++depth;
            if (line[j] == '(' && --depth == 0) {
                open = j - 1;
                break;
            }
        }
        if (open == std::string::npos || open < pos || line[open] != ' ') return false;
        found.push_back({line.substr(pos, open - pos), line.substr(open + 2, close - open - 2)});
        pos = close + 1 == line.size() ? line.size() : close + 3;
    }
    if (found.size() != k) return false;
    skipped = std::move(found);
    total = n;
    return true;
}

namespace {

// Why a sample's results cannot be written beside those already taken (name to whose they are),
// "" when they can.
std::string result_name_conflict(const std::string& sample_name, const std::map<std::string, std::string>& taken,
                                 std::size_t name_max) {
    std::size_t longest = 0;
    for (const char* suffix : kSampleSuffixes) longest = std::max(longest, sample_name.size() + std::strlen(suffix));
    if (longest > name_max)
        return "its result file names would be " + std::to_string(longest) +
               " bytes long, over the output folder's limit of " + std::to_string(name_max);
    for (const char* suffix : kSampleSuffixes)
        if (const auto other = taken.find(sample_name + suffix); other != taken.end())
            return "its result files would replace " + other->second;
    return {};
}

}  // namespace

std::vector<std::string> find_result_name_conflicts(const std::vector<std::string>& files, std::size_t name_max,
                                                    bool fold_case) {
    // In a folder that folds case, names are taken by their lower-case form. ASCII letters only:
    // every sample and result name the system makes differs from another in those, if in any.
    const auto key = [fold_case](std::string name) {
        if (fold_case)
            for (char& c : name)
                if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return name;
    };
    std::map<std::string, std::string> taken;
    for (const char* name : kAlignedNames) taken[key(name)] = "the aligned results";
    std::vector<std::string> conflicts;
    for (const std::string& file : files) {
        const std::string sample_name = extract_sample_name(file);
        std::string why = unsafe_file_name_reason(file);
        if (why.empty()) why = result_name_conflict(key(sample_name), taken, name_max);
        if (why.empty())
            for (const char* suffix : kSampleSuffixes) taken[key(sample_name + suffix)] = "those of " + file;
        conflicts.push_back(std::move(why));
    }
    return conflicts;
}

std::string unsafe_file_name_reason(const std::string& name) {
    if (name == "." || name == ".." || name.find_first_of(std::string("/\0", 2)) != std::string::npos)
        return "not a file name of the data folder";
    return {};
}

std::vector<std::string> sample_result_files(const std::string& output_dir, const std::string& sample_name) {
    std::vector<std::string> paths;
    for (const char* suffix : kSampleSuffixes) paths.push_back(path_join(output_dir, sample_name + suffix));
    // Left beside a removed database, a journal would be rolled into the next one.
    paths.push_back(paths.back() + "-journal");
    return paths;
}

std::vector<std::string> aligned_result_files(const std::string& output_dir) {
    std::vector<std::string> paths;
    for (const char* name : kAlignedNames) paths.push_back(path_join(output_dir, name));
    paths.push_back(paths.back() + "-journal");
    return paths;
}

std::vector<std::string> remove_result_files(const std::vector<std::string>& paths) {
    std::vector<std::string> removed;
    for (const std::string& path : paths) {
        std::error_code ec;
        const auto type = std::filesystem::symlink_status(path, ec).type();
        // A name too long for the folder cannot be there (the database's journal passes the limit
        // before the result names do).
        if (type == std::filesystem::file_type::not_found || type == std::filesystem::file_type::directory ||
            ec == std::errc::filename_too_long)
            continue;
        // Gone already (another run writing into the folder removed it) is what was wanted.
        const bool gone_now = !ec && std::filesystem::remove(path, ec);
        if (ec)
            throw korvane::Error("Result file of an earlier run could not be removed: " + path + " (" +
                                     ec.message() + ")");
        if (gone_now) removed.push_back(path);
    }
    return removed;
}

void append_align_rows(std::vector<Chromatogram_Peak_Group_Compound>& compounds, std::uint32_t sample_id,
                       const std::string& sample_name, std::vector<Chromatogram_Peak_Group_Compound_Align>& rows) {
    for (Chromatogram_Peak_Group_Compound& c : compounds) {
        Chromatogram_Peak_Group_Compound_Align r;
        r.Peak_shape = std::move(c.Peak_shape);
        copy_peak_scalars(c, r);
        r.Group_ID = c.Group_ID;
        r.Adduct_Annotation = std::move(c.Adduct_Annotation);
        r.Compound_ID = c.Compound_ID;
        r.Compound_MolecularMass = c.Compound_MolecularMass;
        r.Compound_Retention_Time = c.Compound_Retention_Time;
        r.Compound_Intensity = c.Compound_Intensity;
        r.SAMPLE_ID = sample_id;
        r.SAMPLE_NAME = sample_name;
        r.Align_ID = 0;
        r.Align_RT = 0.0;
        rows.push_back(std::move(r));
    }
}

bool align_and_write_rows(const Para_Configure& para, std::vector<Chromatogram_Peak_Group_Compound_Align>& rows,
                          const std::string& output_dir) {
    if (rows.empty() || para.Para_One_Two_Phase_Align <= 0) return false;
    const Compound_Align_Mode mode = para.Para_One_Two_Phase_Align == 1 ? One_Phase_Align : Two_Phase_Align;
    compound_align(mode, para.Para_Align_Mass_Tol, para.Para_Align_Window1, para.Para_Align_Window2, rows);
    // Both or neither: an aligned CSV beside an earlier run's database would not match it.
    Result_Set results;
    OutputAlignedAnnotatedGroupedChromatographPeaklist2CSVFile(rows, output_dir, kAlignedCsv);
    OutputAlignedAnnotatedGroupedChromatographPeaklist2database(rows, output_dir, kAlignedDatabase);
    commit_results(results, output_dir, "of the alignment");
    return true;
}


}  // namespace korvane
