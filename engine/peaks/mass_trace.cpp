#include "engine/peaks/mass_trace.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <limits>
#include <list>
#include <queue>
#include <utility>
#include <vector>

#include "engine/peaks/internal/trace_index.h"
#include "engine/records/variant.h"

// Extraction (below) reads the scans once, giving each point to the best trace of an ordered index
// (trace_order.h, trace_index.h) or starting a new one, and drops short idle traces as it goes.
//
// Merging works on the final sequence. Every neighbouring pair closer than the threshold sits in a
// priority queue ordered by (distance, position); a popped pair that is stale (a partner gone, or
// a centre changed since it was queued) is skipped. This merges the same pairs in the same order
// as rescanning the whole sequence for its closest pair after every merge.

namespace {

using namespace korvane::mass_traces;

constexpr double kPerMillion = 1000000;  // ppm_th is in parts per million

// Which short traces to drop after each scan: those idle for misscount_th scan numbers or more,
// and at the last scan all of them. The idle count is (scan number - scan number of the trace's
// last point) taken modulo 2^32, as the running sum of scan-number steps would give it.
//
// When scan numbers never decrease and span less than 2^31, that count only grows, so a trace can
// wait in the bucket of the first scan at which it could be due and is looked at only then (and
// re-filed if it was extended meanwhile). Otherwise every short trace is checked after every scan.
class Idle_Schedule {
public:
    Idle_Schedule(const std::vector<Spectrum_Scan>& scans, std::int32_t misscount_th) : misscount_th_(misscount_th) {
        const std::size_t n = scans.size();
        ordered_ = n > 0 && scans[n - 1].scan_num - scans[0].scan_num <= 0x7fffffffu;
        for (std::size_t s = 1; ordered_ && s < n; ++s) ordered_ = scans[s - 1].scan_num <= scans[s].scan_num;
        if (!ordered_) return;
        // due_[j]: the first scan (from 1 on, removal never runs after the first scan) at which
        // a trace whose last point came from scan j is idle misscount_th or more; n for never.
        due_.resize(n);
        std::size_t q = 1;
        for (std::size_t j = 0; j < n; ++j) {
            const std::int64_t target = static_cast<std::int64_t>(scans[j].scan_num) + misscount_th;
            q = std::max(q, std::max<std::size_t>(j, 1));
            while (q < n && static_cast<std::int64_t>(scans[q].scan_num) < target) ++q;
            due_[j] = static_cast<std::uint32_t>(q);
        }
        buckets_.resize(n + 1);
    }

    void add(std::uint32_t id, std::size_t scan_index) {
        if (ordered_)
            buckets_[due_[scan_index]].push_back(id);
        else
            all_.push_back(id);
    }

