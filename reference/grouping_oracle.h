// Plain transcription of shape angles and peak grouping: full-window profiles built for every
// shift, records copied into every call, the seed found by a scan of the ungrouped range, the
// candidates copied out of it, the whole list re-sorted after every group. It carries the
// engine's mends (cosine clamped before acos, zero norm gives 0, shifts past the window give 0,
// short shapes read as 0, empty peaks, 64-bit apex window, lone candidates when no labels), and
// its re-sorts are stable, as every sort of the engine is.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <vector>

#include "reference/clustering_oracle.h"
#include "engine/records/records.h"

namespace oracle {

inline double vector_dot(std::vector<double> vec1, std::vector<double> vec2) {
    if (vec1.size() != vec2.size()) {
        std::cout << "For Dot product, vec1 and vec2 should have the same size!" << std::endl;
        return 0;
    }
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t k = 0; k < vec1.size(); ++k) {
        ab += vec1[k] * vec2[k];
        aa += vec1[k] * vec1[k];
        bb += vec2[k] * vec2[k];
    }
    if (aa == 0 || bb == 0) return 0;
    return ab / (std::sqrt(bb) * std::sqrt(aa));
}

inline std::vector<double> window_profile(const Chromatogram_Peak_Group& p, std::uint32_t first, std::int64_t L) {
    std::vector<double> v;
    for (std::int64_t k = 0; k < L; ++k) {
        const std::int64_t scan = first + k;
        if (scan < p.Left_Boundary || scan > p.Right_Boundary) {
            v.push_back(0);
        } else {
            const auto t = static_cast<std::size_t>(scan - p.Left_Boundary);
            v.push_back(t < p.Peak_shape.size() ? p.Peak_shape[t].intensity : 0);
        }
    }
    return v;
}

inline double calc_dotproduct_angle(Chromatogram_Peak_Group Peak1, Chromatogram_Peak_Group Peak2, std::int32_t Tol_Shift) {
    const std::uint32_t first = std::min(Peak1.Left_Boundary, Peak2.Left_Boundary);
    const std::uint32_t last = std::max(Peak1.Right_Boundary, Peak2.Right_Boundary);
    std::int64_t L = std::int64_t{last} - std::int64_t{first} + 1;
    if (L < 0) L = 0;
    const std::vector<double> p1 = window_profile(Peak1, first, L), p2 = window_profile(Peak2, first, L);
    double best = oracle::vector_dot(p1, p2);
    for (std::int64_t s = 1; s <= Tol_Shift; ++s) {
        std::vector<double> earlier(static_cast<std::size_t>(L), 0.0), later(static_cast<std::size_t>(L), 0.0);
        for (std::int64_t k = 0; k + s < L; ++k) earlier[k] = p1[k + s];
        for (std::int64_t k = s; k < L; ++k) later[k] = p1[k - s];
        double c = oracle::vector_dot(earlier, p2);
        if (c > best) best = c;
        c = oracle::vector_dot(later, p2);
        if (c > best) best = c;
        if (s >= L) break;  // every larger shift gives the same all-zero profile
    }
    if (best > 1) best = 1;
    if (best < -1) best = -1;
    return std::acos(best) * 180.0 / 3.1415926;
}

inline void peak_group(std::vector<Chromatogram_Peak_Group>& out, std::vector<Chromatogram_Peak> peaklist,
                       std::uint32_t Group_Shift_Tol, double Group_Shape_Angle_Tol) {
    for (const Chromatogram_Peak& p : peaklist) {
        Chromatogram_Peak_Group g;
        g.Peak_shape = p.Peak_shape;
        g.EIC_ID = p.EIC_ID;
        g.Peak_ID = p.Peak_ID;
        g.Apex_MZ = p.Apex_MZ;
        g.Apex_Pos = p.Apex_Pos;
        g.Apex_Retention_Time = p.Apex_Retention_Time;
        g.Apex_Intensity = p.Apex_Intensity;
        g.Peak_Area = p.Peak_Area;
        g.Peak_SNR = p.Peak_SNR;
        g.Left_Boundary = p.Left_Boundary;
        g.Right_Boundary = p.Right_Boundary;
        g.Group_ID = 0;
        out.push_back(g);
    }
    std::uint32_t g = 1;
    auto lower = out.begin(), upper = out.end();
    while (lower != upper) {
        const auto seed = std::max_element(lower, upper, Comp_Grouppeak_by_Peak_Area);
        const std::uint64_t lo = seed->Apex_Pos >= Group_Shift_Tol ? seed->Apex_Pos - Group_Shift_Tol : 0;
        const std::uint64_t hi = std::uint64_t{seed->Apex_Pos} + Group_Shift_Tol;
        std::vector<Chromatogram_Peak_Group> cands;
        for (auto it = lower; it != upper; ++it)
            if (it->Apex_Pos >= lo && it->Apex_Pos <= hi) cands.push_back(*it);
        if (cands.size() > 1) {
            std::vector<double> angles;
            for (std::size_t a = 0; a < cands.size(); ++a)
                for (std::size_t b = a + 1; b < cands.size(); ++b)
                    angles.push_back(oracle::calc_dotproduct_angle(cands[a], cands[b], 3));
            std::vector<cluster_node> tree;
            oracle::linkage(angles, average_linkage, tree);
            std::vector<std::uint32_t> labels;
            oracle::cluster(tree, Group_Shape_Angle_Tol, labels);
            if (labels.size() < cands.size()) {
                labels.clear();
                for (std::size_t c = 0; c < cands.size(); ++c) labels.push_back(static_cast<std::uint32_t>(c + 1));
            }
            std::size_t place = 0;
            for (std::size_t c = 0; c < cands.size(); ++c)
                if (cands[c].EIC_ID == seed->EIC_ID && cands[c].Peak_ID == seed->Peak_ID) place = c;
            const std::uint32_t seed_label = labels[place];
            for (std::size_t c = 0; c < cands.size(); ++c) {
                if (labels[c] != seed_label) continue;
                auto it = lower;
                while (it != upper && !(it->EIC_ID == cands[c].EIC_ID && it->Peak_ID == cands[c].Peak_ID)) ++it;
                if (it == upper) {
                    std::cout << "Can't find the matched peak with the specific EIC_ID and Peak_ID" << std::endl;
                    continue;
                }
                it->Group_ID = g;
            }
        } else {
            seed->Group_ID = g;
        }
        std::stable_sort(out.begin(), out.end(), Comp_Grouppeak_by_Group_ID);
        Chromatogram_Peak_Group key;
        key.Group_ID = 0;
        lower = std::lower_bound(out.begin(), out.end(), key, Comp_Grouppeak_by_Group_ID);
        upper = std::upper_bound(out.begin(), out.end(), key, Comp_Grouppeak_by_Group_ID);
        ++g;
    }
    std::cout << "Peak Grouping Finished! Ttotally," << g - 1 << "Groups are Got!" << std::endl;
}

}  // namespace oracle
