// Peak heap of one mass_trace_extraction call on the synthetic benchmark sample, against the
// bytes of the scans it is handed (moved in, as a caller that no longer needs them would).
//
//   build/bin/mass_trace_memory_bench
#include <malloc.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <list>
#include <new>
#include <vector>

#include "engine/peaks/mass_trace.h"
#include "engine/records/para_configure.h"
#include "tools/generate_sample/synthetic_sample.h"

namespace {
std::atomic<std::int64_t> g_live{0};
std::atomic<std::int64_t> g_peak{0};

void* counted_alloc(std::size_t n) {
    void* p = std::malloc(n == 0 ? 1 : n);
    if (!p) throw std::bad_alloc();
    const std::int64_t now = g_live += static_cast<std::int64_t>(malloc_usable_size(p));
    std::int64_t peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
    return p;
}
void counted_free(void* p) {
    if (!p) return;
    g_live -= static_cast<std::int64_t>(malloc_usable_size(p));
    std::free(p);
}

std::size_t input_bytes(const std::vector<Spectrum_Scan>& scans) {
    std::size_t n = scans.capacity() * sizeof(Spectrum_Scan);
    for (const auto& s : scans) n += (s.mass_values.capacity() + s.intensity_values.capacity()) * sizeof(float);
    return n;
}
}  // namespace

void* operator new(std::size_t n) { return counted_alloc(n); }
void* operator new[](std::size_t n) { return counted_alloc(n); }
void operator delete(void* p) noexcept { counted_free(p); }
void operator delete[](void* p) noexcept { counted_free(p); }
void operator delete(void* p, std::size_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::size_t) noexcept { counted_free(p); }

int main() {
    Para_Configure para;
    double ppm = 10, dist = 0.005;
    std::int32_t min_eic = 5, miss = 3;
    const char* source = "built-in fallback (10, 5, 3, 0.005)";
    if (Read_Configured_ParafromCSVFile(KORVANE_SOURCE_DIR "/examples/config", "config_para.csv", para)) {
        ppm = para.Para_PPM, dist = para.Para_InterTrace_Dist_Min;
        min_eic = static_cast<std::int32_t>(para.Para_Min_EIC), miss = static_cast<std::int32_t>(para.Para_Misscount_Allow);
        source = "examples/config/config_para.csv";
    }
    std::vector<Spectrum_Scan> scans = korvane::synth::generate_scans(korvane::synth::Options{});
    const double input = static_cast<double>(input_bytes(scans));
    std::list<Mass_Trace> traces;
    const std::int64_t base = g_live.load();  // includes the scans
    g_peak = base;
    {
        std::cout.setstate(std::ios::failbit);
        mass_trace_extraction(traces, std::move(scans), ppm, min_eic, miss, dist);
        std::cout.clear();
    }
    // Everything the call held at its worst, the scans handed to it included.
    const double peak = static_cast<double>(g_peak.load() - base) + input;
    const double output = static_cast<double>(g_live.load() - base) + input;
    std::printf("parameters: %s\ninput scans: %.1f MB\npeak during the call: %.1f MB (%.2f x input)\n"
                "traces returned: %zu, %.1f MB\n",
                source, input / 1e6, peak / 1e6, peak / input, traces.size(), output / 1e6);
    return peak <= 2 * input ? 0 : 1;
}
