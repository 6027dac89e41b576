// Plain transcription of the clustering functions, step by step as the method is written: the
// weight and quotient lists rebuilt at every merge, distances erased one at a time, the cut passes
// as stated. Shares no code with the engine (only the record types), so the engine's faster forms
// can be checked against it bit for bit. It carries the same mends as the engine: a value that is
// not a number never wins the minimum search, and every method rejects a list of the wrong length.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <vector>

#include "engine/annotation/clustering.h"

namespace oracle {

inline std::size_t first_smallest(const std::vector<double>& v) {
    std::size_t k = 0;
    for (std::size_t t = 1; t < v.size(); ++t) {
        if (!std::isnan(v[t]) && (std::isnan(v[k]) || v[t] < v[k])) k = t;
    }
    return k;
}

inline void calculate_avearge_weight(std::vector<std::int32_t> N, std::vector<std::int32_t> R, std::int32_t m,
                                     std::vector<double>& W) {
    for (std::int32_t i = 0; i < m; ++i)
        for (std::int32_t j = i + 1; j < m; ++j)
            W.push_back(static_cast<double>(N[R[j]] * N[R[i]]));
}

inline void linkage(std::vector<double> pdist_vec, cluster_method method, std::vector<cluster_node>& cluster_tree) {
    const std::size_t n = pdist_vec.size();
    std::int32_t m = static_cast<std::int32_t>(std::ceil(std::sqrt(2.0 * static_cast<double>(n))));
    if (static_cast<std::size_t>(m) * static_cast<std::size_t>(m > 0 ? m - 1 : 0) / 2 != n) {
        std::cout << "Error in linkage and W.size!=pdist_vec.size!" << std::endl;
        return;
    }
    const std::int32_t M = m;
    std::vector<std::int32_t> N(m > 0 ? 2 * m - 1 : 0, 0);
    for (std::int32_t t = 0; t < m; ++t) N[t] = 1;
    std::vector<std::int32_t> R(m);
    for (std::int32_t t = 0; t < m; ++t) R[t] = t;
    std::vector<double> Y = pdist_vec;
    if (method == median_linkage)
        for (double& y : Y) y = y * y;

    for (std::int32_t s = 1; s <= M - 1; ++s) {
        std::size_t k;
        double h;
        if (method == average_linkage) {
            std::vector<double> W;
            oracle::calculate_avearge_weight(N, R, m, W);
            if (W.size() != Y.size()) {
                std::cout << "Error in linkage and W.size!=pdist_vec.size!" << std::endl;
                return;
            }
            std::vector<double> Q(Y.size());
            for (std::size_t t = 0; t < Y.size(); ++t) Q[t] = Y[t] / W[t];
            k = first_smallest(Q);
            h = Q[k];
        } else {
            k = first_smallest(Y);
            h = Y[k];
        }
        const double md = m, kd = static_cast<double>(k);
        const std::int32_t i = static_cast<std::int32_t>(std::floor(md + 0.5 - std::sqrt((md - 1) * md + 0.25 - 2 * kd)));
        const std::int32_t j = static_cast<std::int32_t>((kd + 1) - (md - i * 0.5) * (i - 1) + i);

        cluster_node node;
        node.left_id = R[i - 1] < R[j - 1] ? R[i - 1] : R[j - 1];
        node.right_id = R[i - 1] < R[j - 1] ? R[j - 1] : R[i - 1];
        node.distance = method == median_linkage ? std::sqrt(h) : h;
        cluster_tree.push_back(node);

        std::vector<std::size_t> noted;
        for (std::int32_t u = 1; u <= m; ++u) {
            if (u == i || u == j) continue;
            double I, J;
            if (u < i) {
                I = u * (md - (u + 1) / 2.0) - md + i;
                J = u * (md - (u + 1) / 2.0) - md + j;
            } else if (u < j) {
                I = i * (md - (i + 1) / 2.0) - md + u;
                J = u * (md - (u + 1) / 2.0) - md + j;
            } else {
                I = i * (md - (i + 1) / 2.0) - md + u;
                J = j * (md - (j + 1) / 2.0) - md + u;
            }
            const std::size_t Ii = static_cast<std::size_t>(I) - 1, Ji = static_cast<std::size_t>(J) - 1;
            switch (method) {
                case single_linkage: Y[Ii] = Y[Ii] < Y[Ji] ? Y[Ii] : Y[Ji]; break;
                case complete_linkage: Y[Ii] = Y[Ii] < Y[Ji] ? Y[Ji] : Y[Ii]; break;
                case average_linkage: Y[Ii] = Y[Ji] + Y[Ii]; break;
                case weighted_linkage: Y[Ii] = (Y[Ji] + Y[Ii]) * 0.5; break;
                case median_linkage: Y[Ii] = (Y[Ji] + Y[Ii]) * 0.5 - h * 0.25; break;
                default: break;
            }
            noted.push_back(static_cast<std::size_t>(J));
        }
        noted.push_back(static_cast<std::size_t>(i * md - i * (i + 1) / 2.0 - md + j));
        std::sort(noted.begin(), noted.end());
        for (std::size_t t = noted.size(); t-- > 0;) Y.erase(Y.begin() + static_cast<std::ptrdiff_t>(noted[t] - 1));

        m = m - 1;
        N[M - 1 + s] = N[R[i - 1]] + N[R[j - 1]];
        R[i - 1] = M - 1 + s;
        for (std::int32_t t = j; t <= M - 1; ++t) R[t - 1] = R[t];
    }
}

inline bool any_true(const std::vector<bool>& v) {
    for (bool b : v)
        if (b) return true;
    return false;
}

inline void checkcut(const std::vector<cluster_node>& tree, double cutoff_th, std::vector<bool>& conn) {
    const std::uint32_t T = static_cast<std::uint32_t>(tree.size());
    std::vector<bool> pending(T);
    for (std::uint32_t r = 0; r < T; ++r) {
        conn.push_back(tree[r].distance <= cutoff_th);
        pending[r] = conn[r] && (static_cast<std::uint32_t>(tree[r].left_id) > T ||
                                 static_cast<std::uint32_t>(tree[r].right_id) > T);
    }
    while (any_true(pending)) {
        const std::vector<bool> start = pending;
        std::vector<bool> clear(T, false);
        for (std::uint32_t r = 0; r < T; ++r) {
            if (!start[r]) continue;
            bool left_done = true, right_done = true;
            const auto l = static_cast<std::uint32_t>(tree[r].left_id), rr = static_cast<std::uint32_t>(tree[r].right_id);
            if (l > T) {
                if (start[l - T - 1]) left_done = false;
                else conn[r] = conn[l - T - 1] && conn[r];
            }
            if (rr > T) {
                if (start[rr - T - 1]) right_done = false;
                else conn[r] = conn[rr - T - 1] && conn[r];
            }
            if (left_done && right_done) clear[r] = true;
        }
        for (std::uint32_t r = 0; r < T; ++r)
            if (clear[r]) pending[r] = false;
    }
}

inline void labeltree(const std::vector<cluster_node>& tree, std::vector<bool> conn, std::vector<std::uint32_t>& res) {
    const std::int32_t T = static_cast<std::int32_t>(tree.size());
    for (std::int32_t t = 0; t <= T; ++t) res.push_back(1);
    if (T == 0) return;
    std::vector<std::uint32_t> L(T), Rl(T);
    std::vector<bool> pending(T, true);
    for (std::int32_t r = 0; r < T; ++r) {
        L[r] = r + 1;
        Rl[r] = r + 1 + T;
    }
    while (true) {
        bool any = false;
        for (std::int32_t r = 0; r < T; ++r) {
            if (!(pending[r] && !conn[r])) continue;
            if (tree[r].left_id <= T) {
                res[tree[r].left_id] = L[r];
            } else if (conn[tree[r].left_id - T - 1]) {
                L[tree[r].left_id - T - 1] = L[r];
                Rl[tree[r].left_id - T - 1] = L[r];
                conn[tree[r].left_id - T - 1] = false;
            }
            if (tree[r].right_id <= T) {
                res[tree[r].right_id] = Rl[r];
            } else if (conn[tree[r].right_id - T - 1]) {
                L[tree[r].right_id - T - 1] = Rl[r];
                Rl[tree[r].right_id - T - 1] = Rl[r];
                conn[tree[r].right_id - T - 1] = false;
            }
            pending[r] = false;
            any = true;
        }
        if (!any || !any_true(pending)) break;
    }
}

inline void cluster_res_unique(std::vector<std::uint32_t>& res) {
    std::vector<std::uint32_t> u = res;
    std::sort(u.begin(), u.end());
    u.erase(std::unique(u.begin(), u.end()), u.end());
    for (auto& v : res) {
        for (std::size_t t = 0; t < u.size(); ++t)
            if (u[t] == v) {
                v = static_cast<std::uint32_t>(t + 1);
                break;
            }
    }
}

inline void cluster(const std::vector<cluster_node>& tree, double cutoff_th, std::vector<std::uint32_t>& res) {
    std::vector<bool> conn;
    oracle::checkcut(tree, cutoff_th, conn);
    oracle::labeltree(tree, conn, res);
    oracle::cluster_res_unique(res);
}

}  // namespace oracle