    // Calls drop(id) for every trace to remove after scan s.
    template <typename Drop>
    void after_scan(std::size_t s, std::uint32_t scan_num, bool last, const Trace_Pool& pool,
                    std::int32_t minimum_eic_num, Drop&& drop) {
        if (!ordered_) {
            std::size_t kept = 0;
            for (const std::uint32_t id : all_) {
                if (pool.states[id].length > minimum_eic_num) continue;  // long for good
                const auto miss = static_cast<std::int32_t>(scan_num - pool.heads[id].last_scan);
                if (miss >= misscount_th_ || last) {
                    drop(id);
                    continue;
                }
                all_[kept++] = id;
            }
            all_.resize(kept);
            return;
        }
        const std::size_t end = last ? buckets_.size() : s + 1;
        for (std::size_t b = s; b < end; ++b) {
            std::vector<std::uint32_t> waiting;
            waiting.swap(buckets_[b]);
            for (const std::uint32_t id : waiting) {
                const Trace_State& t = pool.states[id];
                if (t.length > minimum_eic_num) continue;
                const std::uint32_t due = due_[t.last_scan_index];
                if (last || due <= s)
                    drop(id);
                else
                    buckets_[due].push_back(id);
            }
        }
    }

private:
    std::int32_t misscount_th_;
    bool ordered_ = false;
    std::vector<std::uint32_t> due_;
    std::vector<std::vector<std::uint32_t>> buckets_;
    std::vector<std::uint32_t> all_;
};

// Union of two scan-ordered point sequences. Points of one scan number are combined into one: the
// left trace's point (else the right's) gives scan and time, intensities are summed and the m/z is
// their intensity-weighted mean, or the plain mean where the intensities sum to zero.
void merge_shapes(const std::vector<Data_Point>& left, const std::vector<Data_Point>& right, Mass_Trace& out) {
    std::vector<Data_Point> merged;
    merged.reserve(left.size() + right.size());
    std::size_t i = 0, j = 0;
    while (i < left.size() || j < right.size()) {
        std::uint32_t scan;
        if (j == right.size())
            scan = left[i].scan_num;
        else if (i == left.size())
            scan = right[j].scan_num;
        else
            scan = std::min(left[i].scan_num, right[j].scan_num);
        Data_Point u = (i < left.size() && left[i].scan_num == scan) ? left[i] : right[j];
        double sum_i = 0.0, sum_mi = 0.0, sum_m = 0.0;
        int count = 0;
        for (; i < left.size() && left[i].scan_num == scan; ++i, ++count)
            sum_i += left[i].intensity, sum_mi += left[i].mz * left[i].intensity, sum_m += left[i].mz;
        for (; j < right.size() && right[j].scan_num == scan; ++j, ++count)
            sum_i += right[j].intensity, sum_mi += right[j].mz * right[j].intensity, sum_m += right[j].mz;
        u.intensity = sum_i;
        u.mz = sum_i == 0 ? sum_m / count : sum_mi / sum_i;
        merged.push_back(u);
    }

    double sum_i = 0.0, sum_mi = 0.0, sum_m = 0.0;
    for (const Data_Point& d : left) sum_i += d.intensity, sum_mi += d.mz * d.intensity, sum_m += d.mz;
    for (const Data_Point& d : right) sum_i += d.intensity, sum_mi += d.mz * d.intensity, sum_m += d.mz;
    const std::size_t count = left.size() + right.size();
    if (count == 0)
        out.Cent_Mass = 0.0;
    else
        out.Cent_Mass = sum_i == 0 ? sum_m / static_cast<int>(count) : sum_mi / sum_i;
    out.trace_length = static_cast<std::int32_t>(merged.size());
    out.miss_count = 0;
    out.EIC_shape = std::move(merged);
}

// Step 3: merges closest neighbours below the threshold until none is left, in the order a full
// rescan after every merge would pick them: smallest distance first, the earlier pair on a tie.
void merge_close_traces(std::vector<Mass_Trace>& traces, double threshold, std::vector<bool>& alive) {
    const std::size_t n = traces.size();
    alive.assign(n, true);
    if (n < 2 || !(threshold > 0)) return;
    constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    std::vector<std::size_t> prev(n), next(n);
    for (std::size_t i = 0; i < n; ++i) {
        prev[i] = i == 0 ? kNone : i - 1;
        next[i] = i + 1 == n ? kNone : i + 1;
    }
    struct Pair {
        double dist;
        std::size_t left;
        std::size_t right;
    };
    const auto later = [](const Pair& a, const Pair& b) {
        return a.dist > b.dist || (a.dist == b.dist && a.left > b.left);
    };
    std::priority_queue<Pair, std::vector<Pair>, decltype(later)> queue(later);
    const auto offer = [&](std::size_t a, std::size_t b) {
        if (a == kNone || b == kNone) return;
        const double dist = std::fabs(traces[b].Cent_Mass - traces[a].Cent_Mass);
        if (dist < threshold) queue.push({dist, a, b});
    };
    for (std::size_t i = 0; i + 1 < n; ++i) offer(i, i + 1);

    while (!queue.empty()) {
        const Pair top = queue.top();
        queue.pop();
        // Stale: the right partner was merged away, or a centre moved since this was queued (a
        // moved centre re-queues its pairs; an unchanged distance means the entry is still true).
        if (!alive[top.left] || !alive[top.right] || next[top.left] != top.right ||
            !(std::fabs(traces[top.right].Cent_Mass - traces[top.left].Cent_Mass) == top.dist))
            continue;
        Mass_Trace merged;
        merge_shapes(traces[top.left].EIC_shape, traces[top.right].EIC_shape, merged);
        traces[top.left] = std::move(merged);
        alive[top.right] = false;
        std::vector<Data_Point>().swap(traces[top.right].EIC_shape);
        next[top.left] = next[top.right];
        if (next[top.right] != kNone) prev[next[top.right]] = top.left;
        offer(prev[top.left], top.left);
        offer(top.left, next[top.left]);
    }
}


void print_out_of_order() {
    std::cout << "The scan number of new data point is smaller than the last data point of the mass trace!, pls check"
              << std::endl;
}

std::size_t points_of(const Spectrum_Scan& s) { return std::min(s.mass_values.size(), s.intensity_values.size()); }

// Scans are consumed front to back; their points then live in the traces, so each scan's arrays
// are given back as soon as it is done.
void release_scan(Spectrum_Scan& s) {
    std::vector<float>().swap(s.mass_values);
    std::vector<float>().swap(s.intensity_values);
}

// Steps 1 and 2: the scan passes, up to the finished (unmerged) traces in list order.
class Extraction {
public:
    Extraction(std::vector<Spectrum_Scan>& scans, double ppm_th, std::int32_t minimum_eic_num,
               std::int32_t misscount_th)
        : scans_(scans), r_(ppm_th / kPerMillion), minimum_eic_num_(minimum_eic_num), pool_(scans), index_(pool_),
          idle_(scans, misscount_th) {}

