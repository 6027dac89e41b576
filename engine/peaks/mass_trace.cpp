#include "engine/peaks/mass_trace.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <iostream>
#include <limits>
#include <queue>
#include <utility>

// How the order is kept. The traces form one sequence in ascending Cent_Mass in which a new or
// moved trace is placed before every trace of equal centre; downstream, a trace's position in it
// is its EIC_ID. Rather than walking a linked list from its head for every point, the sequence is
// held in blocks of a few dozen (centre, trace) entries with the last centre of every block in a
// separate array: finding the first centre at or above a bound is a search over block ends, most
// often a step or two from where the previous point's search ended, then one within a block; and
// inserting or erasing shifts at most one block. Appending a point usually moves the centre so
// little that the trace keeps its place; then only its key is rewritten.
//
// Merging works on the final sequence. Every neighbouring pair closer than the threshold sits in a
// priority queue ordered by (distance, position); a popped pair that is stale (a partner gone, or
// a centre changed since it was queued) is skipped. This merges the same pairs in the same order
// as rescanning the whole sequence for its closest pair after every merge.

namespace {

struct Order_Entry {
    double key;  // Cent_Mass
    std::uint32_t id;
};

double key_of(double v) { return v; }
double key_of(const Order_Entry& e) { return e.key; }

// Index of the first of a[0..n) whose key is not below x, for keys in ascending order. Written
// without a data-dependent branch: the comparisons are coin flips the predictor cannot learn.
template <typename T>
std::size_t first_not_below(const T* a, std::size_t n, double x) {
    if (n == 0) return 0;
    const T* base = a;
    while (n > 1) {
        const std::size_t half = n / 2;
        base = key_of(base[half - 1]) < x ? base + half : base;
        n -= half;
    }
    return static_cast<std::size_t>(base - a) + (key_of(*base) < x ? 1 : 0);
}

class Trace_Order {
public:
    struct Pos {
        std::size_t block = 0;
        std::size_t index = 0;
    };

    void assign(const std::vector<Order_Entry>& sorted) {
        blocks_.clear();
        last_.clear();
        for (std::size_t i = 0; i < sorted.size(); i += kBlock) {
            const std::size_t end = std::min(sorted.size(), i + kBlock);
            blocks_.emplace_back(sorted.begin() + i, sorted.begin() + end);
            blocks_.back().reserve(2 * kBlock + 1);
            last_.push_back(sorted[end - 1].key);
        }
    }

    bool at_end(const Pos& p) const { return p.block >= blocks_.size(); }
    Order_Entry& at(const Pos& p) { return blocks_[p.block][p.index]; }
    const Order_Entry& at(const Pos& p) const { return blocks_[p.block][p.index]; }

    void advance(Pos& p) const {
        if (++p.index == blocks_[p.block].size()) {
            ++p.block;
            p.index = 0;
        }
    }

    // First entry whose key is not below x (keys are never NaN).
    Pos lower_bound(double x) const { return lower_bound_from(x, 0); }

    // The same, searching forward from block `hint`: points of a scan usually come in ascending
    // m/z, so the answer for the next point is most often in the same block or the next one.
    Pos lower_bound_from(double x, std::size_t hint) const {
        const std::size_t n = blocks_.size();
        std::size_t b;
        if (hint == 0 || hint >= n || !(last_[hint - 1] < x)) {
            b = first_not_below(last_.data(), n, x);
        } else {
            b = hint;
            for (int steps = 0; b < n && last_[b] < x; ++b)
                if (++steps == 4) {
                    b += 1 + first_not_below(last_.data() + b + 1, n - b - 1, x);
                    break;
                }
        }
        if (b == n) return {n, 0};
        const auto& blk = blocks_[b];
        return {b, first_not_below(blk.data(), blk.size(), x)};
    }
    // Where the entry of trace `id` with key `key` sits: among equal keys, found by its id.
    Pos find(double key, std::uint32_t id, std::size_t hint) const {
        Pos p = lower_bound_from(key, hint);
        while (at(p).id != id) advance(p);
        return p;
    }

    const Order_Entry* before(const Pos& p) const {
        if (p.index > 0) return &blocks_[p.block][p.index - 1];
        if (p.block > 0) return &blocks_[p.block - 1].back();
        return nullptr;
    }
    const Order_Entry* after(const Pos& p) const {
        if (p.index + 1 < blocks_[p.block].size()) return &blocks_[p.block][p.index + 1];
        if (p.block + 1 < blocks_.size()) return &blocks_[p.block + 1].front();
        return nullptr;
    }

    void set_key(const Pos& p, double key) {
        blocks_[p.block][p.index].key = key;
        if (p.index + 1 == blocks_[p.block].size()) last_[p.block] = key;
    }

