#include "engine/annotation/alignment.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>

#include "engine/annotation/adduct_annotation.h"
#include "engine/records/variant.h"

namespace {

using Align_Row = Chromatogram_Peak_Group_Compound_Align;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Re-sorting the whole list after every cycle (as the method is usually written) costs
// O(rows log rows) per feature and copies shapes in every comparison. The rows' relative order is
// what that re-sort keeps, so it is tracked instead:
//  - unaligned rows stand in the order of a sequence number; a row sent back from a feature goes
//    behind every other unaligned row, so it gets a new, larger number;
//  - the founding row is the first (by sequence) of the unaligned rows of largest intensity: an
//    index by descending intensity, read by a cursor that only moves forward, because a row sent
//    back was unaligned when its cycle began and so is never more intense than the current founder;
//  - rows within a mass tolerance are found by binary search in an index by mass;
//  - the kept rows of every feature are noted in order, and the list is arranged once at the end.
class Aligner {
public:
    Aligner(std::vector<Align_Row>& rows, Compound_Align_Mode mode, double mass_tol, double window1,
            double window2)
        : rows_(rows), two_phase_(mode != One_Phase_Align), mass_tol_(mass_tol), window1_(window1),
          window_(mode == One_Phase_Align ? window1 : window2) {}

    std::uint32_t run() {
        build_indexes();
        std::uint32_t id = 1;
        std::vector<std::size_t> found;
        while (unaligned_ > 0) {
            const std::size_t founder = choose_founder();
            if (founder == kNone || !(rows_[founder].Compound_Intensity > 0)) break;
            double ref_rt = 0.0;
            if (!match_around(founder, ref_rt, found)) {
                // It can match nothing, not even itself (a mass or time that is not finite, no
                // compound, a negative tolerance or window): it stays unaligned, and the next most
                // intense row founds the feature instead of the work ending here.
                queue_.pop_front();
                continue;
            }
            // Said once the founder is known to found feature id, so that a skipped founder does not
            // announce the same id twice.
            korvane::variant::alignment_feature_started(id, unaligned_, rows_[founder].Compound_Intensity);
            make_feature(id, ref_rt, found);
            ++id;
        }
        arrange();
        return id - 1;
    }

private:
    void build_indexes() {
        const std::size_t n = rows_.size();
        std::vector<std::size_t> order(n);
        for (std::size_t i = 0; i < n; ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return rows_[a].Align_ID < rows_[b].Align_ID; });

        seq_.assign(n, 0);
        group_of_.assign(n, 0);
        for (std::size_t r : order) {
            if (rows_[r].Align_ID != 0) {
                already_aligned_.push_back(r);
                continue;
            }
            seq_[r] = seq_order_.size();
            seq_order_.push_back(r);
        }
        unaligned_ = seq_order_.size();

        // Intensity index: descending, ties in sequence order. A NaN intensity is not greater
        // than 0, so such a row never founds a feature (it may still join one).
        for (std::size_t r : seq_order_)
            if (!std::isnan(rows_[r].Compound_Intensity)) by_intensity_.push_back(r);
        std::stable_sort(by_intensity_.begin(), by_intensity_.end(), [&](std::size_t a, std::size_t b) {
            return rows_[a].Compound_Intensity > rows_[b].Compound_Intensity;
        });
        for (std::size_t k = 0; k < by_intensity_.size(); ++k) {
            if (k == 0 || rows_[by_intensity_[k]].Compound_Intensity !=
                              rows_[by_intensity_[k - 1]].Compound_Intensity)
                group_start_.push_back(k);
            group_of_[by_intensity_[k]] = group_start_.size() - 1;
        }
        group_start_.push_back(by_intensity_.size());

        // Mass index over the rows that can ever match. (m - ref) rounds monotonically in m, so
        // the rows with |m - ref| <= tol form one run of the finite masses; infinite masses are
        // kept apart, where that run could break.
        for (std::size_t r : seq_order_) {
            const Align_Row& row = rows_[r];
            if (row.Compound_ID == 0 || std::isnan(row.Compound_MolecularMass)) continue;
            (std::isfinite(row.Compound_MolecularMass) ? by_mass_ : infinite_mass_).push_back(r);
        }
        std::stable_sort(by_mass_.begin(), by_mass_.end(), [&](std::size_t a, std::size_t b) {
            return rows_[a].Compound_MolecularMass < rows_[b].Compound_MolecularMass;
        });
        mass_key_.reserve(by_mass_.size());
        for (std::size_t r : by_mass_) mass_key_.push_back(rows_[r].Compound_MolecularMass);

