#include "engine/annotation/clustering.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iostream>

namespace {

constexpr const char* kLinkageSizeError = "Error in linkage and W.size!=pdist_vec.size!";

// 1-based position of the pair of 1-based rows a < b among m rows, in the written form
// a(m - (a+1)/2) - m + b. The division is real: for even a, (a+1)/2 is a half, and only the
// product with a makes the position whole again.
std::size_t pair_position(double a, double b, double m) {
    return static_cast<std::size_t>(a * (m - (a + 1) / 2) - m + b);
}

// 32-bit product of two cluster sizes, as calculate_avearge_weight forms it; wraps instead of
// overflowing (sizes that large would need some 92,000 items).
double size_product(std::int32_t a, std::int32_t b) {
    return static_cast<double>(static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b)));
}

// Ordering of the minimum search: the first smallest value wins; a value that is not a number never
// wins over one that is.
bool better(double candidate, double best) {
    return !std::isnan(candidate) && (std::isnan(best) || candidate < best);
}

// Cached minimum of one row of the distance list: the smallest value among the pairs (row, b > row)
// and the 0-based column offset (b - row - 1) of its first occurrence; offset -1 for an empty row.
struct RowMin {
    double value = 0.0;
    std::ptrdiff_t offset = -1;
};

class Linkage {
public:
    Linkage(std::vector<double> y, cluster_method method, std::int32_t m)
        : Y_(std::move(y)), method_(method), M_(m), m_(m), N_(2 * static_cast<std::size_t>(m) - 1, 0),
          R_(static_cast<std::size_t>(m)), rows_(static_cast<std::size_t>(m)) {
        std::fill(N_.begin(), N_.begin() + m, 1);
        for (std::int32_t t = 0; t < m; ++t) R_[t] = t;
        if (method_ == median_linkage)
            for (double& v : Y_) v = v * v;
        for (std::int32_t a = 0; a + 1 < m_; ++a) recompute_row(a);
    }

    void run(std::vector<cluster_node>& tree) {
        for (std::int32_t s = 1; s <= M_ - 1; ++s) merge(s, tree);
    }

private:
    // 0-based start of row a (pairs (a, a+1) ...) in the condensed list of m_ rows.
    std::size_t row_start(std::int32_t a) const {
        const std::size_t A = static_cast<std::size_t>(a), m = static_cast<std::size_t>(m_);
        return A * m - A * (A + 1) / 2;
    }

    // The value the minimum search ranks: the quotient for average linkage, else the distance.
    double key(std::int32_t a, std::int32_t b) const {
        const double y = Y_[row_start(a) + static_cast<std::size_t>(b - a - 1)];
        if (method_ != average_linkage) return y;
        return y / size_product(N_[R_[b]], N_[R_[a]]);
    }

    void recompute_row(std::int32_t a) {
        RowMin best;
        for (std::int32_t b = a + 1; b < m_; ++b) {
            const double v = key(a, b);
            if (best.offset < 0 || better(v, best.value)) best = {v, b - a - 1};
        }
        rows_[a] = best;
    }

    // Position k of the first smallest key in pair order, from the row minima. Rows are visited in
    // order and a later row wins only when strictly better, which keeps the first position.
    std::size_t first_smallest() const {
        std::int32_t best_row = -1;
        for (std::int32_t a = 0; a + 1 < m_; ++a) {
            if (best_row < 0 || better(rows_[a].value, rows_[best_row].value)) best_row = a;
        }
        // Every key is not a number: position 0 wins.
        if (std::isnan(rows_[best_row].value)) return 0;
        return row_start(best_row) + static_cast<std::size_t>(rows_[best_row].offset);
    }

    // One merge: the closest pair of rows (1-based i < j) becomes row i, row j leaves.
    void merge(std::int32_t s, std::vector<cluster_node>& tree) {
        // 1. The pair: first smallest key, and its merge height.
        const Pair p = closest_pair();

        // 2. The node.
        const std::int32_t ri = R_[p.i - 1], rj = R_[p.j - 1];
        tree.push_back({std::min(ri, rj), std::max(ri, rj), method_ == median_linkage ? std::sqrt(p.h) : p.h});

        // 3. Distances of the merged cluster; 4. row j leaves; 5. rows and sizes.
        update_distances(p);
        drop_row(p.j - 1);
        const std::int32_t old_m = m_;
        --m_;
        update_sizes(s, p);

        // 6. Row minima, carried where still valid, then searched again where not.
        carry_row_minima(p.i - 1, p.j - 1, old_m);
        refresh_row_minima(p.i - 1);
    }

