// The reference method of mass trace extraction, written out literally: a std::list walked from
// its head for every point, a trace moved by one erase and one sorted insertion, and merging that
// rescans the whole list after every merge. It is slow on purpose and shares no code with the
// engine; the engine's ordered index and merge queue must reproduce it bit for bit, order included.
//
// It carries the same repairs as the engine, where the literal method would crash or corrupt the
// list:
//   - a point whose m/z is not a number is skipped (it has no place in a list ordered by m/z);
//   - no candidate with a finite score: the point starts a new trace at its sorted place;
//   - a window whose lower bound is not at or below its upper bound (negative or NaN tolerance,
//     negative m/z) has no candidates;
//   - points whose intensities sum to zero merge to the plain mean m/z;
//   - an empty scan vector gives an empty list and still prints the finishing line;
//   - a scan whose m/z and intensity vectors differ in length is read up to the shorter one.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <iterator>
#include <limits>
#include <list>
#include <map>
#include <vector>

#include "engine/records/records.h"

namespace mass_trace_oracle {

inline void merge(Mass_Trace& merged, Mass_Trace left, Mass_Trace right) {
    // Union by scan number; std::map::insert keeps the first point, so the left one wins.
    std::map<std::uint32_t, Data_Point> by_scan;
    for (const Data_Point& d : left.EIC_shape) by_scan.insert({d.scan_num, d});
    for (const Data_Point& d : right.EIC_shape) by_scan.insert({d.scan_num, d});

    std::vector<Data_Point> shape;
    for (const auto& [scan, u] : by_scan) {
        double sum_i = 0.0, sum_mi = 0.0, sum_m = 0.0;
        int count = 0;
        for (const Data_Point& d : left.EIC_shape)
            if (d.scan_num == scan) sum_i += d.intensity, sum_mi += d.mz * d.intensity, sum_m += d.mz, ++count;
        for (const Data_Point& d : right.EIC_shape)
            if (d.scan_num == scan) sum_i += d.intensity, sum_mi += d.mz * d.intensity, sum_m += d.mz, ++count;
        Data_Point p = u;
        p.intensity = sum_i;
        p.mz = sum_i == 0 ? sum_m / count : sum_mi / sum_i;
        shape.push_back(p);
    }

    double sum_i = 0.0, sum_mi = 0.0, sum_m = 0.0;
    int count = 0;
    for (const Data_Point& d : left.EIC_shape) sum_i += d.intensity, sum_mi += d.mz * d.intensity, sum_m += d.mz, ++count;
    for (const Data_Point& d : right.EIC_shape) sum_i += d.intensity, sum_mi += d.mz * d.intensity, sum_m += d.mz, ++count;
    if (count == 0)
        merged.Cent_Mass = 0.0;
    else
        merged.Cent_Mass = sum_i == 0 ? sum_m / count : sum_mi / sum_i;
    merged.trace_length = static_cast<std::int32_t>(shape.size());
    merged.miss_count = 0;
    merged.EIC_shape = shape;
}

inline void extraction(std::list<Mass_Trace>& L, std::vector<Spectrum_Scan> scans, double ppm_th,
                       std::int32_t minimum_eic_num, std::int32_t misscount_th, double inter_trace_dist_th) {
    L.clear();
    const std::size_t n = scans.size();
    if (n != 0) {
        // 1. Seeding.
        {
            const Spectrum_Scan& sc = scans[0];
            const std::size_t np = std::min(sc.mass_values.size(), sc.intensity_values.size());
            for (std::size_t k = 0; k < np; ++k) {
                Data_Point d;
                d.scan_num = sc.scan_num;
                d.retention_time = sc.scan_acquisition_time;
                d.mz = sc.mass_values[k];
                d.intensity = sc.intensity_values[k];
                if (std::isnan(d.mz)) continue;
                Mass_Trace t;
                t.Cent_Mass = d.mz;
                t.trace_length = 1;
                t.miss_count = 0;
                t.EIC_shape.push_back(d);
                L.push_back(t);
            }
            L.sort([](const Mass_Trace& a, const Mass_Trace& b) { return a.Cent_Mass < b.Cent_Mass; });
        }

        // 2. One pass per following scan.
        for (std::size_t s = 1; s < n; ++s) {
            const Spectrum_Scan& sc = scans[s];
            const std::uint32_t step = sc.scan_num - scans[s - 1].scan_num;
            for (Mass_Trace& t : L)
                t.miss_count = static_cast<std::int32_t>(static_cast<std::uint32_t>(t.miss_count) + step);

            const std::size_t np = std::min(sc.mass_values.size(), sc.intensity_values.size());
            for (std::size_t k = 0; k < np; ++k) {
                const double p = sc.mass_values[k];
                const double I = sc.intensity_values[k];
                const std::uint32_t sp = sc.scan_num;
                if (std::isnan(p)) continue;

                const double r = ppm_th / 1000000;
                const double lower = (1 - r) * p;
                const double upper = (r + 1) * p;
                auto first = L.end(), last = L.end();
                if (lower <= upper) {
                    first = L.begin();
                    while (first != L.end() && first->Cent_Mass < lower) ++first;
                    last = first;
                    while (last != L.end() && !(last->Cent_Mass > upper)) ++last;
                }

                double best = DBL_MAX;
                auto chosen = L.end();
                for (auto it = first; it != last; ++it) {
                    const Data_Point& q = it->EIC_shape.back();
                    const double cost = 0.3 * std::fabs(std::log10(I) - std::log10(q.intensity)) +
                                        0.2 * (2000000 * std::fabs(p - q.mz) / (q.mz + p)) +
                                        0.5 * (sp - q.scan_num);
                    if (cost < best) {
                        best = cost;
                        chosen = it;
                    }
                }

                if (chosen == L.end()) {
                    Mass_Trace t;
                    Data_Point d;
                    d.scan_num = sp;
                    d.retention_time = sc.scan_acquisition_time;
                    d.mz = p;
                    d.intensity = I;
                    t.Cent_Mass = p;
                    t.trace_length = 1;
                    t.miss_count = 0;
                    t.EIC_shape.push_back(d);
                    auto at = L.begin();
                    while (at != L.end() && at->Cent_Mass < p) ++at;
                    L.insert(at, t);
                    continue;
                }

                Data_Point& q = chosen->EIC_shape.back();
                if (q.scan_num < sp) {
                    Data_Point d;
                    d.scan_num = sp;
                    d.retention_time = sc.scan_acquisition_time;
                    d.mz = p;
                    d.intensity = I;
                    chosen->EIC_shape.push_back(d);
                    chosen->Cent_Mass = (chosen->trace_length * chosen->Cent_Mass + p) / (chosen->trace_length + 1);
                    chosen->trace_length = chosen->trace_length + 1;
                    chosen->miss_count = 0;
                } else if (q.scan_num == sp) {
                    const double w = I / (q.intensity + I);
                    q.mz = (1 - w) * q.mz + w * p;
                    q.intensity = q.intensity + I;
                } else {
                    std::cout << "The scan number of new data point is smaller than the last data point of the "
                                 "mass trace!, pls check"
                              << "\n";
                    continue;
                }
                Mass_Trace moved = *chosen;
                L.erase(chosen);
                auto at = L.begin();
                while (at != L.end() && at->Cent_Mass < moved.Cent_Mass) ++at;
                L.insert(at, moved);
            }

            for (auto it = L.begin(); it != L.end();) {
                if (it->trace_length <= minimum_eic_num && (it->miss_count >= misscount_th || s == n - 1))
                    it = L.erase(it);
                else
                    ++it;
            }
        }

        // 3. Merging neighbours closer than the distance threshold.
        if (L.size() > 1 && inter_trace_dist_th > 0) {
            while (true) {
                double best = std::numeric_limits<double>::infinity();
                auto pair_first = L.end();
                for (auto it = L.begin(); std::next(it) != L.end(); ++it) {
                    const double dist = std::fabs(std::next(it)->Cent_Mass - it->Cent_Mass);
                    if (dist < best) {
                        best = dist;
                        pair_first = it;
                    }
                }
                if (pair_first == L.end() || !(best < inter_trace_dist_th)) break;
                auto pair_second = std::next(pair_first);
                Mass_Trace m;
                merge(m, *pair_first, *pair_second);
                pair_first->Cent_Mass = m.Cent_Mass;
                pair_first->trace_length = m.trace_length;
                pair_first->miss_count = m.miss_count;
                pair_first->EIC_shape = m.EIC_shape;
                L.erase(pair_second);
            }
        }
    }
    std::cout << "Mass trace Extraction Finished!" << "\n";
}

}  // namespace mass_trace_oracle
