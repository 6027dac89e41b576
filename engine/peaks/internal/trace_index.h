// The traces of mass trace extraction with what scoring a point against them needs (mass_trace.cpp
// is its only user).
//
// Traces that share a centre, the m/z and scan number of their last point, and whether that point
// can be scored at all, differ against any new point only in the intensity term of the score. Such
// traces share one entry (a group) that keeps them ordered by log10 of their last intensity, so a
// point finds the best of them by two searches instead of scoring each: many points of one m/z in
// one scan (a first scan seeding thousands of equal traces, or zero intensities that never join
// anything) would otherwise make every later point in that window cost the whole run. Since the
// stamps fix the order among equal centres, a group's members need not be adjacent in it.
#pragma once

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <limits>
#include <set>
#include <utility>
#include <vector>

#include "engine/peaks/internal/trace_order.h"
#include "engine/records/records.h"

namespace korvane::mass_traces {

constexpr std::uint32_t kNoGroup = std::numeric_limits<std::uint32_t>::max();

// What scoring needs of a trace, kept apart from everything else so that a candidate costs one
// small read: the trace's last point and the log10 of its intensity. 32 bytes, two to a line.
struct alignas(32) Trace_Head {
    double last_mz = 0.0;
    double last_intensity = 0.0;
    double last_log = 0.0;  // log10(last_intensity) once log_known
    std::uint32_t last_scan = 0;
    bool log_known = false;
};

// Whether a point of this intensity can be scored at all: log10 of zero, a negative, an infinite
// or a NaN intensity makes every score it takes part in infinite or not a number, so such a point
// never joins a trace and such a trace never takes a point.
inline bool scorable(double intensity) { return intensity > 0 && intensity <= DBL_MAX; }

// The rest of a trace's bookkeeping, read when it is extended, found or dropped.
struct Trace_State {
    double cent = 0.0;  // Cent_Mass, mirrored from the order entry
    std::uint64_t stamp = 0;  // when it was last placed; among equal centres the newest goes first
    std::uint32_t last_scan_index = 0;  // position in the scan vector of the last point
    std::int32_t length = 0;
    std::uint32_t group = kNoGroup;
};

// Trace slots. Most traces are noise that never gets a second point, so a trace of one point
// keeps that point in its head alone and its point vector stays untouched until a second point
// arrives or the trace survives to the end.
class Trace_Pool {
public:
    explicit Trace_Pool(const std::vector<Spectrum_Scan>& scans) : scans_(&scans) {}

