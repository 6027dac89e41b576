// Times peak_group on two inputs and prints the median of the repetitions.
//
//   taskset -c 7 build/bin/grouping_bench [synthetic|sample|linkage|all] [repetitions=5] [--scans N]
//                                         [--angle DEGREES] [--tol SCANS] [--check]
//
// synthetic  30,000 peaks: 7,500 compounds of 2 to 6 co-eluting ions sharing one elution shape
//            (Gaussian, FWHM 10 to 40 scans, 5 % intensity noise), over --scans scans (default 2,400)
// sample     the peaks of the 2,400-scan synthetic sample (about 4.2 million centroids) after the
//            intensity cut-off, mass trace extraction and peak detection with
//            examples/config/config_para.csv
// linkage    linkage alone on 400 items with many tied distances, every method, against the tests'
//            plain transcription (always compared)
// --angle, --tol   replace Para_Group_Shape_Angle_Th and Para_Group_Scan_Shift_Tol of the file
// --check    also runs the tests' plain transcription once on each input and compares the result
//            record by record (slow: minutes for the synthetic list)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <list>
#include <random>
#include <string>
#include <vector>

#include "engine/annotation/grouping.h"
#include "engine/peaks/spectrum.h"
#include "engine/annotation/clustering.h"
#include "engine/records/para_configure.h"
#include "engine/run/pipeline_process.h"
#include "reference/grouping_oracle.h"
#include "tools/generate_sample/synthetic_sample.h"

