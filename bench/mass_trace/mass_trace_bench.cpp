// Timing of mass_trace_extraction (Release build; the machine shared, so pin a core and repeat).
//
//   taskset -c 7 build/bin/mass_trace_bench --benchmark_filter='Synthetic|Ko15/|Cut300_Engine'
//       --benchmark_repetitions=5 --benchmark_report_aggregates_only=true   (one command line)
//   taskset -c 7 build/bin/mass_trace_bench --benchmark_filter=Reference   (minutes: the reference is slow)
//
// BM_Synthetic   the 2,400-scan synthetic sample (about 4.2 million centroids), example parameters
// BM_Ko15        faahKO ko15.CDF after splitting and the intensity cut-off, faahKO parameters
// BM_Ko15_Reference  the reference transcription on ko15, checked against the engine
// BM_Cut300_*    the first 300 scans of the synthetic sample, engine and reference transcription
// BM_OneMz       the worst case: n points of one m/z in one scan, n = 16k, 128k, 400k, either
//                after a first scan of n such points (every point weighs n equal traces) or as
//                zero intensities in a later scan (none can join a trace, each starts one)
//   taskset -c 7 build/bin/mass_trace_bench --benchmark_filter=OneMz --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true   (one command line)
// (peak memory: mass_trace_memory_bench, a separate program so its heap accounting costs no time here)
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <list>
#include <random>
#include <string>
#include <vector>

#include "engine/records/error.h"
#include "engine/peaks/mass_trace.h"
#include "engine/records/para_configure.h"
#include "engine/run/pipeline_process.h"
#include "reference/mass_trace_oracle.h"
#include "tools/generate_sample/synthetic_sample.h"

namespace {

struct Trace_Params {
    double ppm;
    std::int32_t min_eic;
    std::int32_t miss;
    double dist;
    std::string source;
};

Trace_Params read_params(const std::string& folder) {
    Para_Configure para;
    if (Read_Configured_ParafromCSVFile(folder, "config_para.csv", para))
        return {para.Para_PPM, static_cast<std::int32_t>(para.Para_Min_EIC),
                static_cast<std::int32_t>(para.Para_Misscount_Allow), para.Para_InterTrace_Dist_Min,
                folder + "/config_para.csv"};
    return {10, 5, 3, 0.005, "built-in fallback"};
}

// Silences the stage's own lines while timing.
struct Quiet {
    Quiet() { std::cout.setstate(std::ios::failbit); }
    ~Quiet() { std::cout.clear(); }
};

const std::vector<Spectrum_Scan>& synthetic_scans() {
    static const std::vector<Spectrum_Scan> scans = korvane::synth::generate_scans(korvane::synth::Options{});
    return scans;
}

std::size_t centroids(const std::vector<Spectrum_Scan>& scans) {
    std::size_t n = 0;
    for (const auto& s : scans) n += s.mass_values.size();
    return n;
}

void time_extraction(benchmark::State& state, const std::vector<Spectrum_Scan>& scans, const Trace_Params& p) {
    std::size_t traces = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<Spectrum_Scan> copy = scans;
        std::list<Mass_Trace> list;
        state.ResumeTiming();
        {
            Quiet quiet;
            mass_trace_extraction(list, std::move(copy), p.ppm, p.min_eic, p.miss, p.dist);
        }
        traces = list.size();
        state.PauseTiming();
        list.clear();
        state.ResumeTiming();
    }
    state.counters["scans"] = static_cast<double>(scans.size());
    state.counters["centroids"] = static_cast<double>(centroids(scans));
    state.counters["traces"] = static_cast<double>(traces);
}

bool same_traces(const std::list<Mass_Trace>& fast, const std::list<Mass_Trace>& slow);

void BM_Synthetic(benchmark::State& state) {
    const Trace_Params p = read_params(KORVANE_SOURCE_DIR "/examples/config");
    state.SetLabel("synthetic 2400 scans, " + p.source);
    time_extraction(state, synthetic_scans(), p);
}
BENCHMARK(BM_Synthetic)->Unit(benchmark::kMillisecond)->UseRealTime();

const std::string kKo15 = KORVANE_SOURCE_DIR "/../shared/data/lcms/faahKO/ko15.CDF";

bool load_ko15(std::vector<Spectrum_Scan>& scans, const Para_Configure& para) {
    const auto path = std::filesystem::path(kKo15);
    Quiet quiet;
    std::string reason;
    if (!korvane::load_sample_scans(path.parent_path().string(), path.filename().string(), para, scans, reason))
        return false;
    korvane::preprocess_spectra(scans, para);
    return true;
}

void BM_Ko15(benchmark::State& state) {
    const std::string folder = KORVANE_SOURCE_DIR "/examples/config-faahKO";
    Para_Configure para;
    std::vector<Spectrum_Scan> scans;
    if (!std::filesystem::exists(kKo15) || !Read_Configured_ParafromCSVFile(folder, "config_para.csv", para)) {
        state.SkipWithError("ko15.CDF or the faahKO parameters are missing");
        return;
    }
    try {
        if (!load_ko15(scans, para)) {
            state.SkipWithError("ko15.CDF could not be read");
            return;
        }
    } catch (...) {
        state.SkipWithError(korvane::describe_current_exception().c_str());
        return;
    }
    state.SetLabel("ko15.CDF, " + folder + "/config_para.csv");
    time_extraction(state, scans, read_params(folder));
}
BENCHMARK(BM_Ko15)->Unit(benchmark::kMillisecond)->UseRealTime();