    // Inserts e before position p (p may be the end).
    void insert(Pos p, const Order_Entry& e) {
        if (blocks_.empty()) {
            blocks_.emplace_back();
            blocks_.back().reserve(2 * kBlock + 1);
            last_.push_back(e.key);
            p = {0, 0};
        } else if (p.block == blocks_.size()) {
            p = {blocks_.size() - 1, blocks_.back().size()};
        }
        auto& blk = blocks_[p.block];
        blk.insert(blk.begin() + static_cast<std::ptrdiff_t>(p.index), e);
        last_[p.block] = blk.back().key;
        if (blk.size() > 2 * kBlock) {
            std::vector<Order_Entry> upper(blk.begin() + kBlock, blk.end());
            upper.reserve(2 * kBlock + 1);
            blk.resize(kBlock);
            last_[p.block] = blk.back().key;
            const double upper_last = upper.back().key;
            blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(p.block) + 1, std::move(upper));
            last_.insert(last_.begin() + static_cast<std::ptrdiff_t>(p.block) + 1, upper_last);
        }
    }

    void erase(const Pos& p) {
        auto& blk = blocks_[p.block];
        blk.erase(blk.begin() + static_cast<std::ptrdiff_t>(p.index));
        if (blk.empty()) {
            blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(p.block));
            last_.erase(last_.begin() + static_cast<std::ptrdiff_t>(p.block));
            return;
        }
        last_[p.block] = blk.back().key;
        // Fold a thin block into its successor so that removals cannot leave a long run of
        // near-empty blocks behind.
        if (blk.size() < kBlock / 4 && p.block + 1 < blocks_.size() &&
            blk.size() + blocks_[p.block + 1].size() <= kBlock) {
            auto& next = blocks_[p.block + 1];
            next.insert(next.begin(), blk.begin(), blk.end());
            blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(p.block));
            last_.erase(last_.begin() + static_cast<std::ptrdiff_t>(p.block));
        }
    }

    template <typename F>
    void for_each(F&& f) const {
        for (const auto& blk : blocks_)
            for (const Order_Entry& e : blk) f(e);
    }

private:
    static constexpr std::size_t kBlock = 32;
    std::vector<std::vector<Order_Entry>> blocks_;
    std::vector<double> last_;  // key of the last entry of each block, ascending
};

// What scoring needs of a trace, kept apart from everything else so that a candidate costs one
// small read: the trace's last point and the log10 of its intensity. 32 bytes, two to a line.
struct alignas(32) Trace_Head {
    double last_mz = 0.0;
    double last_intensity = 0.0;
    double last_log = 0.0;  // log10(last_intensity) once log_known
    std::uint32_t last_scan = 0;
    bool log_known = false;
};

// The rest of a trace's bookkeeping, read when it is extended, found or dropped.
struct Trace_State {
    double cent = 0.0;  // Cent_Mass, mirrored from the order entry
    std::uint32_t last_scan_index = 0;  // position in the scan vector of the last point
    std::int32_t length = 0;
};

// Trace slots. Most traces are noise that never gets a second point, so a trace of one point
// keeps that point in its head alone and its point vector stays untouched until a second point
// arrives or the trace survives to the end.
class Trace_Pool {
public:
    explicit Trace_Pool(const std::vector<Spectrum_Scan>& scans) : scans_(&scans) {}

    std::uint32_t create(std::size_t scan_index, double mz, double intensity, double log_i, bool log_known) {
        std::uint32_t id;
        if (!free_.empty()) {
            id = free_.back();
            free_.pop_back();
        } else {
            id = static_cast<std::uint32_t>(heads.size());
            heads.emplace_back();
            states.emplace_back();
            shapes_.emplace_back();
        }
        Trace_Head& h = heads[id];
        h.last_mz = mz;
        h.last_intensity = intensity;
        h.last_log = log_i;
        h.log_known = log_known;
        h.last_scan = (*scans_)[scan_index].scan_num;
        Trace_State& t = states[id];
        t.cent = mz;
        t.last_scan_index = static_cast<std::uint32_t>(scan_index);
        t.length = 1;
        return id;
    }

    // Appends a point of a later scan; the caller updates centre and length.
    void append(std::uint32_t id, std::size_t scan_index, double mz, double intensity) {
        Trace_Head& h = heads[id];
        Trace_State& t = states[id];
        std::vector<Data_Point>& shape = shapes_[id];
        if (t.length == 1) shape.push_back(last_point(id));
        h.last_mz = mz;
        h.last_intensity = intensity;
        h.last_scan = (*scans_)[scan_index].scan_num;
        t.last_scan_index = static_cast<std::uint32_t>(scan_index);
        shape.push_back(last_point(id));
    }

