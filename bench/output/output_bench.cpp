// Times the result writers of one sample and measures the database writer's peak extra memory.
//
//   output_bench [--source=sample|synthetic] [--repeat=N] [--dir=FOLDER]
//
// --source=sample (default) builds the benchmark sample (korvane_synth, 2400 scans x 1750
// centroids), cuts it into scans and runs mass trace extraction and peak detection with the
// example parameters; the detected peaks are widened to annotated rows with made-up group and
// compound fields, since only their count and shapes matter to the writers.
// --source=synthetic makes traces and rows of the same size in this program instead: every one
// of the 4.2 million centroids in a trace (the most the sample could give), 6000 peaks.
//
// Each repetition writes the three per-sample CSV files, the per-sample database, and the aligned
// CSV file and database of sixteen samples holding copies of these rows (what the first process of
// a sixteen-sample run writes at its end), into
// FOLDER (default: the system temp folder). Printed: medians and all runs, the size of the largest
// shape text and the writer's peak resident-memory growth over its input (Linux: VmHWM after
// resetting it through /proc/self/clear_refs).
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <list>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/output/csv_output.h"
#include "engine/output/database_output.h"
#include "engine/peaks/mass_trace.h"
#include "engine/peaks/peak_detection.h"
#include "engine/peaks/spectrum.h"
#include "engine/records/para_configure.h"
#include "tools/generate_sample/synthetic_sample.h"

namespace {

struct Input {
    std::list<Mass_Trace> traces;
    std::vector<Chromatogram_Peak> peaks;
    std::string label;
};

void build_from_sample(Input& in) {
    Para_Configure para;
    if (!Read_Configured_ParafromCSVFile(KORVANE_SOURCE_DIR "/examples/config", "config_para.csv", para))
        throw std::runtime_error("example config_para.csv not readable");
    korvane::synth::Options options;  // the benchmark sample: 2400 scans x 1750 centroids
    std::vector<Spectrum_Scan> scans;
    {
        const korvane::synth::Sample s = korvane::synth::generate_sample(options);
        spectrum_split(scans, s.Total_Scan_Num, s.Total_Point_Num, para.Para_Start_Scan, para.Para_End_Scan,
                       s.scan_num_arry, s.scan_index_arry, s.scan_acquisition_time_arry, s.point_count_arry,
                       s.mass_value_arry, s.intensity_value_arry);
        in.label = "benchmark sample, " + std::to_string(s.Total_Point_Num) + " centroids";
    }
    intensity_cutoff(scans, cutoff_intensity_from_parameter(para.Para_Cutoff_Intensity),
                     para.Para_Cutoff_TopNumber, para.Para_Cutoff_LowPercent, para.Para_Cutoff_Mode);
    mass_trace_extraction(in.traces, std::move(scans), para.Para_PPM, para.Para_Min_EIC,
                          para.Para_Misscount_Allow, para.Para_InterTrace_Dist_Min);
    mass_trace_list_peak_detection(in.peaks, in.traces, para.Para_Min_PeakWidth, para.Para_Max_PeakWidth,
                                   para.Para_Branch_Gap_Allow, para.Para_Min_Branch_Length, para.Para_Min_Span,
                                   para.Para_MarkerBranch_Dif_Th, para.Para_PeakIntensity_Th, para.Para_SNR_Th,
                                   para.Para_Peak_Significance_Th, para.Para_TPASR_Th,
                                   para.Para_Zig_Zag_Index_Th);
}

void build_synthetic(Input& in) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const std::size_t total_points = 2400u * 1750u;
    std::size_t points = 0;
    std::vector<double> centres;
    while (points < total_points) {
        const std::size_t length = std::min<std::size_t>(20 + rng() % 381, total_points - points);
        Mass_Trace t;
        t.Cent_Mass = 50.0 + 1150.0 * unit(rng);
        t.trace_length = static_cast<std::int32_t>(length);
        const std::uint32_t first = static_cast<std::uint32_t>(rng() % (2400 - length + 1)) + 1;
        for (std::size_t k = 0; k < length; ++k) {
            const std::uint32_t scan = first + static_cast<std::uint32_t>(k);
            t.EIC_shape.push_back({scan, 0.5 * (scan - 1), t.Cent_Mass * (1.0 + 3e-6 * (unit(rng) - 0.5)),
                                   std::exp(7.0 + 9.0 * unit(rng))});
        }
        in.traces.push_back(std::move(t));
        points += length;
    }
    in.traces.sort([](const Mass_Trace& a, const Mass_Trace& b) { return a.Cent_Mass < b.Cent_Mass; });
    for (std::size_t i = 0; i < 6000; ++i) {
        auto it = std::next(in.traces.begin(), static_cast<long>(rng() % in.traces.size()));
        Chromatogram_Peak p;
        const std::size_t width = std::min<std::size_t>(it->EIC_shape.size(), 20 + rng() % 41);
        p.Peak_shape.assign(it->EIC_shape.begin(), it->EIC_shape.begin() + static_cast<long>(width));
        const Data_Point& apex = p.Peak_shape[width / 2];
        p.EIC_ID = static_cast<std::uint32_t>(i), p.Peak_ID = static_cast<std::uint32_t>(rng() % 4);
        p.Apex_MZ = apex.mz, p.Apex_Pos = apex.scan_num, p.Apex_Retention_Time = apex.retention_time;
        p.Apex_Intensity = apex.intensity, p.Peak_Area = apex.intensity * width * 0.6;
        p.Peak_SNR = 3.0 + 100.0 * unit(rng);
        p.Left_Boundary = p.Peak_shape.front().scan_num, p.Right_Boundary = p.Peak_shape.back().scan_num;
        in.peaks.push_back(std::move(p));
    }
    in.label = "synthetic traces, " + std::to_string(points) + " points";
}