// The reference method on all of ko15, checked against the engine.
void BM_Ko15_Reference(benchmark::State& state) {
    const std::string folder = KORVANE_SOURCE_DIR "/examples/config-faahKO";
    Para_Configure para;
    std::vector<Spectrum_Scan> scans;
    try {
        if (!std::filesystem::exists(kKo15) || !Read_Configured_ParafromCSVFile(folder, "config_para.csv", para) ||
            !load_ko15(scans, para)) {
            state.SkipWithError("ko15.CDF or the faahKO parameters are missing");
            return;
        }
    } catch (...) {
        state.SkipWithError(korvane::describe_current_exception().c_str());
        return;
    }
    const Trace_Params p = read_params(folder);
    std::list<Mass_Trace> fast, slow;
    for (auto _ : state) {
        Quiet quiet;
        mass_trace_oracle::extraction(slow, scans, p.ppm, p.min_eic, p.miss, p.dist);
    }
    {
        Quiet quiet;
        mass_trace_extraction(fast, scans, p.ppm, p.min_eic, p.miss, p.dist);
    }
    if (!same_traces(fast, slow)) state.SkipWithError("engine and reference disagree on ko15");
    state.counters["traces"] = static_cast<double>(slow.size());
}
BENCHMARK(BM_Ko15_Reference)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The outputs must agree exactly, or comparing the timings means nothing.
bool same_traces(const std::list<Mass_Trace>& fast, const std::list<Mass_Trace>& slow) {
    bool same = fast.size() == slow.size();
    for (auto a = fast.begin(), b = slow.begin(); same && a != fast.end(); ++a, ++b) {
        same = a->Cent_Mass == b->Cent_Mass && a->trace_length == b->trace_length &&
               a->miss_count == b->miss_count && a->EIC_shape.size() == b->EIC_shape.size();
        for (std::size_t k = 0; same && k < a->EIC_shape.size(); ++k)
            same = a->EIC_shape[k].scan_num == b->EIC_shape[k].scan_num && a->EIC_shape[k].mz == b->EIC_shape[k].mz &&
                   a->EIC_shape[k].intensity == b->EIC_shape[k].intensity &&
                   a->EIC_shape[k].retention_time == b->EIC_shape[k].retention_time;
    }
    return same;
}

std::vector<Spectrum_Scan> cut300() {
    const auto& all = synthetic_scans();
    return std::vector<Spectrum_Scan>(all.begin(), all.begin() + std::min<std::size_t>(300, all.size()));
}

void BM_Cut300_Engine(benchmark::State& state) {
    const Trace_Params p = read_params(KORVANE_SOURCE_DIR "/examples/config");
    time_extraction(state, cut300(), p);
}
BENCHMARK(BM_Cut300_Engine)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Cut300_Reference(benchmark::State& state) {
    const Trace_Params p = read_params(KORVANE_SOURCE_DIR "/examples/config");
    const auto scans = cut300();
    std::list<Mass_Trace> fast, slow;
    for (auto _ : state) {
        state.PauseTiming();
        slow.clear();
        std::vector<Spectrum_Scan> copy = scans;
        state.ResumeTiming();
        Quiet quiet;
        mass_trace_oracle::extraction(slow, std::move(copy), p.ppm, p.min_eic, p.miss, p.dist);
    }
    {
        Quiet quiet;
        mass_trace_extraction(fast, scans, p.ppm, p.min_eic, p.miss, p.dist);
    }
    const bool same = same_traces(fast, slow);
    if (!same) state.SkipWithError("engine and reference disagree on the 300-scan cut");
    state.counters["traces"] = static_cast<double>(slow.size());
}
BENCHMARK(BM_Cut300_Reference)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// Three scans of one m/z (300, example parameters): the middle one holds n points, and so does
// the first unless its points are zeros.
std::vector<Spectrum_Scan> one_mz_scans(std::size_t n, bool zeros) {
    std::mt19937_64 rng(20261210);
    std::uniform_real_distribution<float> intensity(1.0f, 1e6f);
    std::vector<Spectrum_Scan> scans(3);
    for (std::uint32_t s = 0; s < 3; ++s) {
        scans[s].scan_num = s + 1;
        scans[s].scan_acquisition_time = 1.5 * s;
        const std::size_t points = (s == 1 || (s == 0 && !zeros)) ? n : 1;
        for (std::size_t k = 0; k < points; ++k) {
            scans[s].mass_values.push_back(300.0f);
            scans[s].intensity_values.push_back(zeros && s == 1 ? 0.0f : intensity(rng));
        }
    }
    return scans;
}

void BM_OneMz(benchmark::State& state) {
    const bool zeros = state.range(1) != 0;
    const auto scans = one_mz_scans(static_cast<std::size_t>(state.range(0)), zeros);
    state.SetLabel(zeros ? "zeros in a later scan" : "after a first scan of the same m/z");
    time_extraction(state, scans, read_params(KORVANE_SOURCE_DIR "/examples/config"));
}
BENCHMARK(BM_OneMz)
    ->ArgsProduct({{16000, 128000, 400000}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