    // Folds a second point of the same scan into the last point.
    void combine(std::uint32_t id, double mz, double intensity) {
        Trace_Head& h = heads[id];
        const double w = intensity / (h.last_intensity + intensity);
        h.last_mz = (1 - w) * h.last_mz + w * mz;
        h.last_intensity = h.last_intensity + intensity;
        h.log_known = false;
        if (states[id].length > 1) {
            shapes_[id].back().mz = h.last_mz;
            shapes_[id].back().intensity = h.last_intensity;
        }
    }

    std::vector<Data_Point> take_points(std::uint32_t id) {
        if (states[id].length == 1) return {last_point(id)};
        return std::move(shapes_[id]);
    }

    // Slots are reused, point buffers included, so that a new trace seldom costs an allocation.
    // Only short traces are ever dropped, so the buffers kept are small; a large one is given
    // back anyway.
    void release(std::uint32_t id) {
        if (states[id].length > 1) {
            if (shapes_[id].capacity() > kKeptPoints)
                std::vector<Data_Point>().swap(shapes_[id]);
            else
                shapes_[id].clear();
        }
        free_.push_back(id);
    }

    std::vector<Trace_Head> heads;
    std::vector<Trace_State> states;

private:
    Data_Point last_point(std::uint32_t id) const {
        Data_Point d;
        d.scan_num = heads[id].last_scan;
        d.retention_time = (*scans_)[states[id].last_scan_index].scan_acquisition_time;
        d.mz = heads[id].last_mz;
        d.intensity = heads[id].last_intensity;
        return d;
    }

    static constexpr std::size_t kKeptPoints = 16;
    const std::vector<Spectrum_Scan>* scans_;
    std::vector<std::vector<Data_Point>> shapes_;
    std::vector<std::uint32_t> free_;
};

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

}  // namespace

void mass_trace_merge(Mass_Trace& Merged_mass_trace, Mass_Trace Mass_Trace_Left, Mass_Trace Mass_Trace_Right) {
    merge_shapes(Mass_Trace_Left.EIC_shape, Mass_Trace_Right.EIC_shape, Merged_mass_trace);
}