namespace {

// Silences the stage's own lines while timing.
struct Quiet {
    Quiet() { std::cout.setstate(std::ios::failbit); }
    ~Quiet() { std::cout.clear(); }
};

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::vector<Chromatogram_Peak> synthetic_peaks(std::size_t n, std::uint32_t scans) {
    std::mt19937_64 rng(20261209);
    std::uniform_real_distribution<double> apex_d(20.0, scans - 20.0), fwhm_d(10.0, 40.0), log_i(3.0, 7.0),
        ratio(0.05, 1.0);
    std::uniform_int_distribution<int> ions_d(2, 6);
    std::normal_distribution<double> noise(0.0, 0.05);
    std::vector<Chromatogram_Peak> peaks;
    peaks.reserve(n);
    std::uint32_t eic = 0;
    while (peaks.size() < n) {
        const double apex = apex_d(rng), fwhm = fwhm_d(rng), top = std::pow(10.0, log_i(rng));
        const double sigma = fwhm / 2.3548;
        const int ions = ions_d(rng);
        for (int ion = 0; ion < ions && peaks.size() < n; ++ion) {
            const double height = ion == 0 ? top : top * ratio(rng);
            Chromatogram_Peak p;
            const auto left = static_cast<std::uint32_t>(std::max(0.0, std::floor(apex - 1.2 * fwhm)));
            const auto right = static_cast<std::uint32_t>(std::min(scans - 1.0, std::ceil(apex + 1.2 * fwhm)));
            double best = -1.0, area = 0.0;
            for (std::uint32_t s = left; s <= right; ++s) {
                const double x = (s - apex) / sigma;
                Data_Point d;
                d.scan_num = s;
                d.retention_time = s * 0.5;
                d.mz = 100.0 + eic * 0.01;
                d.intensity = std::max(0.0, height * std::exp(-0.5 * x * x) * (1.0 + noise(rng)));
                area += d.intensity;
                if (d.intensity > best) {
                    best = d.intensity;
                    p.Apex_Pos = s;
                    p.Apex_Intensity = d.intensity;
                    p.Apex_Retention_Time = d.retention_time;
                    p.Apex_MZ = d.mz;
                }
                p.Peak_shape.push_back(d);
            }
            p.EIC_ID = eic++;
            p.Peak_ID = 0;
            p.Peak_Area = area;
            p.Peak_SNR = 10.0;
            p.Left_Boundary = left;
            p.Right_Boundary = right;
            peaks.push_back(std::move(p));
        }
    }
    // Detection emits peaks trace by trace in m/z order, not by compound.
    std::shuffle(peaks.begin(), peaks.end(), rng);
    return peaks;
}

std::vector<Chromatogram_Peak> sample_peaks(Para_Configure& para) {
    const std::string folder = std::string(KORVANE_SOURCE_DIR) + "/examples/config";
    if (!Read_Configured_ParafromCSVFile(folder, "config_para.csv", para)) {
        std::fprintf(stderr, "cannot read %s/config_para.csv\n", folder.c_str());
        std::exit(1);
    }
    const auto t0 = std::chrono::steady_clock::now();
    std::vector<Spectrum_Scan> scans = korvane::synth::generate_scans(korvane::synth::Options{});
    std::size_t centroids = 0;
    for (const auto& s : scans) centroids += s.mass_values.size();
    std::vector<Chromatogram_Peak> peaks;
    {
        Quiet quiet;
        korvane::preprocess_spectra(scans, para);
        std::list<Mass_Trace> traces;
        korvane::extract_mass_traces(traces, std::move(scans), para);
        korvane::detect_peaks(peaks, std::move(traces), para);
    }
    std::printf("sample: %zu centroids, %zu peaks (preparation %.1f s, not timed)\n", centroids, peaks.size(),
                seconds_since(t0));
    return peaks;
}

void time_grouping(const char* label, const std::vector<Chromatogram_Peak>& peaks, std::uint32_t tol, double angle,
                   int repetitions, bool check) {
    std::vector<double> times;
    std::vector<Chromatogram_Peak_Group> result;
    for (int r = 0; r < repetitions; ++r) {
        std::vector<Chromatogram_Peak> input = peaks;  // copied outside the timed call
        result.clear();
        const auto t0 = std::chrono::steady_clock::now();
        {
            Quiet quiet;
            peak_group(result, std::move(input), tol, angle);
        }
        times.push_back(seconds_since(t0));
    }
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    const std::uint32_t groups = result.empty() ? 0 : result.back().Group_ID;
    std::printf("%s: %zu peaks, %u groups, tolerance %u scans, angle %g: median %.3f s (min %.3f, max %.3f, %d runs)\n",
                label, peaks.size(), groups, tol, angle, sorted[sorted.size() / 2], sorted.front(), sorted.back(),
                repetitions);
    std::printf("  runs:");
    for (const double t : times) std::printf(" %.3f", t);
    std::printf("\n");
    if (!check) return;
    std::vector<Chromatogram_Peak_Group> slow;
    const auto t0 = std::chrono::steady_clock::now();
    {
        Quiet quiet;
        oracle::peak_group(slow, peaks, tol, angle);
    }
    bool same = slow.size() == result.size();
    for (std::size_t k = 0; same && k < slow.size(); ++k) {
        same = slow[k].Group_ID == result[k].Group_ID && slow[k].EIC_ID == result[k].EIC_ID &&
               slow[k].Peak_ID == result[k].Peak_ID && slow[k].Apex_Pos == result[k].Apex_Pos &&
               std::memcmp(&slow[k].Peak_Area, &result[k].Peak_Area, sizeof(double)) == 0;
    }
    std::printf("  plain transcription: %.1f s, result %s\n", seconds_since(t0), same ? "identical" : "DIFFERENT");
    if (!same) std::exit(2);
}

double median_of(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void time_linkage(int repetitions) {
    const std::size_t m = 400;
    std::mt19937_64 rng(20261209);
    std::uniform_int_distribution<int> small(0, 20);
    std::vector<double> dist(m * (m - 1) / 2);
    for (double& d : dist) d = small(rng);
    const char* names[] = {"single", "complete", "average", "weighted", "median"};
    for (const cluster_method method :
         {single_linkage, complete_linkage, average_linkage, weighted_linkage, median_linkage}) {
        std::vector<double> fast_t, slow_t;
        std::vector<cluster_node> fast, slow;
        for (int r = 0; r < repetitions; ++r) {
            fast.clear();
            auto t0 = std::chrono::steady_clock::now();
            linkage(dist, method, fast);
            fast_t.push_back(seconds_since(t0));
        }
        const auto t0 = std::chrono::steady_clock::now();
        oracle::linkage(dist, method, slow);
        slow_t.push_back(seconds_since(t0));
        bool same = fast.size() == slow.size();
        for (std::size_t k = 0; same && k < fast.size(); ++k)
            same = fast[k].left_id == slow[k].left_id && fast[k].right_id == slow[k].right_id &&
                   std::memcmp(&fast[k].distance, &slow[k].distance, sizeof(double)) == 0;
        std::printf("linkage %-8s %zu items: median %.4f s, plain transcription %.3f s, tree %s\n", names[method], m,
                    median_of(fast_t), slow_t[0], same ? "identical" : "DIFFERENT");
        if (!same) std::exit(2);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string what = "all";
    int repetitions = 5;
    std::uint32_t scans = 2400;
    bool check = false;
    double angle = -1;
    long long tol = -1;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--check") {
            check = true;
        } else if (arg == "--angle" && a + 1 < argc) {
            angle = std::stod(argv[++a]);
        } else if (arg == "--tol" && a + 1 < argc) {
            tol = std::stoul(argv[++a]);
        } else if (arg == "--scans" && a + 1 < argc) {
            scans = static_cast<std::uint32_t>(std::stoul(argv[++a]));
        } else if (arg == "synthetic" || arg == "sample" || arg == "linkage" || arg == "all") {
            what = arg;
        } else {
            repetitions = std::max(1, std::atoi(arg.c_str()));
        }
    }
    Para_Configure para;
    const std::string folder = std::string(KORVANE_SOURCE_DIR) + "/examples/config";
    if (!Read_Configured_ParafromCSVFile(folder, "config_para.csv", para)) {
        std::fprintf(stderr, "cannot read %s/config_para.csv\n", folder.c_str());
        return 1;
    }
    if (angle >= 0) para.Para_Group_Shape_Angle_Th = angle;
    if (tol >= 0) para.Para_Group_Scan_Shift_Tol = static_cast<std::uint32_t>(tol);
    if (what == "linkage" || what == "all") time_linkage(repetitions);
    if (what == "synthetic" || what == "all") {
        const auto peaks = synthetic_peaks(30000, scans);
        const std::string label = "synthetic (" + std::to_string(scans) + " scans)";
        time_grouping(label.c_str(), peaks, para.Para_Group_Scan_Shift_Tol, para.Para_Group_Shape_Angle_Th, repetitions,
                      check);
    }
    if (what == "sample" || what == "all") {
        const auto peaks = sample_peaks(para);
        time_grouping("sample", peaks, para.Para_Group_Scan_Shift_Tol, para.Para_Group_Shape_Angle_Th, repetitions,
                      check);
    }
    return 0;
}