    struct Pair {
        std::int32_t i, j;  // 1-based rows, i < j
        double h;           // merge height
    };

    Pair closest_pair() const {
        const std::size_t k = first_smallest();
        const double md = m_;
        const double kd = static_cast<double>(k);
        const auto i = static_cast<std::int32_t>(std::floor(md + 0.5 - std::sqrt((md - 1) * md + 0.25 - 2 * kd)));
        const auto j = static_cast<std::int32_t>((kd + 1) - (md - i * 0.5) * (i - 1) + i);
        const double h = method_ == average_linkage ? Y_[k] / size_product(N_[R_[j - 1]], N_[R_[i - 1]]) : Y_[k];
        return {i, j, h};
    }

    // 3. Distances from the merged cluster (row i) to every other row u; those of row j go.
    void update_distances(const Pair& p) {
        const std::int32_t i = p.i, j = p.j;
        const double h = p.h;
        const double md = m_;
        const double id = i, jd = j;
        for (std::int32_t u = 1; u <= m_; ++u) {
            if (u == i || u == j) continue;
            const double ud = u;
            std::size_t I, J;
            if (u < i) {
                I = pair_position(ud, id, md);
                J = pair_position(ud, jd, md);
            } else if (u < j) {
                I = pair_position(id, ud, md);
                J = pair_position(ud, jd, md);
            } else {
                I = pair_position(id, ud, md);
                J = pair_position(jd, ud, md);
            }
            double& yi = Y_[I - 1];
            const double yj = Y_[J - 1];
            switch (method_) {
                case single_linkage: yi = yi < yj ? yi : yj; break;
                case complete_linkage: yi = yi < yj ? yj : yi; break;
                case average_linkage: yi = yj + yi; break;
                case weighted_linkage: yi = (yj + yi) * 0.5; break;
                case median_linkage: yi = (yj + yi) * 0.5 - h * 0.25; break;
                default: break;
            }
        }
    }

    // 4. Every pair of row j0 (0-based) leaves the list in one pass: each row before j0 loses its
    // column j0, row j0 goes whole, the rows after it only move up.
    void drop_row(std::int32_t j0) {
        std::size_t write = 0;
        for (std::int32_t a = 0; a + 1 < m_; ++a) {
            if (a == j0) continue;
            const std::size_t begin = row_start(a), len = static_cast<std::size_t>(m_ - a - 1);
            if (a < j0) {
                const std::size_t cut = static_cast<std::size_t>(j0 - a - 1);
                std::copy(Y_.begin() + begin, Y_.begin() + begin + cut, Y_.begin() + write);
                write += cut;
                std::copy(Y_.begin() + begin + cut + 1, Y_.begin() + begin + len, Y_.begin() + write);
                write += len - cut - 1;
            } else {
                std::copy(Y_.begin() + begin, Y_.begin() + begin + len, Y_.begin() + write);
                write += len;
            }
        }
        Y_.resize(write);
    }

    // 5. Rows and sizes: row i names the new cluster of merge s, the rows after j move up.
    void update_sizes(std::int32_t s, const Pair& p) {
        const std::int32_t i0 = p.i - 1, j0 = p.j - 1;
        N_[M_ - 1 + s] = N_[R_[i0]] + N_[R_[j0]];
        R_[i0] = M_ - 1 + s;
        for (std::int32_t t = p.j; t <= M_ - 1; ++t) R_[t - 1] = R_[t];
    }