void mass_trace_extraction(std::list<Mass_Trace>& mass_trace_list, std::vector<Spectrum_Scan> spectrum_arry,
                           double ppm_th, std::int32_t minimum_eic_num, std::int32_t misscount_th,
                           double inter_trace_dist_th) {
    mass_trace_list.clear();
    const std::size_t n_scans = spectrum_arry.size();
    if (n_scans == 0) {
        std::cout << "Mass trace Extraction Finished!" << std::endl;
        return;
    }

    Trace_Pool pool(spectrum_arry);
    Trace_Order order;
    // Traces that removal may still take: once longer than minimum_eic_num a trace stays forever.
    Idle_Schedule idle(spectrum_arry, misscount_th);
    const auto note_if_short = [&](std::uint32_t id, std::size_t scan_index) {
        if (pool.states[id].length <= minimum_eic_num) idle.add(id, scan_index);
    };
    const auto points_of = [](const Spectrum_Scan& s) {
        return std::min(s.mass_values.size(), s.intensity_values.size());
    };
    // Scans are consumed front to back; their points then live in the traces, so each scan's
    // arrays are given back as soon as it is done.
    const auto release_scan = [](Spectrum_Scan& s) {
        std::vector<float>().swap(s.mass_values);
        std::vector<float>().swap(s.intensity_values);
    };

    // 1. Seeding: one trace per point of the first scan, stably sorted by centre. A point whose
    // m/z is not a number has no place in an order by m/z and is skipped, here and below.
    {
        const Spectrum_Scan& scan = spectrum_arry[0];
#if KORVANE_WORKBENCH
        std::cout << "Mass Trace Extraction, scan=" << scan.scan_num << std::endl;
#endif
        std::vector<Order_Entry> seeds;
        for (std::size_t k = 0, np = points_of(scan); k < np; ++k) {
            const double p = scan.mass_values[k];
            if (std::isnan(p)) continue;
            const std::uint32_t id = pool.create(0, p, scan.intensity_values[k], 0.0, false);
            seeds.push_back({p, id});
        }
        std::stable_sort(seeds.begin(), seeds.end(),
                         [](const Order_Entry& a, const Order_Entry& b) { return a.key < b.key; });
        order.assign(seeds);
        for (const Order_Entry& e : seeds) note_if_short(e.id, 0);
        release_scan(spectrum_arry[0]);
    }

    const double r = ppm_th / 1000000;

    // 2. One pass per following scan.
    for (std::size_t s = 1; s < n_scans; ++s) {
        Spectrum_Scan& scan = spectrum_arry[s];
        const std::uint32_t sp = scan.scan_num;
#if KORVANE_WORKBENCH
        std::cout << "Mass Trace Extraction, scan=" << sp << std::endl;
#endif
        // The miss count is not stored: raised by every scan-number step and zeroed on every
        // append, it always equals (current scan number - scan number of the last point), taken
        // modulo 2^32 as the running sum would wrap.

        std::size_t hint = 0;
        for (std::size_t k = 0, np = points_of(scan); k < np; ++k) {
            const double p = scan.mass_values[k];
            const double I = scan.intensity_values[k];
            if (std::isnan(p)) continue;

            // 2.1 Window and scores. Among equal scores the first candidate in order wins.
            const double lower = (1 - r) * p;
            const double upper = (r + 1) * p;
            double best = DBL_MAX;
            Trace_Order::Pos best_pos;
            bool found = false;
            double log_i = 0.0;
            bool log_i_known = false;
            Trace_Order::Pos window;
            bool window_empty = true;
            if (lower <= upper) {
                window = order.lower_bound_from(lower, hint);
                hint = window.block;
                for (Trace_Order::Pos q = window; !order.at_end(q) && order.at(q).key <= upper; order.advance(q)) {
                    window_empty = false;
                    Trace_Head& h = pool.heads[order.at(q).id];
                    if (!log_i_known) log_i = std::log10(I), log_i_known = true;
                    if (!h.log_known) h.last_log = std::log10(h.last_intensity), h.log_known = true;
                    const double cost = 0.3 * std::fabs(log_i - h.last_log) +
                                        0.2 * (2000000 * std::fabs(p - h.last_mz) / (h.last_mz + p)) +
                                        0.5 * (sp - h.last_scan);
                    if (cost < best) {
                        best = cost;
                        best_pos = q;
                        found = true;
                    }
                }
            }

            // 2.2 No candidate with a finite score: a new trace at the point's sorted place.
            if (!found) {
                const std::uint32_t id = pool.create(s, p, I, log_i, log_i_known);
                // With nothing in [lower, upper] the window starts where p belongs.
                order.insert(window_empty && lower <= upper ? window : order.lower_bound_from(p, hint), {p, id});
                note_if_short(id, s);
                continue;
            }

            // 2.3 Extend the chosen trace.
            const std::uint32_t id = order.at(best_pos).id;
            Trace_Head& h = pool.heads[id];
            Trace_State& t = pool.states[id];
            double cent = t.cent;
            if (h.last_scan < sp) {
                cent = (t.length * t.cent + p) / (t.length + 1);
                pool.append(id, s, p, I);
                t.length = t.length + 1;
                h.last_log = log_i;
                h.log_known = true;
            } else if (h.last_scan == sp) {
                pool.combine(id, p, I);
            } else {
                std::cout << "The scan number of new data point is smaller than the last data point of the mass "
                             "trace!, pls check"
                          << std::endl;
                continue;
            }

            // 2.4 Re-place the trace before the first other trace whose centre is not smaller. It
            // stays where it is when its neighbours still bracket the centre: strictly above the
            // one before it, not above the one after.
            t.cent = cent;
            const Order_Entry* before = order.before(best_pos);
            const Order_Entry* after = order.after(best_pos);
            if ((before == nullptr || before->key < cent) && (after == nullptr || !(after->key < cent))) {
                order.set_key(best_pos, cent);
            } else {
                order.erase(best_pos);
                order.insert(order.lower_bound(cent), {cent, id});
            }
        }

        // 2.5 Drop short traces that have been idle too long, and every short trace at the end.
        hint = 0;
        idle.after_scan(s, sp, s + 1 == n_scans, pool, minimum_eic_num, [&](std::uint32_t id) {
            const Trace_Order::Pos at = order.find(pool.states[id].cent, id, hint);
            hint = at.block;
            order.erase(at);
            pool.release(id);
        });
        release_scan(scan);
    }

    // 3. The sequence as records, then merging of close neighbours.
    const std::uint32_t final_scan = spectrum_arry[n_scans - 1].scan_num;
    std::vector<Mass_Trace> traces;
    traces.reserve(pool.heads.size());
    order.for_each([&](const Order_Entry& e) {
        Mass_Trace t;
        t.Cent_Mass = e.key;
        t.trace_length = pool.states[e.id].length;
        t.miss_count = static_cast<std::int32_t>(final_scan - pool.heads[e.id].last_scan);
        t.EIC_shape = pool.take_points(e.id);
        traces.push_back(std::move(t));
    });
    pool = Trace_Pool(spectrum_arry);
    order = Trace_Order();

    std::vector<bool> alive;
    merge_close_traces(traces, inter_trace_dist_th, alive);
    for (std::size_t i = 0; i < traces.size(); ++i)
        if (alive[i]) mass_trace_list.push_back(std::move(traces[i]));

    std::cout << "Mass trace Extraction Finished!" << std::endl;
}
