// Plain transcription of compound alignment: the whole list re-sorted after every step, the
// founding row found by a scan of the unaligned rows, a map of per-sample distances. Slow on
// purpose; the engine's indexed form must give the same rows in the same order.
//
// It carries the two termination rules, which change nothing where the plain loop ends: a pass
// that takes no row is matched again around the founding row's own values (and the work stops when
// that takes nothing either), and an empty first-phase collection keeps the founding row's values.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <vector>

#include "engine/records/records.h"

namespace oracle {

using Align_Row = Chromatogram_Peak_Group_Compound_Align;

inline double median_sorted_copy(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t k = v.size();
    if (k % 2 == 1) return v[k / 2];
    return (v[k / 2 - 1] + v[k / 2]) * 0.5;
}

// two_phase selects the second window and the re-centring. Returns the number of features made.
inline std::uint32_t compound_align(bool two_phase, double Mass_Tol, double Align_Window1, double Align_Window2,
                                    std::vector<Align_Row>& list) {
    const double W = two_phase ? Align_Window2 : Align_Window1;
    std::uint32_t id = 1;
    if (list.empty()) return 0;

    std::stable_sort(list.begin(), list.end(), Comp_Alignpeak_by_Align_ID);
    Align_Row key;
    key.Align_ID = 0;
    auto unaligned_end = [&] { return std::upper_bound(list.begin(), list.end(), key, Comp_Alignpeak_by_Align_ID); };
    std::size_t u = static_cast<std::size_t>(unaligned_end() - list.begin());
    auto R = std::max_element(list.begin(), list.begin() + u, Comp_Alignpeak_by_Compound_Intensity);

    while (u > 0 && R->Compound_Intensity > 0) {
        double ref_rt = R->Compound_Retention_Time;
        double ref_mass = R->Compound_MolecularMass;
        if (two_phase) {
            std::vector<double> rts, masses;
            for (std::size_t i = 0; i < u; ++i) {
                const Align_Row& row = list[i];
                if (row.Compound_ID > 0 && std::fabs(row.Compound_MolecularMass - ref_mass) <= Mass_Tol &&
                    std::fabs(row.Compound_Retention_Time - ref_rt) <= Align_Window1 * 0.5) {
                    rts.push_back(row.Compound_Retention_Time);
                    masses.push_back(row.Compound_MolecularMass);
                }
            }
            if (!rts.empty()) {
                ref_rt = median_sorted_copy(rts);
                ref_mass = median_sorted_copy(masses);
            }
        }
        std::map<std::uint32_t, double> nearest;
        auto matching_pass = [&] {
            std::size_t taken = 0;
            for (std::size_t i = 0; i < u; ++i) {
                Align_Row& row = list[i];
                if (row.Compound_ID > 0 && std::fabs(row.Compound_MolecularMass - ref_mass) <= Mass_Tol &&
                    std::fabs(row.Compound_Retention_Time - ref_rt) <= W * 0.5) {
                    row.Align_ID = id;
                    row.Align_RT = ref_rt;
                    const double d = std::fabs(row.Compound_Retention_Time - ref_rt);
                    auto it = nearest.find(row.SAMPLE_ID);
                    if (it == nearest.end())
                        nearest[row.SAMPLE_ID] = d;
                    else if (d < it->second)
                        it->second = d;
                    ++taken;
                }
            }
            return taken;
        };
        if (matching_pass() == 0) {
            ref_rt = R->Compound_Retention_Time;
            ref_mass = R->Compound_MolecularMass;
            if (matching_pass() == 0) break;
        }
        std::stable_sort(list.begin(), list.end(), Comp_Alignpeak_by_Align_ID);
        for (Align_Row& row : list) {
            if (row.Align_ID != id) continue;
            const double d = std::fabs(row.Compound_Retention_Time - ref_rt);
            auto it = nearest.find(row.SAMPLE_ID);
            if (it != nearest.end() && d > it->second) {
                row.Align_ID = 0;
                row.Align_RT = 0;
            }
        }
        std::stable_sort(list.begin(), list.end(), Comp_Alignpeak_by_Align_ID);
        u = static_cast<std::size_t>(unaligned_end() - list.begin());
        R = std::max_element(list.begin(), list.begin() + u, Comp_Alignpeak_by_Compound_Intensity);
        ++id;
    }
    return id - 1;
}

}  // namespace oracle
