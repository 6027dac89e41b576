// Times pipeline_process on one sample, stage by stage and whole, with all four files written.
//
//   pipeline_bench [--cdf FILE.CDF] [--config DIR] [--repeat N] [--out DIR] [--max-peak-width W]
//
// Without --cdf the sample is the synthetic benchmark sample (korvane_synth defaults: 2400 scans,
// about 4.2 million centroids). --max-peak-width replaces the configuration's Para_Max_PeakWidth
// (100 is the wide-peak case: 4-10 scans per second). Prints the median of N runs per stage, the median of the whole
// pipeline_process call, and this process's peak resident memory. A plain timing program: one
// run takes seconds and consumes its input, which does not suit Google Benchmark's loop.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "engine/annotation/adduct_annotation.h"
#include "engine/annotation/grouping.h"
#include "engine/io/netcdf_reader.h"
#include "engine/records/error.h"
#include "engine/output/csv_output.h"
#include "engine/output/database_output.h"
#include "engine/peaks/mass_trace.h"
#include "engine/peaks/peak_detection.h"
#include "engine/peaks/spectrum.h"
#include "engine/records/para_configure.h"
#include "engine/records/reference_tables.h"
#include "engine/run/pipeline_process.h"
#include "sqlitewrap/cppsqlite3.h"
#include "tools/generate_sample/synthetic_sample.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

long peak_rss_mib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;  // kilobytes on Linux
}

// Loads a sample file as the driver does.
std::vector<Spectrum_Scan> load(const std::string& path, const Para_Configure& p) {
    const std::filesystem::path f(path);
    std::uint32_t scans = 0, points = 0;
    std::vector<std::uint32_t> scan_num, scan_index;
    std::vector<std::int32_t> point_count;
    std::vector<double> time, tic;
    std::vector<float> mz, intensity;
    if (necdf_read(f.parent_path().string(), f.filename().string(), scans, points, scan_num, scan_index, point_count,
                   time, mz, intensity, tic) != 1)
        throw std::runtime_error("cannot read " + path);
    std::vector<Spectrum_Scan> spectra;
    spectrum_split(spectra, scans, points, p.Para_Start_Scan, p.Para_End_Scan, scan_num, scan_index, time, point_count,
                   mz, intensity);
    return spectra;
}

// The stages of pipeline_process one by one, with the same arguments, each timed.
void run_stages(std::vector<Spectrum_Scan> scans, const Para_Configure& p, const std::vector<adduct_configure_node>& adducts,
                const std::vector<double>& masses, const std::string& dir, std::map<std::string, std::vector<double>>& t) {
    auto t0 = Clock::now();
    if (p.Para_Profile_Centroid == 0) spectrum_centroiding(scans);
    t["1 centroiding"].push_back(seconds_since(t0));
    t0 = Clock::now();
    intensity_cutoff(scans, cutoff_intensity_from_parameter(p.Para_Cutoff_Intensity), p.Para_Cutoff_TopNumber,
                     p.Para_Cutoff_LowPercent, p.Para_Cutoff_Mode);
    t["2 intensity cut-off"].push_back(seconds_since(t0));
    t0 = Clock::now();
    std::list<Mass_Trace> traces;
    mass_trace_extraction(traces, std::move(scans), p.Para_PPM, p.Para_Min_EIC, p.Para_Misscount_Allow,
                          p.Para_InterTrace_Dist_Min);
    t["3 mass traces"].push_back(seconds_since(t0));
    t0 = Clock::now();
    std::vector<Chromatogram_Peak> peaks;
    mass_trace_list_peak_detection(peaks, traces, p.Para_Min_PeakWidth, p.Para_Max_PeakWidth, p.Para_Branch_Gap_Allow,
                                   p.Para_Min_Branch_Length, p.Para_Min_Span, p.Para_MarkerBranch_Dif_Th,
                                   p.Para_PeakIntensity_Th, p.Para_SNR_Th, p.Para_Peak_Significance_Th,
                                   p.Para_TPASR_Th, p.Para_Zig_Zag_Index_Th);
    t["4 peak detection"].push_back(seconds_since(t0));
    t0 = Clock::now();
    OutputChromatographPeaklist2CSVFile(peaks, dir, "stages_chromatograph_peaklist.csv");
    t["5 peak list CSV"].push_back(seconds_since(t0));
    t0 = Clock::now();
    std::vector<Chromatogram_Peak_Group> groups;
    peak_group(groups, std::move(peaks), p.Para_Group_Scan_Shift_Tol, p.Para_Group_Shape_Angle_Th);
    t["6 grouping"].push_back(seconds_since(t0));
    t0 = Clock::now();
    OutputGroupedChromatographPeaklist2CSVFile(groups, dir, "stages_grouped_chromatograph_peaklist.csv");
    t["7 grouped CSV"].push_back(seconds_since(t0));
    t0 = Clock::now();
    std::vector<Chromatogram_Peak_Group_Compound> compounds;
    adduct_annotation(std::move(groups), adducts, masses, p.Para_Annotate_Mass_Tol, p.Para_Refinement_Shape_Th,
                      p.Para_Polarity == 0 ? LC_Positive_Mode : LC_Negative_Mode, compounds);
    t["8 adduct annotation"].push_back(seconds_since(t0));
    t0 = Clock::now();
    OutputAnnotatedGroupedChromatographPeaklist2CSVFile(compounds, dir, "stages_annotated_grouped_chromatograph_peaklist.csv");
    t["9 annotated CSV"].push_back(seconds_since(t0));
    t0 = Clock::now();
    OutputAnnotatedGroupedChromatographPeaklist2database(compounds, std::move(traces), dir,
                                                         "stages_annotated_grouped_chromatograph_peaklist.db");
    t["10 database"].push_back(seconds_since(t0));
}

}  // namespace