    std::vector<Mass_Trace> run() {
        seed();
        for (std::size_t s = 1; s < scans_.size(); ++s) scan_pass(s);
        return finished_traces();
    }

private:
    // Traces that removal may still take: once longer than minimum_eic_num a trace stays forever.
    void note_if_short(std::uint32_t id, std::size_t scan_index) {
        if (pool_.states[id].length <= minimum_eic_num_) idle_.add(id, scan_index);
    }

    // 1. Seeding: one trace per point of the first scan, stably sorted by centre. A point whose
    // m/z is not a number has no place in an order by m/z and is skipped, here and below.
    void seed() {
        const Spectrum_Scan& scan = scans_[0];
        korvane::variant::mass_trace_scan_started(scan.scan_num);
        std::vector<Order_Entry> seeds;
        for (std::size_t k = 0, np = points_of(scan); k < np; ++k) {
            const double p = scan.mass_values[k];
            if (std::isnan(p)) continue;
            const std::uint32_t id = pool_.create(0, p, scan.intensity_values[k], 0.0, false);
            seeds.push_back({p, id, 0});
            note_if_short(id, 0);
        }
        index_.seed(std::move(seeds));
        release_scan(scans_[0]);
    }

    // 2. One pass per following scan. The miss count is not stored: raised by every scan-number
    // step and zeroed on every append, it always equals (current scan number - scan number of the
    // last point), taken modulo 2^32 as the running sum would wrap.
    void scan_pass(std::size_t s) {
        Spectrum_Scan& scan = scans_[s];
        korvane::variant::mass_trace_scan_started(scan.scan_num);
        // 2.1 to 2.3 (add_point): every point joins the best trace of its window or starts one.
        Trace_Order::Pos hint{0, 0};
        for (std::size_t k = 0, np = points_of(scan); k < np; ++k) {
            const double p = scan.mass_values[k];
            if (!std::isnan(p)) add_point(s, p, scan.intensity_values[k], hint);
        }

        // 2.4 Drop short traces that have been idle too long, and every short trace at the end.
        dropped_.clear();
        idle_.after_scan(s, scan.scan_num, s + 1 == scans_.size(), pool_, minimum_eic_num_,
                         [&](std::uint32_t id) { dropped_.push_back(id); });
        index_.remove_all(dropped_);
        for (const std::uint32_t id : dropped_) pool_.release(id);
        release_scan(scan);
    }