    // Row i0 changed whole; a row before j0 lost column j0 and, before i0, saw its column i0
    // change. The minima still valid are carried to their new row numbers; those that sat on one
    // of the two columns, and row i0's, are left empty for refresh_row_minima.
    void carry_row_minima(std::int32_t i0, std::int32_t j0, std::int32_t old_m) {
        std::vector<RowMin>& next = spare_rows_;
        next.assign(static_cast<std::size_t>(m_), RowMin{});
        for (std::int32_t a = 0; a + 1 < old_m; ++a) {
            if (a == j0) continue;
            const std::int32_t na = a < j0 ? a : a - 1;  // row number after the merge
            if (na + 1 >= m_) continue;                   // the new last row holds no pair
            if (a > j0) {
                next[na] = rows_[a];
                continue;
            }
            if (a == i0) {
                next[na] = {};
                continue;
            }
            const RowMin old = rows_[a];
            const std::int32_t col = a + 1 + static_cast<std::int32_t>(old.offset);  // old 0-based column
            if (col == j0 || col == i0) {
                next[na] = {};
                continue;
            }
            RowMin r = old;
            if (col > j0) --r.offset;
            next[na] = r;
        }
        rows_.swap(next);
    }

    // Empty rows are searched again; a row before i0 only compares its changed column i0.
    void refresh_row_minima(std::int32_t i0) {
        for (std::int32_t a = 0; a + 1 < m_; ++a) {
            if (rows_[a].offset < 0) {
                recompute_row(a);
                continue;
            }
            if (a < i0) {
                // Only column i changed in this row; it wins when better, or equal and earlier.
                const double v = key(a, i0);
                const std::ptrdiff_t off = i0 - a - 1;
                if (better(v, rows_[a].value) || (v == rows_[a].value && off < rows_[a].offset))
                    rows_[a] = {v, off};
            }
        }
    }

    std::vector<double> Y_;
    cluster_method method_;
    std::int32_t M_;  // starting item count
    std::int32_t m_;  // current row count
    std::vector<std::int32_t> N_;
    std::vector<std::int32_t> R_;
    std::vector<RowMin> rows_;
    std::vector<RowMin> spare_rows_;  // the next merge's row minima, kept to save an allocation
};

// Ids of node r may name items (0..T) or clusters made by earlier nodes (T+1 .. T+r). Anything
// else did not come from linkage and would send the passes below out of range or round forever.
bool tree_is_sound(const std::vector<cluster_node>& tree) {
    const auto T = static_cast<std::int64_t>(tree.size());
    for (std::int64_t r = 0; r < T; ++r) {
        for (const std::int64_t id : {std::int64_t{tree[r].left_id}, std::int64_t{tree[r].right_id}}) {
            if (id < 0 || id > T + r) return false;
        }
    }
    return true;
}

}  // namespace

void p_dist(std::vector<double> data_arry, std::vector<double>& p_dist_arry) {
    const std::size_t n = data_arry.size();
    if (n < 2) return;
    p_dist_arry.reserve(p_dist_arry.size() + n * (n - 1) / 2);
    for (std::size_t i = 0; i + 1 < n; ++i) {
        for (std::size_t j = i + 1; j < n; ++j) {
            const double d = data_arry[i] - data_arry[j];
            p_dist_arry.push_back(d > 0 ? d : -d);
        }
    }
}

void linkage(std::vector<double> pdist_vec, cluster_method method, std::vector<cluster_node>& cluster_tree) {
    const std::size_t n = pdist_vec.size();
    const auto m = static_cast<std::int32_t>(std::ceil(std::sqrt(2.0 * static_cast<double>(n))));
    // Every method needs a whole pair list: a short or long one would make the merges read past
    // the list or leave pairs unvisited.
    if (m < 0 || static_cast<std::uint64_t>(m) * static_cast<std::uint64_t>(m > 0 ? m - 1 : 0) / 2 != n) {
        std::cout << kLinkageSizeError << std::endl;
        return;
    }
    if (m <= 1) return;
    cluster_tree.reserve(cluster_tree.size() + static_cast<std::size_t>(m - 1));
    Linkage(std::move(pdist_vec), method, m).run(cluster_tree);
}

void calculate_avearge_weight(std::vector<std::int32_t> N, std::vector<std::int32_t> R, std::int32_t m,
                              std::vector<double>& W) {
    for (std::int32_t i = 0; i < m; ++i) {
        for (std::int32_t j = i + 1; j < m; ++j) W.push_back(size_product(N[R[j]], N[R[i]]));
    }
}