template <class Wide, class Narrow>
Wide widen(const Narrow& p) {
    Wide w;
    w.Peak_shape = p.Peak_shape, w.EIC_ID = p.EIC_ID, w.Peak_ID = p.Peak_ID, w.Apex_MZ = p.Apex_MZ;
    w.Apex_Pos = p.Apex_Pos, w.Apex_Retention_Time = p.Apex_Retention_Time;
    w.Apex_Intensity = p.Apex_Intensity, w.Peak_Area = p.Peak_Area, w.Peak_SNR = p.Peak_SNR;
    w.Left_Boundary = p.Left_Boundary, w.Right_Boundary = p.Right_Boundary;
    return w;
}

std::size_t shape_text_length(const std::vector<Data_Point>& shape) {
    std::size_t n = shape.empty() ? 0 : shape.size() * 4 - 1;  // the commas
    char buf[400];
    for (const Data_Point& p : shape) {
        for (double v : {p.intensity, p.mz, p.retention_time})
            n += static_cast<std::size_t>(std::snprintf(buf, sizeof buf, "%.6f", v));
        n += static_cast<std::size_t>(std::to_chars(buf, buf + sizeof buf, p.scan_num).ptr - buf);
    }
    return n;
}

long status_kib(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(key);
    while (std::getline(in, line))
        if (line.compare(0, n, key) == 0) return std::stol(line.substr(n + 1));
    return -1;
}

bool reset_peak_rss() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.close();
    return static_cast<bool>(out);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