int main(int argc, char** argv) {
    korvane::add_exception_describer(describe_sqlite_exception);
    std::string cdf, config = std::string(KORVANE_SOURCE_DIR) + "/examples/config",
                out = (std::filesystem::temp_directory_path() / "korvane_pipeline_bench").string();
    int repeat = 5;
    long max_peak_width = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i], value = argv[i + 1];
        if (opt == "--cdf") cdf = value;
        else if (opt == "--config") config = value;
        else if (opt == "--repeat") repeat = std::max(1, std::stoi(value));
        else if (opt == "--out") out = value;
        else if (opt == "--max-peak-width") max_peak_width = std::stol(value);
        else {
            std::cerr << "unknown option " << opt << "\n";
            return 1;
        }
    }
    try {
        std::filesystem::create_directories(out);
        Para_Configure para;
        if (!Read_Configured_ParafromCSVFile(config, "config_para.csv", para)) throw std::runtime_error("no config_para.csv in " + config);
        if (max_peak_width > 0) para.Para_Max_PeakWidth = static_cast<std::uint32_t>(max_peak_width);
        std::vector<adduct_configure_node> adducts;
        read_adduct_configure_file(config + (para.Para_Polarity == 0 ? "/Adduct_Config_Positive.csv" : "/Adduct_Config_Negative.csv"), adducts);
        std::vector<double> average, masses;
        read_hmdb_file(config + "/hmdb.csv", average, masses);

        auto t0 = Clock::now();
        const std::vector<Spectrum_Scan> scans = cdf.empty() ? korvane::synth::generate_scans({}) : load(cdf, para);
        const double load_seconds = seconds_since(t0);
        std::size_t points = 0;
        for (const auto& s : scans) points += s.mass_values.size();

        std::map<std::string, std::vector<double>> stage_times;
        std::vector<double> whole;
        std::size_t compounds = 0;
        for (int r = 0; r < repeat; ++r) {
            run_stages(scans, para, adducts, masses, out, stage_times);
            std::vector<Chromatogram_Peak_Group_Compound> result;
            t0 = Clock::now();
            pipeline_process(scans, para, adducts, masses, "whole", out, result);
            whole.push_back(seconds_since(t0));
            compounds = result.size();
        }

        std::printf("\nsample: %s, %zu scans, %zu centroids; %s %.3f s\n", cdf.empty() ? "synthetic benchmark sample" : cdf.c_str(),
                    scans.size(), points, cdf.empty() ? "generated in" : "read and split in", load_seconds);
        std::printf("Para_Max_PeakWidth %u; median of %d runs, seconds:\n", static_cast<unsigned>(para.Para_Max_PeakWidth), repeat);
        double sum = 0;
        std::vector<std::pair<int, std::string>> order;
        for (const auto& [name, v] : stage_times) order.push_back({std::stoi(name), name});
        std::sort(order.begin(), order.end());
        for (const auto& [k, name] : order) {
            const double m = median(stage_times[name]);
            sum += m;
            std::printf("  %-22s %8.3f\n", name.c_str(), m);
        }
        std::printf("  %-22s %8.3f\n", "sum of stages", sum);
        std::printf("  %-22s %8.3f  (min %.3f, max %.3f)\n", "pipeline_process", median(whole),
                    *std::min_element(whole.begin(), whole.end()), *std::max_element(whole.begin(), whole.end()));
        std::printf("annotated compounds: %zu\npeak resident memory of this process: %ld MiB\n", compounds, peak_rss_mib());
        return 0;
    } catch (...) {
        std::cerr << "pipeline_bench: " << korvane::describe_current_exception() << "\n";
        return 1;
    }
}
