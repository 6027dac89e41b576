#include "engine/annotation/grouping.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iostream>
#include <memory>
#include <numeric>
#include <utility>

#include "engine/annotation/clustering.h"
#include "engine/annotation/shape_angle.h"
#include "engine/records/variant.h"

namespace {

using korvane::detail::GroupProfile;
using korvane::detail::Profile;
using korvane::detail::group_angle;
using korvane::detail::make_group_profile;
using korvane::detail::make_profile;

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