    // Called for about every other point of a sample; GCC would keep it out of line.
    [[gnu::always_inline]] std::uint32_t create(std::size_t scan_index, double mz, double intensity, double log_i,
                                                bool log_known) {
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
        t.stamp = 0;
        t.group = kNoGroup;
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

// One trace of a group: ordered by the log10 of its last intensity, and among equal ones the newest
// first (newer = ~stamp), so the first member of a run of equal intensities is the one that comes
// first in the list.
struct Member {
    double log_intensity;
    std::uint64_t newer;
    std::uint32_t id;
};
struct Member_Less {
    bool operator()(const Member& a, const Member& b) const {
        return a.log_intensity < b.log_intensity || (a.log_intensity == b.log_intensity && a.newer < b.newer);
    }
};
using Member_Set = std::set<Member, Member_Less>;
constexpr std::uint64_t kOldest = std::numeric_limits<std::uint64_t>::max();

// What traces of one centre must share to share an entry: whether their last point can be scored,
// and if so its m/z and scan number (compared bit for bit, as the score sees them).
struct Signature {
    bool dead;
    std::uint64_t mz_bits;
    std::uint32_t scan;
    bool operator==(const Signature& o) const {
        return dead == o.dead && (dead || (mz_bits == o.mz_bits && scan == o.scan));
    }
};

struct Trace_Group {
    Signature sig{};
    double last_mz = 0.0;
    Member_Set members;  // dead groups file every member under log 0: only the stamps order them
};

// The weights of a point's cost against a trace's last point: the intensity difference in decades,
// the m/z difference in ppm of the pair's mean m/z (10^6 over half their sum), and the scans since
// the trace's last point.
constexpr double kIntensityWeight = 0.3;
constexpr double kMzWeight = 0.2;
constexpr double kScanWeight = 0.5;
constexpr double kPpmOfPairMean = 2000000;

// One point's side of the score. The terms are written as the whole cost is, so that a score
// assembled from them has the same bits.
struct Point_Score {
    double p;
    double intensity;
    std::uint32_t sp;
    double log_i = 0.0;
    bool log_known = false;  // log10 is costly and most points of a sample have no candidate

    void need_log() {
        if (!log_known) log_i = std::log10(intensity), log_known = true;
    }
    double mz_term(double last_mz) const {
        return kMzWeight * (kPpmOfPairMean * std::fabs(p - last_mz) / (last_mz + p));
    }
    // sp - last_scan is an unsigned 32-bit difference, widened afterwards.
    double scan_term(std::uint32_t last_scan) const { return kScanWeight * (sp - last_scan); }
    double cost(double last_log, double mz_t, double scan_t) const {
        return kIntensityWeight * std::fabs(log_i - last_log) + mz_t + scan_t;
    }
};

// The best trace so far for one point: the first in list order among the lowest scores. Entries
// are visited in ascending centre, so an equal score beats it only from the same centre and a
// newer trace.
struct Candidate {
    bool found = false;
    double cost = DBL_MAX;
    double key = 0.0;
    std::uint64_t stamp = 0;
    std::uint32_t id = 0;
    bool grouped = false;
    Trace_Order::Pos pos;
    Trace_Order::Pos window;   // first entry not below the window's lower bound
    bool window_empty = true;

    template <typename Stamp>
    bool beaten_by(double c, double k, Stamp&& stamp_of) const {
        return c < cost || (found && c == cost && k == key && stamp_of() > stamp);
    }
    void take(double c, double k, std::uint64_t s, std::uint32_t i, bool g, Trace_Order::Pos q) {
        found = true;
        cost = c;
        key = k;
        stamp = s;
        id = i;
        grouped = g;
        pos = q;
    }
};

// The ordered traces: single traces and groups as entries of one Trace_Order.
class Trace_Index {
public:
    explicit Trace_Index(Trace_Pool& pool) : pool_(pool) {}

    std::uint64_t next_stamp() { return ++stamp_; }

    // The traces of the first scan, one entry each in the scan's index order: the first gets the
    // newest stamp, as a stable sort by centre puts it first among equal centres.
    void seed(std::vector<Order_Entry> seeds) {
        const std::uint64_t n = seeds.size();
        for (std::uint64_t k = 0; k < n; ++k) pool_.states[seeds[k].ref].stamp = n - k;
        stamp_ = n;
        std::stable_sort(seeds.begin(), seeds.end(),
                         [](const Order_Entry& a, const Order_Entry& b) { return a.key < b.key; });
        std::vector<Order_Entry> entries;
        std::size_t run = 0;
        for (const Order_Entry& e : seeds) {
            if (entries.empty() || !(entries.back().key == e.key)) run = entries.size();
            std::size_t i = run;
            while (i < entries.size() && !(signature_of(entries[i]) == trace_signature(e.ref))) ++i;
            if (i < entries.size())
                join(entries[i], e.ref);
            else
                entries.push_back(e);
        }
        order_.assign(entries);
    }

    // The trace with centre in [lower, upper] that the point joins, if any scores finitely.
    void best_for(Point_Score& s, double lower, double upper, Trace_Order::Pos& hint, Candidate& best) {
        best.window = order_.lower_bound_from(lower, hint);
        hint = best.window;
        Trace_Order::Pos q = best.window;
        if (order_.at_end(q) || !(order_.at(q).key <= upper)) return;
        best.window_empty = false;
        s.need_log();
        for (; !order_.at_end(q) && order_.at(q).key <= upper; order_.advance(q)) {
            const Order_Entry& e = order_.at(q);
            if (e.is_group)
                offer_group(groups_[e.ref], e.key, s, q, best);
            else
                offer_trace(e.ref, e.key, s, q, best);
        }
    }

    // Files a new or changed trace under its centre: into the group of its signature when its
    // centre has one, else as an entry of its own at the front of that centre.
    void place(std::uint32_t id, Trace_Order::Pos hint) {
        const double cent = pool_.states[id].cent;
        const Signature sig = trace_signature(id);
        const Trace_Order::Pos front = order_.lower_bound_from(cent, hint);
        for (Trace_Order::Pos q = front; !order_.at_end(q) && order_.at(q).key == cent; order_.advance(q))
            if (signature_of(order_.at(q)) == sig) return join(order_.at(q), id);
        order_.insert(front, {cent, id, 0});
    }

    // A new trace whose window held no entry at all: nothing shares its centre, and its place is
    // where the window began.
    void place_at_window(std::uint32_t id, const Candidate& c) {
        order_.insert(c.window, {pool_.states[id].cent, id, 0});
    }

    // After the chosen trace took a point (a grouped one has left its group first): newest of
    // its centre now. A single trace whose neighbours still bracket its centre strictly keeps its
    // entry; only the key is rewritten.
    void settle(const Candidate& c, Trace_Order::Pos hint) {
        Trace_State& t = pool_.states[c.id];
        t.stamp = next_stamp();
        if (!c.grouped) {
            const Order_Entry* before = order_.before(c.pos);
            const Order_Entry* after = order_.after(c.pos);
            if ((before == nullptr || before->key < t.cent) && (after == nullptr || t.cent < after->key))
                return order_.set_key(c.pos, t.cent);
            order_.erase(c.pos);
        }
        place(c.id, hint);
    }

    void leave_group(std::uint32_t id, Trace_Order::Pos hint) {
        Trace_State& t = pool_.states[id];
        const std::uint32_t g = t.group;
        groups_[g].members.erase(member_of(g, id));
        t.group = kNoGroup;
        if (!groups_[g].members.empty()) return;
        order_.erase(order_.find(t.cent, g, 1, hint));
        free_groups_.push_back(g);
    }

    // Takes the traces out of the order. When they are a fair share of it, their entries are
    // marked and filtered out in one pass over the order, rather than each found and erased.
    void remove_all(const std::vector<std::uint32_t>& ids) {
        Trace_Order::Pos hint{0, 0};
        if (ids.size() * kOnePassShare < order_.size()) {
            for (const std::uint32_t id : ids) remove(id, hint);
            return;
        }
        // One flag per trace, then one per group: an entry's flag is then a single look-up.
        const std::size_t groups_at = pool_.states.size();
        gone_.assign(groups_at + groups_.size(), 0);
        for (const std::uint32_t id : ids) {
            Trace_State& t = pool_.states[id];
            if (t.group == kNoGroup) {
                gone_[id] = 1;
                continue;
            }
            const std::uint32_t g = t.group;
            groups_[g].members.erase(member_of(g, id));
            t.group = kNoGroup;
            if (groups_[g].members.empty()) free_groups_.push_back(g), gone_[groups_at + g] = 1;
        }
        const std::uint8_t* gone = gone_.data();
        order_.remove_if([&](const Order_Entry& e) { return gone[e.ref + e.is_group * groups_at] != 0; });
    }

    // Calls f(id) for every trace in list order: centre ascending, newest first among equals.
    template <typename F>
    void for_each_in_order(F&& f) const {
        std::vector<std::pair<std::uint64_t, std::uint32_t>> run;
        double run_key = 0.0;
        const auto flush = [&] {
            if (run.size() > 1) std::sort(run.begin(), run.end(), std::greater<>());
            for (const auto& [stamp, id] : run) f(id);
            run.clear();
        };
        order_.for_each([&](const Order_Entry& e) {
            if (!run.empty() && !(e.key == run_key)) flush();
            run_key = e.key;
            if (!e.is_group)
                run.emplace_back(pool_.states[e.ref].stamp, e.ref);
            else
                for (const Member& m : groups_[e.ref].members) run.emplace_back(~m.newer, m.id);
        });
        flush();
    }

private:
    void offer_trace(std::uint32_t id, double key, const Point_Score& s, Trace_Order::Pos q, Candidate& best) {
        Trace_Head& h = pool_.heads[id];
        if (!h.log_known) h.last_log = std::log10(h.last_intensity), h.log_known = true;
        const double c = s.cost(h.last_log, s.mz_term(h.last_mz), s.scan_term(h.last_scan));
        if (best.beaten_by(c, key, [&] { return pool_.states[id].stamp; }))
            best.take(c, key, pool_.states[id].stamp, id, false, q);
    }

    // Within a group the score only falls towards the point's own log intensity from either side
    // (each rounding step is monotone), so the best members are the nearest below and above it;
    // further members can only tie, by rounding, and are taken while they do.
    void offer_group(const Trace_Group& g, double key, const Point_Score& s, Trace_Order::Pos q, Candidate& best) {
        if (g.sig.dead) return;
        using It = Member_Set::const_iterator;
        const double mz_t = s.mz_term(g.last_mz), scan_t = s.scan_term(g.sig.scan);
        const Member_Set& m = g.members;
        const auto cost_at = [&](It it) { return s.cost(it->log_intensity, mz_t, scan_t); };
        const auto offer = [&](It it) {
            const double c = cost_at(it);
            if (best.beaten_by(c, key, [&] { return ~it->newer; })) best.take(c, key, ~it->newer, it->id, true, q);
        };
        // The first (newest) member of the run of equal intensities at it, and of the next run.
        const auto run_start = [&](It it) { return m.lower_bound({it->log_intensity, 0, 0}); };
        const auto next_run = [&](It it) { return m.upper_bound({it->log_intensity, kOldest, 0}); };

        const It above = m.lower_bound({s.log_i, 0, 0});
        if (above != m.end()) {
            const double c0 = cost_at(above);
            for (It it = above; it != m.end() && cost_at(it) == c0; it = next_run(it)) offer(it);
        }
        if (above == m.begin()) return;
        It it = run_start(std::prev(above));
        const double c0 = cost_at(it);
        for (;;) {
            offer(it);
            if (it == m.begin()) return;
            it = run_start(std::prev(it));
            if (!(cost_at(it) == c0)) return;
        }
    }

    Signature trace_signature(std::uint32_t id) const {
        const Trace_Head& h = pool_.heads[id];
        return {!scorable(h.last_intensity), std::bit_cast<std::uint64_t>(h.last_mz), h.last_scan};
    }
    Signature signature_of(const Order_Entry& e) const {
        return e.is_group ? groups_[e.ref].sig : trace_signature(e.ref);
    }

    Member member_of(std::uint32_t g, std::uint32_t id) {
        Trace_Head& h = pool_.heads[id];
        if (groups_[g].sig.dead) return {0.0, ~pool_.states[id].stamp, id};
        if (!h.log_known) h.last_log = std::log10(h.last_intensity), h.log_known = true;
        return {h.last_log, ~pool_.states[id].stamp, id};
    }

    // Adds trace id to the entry e of the same centre and signature, turning a single trace into
    // a group first.
    void join(Order_Entry& e, std::uint32_t id) {
        if (!e.is_group) {
            const std::uint32_t g = new_group(e.ref);
            add_member(g, e.ref);
            e.ref = g;
            e.is_group = 1;
        }
        add_member(e.ref, id);
    }

    void add_member(std::uint32_t g, std::uint32_t id) {
        groups_[g].members.insert(member_of(g, id));
        pool_.states[id].group = g;
    }

    std::uint32_t new_group(std::uint32_t like) {
        std::uint32_t g;
        if (free_groups_.empty()) {
            g = static_cast<std::uint32_t>(groups_.size());
            groups_.emplace_back();
        } else {
            g = free_groups_.back();
            free_groups_.pop_back();
        }
        const Trace_Head& h = pool_.heads[like];
        groups_[g].sig = trace_signature(like);
        groups_[g].last_mz = h.last_mz;
        return g;
    }

    void remove(std::uint32_t id, Trace_Order::Pos& hint) {
        const Trace_State& t = pool_.states[id];
        if (t.group != kNoGroup) return leave_group(id, hint);
        const Trace_Order::Pos at = order_.find(t.cent, id, 0, hint);
        hint = at;
        order_.erase(at);
    }

    static constexpr std::size_t kOnePassShare = 16;

    Trace_Pool& pool_;
    Trace_Order order_;
    std::vector<std::uint8_t> gone_;  // by trace, then by group, while remove_all runs
    std::vector<Trace_Group> groups_;
    std::vector<std::uint32_t> free_groups_;
    std::uint64_t stamp_ = 0;
};

}  // namespace korvane::mass_traces
