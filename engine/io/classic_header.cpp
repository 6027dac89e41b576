#include "engine/io/classic_header.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <string>
#include <vector>

namespace korvane {

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t kSignature = 0x434446;  // "CDF"
constexpr std::uint64_t kDimensionTag = 0x0A, kVariableTag = 0x0B, kAttributeTag = 0x0C;
constexpr std::uint64_t kChunk = 64 * 1024;
// A name in a message is cut to this many characters; one byte more is read to tell it was cut.
constexpr unsigned kShown = 64;

// A corrupt header can hold any count; sums and products saturate instead of wrapping to a
// small, harmless-looking size.
std::uint64_t add(std::uint64_t a, std::uint64_t b) {
    std::uint64_t r = 0;
    return __builtin_add_overflow(a, b, &r) ? kMax : r;
}
std::uint64_t mul(std::uint64_t a, std::uint64_t b) {
    std::uint64_t r = 0;
    return __builtin_mul_overflow(a, b, &r) ? kMax : r;
}
std::uint64_t pad4(std::uint64_t n) { return n > kMax - 3 ? kMax : (n + 3) / 4 * 4; }

// External size of a type code; 0 for a code no format defines.
std::uint64_t type_size(std::uint64_t type) {
    switch (type) {
    case 1: case 2: case 7: return 1;    // byte, char, ubyte
    case 3: case 8: return 2;            // short, ushort
    case 4: case 5: case 9: return 4;    // int, float, uint
    case 6: case 10: case 11: return 8;  // double, int64, uint64
    default: return 0;
    }
}

struct Ran_Out {
    std::uint64_t needed;
};
struct Malformed {};

// Big-endian fields read through a window of the file that moves with the reader, so skipping a
// large attribute reads none of it.
class Header_Reader {
public:
    Header_Reader(int fd, std::uint64_t size) : fd_(fd), size_(size) {}

    std::uint64_t pos() const { return pos_; }

    void skip(std::uint64_t n) {
        const std::uint64_t end = add(pos_, n);
        if (end > size_) throw Ran_Out{end};
        pos_ = end;
    }

    // A name with its padding, of which only the first `keep` bytes are read: a damaged length
    // may claim most of the file. The whole padded field must be in the file before any is read.
    std::string padded_text(std::uint64_t n, unsigned keep) {
        const std::uint64_t end = add(pos_, pad4(n));
        if (end > size_) throw Ran_Out{end};
        const auto part = static_cast<unsigned>(std::min<std::uint64_t>(n, keep));
        fetch(part);
        std::string text(window_, pos_ - start_, part);
        pos_ = end;
        return text;
    }

    std::uint64_t big_endian(unsigned bytes) {
        fetch(bytes);
        std::uint64_t v = 0;
        for (unsigned i = 0; i < bytes; ++i) v = v << 8 | static_cast<unsigned char>(window_[pos_ - start_ + i]);
        pos_ += bytes;
        return v;
    }

private:
    void fetch(unsigned n) {
        const std::uint64_t end = add(pos_, n);
        if (end > size_) throw Ran_Out{end};
        if (pos_ >= start_ && end <= start_ + window_.size()) return;
        const std::uint64_t len = std::min(size_ - pos_, std::max<std::uint64_t>(n, kChunk));
        window_.resize(len);
        for (std::uint64_t got = 0; got < len;) {
            const ssize_t r = ::pread(fd_, window_.data() + got, len - got, static_cast<off_t>(pos_ + got));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) throw Malformed{};  // the library meets the same read error and says so
            got += static_cast<std::uint64_t>(r);
        }
        start_ = pos_;
    }

    int fd_;
    std::uint64_t size_, pos_ = 0, start_ = 0;
    std::string window_;
};

struct Variable {
    std::string name;         // its first kShown + 1 bytes
    bool record = false;      // its first dimension is the record dimension
    std::uint64_t bytes = 0;  // its data, per record for a record variable, unpadded
    std::uint64_t vsize = 0;  // the size the header stores for it
    std::uint64_t begin = 0;
};

class Header_Parser {
public:
    Header_Parser(Header_Reader& in, std::uint64_t version) : in_(in), version_(version) {}

    std::uint64_t non_neg() { return in_.big_endian(version_ == 5 ? 8 : 4); }

