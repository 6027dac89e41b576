// Times compound_align on 100 samples x 5,000 compounds (500,000 rows) with retention-time and
// mass jitter, in both modes. Usage: alignment_bench [repetitions=5]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "engine/annotation/alignment.h"

namespace {

using Row = Chromatogram_Peak_Group_Compound_Align;

std::vector<Row> make_rows(std::size_t samples, std::size_t compounds) {
    std::mt19937_64 rng(20261209);
    std::uniform_real_distribution<double> mass_d(80.0, 1000.0), rt_d(30.0, 1170.0), log_i(3.0, 7.0);
    std::normal_distribution<double> mass_jitter(0.0, 0.002), rt_jitter(0.0, 2.0);
    std::vector<double> mass(compounds), rt(compounds);
    for (std::size_t c = 0; c < compounds; ++c) {
        mass[c] = mass_d(rng);
        rt[c] = rt_d(rng);
    }
    std::vector<Row> rows;
    rows.reserve(samples * compounds);
    for (std::size_t s = 0; s < samples; ++s) {
        for (std::size_t c = 0; c < compounds; ++c) {
            Row r;
            r.SAMPLE_ID = static_cast<std::uint32_t>(s);
            r.SAMPLE_NAME = "sample_" + std::to_string(s);
            r.Compound_ID = static_cast<std::uint32_t>(c + 1);
            r.Compound_MolecularMass = mass[c] + mass_jitter(rng);
            r.Compound_Retention_Time = rt[c] + rt_jitter(rng);
            r.Compound_Intensity = std::pow(10.0, log_i(rng));
            r.Apex_MZ = r.Compound_MolecularMass + 1.007276;
            r.Adduct_Annotation = "[M+H]+";
            // A short shape: enough that moving a row is not free, as with real peaks.
            for (std::uint32_t k = 0; k < 4; ++k)
                r.Peak_shape.push_back(Data_Point{k, r.Compound_Retention_Time, r.Apex_MZ, 1.0});
            rows.push_back(std::move(r));
        }
    }
    return rows;
}

double run_once(Compound_Align_Mode mode, const std::vector<Row>& input, std::uint32_t& features) {
    std::vector<Row> rows = input;
    const auto t0 = std::chrono::steady_clock::now();
    compound_align(mode, 0.01, 30.0, 15.0, rows);
    const auto t1 = std::chrono::steady_clock::now();
    features = rows.empty() ? 0 : rows.back().Align_ID;
    return std::chrono::duration<double>(t1 - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::vector<Row> input = make_rows(100, 5000);
    std::fprintf(stderr, "rows: %zu (100 samples x 5000 compounds), tol 0.01 Da, windows 30 s / 15 s\n", input.size());
    for (Compound_Align_Mode mode : {One_Phase_Align, Two_Phase_Align}) {
        std::vector<double> times;
        std::uint32_t features = 0;
        for (int r = 0; r < reps; ++r) times.push_back(run_once(mode, input, features));
        std::sort(times.begin(), times.end());
        std::fprintf(stderr, "%s: median %.3f s (min %.3f, max %.3f, %d runs), %u features\n",
                     mode == One_Phase_Align ? "one-phase" : "two-phase", times[times.size() / 2], times.front(),
                     times.back(), reps, features);
    }
    return 0;
}
