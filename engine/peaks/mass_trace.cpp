#include "engine/peaks/mass_trace.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <iostream>
#include <iterator>
#include <limits>
#include <queue>
#include <set>
#include <utility>

#include "engine/records/variant.h"

// How the order is kept. The traces form one sequence in ascending Cent_Mass in which a new or
// moved trace is placed before every trace of equal centre; downstream, a trace's position in it
// is its EIC_ID. So among equal centres the order is by the time a trace was last placed, newest
// first: every trace carries that time as a stamp, and the sequence is (centre ascending, stamp
// descending). Rather than walking a linked list from its head for every point, the sequence is
// held in blocks of a few dozen (centre, entry) pairs with the last centre of every block in a
// separate array: finding the first centre at or above a bound starts where the previous point's
// search ended and is most often a count over the next few entries; inserting shifts at most one
// block. Appending a point usually moves the centre so little that the trace keeps its place; then
// only its key is rewritten. The short traces dropped after a scan are most often a fair share of
// the sequence; they are then marked and filtered out in one pass rather than found one by one.
//
// Traces that share a centre, the m/z and scan number of their last point, and whether that point
// can be scored at all, differ against any new point only in the intensity term of the score. Such
// traces share one entry (a group) that keeps them ordered by log10 of their last intensity, so a
// point finds the best of them by two searches instead of scoring each: many points of one m/z in
// one scan (a first scan seeding thousands of equal traces, or zero intensities that never join
// anything) would otherwise make every later point in that window cost the whole run. Since the
// stamps fix the order among equal centres, a group's members need not be adjacent in it.
//
// Merging works on the final sequence. Every neighbouring pair closer than the threshold sits in a
// priority queue ordered by (distance, position); a popped pair that is stale (a partner gone, or
// a centre changed since it was queued) is skipped. This merges the same pairs in the same order
// as rescanning the whole sequence for its closest pair after every merge.

namespace {

constexpr std::uint32_t kNoGroup = std::numeric_limits<std::uint32_t>::max();
constexpr double kPerMillion = 1000000;  // ppm_th is in parts per million

struct Order_Entry {
    double key;          // Cent_Mass
    std::uint32_t ref;   // a trace, or a group when is_group
    std::uint32_t is_group;
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

// How many of a[0..n) have a key below x; for sorted keys, the index of the first that has not.
std::size_t count_below(const Order_Entry* a, std::size_t n, double x) {
    std::size_t c = 0;
    for (std::size_t i = 0; i < n; ++i) c += a[i].key < x ? 1 : 0;
    return c;
}

class Trace_Order {
public:
    struct Pos {
        std::size_t block;
        std::size_t index;
    };

    void assign(const std::vector<Order_Entry>& sorted) {
        blocks_.clear();
        last_.clear();
        size_ = sorted.size();
        for (std::size_t i = 0; i < sorted.size(); i += kBlock) {
            const std::size_t end = std::min(sorted.size(), i + kBlock);
            blocks_.emplace_back(sorted.begin() + i, sorted.begin() + end);
            blocks_.back().reserve(2 * kBlock + 1);
            last_.push_back(sorted[end - 1].key);
        }
    }

    std::size_t size() const { return size_; }
    bool at_end(const Pos& p) const { return p.block >= blocks_.size(); }
    Order_Entry& at(const Pos& p) { return blocks_[p.block][p.index]; }
    const Order_Entry& at(const Pos& p) const { return blocks_[p.block][p.index]; }

    void advance(Pos& p) const {
        if (++p.index == blocks_[p.block].size()) {
            ++p.block;
            p.index = 0;
        }
    }