    // The element count of a list, 0 when it is absent.
    std::uint64_t list(std::uint64_t tag) {
        const std::uint64_t found = in_.big_endian(4), count = non_neg();
        if (found == 0 && count == 0) return 0;
        if (found != tag) throw Malformed{};
        return count;
    }

    void name() { in_.skip(pad4(non_neg())); }
    std::string name_text() { return in_.padded_text(non_neg(), kShown + 1); }

    void attributes() {
        for (std::uint64_t n = list(kAttributeTag); n > 0; --n) {
            name();
            const std::uint64_t size = type_size(in_.big_endian(4));
            if (size == 0) throw Malformed{};
            in_.skip(pad4(mul(non_neg(), size)));
        }
    }

    // dims: the dimension lengths, 0 marking the record dimension.
    Variable variable(const std::vector<std::uint64_t>& dims) {
        Variable v;
        v.name = name_text();
        std::uint64_t elements = 1;  // a scalar holds one value
        const std::uint64_t rank = non_neg();
        for (std::uint64_t i = 0; i < rank; ++i) {
            const std::uint64_t id = non_neg();
            if (id >= dims.size()) throw Malformed{};
            if (dims[id] == 0 && i > 0) throw Malformed{};
            if (dims[id] == 0) v.record = true;
            else elements = mul(elements, dims[id]);
        }
        attributes();
        const std::uint64_t size = type_size(in_.big_endian(4));
        if (size == 0) throw Malformed{};
        v.bytes = mul(elements, size);
        v.vsize = non_neg();
        v.begin = in_.big_endian(version_ == 1 ? 4 : 8);
        return v;
    }

private:
    Header_Reader& in_;
    std::uint64_t version_;
};

// Where a variable's data lies: `count` slices of `bytes`, `stride` apart. A non-record variable
// is one slice; a record variable has one per record.
struct Placement {
    std::size_t var;
    std::uint64_t begin, bytes, count, stride;
};

std::uint64_t last_end(const Placement& p) { return add(add(p.begin, mul(p.count - 1, p.stride)), p.bytes); }

// Records are laid out one after another, each holding a slice of every record variable padded
// to 4 bytes, except when there is a single record variable: the library then packs its slices
// unpadded (checked against what it writes for one short or byte record variable). Data of no
// bytes occupies nothing and is left out.
std::vector<Placement> placements(const std::vector<Variable>& vars, std::uint64_t records) {
    std::uint64_t record_size = 0, record_vars = 0;
    for (const Variable& v : vars) {
        if (!v.record) continue;
        record_size = add(record_size, pad4(v.bytes));
        ++record_vars;
    }
    std::vector<Placement> data;
    for (std::size_t i = 0; i < vars.size(); ++i) {
        const Variable& v = vars[i];
        const std::uint64_t count = v.record ? records : 1;
        if (v.bytes == 0 || count == 0) continue;
        const std::uint64_t stride = v.record && record_vars > 1 ? record_size : v.bytes;
        data.push_back({i, v.begin, v.bytes, count, stride});
    }
    return data;
}

// The records a file of `size` bytes holds whole: a streaming writer may not have finished the
// last one, and the library would read its missing part as fill values. 0 without record variables.
std::uint64_t whole_records(const std::vector<Variable>& vars, std::uint64_t size) {
    std::uint64_t records = 0;
    bool first = true;
    for (const Placement& p : placements(vars, 1)) {  // one slice each: begin, bytes and stride
        if (!vars[p.var].record) continue;
        const std::uint64_t first_end = add(p.begin, p.bytes);
        const std::uint64_t fit = first_end > size ? 0 : (size - first_end) / p.stride + 1;
        records = first ? fit : std::min(records, fit);
        first = false;
    }
    return records;
}

std::uint64_t data_end(const std::vector<Placement>& data, std::uint64_t header_end) {
    std::uint64_t end = header_end;
    for (const Placement& p : data) end = std::max(end, last_end(p));
    return end;
}

// A damaged header's name goes into a message on the user's terminal: control bytes would act on
// it, and a name may be as long as the file (name holds its first kShown + 1 bytes at most).
std::string shown_name(const std::string& name) {
    std::string shown;
    for (const char c : name.substr(0, kShown)) shown += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
    return name.size() > kShown ? shown + "..." : shown;
}