        // Samples numbered densely for the per-cycle nearest-distance table.
        std::vector<std::uint32_t> ids;
        ids.reserve(n);
        for (const Align_Row& row : rows_) ids.push_back(row.SAMPLE_ID);
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        sample_slot_.resize(n);
        for (std::size_t r = 0; r < n; ++r)
            sample_slot_[r] = static_cast<std::size_t>(
                std::lower_bound(ids.begin(), ids.end(), rows_[r].SAMPLE_ID) - ids.begin());
        nearest_.assign(ids.size(), 0.0);
        has_nearest_.assign(ids.size(), 0);
    }

    bool unaligned(std::size_t r) const { return rows_[r].Align_ID == 0; }

    // The rows of the founder's feature and its reference time; false when the pass takes none.
    bool match_around(std::size_t founder, double& ref_rt, std::vector<std::size_t>& found) {
        ref_rt = rows_[founder].Compound_Retention_Time;
        double ref_mass = rows_[founder].Compound_MolecularMass;
        if (two_phase_) {
            // With nothing collected (negative tolerance or window) the founder's own reference
            // stands.
            find_in_window(ref_rt, ref_mass, window1_ * 0.5, found);
            if (!found.empty()) recentre(found, ref_rt, ref_mass);
        }
        find_in_window(ref_rt, ref_mass, window_ * 0.5, found);
        if (!found.empty()) return true;
        // A pass that takes no row would repeat unchanged for ever (two-phase medians with nothing
        // within the second window): match around the founder itself instead.
        ref_rt = rows_[founder].Compound_Retention_Time;
        ref_mass = rows_[founder].Compound_MolecularMass;
        find_in_window(ref_rt, ref_mass, window_ * 0.5, found);
        return !found.empty();
    }

    // The first (by sequence) of the most intense unaligned rows; it stays at the front of queue_.
    std::size_t choose_founder() {
        for (;;) {
            while (!queue_.empty()) {
                const auto [r, s] = queue_.front();
                if (unaligned(r) && seq_[r] == s) return r;
                queue_.pop_front();
            }
            // Every row of the current intensity is aligned for good: move to the next intensity,
            // its unaligned rows in their present sequence order.
            if (++group_ >= group_start_.size() - 1) return kNone;
            std::vector<std::pair<std::size_t, std::size_t>> members;
            for (std::size_t k = group_start_[group_]; k < group_start_[group_ + 1]; ++k) {
                const std::size_t r = by_intensity_[k];
                if (unaligned(r)) members.emplace_back(seq_[r], r);
            }
            std::sort(members.begin(), members.end());
            for (const auto& [s, r] : members) queue_.emplace_back(r, s);
        }
    }

    bool matches(const Align_Row& row, double ref_rt, double ref_mass, double half_window) const {
        return std::fabs(row.Compound_MolecularMass - ref_mass) <= mass_tol_ &&
               std::fabs(row.Compound_Retention_Time - ref_rt) <= half_window;
    }

    // The unaligned rows with Compound_ID > 0 within mass_tol_ and half_window of the reference.
    void find_in_window(double ref_rt, double ref_mass, double half_window, std::vector<std::size_t>& out) {
        out.clear();
        // Nothing is within any distance of a NaN; without this, a founder with a NaN time would
        // weigh every row of its mass only to be passed over.
        if (std::isnan(ref_rt) || std::isnan(ref_mass)) return;
        const double tol = mass_tol_;
        const auto lo = std::partition_point(mass_key_.begin(), mass_key_.end(),
                                             [&](double m) { return m - ref_mass < -tol; });
        const auto hi = std::partition_point(lo, mass_key_.end(), [&](double m) { return m - ref_mass <= tol; });
        std::size_t dead = 0;
        for (auto it = lo; it != hi; ++it) {
            const std::size_t r = by_mass_[it - mass_key_.begin()];
            if (!unaligned(r)) {
                ++dead;
                continue;
            }
            if (matches(rows_[r], ref_rt, ref_mass, half_window)) out.push_back(r);
        }
        for (std::size_t r : infinite_mass_)
            if (unaligned(r) && matches(rows_[r], ref_rt, ref_mass, half_window)) out.push_back(r);
        // Aligned rows stay in the index until enough of them are passed over to pay for a sweep.
        dead_seen_ += dead;
        if (dead_seen_ > 2 * by_mass_.size() + 1024) sweep_mass_index();
    }

    void sweep_mass_index() {
        std::size_t w = 0;
        for (std::size_t k = 0; k < by_mass_.size(); ++k) {
            const std::size_t r = by_mass_[k];
            // A row can come back from a feature only while its cycle runs; between cycles an
            // aligned row is aligned for good.
            if (!unaligned(r)) continue;
            by_mass_[w] = r;
            mass_key_[w] = mass_key_[k];
            ++w;
        }
        by_mass_.resize(w);
        mass_key_.resize(w);
        dead_seen_ = 0;
    }

