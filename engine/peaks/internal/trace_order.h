// The traces of mass trace extraction as one sequence in ascending Cent_Mass (mass_trace.cpp
// is its only user; the sequence is kept apart because it is the part that makes extraction fast).
//
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
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace korvane::mass_traces {

struct Order_Entry {
    double key;          // Cent_Mass
    std::uint32_t ref;   // a trace, or a group when is_group
    std::uint32_t is_group;
};

inline double key_of(double v) { return v; }
inline double key_of(const Order_Entry& e) { return e.key; }

// Index of the first of a[0..n) whose key is not below x, for keys in ascending order. Written
// without a data-dependent branch: the comparisons are coin flips the predictor cannot learn.
template <typename T>
inline std::size_t first_not_below(const T* a, std::size_t n, double x) {
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
inline std::size_t count_below(const Order_Entry* a, std::size_t n, double x) {
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

}  // namespace korvane::mass_traces