std::string runs(const std::vector<double>& v) {
    std::string s;
    char buf[32];
    for (double x : v) {
        std::snprintf(buf, sizeof buf, "%s%.3f", s.empty() ? "" : " ", x);
        s += buf;
    }
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    std::string source = "sample";
    int repeat = 5;
    std::string dir = (std::filesystem::temp_directory_path() / "korvane_output_bench").string();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--source=", 0) == 0) source = a.substr(9);
        else if (a.rfind("--repeat=", 0) == 0) repeat = std::max(1, std::stoi(a.substr(9)));
        else if (a.rfind("--dir=", 0) == 0) dir = a.substr(6);
        else {
            std::cerr << "usage: output_bench [--source=sample|synthetic] [--repeat=N] [--dir=FOLDER]\n";
            return 2;
        }
    }
    std::filesystem::create_directories(dir);

    Input in;
    if (source == "synthetic") build_synthetic(in);
    else build_from_sample(in);

    std::vector<Chromatogram_Peak_Group> grouped;
    std::vector<Chromatogram_Peak_Group_Compound> annotated;
    for (std::size_t i = 0; i < in.peaks.size(); ++i) {
        grouped.push_back(widen<Chromatogram_Peak_Group>(in.peaks[i]));
        grouped.back().Group_ID = static_cast<std::uint32_t>(i / 3 + 1);
        auto c = widen<Chromatogram_Peak_Group_Compound>(in.peaks[i]);
        c.Group_ID = grouped.back().Group_ID;
        c.Adduct_Annotation = i % 3 == 0 ? "[M+H]+" : i % 3 == 1 ? "[M+Na]+" : "[M+H-H2O]+";
        c.Compound_ID = c.Group_ID, c.Compound_MolecularMass = c.Apex_MZ - 1.007276;
        c.Compound_Retention_Time = c.Apex_Retention_Time, c.Compound_Intensity = c.Apex_Intensity;
        annotated.push_back(std::move(c));
    }

    std::size_t trace_points = 0, largest_shape = 0, total_shape = 0;
    for (const Mass_Trace& t : in.traces) {
        trace_points += t.EIC_shape.size();
        const std::size_t n = shape_text_length(t.EIC_shape);
        largest_shape = std::max(largest_shape, n);
        total_shape += n;
    }
    for (const auto& p : in.peaks) {
        const std::size_t n = shape_text_length(p.Peak_shape);
        largest_shape = std::max(largest_shape, n);
        total_shape += n;
    }
    std::cout << "input: " << in.label << "; " << in.traces.size() << " traces with " << trace_points
              << " points, " << in.peaks.size() << " peaks; shape text " << total_shape / (1024 * 1024)
              << " MiB in all, largest " << largest_shape << " bytes" << std::endl;

    std::vector<Chromatogram_Peak_Group_Compound_Align> aligned;
    for (std::uint32_t sample = 0; sample < 16; ++sample) {
        for (const auto& c : annotated) {
            Chromatogram_Peak_Group_Compound_Align a = widen<Chromatogram_Peak_Group_Compound_Align>(c);
            a.Group_ID = c.Group_ID, a.Adduct_Annotation = c.Adduct_Annotation, a.Compound_ID = c.Compound_ID;
            a.Compound_MolecularMass = c.Compound_MolecularMass;
            a.Compound_Retention_Time = c.Compound_Retention_Time, a.Compound_Intensity = c.Compound_Intensity;
            a.SAMPLE_ID = sample, a.SAMPLE_NAME = "bench_" + std::to_string(sample + 1);
            a.Align_ID = c.Compound_ID, a.Align_RT = c.Compound_Retention_Time;
            aligned.push_back(std::move(a));
        }
    }

    std::vector<double> csv_s, db_s, extra_kib, aligned_csv_s, aligned_db_s;
    for (int r = 0; r < repeat; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        OutputChromatographPeaklist2CSVFile(in.peaks, dir, "bench_chromatograph_peaklist.csv");
        OutputGroupedChromatographPeaklist2CSVFile(grouped, dir, "bench_grouped_chromatograph_peaklist.csv");
        OutputAnnotatedGroupedChromatographPeaklist2CSVFile(annotated, dir,
                                                            "bench_annotated_grouped_chromatograph_peaklist.csv");
        auto t1 = std::chrono::steady_clock::now();
        csv_s.push_back(std::chrono::duration<double>(t1 - t0).count());

        // Inputs are copied here and moved in, so the copies are not counted as the writer's memory.
        std::list<Mass_Trace> traces = in.traces;
        std::vector<Chromatogram_Peak_Group_Compound> rows = annotated;
        const bool hwm_reset = reset_peak_rss();
        const long base = status_kib("VmRSS:");
        t0 = std::chrono::steady_clock::now();
        OutputAnnotatedGroupedChromatographPeaklist2database(std::move(rows), std::move(traces), dir,
                                                             "bench_annotated_grouped_chromatograph_peaklist.db");
        t1 = std::chrono::steady_clock::now();
        db_s.push_back(std::chrono::duration<double>(t1 - t0).count());
        if (hwm_reset) extra_kib.push_back(static_cast<double>(status_kib("VmHWM:") - base));

        t0 = std::chrono::steady_clock::now();
        OutputAlignedAnnotatedGroupedChromatographPeaklist2CSVFile(
            aligned, dir, "aligned_annotated_grouped_chromatograph_peaklist.csv");
        t1 = std::chrono::steady_clock::now();
        aligned_csv_s.push_back(std::chrono::duration<double>(t1 - t0).count());
        std::vector<Chromatogram_Peak_Group_Compound_Align> aligned_rows = aligned;
        t0 = std::chrono::steady_clock::now();
        OutputAlignedAnnotatedGroupedChromatographPeaklist2database(
            std::move(aligned_rows), dir, "aligned_annotated_grouped_chromatograph_peaklist.aligndb");
        t1 = std::chrono::steady_clock::now();
        aligned_db_s.push_back(std::chrono::duration<double>(t1 - t0).count());
    }
    const auto db_bytes = std::filesystem::file_size(dir + "/bench_annotated_grouped_chromatograph_peaklist.db");
    std::cout << "three CSV files: median " << median(csv_s) << " s (runs: " << runs(csv_s) << ")\n"
              << "database: median " << median(db_s) << " s (runs: " << runs(db_s) << "), file "
              << db_bytes / (1024 * 1024) << " MiB\n"
              << "aligned CSV file, " << aligned.size() << " rows: median " << median(aligned_csv_s)
              << " s (runs: " << runs(aligned_csv_s) << ")\n"
              << "aligned database, " << aligned.size() << " rows: median " << median(aligned_db_s)
              << " s (runs: " << runs(aligned_db_s) << ")\n";
    if (!extra_kib.empty())
        std::cout << "database writer peak extra resident memory: median " << median(extra_kib) << " KiB (runs: "
                  << runs(extra_kib) << "); largest shape text " << largest_shape / 1024 << " KiB\n";
    else
        std::cout << "peak memory not measured: /proc/self/clear_refs not writable\n";
    return 0;
}
