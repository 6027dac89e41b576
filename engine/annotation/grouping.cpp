#include "engine/annotation/grouping.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iostream>
#include <limits>
#include <memory>
#include <numeric>
#include <utility>

#include "engine/annotation/clustering.h"
#include "engine/records/variant.h"

namespace {

// The angle is converted with this constant, not with pi: a right angle reads 90.0000015.
constexpr double kPiConstant = 3.1415926;
// Shift tolerance of the shape comparison in grouping; the configured apex tolerance only picks
// the candidates.
constexpr std::int32_t kGroupShapeShift = 3;

// One peak's intensity profile, kept sparse: the entries from Left_Boundary onward that the shape
// actually holds. Scans of the common window outside them are zeros, and for finite entries a zero
// term changes no sum, so the sums below have the bits of sums over the full window profile (up to
// the sign of a zero dot product, which neither the comparisons nor acos can see).
struct Profile {
    std::int64_t left = 0;   // Left_Boundary
    std::int64_t right = 0;  // Right_Boundary; below left for an empty peak
    std::vector<double> v;   // entries for scans left, left+1, ...; never more than the boundaries span
    bool finite = true;      // no entry is infinite or not a number
    double sumsq = 0.0;      // sum of v[t]^2, t upward
    double norm = 0.0;       // sqrt(sumsq)
};

// What grouping reads for every pair with shift tolerance 3, prepared once per peak: the entries
// with 2 * 3 zeros on either side, so that all seven moved profiles index it without a bound check,
// and the norms of the profile cut by up to 3 entries at either end (a moved profile loses those
// that leave the window), each sum accumulated upward as the full-window sum is.
struct GroupProfile {
    static constexpr std::int64_t kPad = 2 * kGroupShapeShift;
    std::vector<double> padded;
    double sumsq_from[kGroupShapeShift + 1] = {};  // without the first t entries
    double norm_from[kGroupShapeShift + 1] = {};
    double sumsq_upto[kGroupShapeShift + 1] = {};  // without the last t entries
    double norm_upto[kGroupShapeShift + 1] = {};
};

Profile make_profile(const std::vector<Data_Point>& shape, std::uint32_t left, std::uint32_t right) {
    Profile p;
    p.left = left;
    p.right = right;
    if (left <= right) {
        // A shape shorter than its boundaries reads the missing scans as 0, which is what leaving
        // them out gives; a longer one is read only as far as the boundaries reach.
        const std::size_t span = static_cast<std::size_t>(right - left) + 1;
        const std::size_t n = std::min(span, shape.size());
        p.v.resize(n);
        for (std::size_t t = 0; t < n; ++t) p.v[t] = shape[t].intensity;
    }
    double s = 0.0;
    for (const double x : p.v) {
        s += x * x;
        if (!std::isfinite(x)) p.finite = false;
    }
    p.sumsq = s;
    p.norm = std::sqrt(s);
    return p;
}

GroupProfile make_group_profile(const Profile& p) {
    GroupProfile g;
    const std::size_t n = p.v.size();
    g.padded.assign(n + 2 * GroupProfile::kPad, 0.0);
    for (std::size_t t = 0; t < n; ++t) g.padded[GroupProfile::kPad + t] = p.v[t];
    for (std::size_t cut = 0; cut <= kGroupShapeShift && cut < n; ++cut) {
        double from = 0.0, upto = 0.0;
        for (std::size_t t = cut; t < n; ++t) from += p.v[t] * p.v[t];
        for (std::size_t t = 0; t < n - cut; ++t) upto += p.v[t] * p.v[t];
        g.sumsq_from[cut] = from;
        g.norm_from[cut] = std::sqrt(from);
        g.sumsq_upto[cut] = upto;
        g.norm_upto[cut] = std::sqrt(upto);
    }
    return g;
}

// Cosine between profile 1 moved by d scans (negative: earlier) and profile 2, over the window of
// L scans starting at scan `first`. Entries moved out of the window are dropped.
double moved_cosine(const Profile& p1, const Profile& p2, std::int64_t first, std::int64_t L, std::int64_t d) {
    const auto n1 = static_cast<std::int64_t>(p1.v.size()), n2 = static_cast<std::int64_t>(p2.v.size());
    const std::int64_t a_off = p1.left - first + d;  // window position of v1[0]
    const std::int64_t t0 = std::max<std::int64_t>(0, -a_off);
    const std::int64_t t1 = std::min(n1 - 1, L - 1 - a_off);
    double sa = 0.0;
    for (std::int64_t t = t0; t <= t1; ++t) sa += p1.v[t] * p1.v[t];
    // A zero norm, also one that underflowed, has no direction: cosine 0.
    if (sa == 0 || p2.sumsq == 0) return 0.0;
    // Over the full window an infinite or undefined entry meets a zero or an infinite sum in the
    // dot product, and the cosine is not a number.
    if (!p2.finite) return std::numeric_limits<double>::quiet_NaN();
    if (!p1.finite) {
        for (std::int64_t t = t0; t <= t1; ++t)
            if (!std::isfinite(p1.v[t])) return std::numeric_limits<double>::quiet_NaN();
    }
    const std::int64_t b_off = p2.left - first;
    const std::int64_t q0 = std::max(a_off + t0, b_off), q1 = std::min(a_off + t1, b_off + n2 - 1);
    double dot = 0.0;
    for (std::int64_t q = q0; q <= q1; ++q) dot += p1.v[q - a_off] * p2.v[q - b_off];
    return dot / (p2.norm * std::sqrt(sa));
}

std::int64_t window_length(const Profile& p1, const Profile& p2, std::int64_t& first) {
    first = std::min(p1.left, p2.left);
    return std::max<std::int64_t>(0, std::max(p1.right, p2.right) - first + 1);
}

double to_degrees(double best) {
    // Rounding can carry the cosine of proportional profiles past 1, where acos has no value.
    if (best > 1.0) best = 1.0;
    if (best < -1.0) best = -1.0;
    return std::acos(best) * 180.0 / kPiConstant;
}

double profile_angle(const Profile& p1, const Profile& p2, std::int32_t Tol_Shift) {
    std::int64_t first = 0;
    const std::int64_t L = window_length(p1, p2, first);
    double best = moved_cosine(p1, p2, first, L, 0);
    for (std::int64_t s = 1; s <= Tol_Shift; ++s) {
        double c = moved_cosine(p1, p2, first, L, -s);
        if (c > best) best = c;
        c = moved_cosine(p1, p2, first, L, s);
        if (c > best) best = c;
        // From here on the moved profile is all zeros: cosine 0 for every larger shift too.
        if (s >= L) break;
    }
    return to_degrees(best);
}

// profile_angle(p1, p2, 3) for finite profiles, with the seven dot products taken in one pass:
// seven independent sums instead of one long chain each. Each sum still adds its terms in
// ascending scan order, and the extra terms it meets are products with a padding zero.
double group_angle(const Profile& p1, const GroupProfile& g1, const Profile& p2) {
    if (!p1.finite || !p2.finite || p1.v.empty() || p2.v.empty()) return profile_angle(p1, p2, kGroupShapeShift);
    constexpr std::int64_t S = kGroupShapeShift, kShifts = 2 * S + 1;
    std::int64_t first = 0;
    const std::int64_t L = window_length(p1, p2, first);
    const auto n1 = static_cast<std::int64_t>(p1.v.size()), n2 = static_cast<std::int64_t>(p2.v.size());
    const std::int64_t a0 = p1.left - first, b0 = p2.left - first;  // window positions of v1[0], v2[0]

    // dot[e] for the move d = e - S: terms p1[q - a0 - d] * p2[q - b0] over p2's scans q that some
    // moved profile 1 reaches. Profile 2 lies inside the window, so no dropped entry meets it.
    double dot[kShifts] = {};
    const std::int64_t q_lo = std::max(b0, a0 - S), q_hi = std::min(b0 + n2 - 1, a0 + n1 - 1 + S);
    const double* pad = g1.padded.data();
    const double* v2 = p2.v.data();
    for (std::int64_t q = q_lo; q <= q_hi; ++q) {
        const double b = v2[q - b0];
        const double* at = pad + (q - a0 + GroupProfile::kPad + S);  // at[-e] = moved entry for e
        for (std::int64_t e = 0; e < kShifts; ++e) dot[e] += at[-e] * b;
    }

    auto cosine = [&](std::int64_t d) {
        const std::int64_t a_off = a0 + d;
        const std::int64_t t0 = std::max<std::int64_t>(0, -a_off), t1 = std::min(n1 - 1, L - 1 - a_off);
        if (t0 > t1) return 0.0;
        // Moving earlier only loses leading entries, moving later only trailing ones, at most S.
        const std::int64_t cut_front = t0, cut_back = n1 - 1 - t1;
        const double sa = cut_back == 0 ? g1.sumsq_from[cut_front] : g1.sumsq_upto[cut_back];
        const double na = cut_back == 0 ? g1.norm_from[cut_front] : g1.norm_upto[cut_back];
        if (sa == 0 || p2.sumsq == 0) return 0.0;
        return dot[d + S] / (p2.norm * na);
    };
    double best = cosine(0);
    for (std::int64_t s = 1; s <= S; ++s) {
        double c = cosine(-s);
        if (c > best) best = c;
        c = cosine(s);
        if (c > best) best = c;
    }
    return to_degrees(best);
}

Chromatogram_Peak_Group shape_only(Chromatogram_Peak_Group_Compound& p) {
    Chromatogram_Peak_Group g;
    g.Peak_shape = std::move(p.Peak_shape);
    g.Left_Boundary = p.Left_Boundary;
    g.Right_Boundary = p.Right_Boundary;
    return g;
}

Chromatogram_Peak_Group widen(Chromatogram_Peak&& p) {
    Chromatogram_Peak_Group g;
    g.Peak_shape = std::move(p.Peak_shape);
    korvane::copy_peak_scalars(p, g);
    g.Group_ID = 0;
    return g;
}

std::uint64_t id_key(std::uint32_t eic, std::uint32_t peak) { return (std::uint64_t{eic} << 32) | peak; }

// Shape angles of candidate pairs survive from one group to the next: the same two peaks meet
// again while both are ungrouped, and their angle depends on nothing else. Two candidates of one
// group have apexes at most 2 * Group_Shift_Tol scans apart, so with the peaks in apex order
// (slots) every pair that can ever meet lies in a short run of slots after the lower one: one row
// per slot, filled as pairs come up. Candidates are neighbours in slot order, so the rows they
// read are neighbours in memory. When the rows would grow too large (a very wide tolerance), the
// angles are computed afresh every time.
class AngleCache {
public:
    AngleCache(const std::vector<Profile>& profiles, const std::vector<GroupProfile>& prepared,
               const std::vector<std::size_t>& slot_of, const std::vector<std::uint32_t>& apex_by_slot,
               std::uint64_t shift_tol)
        : profiles_(profiles), prepared_(prepared), slot_of_(slot_of) {
        const std::size_t n = apex_by_slot.size();
        reach_.resize(n);
        row_start_.resize(n + 1);
        row_start_[0] = 0;
        std::size_t end = 0;
        for (std::size_t s = 0; s < n; ++s) {
            const std::uint64_t last_apex = std::uint64_t{apex_by_slot[s]} + 2 * shift_tol;
            end = std::max(end, s + 1);
            while (end < n && apex_by_slot[end] <= last_apex) ++end;
            reach_[s] = end;  // partners are slots s+1 .. end-1
            row_start_[s + 1] = row_start_[s] + (end - s - 1);
            if (row_start_[s + 1] > kMaxEntries) return;  // stays disabled
        }
        values_ = std::make_unique<double[]>(row_start_[n]);
        known_.assign(row_start_[n], 0);
        enabled_ = true;
    }