void checkcut(std::vector<cluster_node> cluster_tree, double cutoff_th, std::vector<bool>& conn) {
    if (!tree_is_sound(cluster_tree)) return;
    const std::size_t T = cluster_tree.size();
    const std::uint32_t Tu = static_cast<std::uint32_t>(T);
    std::vector<bool> c(T), pending(T);
    for (std::size_t r = 0; r < T; ++r) {
        c[r] = cluster_tree[r].distance <= cutoff_th;
        pending[r] = c[r] && (static_cast<std::uint32_t>(cluster_tree[r].left_id) > Tu ||
                              static_cast<std::uint32_t>(cluster_tree[r].right_id) > Tu);
    }
    while (test_anybit_true(pending)) {
        const std::vector<bool> pending_at_start = pending;
        std::vector<std::size_t> finished;
        for (std::size_t r = 0; r < T; ++r) {
            if (!pending_at_start[r]) continue;
            bool done = true;
            for (const std::int32_t id : {cluster_tree[r].left_id, cluster_tree[r].right_id}) {
                if (static_cast<std::uint32_t>(id) <= Tu) continue;
                const std::size_t child = static_cast<std::uint32_t>(id) - Tu - 1;
                if (pending_at_start[child]) {
                    done = false;
                } else {
                    c[r] = c[child] && c[r];
                }
            }
            if (done) finished.push_back(r);
        }
        for (const std::size_t r : finished) pending[r] = false;
    }
    conn.insert(conn.end(), c.begin(), c.end());
}

void labeltree(std::vector<cluster_node> cluster_tree, std::vector<bool> conn, std::vector<std::uint32_t>& cluster_res) {
    if (!tree_is_sound(cluster_tree) || conn.size() != cluster_tree.size()) return;
    const std::size_t T = cluster_tree.size();
    const auto Ti = static_cast<std::int64_t>(T);
    const std::size_t base = cluster_res.size();
    cluster_res.insert(cluster_res.end(), T + 1, 1u);
    if (T == 0) return;

    std::vector<std::uint32_t> left_label, right_label;
    for (std::size_t r = 0; r < T; ++r) {
        left_label.push_back(static_cast<std::uint32_t>(r + 1));
        right_label.push_back(static_cast<std::uint32_t>(r + 1 + T));
    }
    std::vector<bool> pending(T, true);
    // Hands a label to one child of a cut link: an item takes it, a still-connected cluster takes
    // it on both sides and is cut, so that a later pass hands it further down.
    auto hand_down = [&](std::int32_t id, std::uint32_t label) {
        if (id <= Ti) {
            cluster_res[base + static_cast<std::size_t>(id)] = label;
            return;
        }
        const std::size_t c = static_cast<std::size_t>(id - Ti - 1);
        if (conn[c]) {
            left_label[c] = label;
            right_label[c] = label;
            conn[c] = false;
        }
    };
    while (true) {
        bool handled = false;
        for (std::size_t r = 0; r < T; ++r) {
            if (!pending[r] || conn[r]) continue;
            hand_down(cluster_tree[r].left_id, left_label[r]);
            hand_down(cluster_tree[r].right_id, right_label[r]);
            pending[r] = false;
            handled = true;
        }
        if (!handled || !test_anybit_true(pending)) break;
    }
}

void cluster_res_unique(std::vector<std::uint32_t>& cluster_res) {
    std::vector<std::uint32_t> values = cluster_res;
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    for (std::uint32_t& v : cluster_res) {
        v = static_cast<std::uint32_t>(std::lower_bound(values.begin(), values.end(), v) - values.begin() + 1);
    }
}

bool test_anybit_true(std::vector<bool> bit_arry) {
    return std::find(bit_arry.begin(), bit_arry.end(), true) != bit_arry.end();
}

void cluster(std::vector<cluster_node> cluster_tree, double cutoff_th, std::vector<std::uint32_t>& cluster_res) {
    if (!tree_is_sound(cluster_tree)) return;
    std::vector<bool> conn;
    checkcut(cluster_tree, cutoff_th, conn);
    labeltree(std::move(cluster_tree), std::move(conn), cluster_res);
    cluster_res_unique(cluster_res);
}
