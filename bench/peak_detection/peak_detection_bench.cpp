// Timing of peak detection (mass_trace_list_peak_detection through the pipeline's own call).
//
//   taskset -c 7 build/bin/peak_detection_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
//
// BM_Synthetic  the 2,400-scan synthetic sample (about 4.2 million centroids) through
//               mass_trace_extraction, examples/config parameters
// BM_SyntheticWide  the same traces with Para_Max_PeakWidth 100 (scales up to 51), the setting of
//               data at 4-10 scans per second; every other parameter as examples/config
// BM_Ko15       faahKO ko15.CDF after splitting and the intensity cut-off, through
//               mass_trace_extraction, examples/config-faahKO parameters
// Only the detection call is timed; the trace list it consumes is copied outside the clock.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <iostream>
#include <list>
#include <string>
#include <vector>

#include "engine/records/error.h"
#include "engine/records/para_configure.h"
#include "engine/run/pipeline_process.h"
#include "tools/generate_sample/synthetic_sample.h"

namespace {

// Silences the stages' own lines while timing.
struct Quiet {
    Quiet() { std::cout.setstate(std::ios::failbit); }
    ~Quiet() { std::cout.clear(); }
};

struct Prepared {
    Para_Configure para;
    std::list<Mass_Trace> traces;
    std::size_t trace_points = 0;
    std::string error;
};

std::list<Mass_Trace> extract(std::vector<Spectrum_Scan> scans, const Para_Configure& p) {
    std::list<Mass_Trace> traces;
    Quiet quiet;
    korvane::extract_mass_traces(traces, std::move(scans), p);
    return traces;
}

void count_points(Prepared& prepared) {
    for (const auto& t : prepared.traces) prepared.trace_points += t.EIC_shape.size();
}

const Prepared& synthetic() {
    static const Prepared prepared = [] {
        Prepared p;
        if (!Read_Configured_ParafromCSVFile(KORVANE_SOURCE_DIR "/examples/config", "config_para.csv", p.para)) {
            p.error = "examples/config/config_para.csv is missing";
            return p;
        }
        p.traces = extract(korvane::synth::generate_scans(korvane::synth::Options{}), p.para);
        count_points(p);
        return p;
    }();
    return prepared;
}

const Prepared& ko15() {
    static const Prepared prepared = [] {
        Prepared p;
        const std::filesystem::path file = KORVANE_SOURCE_DIR "/../shared/data/lcms/faahKO/ko15.CDF";
        if (!std::filesystem::exists(file) ||
            !Read_Configured_ParafromCSVFile(KORVANE_SOURCE_DIR "/examples/config-faahKO", "config_para.csv", p.para)) {
            p.error = "ko15.CDF or the faahKO parameters are missing";
            return p;
        }
        std::vector<Spectrum_Scan> scans;
        try {
            Quiet quiet;
            std::string reason;
            if (!korvane::load_sample_scans(file.parent_path().string(), file.filename().string(), p.para, scans,
                                            reason)) {
                p.error = "ko15.CDF could not be read: " + reason;
                return p;
            }
            korvane::preprocess_spectra(scans, p.para);
        } catch (...) {
            p.error = korvane::describe_current_exception();
            return p;
        }
        p.traces = extract(std::move(scans), p.para);
        count_points(p);
        return p;
    }();
    return prepared;
}

void time_detection(benchmark::State& state, const Prepared& prepared, const std::string& label,
                    std::uint32_t max_peak_width = 0) {
    if (!prepared.error.empty()) {
        state.SkipWithError(prepared.error.c_str());
        return;
    }
    Para_Configure p = prepared.para;
    if (max_peak_width != 0) p.Para_Max_PeakWidth = max_peak_width;
    std::size_t peaks_found = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::list<Mass_Trace> copy = prepared.traces;
        std::vector<Chromatogram_Peak> peaks;
        state.ResumeTiming();
        {
            Quiet quiet;
            korvane::detect_peaks(peaks, std::move(copy), p);
        }
        peaks_found = peaks.size();
        benchmark::DoNotOptimize(peaks.data());
    }
    state.SetLabel(label);
    state.counters["traces"] = static_cast<double>(prepared.traces.size());
    state.counters["trace_points"] = static_cast<double>(prepared.trace_points);
    state.counters["peaks"] = static_cast<double>(peaks_found);
}

void BM_Synthetic(benchmark::State& state) {
    time_detection(state, synthetic(), "synthetic 2400 scans, examples/config");
}
BENCHMARK(BM_Synthetic)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SyntheticWide(benchmark::State& state) {
    time_detection(state, synthetic(), "synthetic 2400 scans, examples/config, Para_Max_PeakWidth 100", 100);
}
BENCHMARK(BM_SyntheticWide)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Ko15(benchmark::State& state) { time_detection(state, ko15(), "ko15.CDF, examples/config-faahKO"); }
BENCHMARK(BM_Ko15)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