    // First entry whose key is not below x (keys are never NaN). `hint` is where a search for a
    // nearby key ended: points of a scan usually come in ascending m/z, and short traces are
    // dropped in the order their last points came, so the answer is most often a few entries on.
    // Any hint gives the right answer, since it is taken only when the entry before it is below x.
    Pos lower_bound_from(double x, Pos hint) const {
        const std::size_t n = blocks_.size();
        if (hint.block < n) {
            const std::vector<Order_Entry>& blk = blocks_[hint.block];
            std::size_t i = std::min(hint.index, blk.size());
            const Order_Entry* prev = before({hint.block, i});
            if (prev == nullptr || prev->key < x) {
                if (last_[hint.block] < x) return first_from_block(hint.block + 1, x);
                // The answer is in this block, most often within a few entries: count the entries
                // below x among the next eight (they are sorted) before searching further.
                if (blk.size() - i < kNear) return {hint.block, i + count_below(blk.data() + i, blk.size() - i, x)};
                const std::size_t near = count_below(blk.data() + i, kNear, x);
                if (near < kNear) return {hint.block, i + near};
                i += kNear;
                return {hint.block, i + first_not_below(blk.data() + i, blk.size() - i, x)};
            }
        }
        return first_from_block(0, x);
    }
    // Where the entry (ref, is_group) with key `key` sits: among equal keys, found by its ref.
    Pos find(double key, std::uint32_t ref, std::uint32_t is_group, Pos hint) const {
        Pos p = lower_bound_from(key, hint);
        while (at(p).ref != ref || at(p).is_group != is_group) advance(p);
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
    void insert(Pos p, Order_Entry e) {
        if (blocks_.empty()) {
            blocks_.emplace_back();
            blocks_.back().reserve(2 * kBlock + 1);
            last_.push_back(e.key);
            p = {0, 0};
        } else if (p.block == blocks_.size()) {
            p = {blocks_.size() - 1, blocks_.back().size()};
        }
        auto& blk = blocks_[p.block];
        // Room for one more is reserved in every block; a plain shift is all an insert takes.
        blk.emplace_back();
        std::copy_backward(blk.begin() + static_cast<std::ptrdiff_t>(p.index), blk.end() - 1, blk.end());
        blk[p.index] = e;
        ++size_;
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
        --size_;
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

    // Removes every entry for which gone(entry) holds, in one pass; a block left thin is folded
    // into the block before it.
    template <typename Gone>
    void remove_if(Gone&& gone) {
        std::size_t kept = 0;
        size_ = 0;
        for (std::size_t b = 0; b < blocks_.size(); ++b) {
            std::vector<Order_Entry>& blk = blocks_[b];
            // Written without a branch on gone(): which entries go is as good as random.
            std::size_t n = 0;
            for (std::size_t i = 0; i < blk.size(); ++i) {
                const Order_Entry e = blk[i];  // read before the write, which may land on it
                const bool drop = gone(e);
                blk[n] = e;
                n += drop ? 0 : 1;
            }
            blk.resize(n);
            size_ += n;
            if (n == 0) continue;
            if (kept > 0 && blocks_[kept - 1].size() + n <= kBlock) {
                blocks_[kept - 1].insert(blocks_[kept - 1].end(), blk.begin(), blk.end());
            } else {
                if (kept != b) std::swap(blocks_[kept], blk);
                ++kept;
            }
        }
        blocks_.resize(kept);
        last_.resize(kept);
        for (std::size_t b = 0; b < kept; ++b) last_[b] = blocks_[b].back().key;
    }

    template <typename F>
    void for_each(F&& f) const {
        for (const auto& blk : blocks_)
            for (const Order_Entry& e : blk) f(e);
    }

private:
    // First entry not below x in blocks b.. , every entry before block b being below x: a few
    // steps over block ends, then a search.
    Pos first_from_block(std::size_t b, double x) const {
        const std::size_t n = blocks_.size();
        for (int steps = 0; b < n && last_[b] < x; ++b)
            if (++steps == 4) {
                b += 1 + first_not_below(last_.data() + b + 1, n - b - 1, x);
                break;
            }
        if (b == n) return {n, 0};
        const auto& blk = blocks_[b];
        return {b, first_not_below(blk.data(), blk.size(), x)};
    }

    static constexpr std::size_t kBlock = 32;
    static constexpr std::size_t kNear = 8;
    std::vector<std::vector<Order_Entry>> blocks_;
    std::vector<double> last_;  // key of the last entry of each block, ascending
    std::size_t size_ = 0;
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

// Whether a point of this intensity can be scored at all: log10 of zero, a negative, an infinite
// or a NaN intensity makes every score it takes part in infinite or not a number, so such a point
// never joins a trace and such a trace never takes a point.
bool scorable(double intensity) { return intensity > 0 && intensity <= DBL_MAX; }

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
        Trace_Order::Pos hint{0, 0};
        for (std::size_t k = 0, np = points_of(scan); k < np; ++k) {
            const double p = scan.mass_values[k];
            if (!std::isnan(p)) add_point(s, p, scan.intensity_values[k], hint);
        }

        // 2.5 Drop short traces that have been idle too long, and every short trace at the end.
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

        // 2.3 Extend the chosen trace, then 2.4 re-place it before the first other trace whose
        // centre is not smaller.
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