    void add_point(std::size_t s, double p, double I, Trace_Order::Pos& hint) {
        const std::uint32_t sp = scans_[s].scan_num;
        // 2.1 Window and scores.
        Candidate best;
        Point_Score score{p, I, sp};
        const double lower = (1 - r_) * p;
        const double upper = (r_ + 1) * p;
        const bool searched = lower <= upper;
        if (searched) index_.best_for(score, lower, upper, hint, best);

        // 2.2 No candidate with a finite score: a new trace at the point's sorted place (with
        // nothing in [lower, upper], where the window begins).
        if (!best.found) {
            const std::uint32_t id = pool_.create(s, p, I, score.log_i, score.log_known);
            pool_.states[id].stamp = index_.next_stamp();
            if (searched && best.window_empty)
                index_.place_at_window(id, best);
            else
                index_.place(id, hint);
            note_if_short(id, s);
            return;
        }

        // 2.3 Extend the chosen trace, then re-place it before the first other trace whose centre
        // is not smaller.
        Trace_Head& h = pool_.heads[best.id];
        Trace_State& t = pool_.states[best.id];
        if (h.last_scan > sp) return print_out_of_order();
        if (best.grouped) index_.leave_group(best.id, hint);
        if (h.last_scan < sp) {
            t.cent = (t.length * t.cent + p) / (t.length + 1);
            pool_.append(best.id, s, p, I);
            t.length = t.length + 1;
            h.last_log = score.log_i;
            h.log_known = true;
        } else {
            pool_.combine(best.id, p, I);
        }
        index_.settle(best, hint);
    }

    std::vector<Mass_Trace> finished_traces() {
        const std::uint32_t final_scan = scans_.back().scan_num;
        std::vector<Mass_Trace> traces;
        index_.for_each_in_order([&](std::uint32_t id) {
            Mass_Trace t;
            t.Cent_Mass = pool_.states[id].cent;
            t.trace_length = pool_.states[id].length;
            t.miss_count = static_cast<std::int32_t>(final_scan - pool_.heads[id].last_scan);
            t.EIC_shape = pool_.take_points(id);
            traces.push_back(std::move(t));
        });
        return traces;
    }

    std::vector<Spectrum_Scan>& scans_;
    const double r_;
    const std::int32_t minimum_eic_num_;
    Trace_Pool pool_;
    Trace_Index index_;
    Idle_Schedule idle_;
    std::vector<std::uint32_t> dropped_;
};

}  // namespace

void mass_trace_merge(Mass_Trace& Merged_mass_trace, Mass_Trace Mass_Trace_Left, Mass_Trace Mass_Trace_Right) {
    merge_shapes(Mass_Trace_Left.EIC_shape, Mass_Trace_Right.EIC_shape, Merged_mass_trace);
}

void mass_trace_extraction(std::list<Mass_Trace>& mass_trace_list, std::vector<Spectrum_Scan> spectrum_arry,
                           double ppm_th, std::int32_t minimum_eic_num, std::int32_t misscount_th,
                           double inter_trace_dist_th) {
    mass_trace_list.clear();
    if (!spectrum_arry.empty()) {
        // The index and the trace slots are gone before merging starts.
        std::vector<Mass_Trace> traces =
            Extraction(spectrum_arry, ppm_th, minimum_eic_num, misscount_th).run();
        // 3. Merging of close neighbours.
        std::vector<bool> alive;
        merge_close_traces(traces, inter_trace_dist_th, alive);
        for (std::size_t i = 0; i < traces.size(); ++i)
            if (alive[i]) mass_trace_list.push_back(std::move(traces[i]));
    }
    std::cout << "Mass trace Extraction Finished!" << std::endl;
}