// The stored size repeats what the dimensions and type give, rounded up to 4 bytes. The 32-bit
// field of the older formats cannot hold a size of 4 GiB or more and stores 2^32 - 1 instead.
std::string size_damage(const std::vector<Variable>& vars, std::uint64_t version) {
    constexpr std::uint64_t kTooLarge = 0xFFFFFFFFu;
    for (const Variable& v : vars) {
        const std::uint64_t need = pad4(v.bytes);
        if (v.vsize == need || (version != 5 && v.vsize == kTooLarge && need > kTooLarge)) continue;
        return "variable " + shown_name(v.name) + " stores " + std::to_string(v.vsize) + " bytes, its dimensions and type need " +
               std::to_string(need);
    }
    return {};
}

// Whether a slice of p meets [s, e): only the first slice ending after s can be the one.
bool meets(const Placement& p, std::uint64_t s, std::uint64_t e) {
    const std::uint64_t first_end = add(p.begin, p.bytes);
    const std::uint64_t k = s < first_end ? 0 : (s - first_end) / p.stride + 1;
    return k < p.count && add(p.begin, mul(k, p.stride)) < e;
}

// Record slices share one stride, so shifting both sides by whole records keeps an overlap:
// testing each side's first slice against the other's slices finds every one.
bool overlap(const Placement& a, const Placement& b) {
    return meets(a, b.begin, add(b.begin, b.bytes)) || meets(b, a.begin, add(a.begin, a.bytes));
}

// Sweeps the data in file order, testing each placement against those still reaching past its
// start: few in a sound file (the record variables interleave), so this stays near linear.
std::string overlap_damage(const std::vector<Variable>& vars, std::vector<Placement> data) {
    std::stable_sort(data.begin(), data.end(), [](const Placement& a, const Placement& b) { return a.begin < b.begin; });
    std::vector<const Placement*> open;
    for (const Placement& p : data) {
        std::erase_if(open, [&p](const Placement* q) { return last_end(*q) <= p.begin; });
        for (const Placement* q : open) {
            if (!overlap(*q, p)) continue;
            const auto [first, second] = std::minmax(q->var, p.var);
            return "data of variables " + shown_name(vars[first].name) + " and " + shown_name(vars[second].name) + " overlap";
        }
        open.push_back(&p);
    }
    return {};
}

}  // namespace

Classic_Extent classic_extent(int fd, std::uint64_t file_size) {
    if (file_size < 4) return {};
    Header_Reader in(fd, file_size);
    try {
        // 1. Signature and record count.
        const std::uint64_t magic = in.big_endian(4), version = magic & 0xFF;
        if (magic >> 8 != kSignature || (version != 1 && version != 2 && version != 5)) return {};
        Header_Parser header(in, version);
        const std::uint64_t stored = header.non_neg();
        const bool streaming = stored == (version == 5 ? kMax : 0xFFFFFFFFu);

        // 2. Dimensions (every one of length 0 is the record dimension to the library), global
        // attributes, variables.
        std::vector<std::uint64_t> dims;
        std::vector<int> record_dims;
        for (std::uint64_t n = header.list(kDimensionTag); n > 0; --n) {
            header.name();
            dims.push_back(header.non_neg());
            if (dims.back() == 0) record_dims.push_back(static_cast<int>(dims.size() - 1));
        }
        header.attributes();
        std::vector<Variable> vars;
        for (std::uint64_t n = header.list(kVariableTag); n > 0; --n) vars.push_back(header.variable(dims));

        // 3. The records to take: a streaming count stands for as many as the file holds.
        const std::uint64_t records = streaming ? whole_records(vars, file_size) : stored;

        // 4. The furthest byte any of them needs, and whether their sizes and places agree.
        const std::vector<Placement> data = placements(vars, records);
        std::string damage = size_damage(vars, version);
        if (damage.empty()) damage = overlap_damage(vars, data);
        return {Classic_Extent::Kind::measured, data_end(data, in.pos()), damage, records, record_dims};
    } catch (const Ran_Out& r) {
        return {Classic_Extent::Kind::measured, r.needed, {}, 0, {}};
    } catch (const Malformed&) {
        return {Classic_Extent::Kind::malformed, 0, {}, 0, {}};
    }
}

}  // namespace korvane