    void recentre(const std::vector<std::size_t>& found, double& ref_rt, double& ref_mass) {
        rt_values_.clear();
        mass_values_.clear();
        for (std::size_t r : found) {
            rt_values_.push_back(rows_[r].Compound_Retention_Time);
            mass_values_.push_back(rows_[r].Compound_MolecularMass);
        }
        ref_rt = calc_median(rt_values_);
        ref_mass = calc_median(mass_values_);
    }

    void make_feature(std::uint32_t id, double ref_rt, std::vector<std::size_t>& found) {
        for (std::size_t r : found) {
            rows_[r].Align_ID = id;
            rows_[r].Align_RT = ref_rt;
            const double d = std::fabs(rows_[r].Compound_Retention_Time - ref_rt);
            const std::size_t slot = sample_slot_[r];
            if (!has_nearest_[slot]) {
                has_nearest_[slot] = 1;
                nearest_[slot] = d;
                touched_.push_back(slot);
            } else if (d < nearest_[slot]) {
                nearest_[slot] = d;
            }
        }
        unaligned_ -= found.size();

        // Keep the unaligned order among the feature's rows and among the rows sent back.
        std::sort(found.begin(), found.end(), [&](std::size_t a, std::size_t b) { return seq_[a] < seq_[b]; });
        for (std::size_t r : found) {
            const double d = std::fabs(rows_[r].Compound_Retention_Time - ref_rt);
            if (d > nearest_[sample_slot_[r]]) {
                rows_[r].Align_ID = 0;
                rows_[r].Align_RT = 0;
                seq_[r] = seq_order_.size();
                seq_order_.push_back(r);
                ++unaligned_;
                if (!std::isnan(rows_[r].Compound_Intensity) && group_of_[r] == group_)
                    queue_.emplace_back(r, seq_[r]);
            } else {
                feature_rows_.push_back(r);
            }
        }
        for (std::size_t slot : touched_) has_nearest_[slot] = 0;
        touched_.clear();
    }

    // One ordering at the end: unaligned rows in sequence order, then every feature's rows in the
    // order they were kept, then rows that came in aligned; stable by Align_ID.
    void arrange() {
        std::vector<std::size_t> order;
        order.reserve(rows_.size());
        for (std::size_t s = 0; s < seq_order_.size(); ++s) {
            const std::size_t r = seq_order_[s];
            if (unaligned(r) && seq_[r] == s) order.push_back(r);
        }
        order.insert(order.end(), feature_rows_.begin(), feature_rows_.end());
        order.insert(order.end(), already_aligned_.begin(), already_aligned_.end());
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return rows_[a].Align_ID < rows_[b].Align_ID; });
        std::vector<Align_Row> arranged;
        arranged.reserve(rows_.size());
        for (std::size_t r : order) arranged.push_back(std::move(rows_[r]));
        rows_.swap(arranged);
    }

    std::vector<Align_Row>& rows_;
    const bool two_phase_;
    const double mass_tol_, window1_, window_;

    std::vector<std::size_t> seq_;        // per row: its place in the unaligned order
    std::vector<std::size_t> seq_order_;  // sequence number -> row (stale entries skipped)
    std::size_t unaligned_ = 0;

    std::vector<std::size_t> by_intensity_;  // descending, ties in sequence order
    std::vector<std::size_t> group_start_;   // runs of equal intensity in by_intensity_
    std::vector<std::size_t> group_of_;
    std::size_t group_ = static_cast<std::size_t>(-1);
    std::deque<std::pair<std::size_t, std::size_t>> queue_;  // (row, sequence) of the current run

    std::vector<std::size_t> by_mass_, infinite_mass_;
    std::vector<double> mass_key_;
    std::size_t dead_seen_ = 0;

    std::vector<std::size_t> sample_slot_, touched_;
    std::vector<double> nearest_;
    std::vector<char> has_nearest_;

    std::vector<std::size_t> feature_rows_, already_aligned_;
    std::vector<double> rt_values_, mass_values_;
};

}  // namespace

void compound_align(Compound_Align_Mode Align_Mode, double Mass_Tol, double Align_Window1, double Align_Window2,
                    std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist_align) {
    Aligner aligner(peaklist_align, Align_Mode, Mass_Tol, Align_Window1, Align_Window2);
    const std::uint32_t features = aligner.run();
    korvane::variant::alignment_finished(features);
}