    // Angle with peak a (the earlier in input order) moved against peak b.
    double get(std::size_t a, std::size_t b) {
        if (!enabled_) return compute(a, b);
        const std::size_t sa = slot_of_[a], sb = slot_of_[b];
        const std::size_t lo = std::min(sa, sb), hi = std::max(sa, sb);
        if (hi >= reach_[lo]) return compute(a, b);
        const std::size_t k = row_start_[lo] + (hi - lo - 1);
        if (!known_[k]) {
            values_[k] = compute(a, b);
            known_[k] = 1;
        }
        return values_[k];
    }

private:
    static constexpr std::size_t kMaxEntries = std::size_t{1} << 23;  // 64 MiB of angles

    double compute(std::size_t a, std::size_t b) const { return group_angle(profiles_[a], prepared_[a], profiles_[b]); }

    const std::vector<Profile>& profiles_;
    const std::vector<GroupProfile>& prepared_;
    const std::vector<std::size_t>& slot_of_;
    std::vector<std::size_t> reach_, row_start_;
    std::unique_ptr<double[]> values_;
    std::vector<unsigned char> known_;
    bool enabled_ = false;
};

void append_ungrouped(std::vector<Chromatogram_Peak_Group>& out, std::vector<Chromatogram_Peak> peaks) {
    out.reserve(out.size() + peaks.size());
    for (Chromatogram_Peak& p : peaks) out.push_back(widen(std::move(p)));
}

// 2. Seed order. The seed is the largest area of the ungrouped peaks, the first in input order
// among equals; an area that is not a number never beats one that is, but as the first ungrouped
// peak nothing beats it either.
std::vector<std::size_t> seed_order(const Chromatogram_Peak_Group* rec, std::size_t n) {
    std::vector<std::size_t> by_area;
    by_area.reserve(n);
    for (std::size_t k = 0; k < n; ++k)
        if (!std::isnan(rec[k].Peak_Area)) by_area.push_back(k);
    std::stable_sort(by_area.begin(), by_area.end(),
                     [&](std::size_t a, std::size_t b) { return rec[a].Peak_Area > rec[b].Peak_Area; });
    return by_area;
}

// 3. The peaks in apex order (slots), input order among equal apexes.
struct Apex_Index {
    std::vector<std::size_t> peak_at;   // peak of each slot
    std::vector<std::uint32_t> keys;    // Apex_Pos of each slot, ascending
    std::vector<std::size_t> slot_of;   // slot of each peak
};

Apex_Index index_by_apex(const Chromatogram_Peak_Group* rec, std::size_t n) {
    Apex_Index x;
    x.peak_at.resize(n);
    std::iota(x.peak_at.begin(), x.peak_at.end(), std::size_t{0});
    std::stable_sort(x.peak_at.begin(), x.peak_at.end(),
                     [&](std::size_t a, std::size_t b) { return rec[a].Apex_Pos < rec[b].Apex_Pos; });
    x.keys.resize(n);
    x.slot_of.resize(n);
    for (std::size_t s = 0; s < n; ++s) {
        x.keys[s] = rec[x.peak_at[s]].Apex_Pos;
        x.slot_of[x.peak_at[s]] = s;
    }
    return x;
}

// 4. The peaks by (EIC_ID, Peak_ID), input order within equal pairs.
using Id_Index = std::vector<std::pair<std::uint64_t, std::size_t>>;

Id_Index index_by_id(const Chromatogram_Peak_Group* rec, std::size_t n) {
    Id_Index by_id(n);
    for (std::size_t k = 0; k < n; ++k) by_id[k] = {id_key(rec[k].EIC_ID, rec[k].Peak_ID), k};
    std::stable_sort(by_id.begin(), by_id.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return by_id;
}

// The group loop over the records rec[0..n), with what it reads prepared once.
class Grouping {
public:
    Grouping(Chromatogram_Peak_Group* rec, std::size_t n, std::uint32_t shift_tol, double angle_tol)
        : rec_(rec), n_(n), shift_tol_(shift_tol), angle_tol_(angle_tol), by_area_(seed_order(rec, n)),
          apex_(index_by_apex(rec, n)), by_id_(index_by_id(rec, n)), next_alive_(n + 1) {
        profiles_.reserve(n);
        prepared_.reserve(n);
        for (std::size_t k = 0; k < n; ++k) {
            profiles_.push_back(make_profile(rec[k].Peak_shape, rec[k].Left_Boundary, rec[k].Right_Boundary));
            prepared_.push_back(make_group_profile(profiles_.back()));
        }
        // Grouped peaks are skipped in apex order through next-alive links.
        std::iota(next_alive_.begin(), next_alive_.end(), std::size_t{0});
    }

    // 5. Forms groups 1, 2, ... until every peak has one; returns one past the last number.
    std::uint32_t run() {
        AngleCache angles(profiles_, prepared_, apex_.slot_of, apex_.keys, shift_tol_);
        std::size_t ungrouped = n_;
        std::uint32_t g = 1;
        while (ungrouped > 0) {
            korvane::variant::peak_grouping_started(g, ungrouped);
            const std::size_t seed = next_seed();
            collect_candidates(seed);
            group_seed_cluster(seed, g, angles);
            for (const std::size_t k : grouped_now_) next_alive_[apex_.slot_of[k]] = apex_.slot_of[k] + 1;
            ungrouped -= grouped_now_.size();
            ++g;
        }
        return g;
    }

private:
    std::size_t find_alive(std::size_t s) {
        std::size_t root = s;
        while (next_alive_[root] != root) root = next_alive_[root];
        while (next_alive_[s] != root) s = std::exchange(next_alive_[s], root);
        return root;
    }

    // 5.1 The seed.
    std::size_t next_seed() {
        while (rec_[front_].Group_ID != 0) ++front_;
        if (std::isnan(rec_[front_].Peak_Area)) return front_;
        while (rec_[by_area_[area_next_]].Group_ID != 0) ++area_next_;
        return by_area_[area_next_];
    }

    // 5.2 Candidates: ungrouped peaks with the apex in the seed's window, in input order. The
    // window is taken in 64 bits, so a tolerance near 2^32 neither wraps nor loses the seed.
    void collect_candidates(std::size_t seed) {
        const std::uint64_t apex = rec_[seed].Apex_Pos, tol = shift_tol_;
        const std::uint64_t lo = apex >= tol ? apex - tol : 0, hi = apex + tol;
        candidates_.clear();
        const std::vector<std::uint32_t>& keys = apex_.keys;
        const auto first_slot = static_cast<std::size_t>(
            std::lower_bound(keys.begin(), keys.end(), lo, [](std::uint32_t key, std::uint64_t v) { return key < v; }) -
            keys.begin());
        for (std::size_t s = find_alive(first_slot); s < n_ && keys[s] <= hi; s = find_alive(s + 1))
            candidates_.push_back(apex_.peak_at[s]);
        std::sort(candidates_.begin(), candidates_.end());
    }

    // 5.3 Cluster the candidates by shape and give the seed's cluster the number g.
    void group_seed_cluster(std::size_t seed, std::uint32_t g, AngleCache& angles) {
        grouped_now_.clear();
        const std::size_t m = candidates_.size();
        if (m <= 1) return assign(seed, g);
        cluster_by_shape(angles);
        const std::uint32_t seed_label = labels_[seed_place(seed)];
        for (std::size_t c = 0; c < m; ++c)
            if (labels_[c] == seed_label) assign_first_with_ids(candidates_[c], g);
    }

    void cluster_by_shape(AngleCache& angles) {
        const std::size_t m = candidates_.size();
        angle_list_.clear();
        for (std::size_t a = 0; a + 1 < m; ++a)
            for (std::size_t b = a + 1; b < m; ++b) angle_list_.push_back(angles.get(candidates_[a], candidates_[b]));
        tree_.clear();
        labels_.clear();
        linkage(angle_list_, average_linkage, tree_);
        cluster(tree_, angle_tol_, labels_);
        if (labels_.size() < m) {
            // No usable tree: every candidate stands alone.
            labels_.resize(m);
            std::iota(labels_.begin(), labels_.end(), 1u);
        }
    }

    // The last candidate with the seed's ids.
    std::size_t seed_place(std::size_t seed) const {
        const std::uint64_t seed_key = id_key(rec_[seed].EIC_ID, rec_[seed].Peak_ID);
        std::size_t place = 0;
        for (std::size_t c = 0; c < candidates_.size(); ++c)
            if (id_key(rec_[candidates_[c]].EIC_ID, rec_[candidates_[c]].Peak_ID) == seed_key) place = c;
        return place;
    }

    // Groups the first peak with the candidate's ids that was ungrouped when this group began.
    void assign_first_with_ids(std::size_t candidate, std::uint32_t g) {
        const std::uint64_t key = id_key(rec_[candidate].EIC_ID, rec_[candidate].Peak_ID);
        auto it = std::lower_bound(by_id_.begin(), by_id_.end(), key,
                                   [](const auto& e, std::uint64_t v) { return e.first < v; });
        while (it != by_id_.end() && it->first == key && rec_[it->second].Group_ID != 0 &&
               rec_[it->second].Group_ID != g)
            ++it;
        if (it == by_id_.end() || it->first != key) {
            std::cout << "Can't find the matched peak with the specific EIC_ID and Peak_ID" << std::endl;
            return;
        }
        assign(it->second, g);
    }

    void assign(std::size_t k, std::uint32_t g) {
        if (rec_[k].Group_ID == 0) grouped_now_.push_back(k);
        rec_[k].Group_ID = g;
    }

    Chromatogram_Peak_Group* const rec_;
    const std::size_t n_;
    const std::uint32_t shift_tol_;
    const double angle_tol_;
    std::vector<Profile> profiles_;
    std::vector<GroupProfile> prepared_;
    const std::vector<std::size_t> by_area_;
    const Apex_Index apex_;
    const Id_Index by_id_;
    std::vector<std::size_t> next_alive_;
    std::size_t front_ = 0, area_next_ = 0;
    // Scratch of one iteration, kept to reuse its memory.
    std::vector<std::size_t> candidates_, grouped_now_;
    std::vector<double> angle_list_;
    std::vector<cluster_node> tree_;
    std::vector<std::uint32_t> labels_;
};

}  // namespace

double vector_dot(std::vector<double> vec1, std::vector<double> vec2) {
    if (vec1.size() != vec2.size()) {
        std::cout << "For Dot product, vec1 and vec2 should have the same size!" << std::endl;
        return 0;
    }
    double dot = 0.0, aa = 0.0, bb = 0.0;
    for (std::size_t k = 0; k < vec1.size(); ++k) {
        dot += vec1[k] * vec2[k];
        aa += vec1[k] * vec1[k];
        bb += vec2[k] * vec2[k];
    }
    // A zero norm, also one that underflowed, has no direction: cosine 0.
    if (aa == 0 || bb == 0) return 0.0;
    return dot / (std::sqrt(bb) * std::sqrt(aa));
}

double calc_dotproduct_angle(Chromatogram_Peak_Group Peak1, Chromatogram_Peak_Group Peak2, std::int32_t Tol_Shift) {
    const Profile p1 = make_profile(Peak1.Peak_shape, Peak1.Left_Boundary, Peak1.Right_Boundary);
    const Profile p2 = make_profile(Peak2.Peak_shape, Peak2.Left_Boundary, Peak2.Right_Boundary);
    // Grouping's tolerance takes the one-pass form, so that every caller gets the same bits.
    if (Tol_Shift == kGroupShapeShift) return group_angle(p1, make_group_profile(p1), p2);
    return profile_angle(p1, p2, Tol_Shift);
}

double calc_dotproduct_angle(Chromatogram_Peak_Group Peak1, Chromatogram_Peak_Group_Compound Peak2,
                             std::int32_t Tol_Shift) {
    return calc_dotproduct_angle(std::move(Peak1), shape_only(Peak2), Tol_Shift);
}

double calc_dotproduct_angle(Chromatogram_Peak_Group_Compound Peak1, Chromatogram_Peak_Group Peak2,
                             std::int32_t Tol_Shift) {
    return calc_dotproduct_angle(std::move(Peak2), shape_only(Peak1), Tol_Shift);
}

double calc_dotproduct_angle(Chromatogram_Peak_Group_Compound Peak1, Chromatogram_Peak_Group_Compound Peak2,
                             std::int32_t Tol_Shift) {
    return calc_dotproduct_angle(shape_only(Peak1), shape_only(Peak2), Tol_Shift);
}

std::vector<Chromatogram_Peak_Group>::iterator get_matchedpeak_by_EIC_ID_Peak_ID(
    std::vector<Chromatogram_Peak_Group>::iterator It_Lower, std::vector<Chromatogram_Peak_Group>::iterator It_Upper,
    std::uint32_t EIC_ID, std::uint32_t Peak_ID) {
    return std::find_if(It_Lower, It_Upper, [&](const Chromatogram_Peak_Group& p) {
        return p.EIC_ID == EIC_ID && p.Peak_ID == Peak_ID;
    });
}

// The ungrouped peaks always keep their input order (every re-sort is stable), so a group's
// seed is the ungrouped peak first in descending-area order, its candidates come from an index by
// apex scan, and the groups need one stable sort at the very end.
void peak_group(std::vector<Chromatogram_Peak_Group>& peaklist_groupped, std::vector<Chromatogram_Peak> peaklist,
                std::uint32_t Group_Shift_Tol, double Group_Shape_Angle_Tol) {
    // 1. One record per peak, ungrouped. Records already in the output are left as they are.
    const std::size_t base = peaklist_groupped.size(), n = peaklist.size();
    append_ungrouped(peaklist_groupped, std::move(peaklist));
    // 2 to 5: the indexes, then one group per iteration until no peak is left ungrouped.
    const std::uint32_t g =
        Grouping(peaklist_groupped.data() + base, n, Group_Shift_Tol, Group_Shape_Angle_Tol).run();

    // 6. Groups in number order, each in input order; earlier records take part in the sort too.
    std::stable_sort(peaklist_groupped.begin(), peaklist_groupped.end(), Comp_Grouppeak_by_Group_ID);
    std::cout << "Peak Grouping Finished! Ttotally," << g - 1 << "Groups are Got!" << std::endl;
}
