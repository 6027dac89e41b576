#include "tools/generate_sample/cdf_writer.h"

#include <netcdf.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace korvane::synth {

void nc_check(int status, const char* what) {
    if (status != NC_NOERR) throw std::runtime_error(std::string("netCDF ") + what + ": " + nc_strerror(status));
}

namespace {

class Writer {
public:
    Writer(const std::string& path, const Cdf_Content& c) : c_(c) {
        int mode = NC_CLOBBER;
        if (c.format == Cdf_Content::Format::offset64) mode |= NC_64BIT_OFFSET;
        if (c.format == Cdf_Content::Format::cdf5) mode |= NC_64BIT_DATA;
        if (c.format == Cdf_Content::Format::netcdf4) mode |= NC_NETCDF4 | NC_CLASSIC_MODEL;
        nc_check(nc_create(path.c_str(), mode, &ncid_), "nc_create");
    }
    ~Writer() {
        if (ncid_ >= 0) nc_close(ncid_);
    }

    void write() {
        // Define mode: dimensions, variables, attributes.
        const std::size_t scans = c_.scan_acquisition_time.size(), points = c_.mass_values.size();
        scan_dim_ = define_dim("scan_number", scans, false);
        point_dim_ = define_dim("point_number", points, c_.unlimited_points);
        if (c_.global_units) put_text(NC_GLOBAL, "units", *c_.global_units);
        define("scan_acquisition_time", NC_DOUBLE, c_.scan_acquisition_time.size(), true);
        define("total_intensity", NC_DOUBLE, c_.total_intensity.size(), true);
        define("mass_values", NC_FLOAT, c_.mass_values.size(), false);
        define("intensity_values", NC_FLOAT, c_.intensity_values.size(), false);
        if (c_.time_values_units) {
            define("time_values", NC_FLOAT, 0, false);
            put_text(var_.at("time_values"), "units", *c_.time_values_units);
        }
        define("scan_index", NC_INT, c_.scan_index.size(), true);
        define("point_count", NC_INT, c_.point_count.size(), true);
        if (c_.actual_scan_number) define("actual_scan_number", NC_INT, c_.actual_scan_number->size(), true);
        if (c_.extra_define) c_.extra_define(ncid_);
        nc_check(nc_enddef(ncid_), "nc_enddef");

        // Data mode.
        put("scan_acquisition_time", c_.scan_acquisition_time);
        put("total_intensity", c_.total_intensity);
        put("mass_values", c_.mass_values);
        put("intensity_values", c_.intensity_values);
        put("scan_index", c_.scan_index);
        put("point_count", c_.point_count);
        if (c_.actual_scan_number) put("actual_scan_number", *c_.actual_scan_number);
        if (c_.extra_write) c_.extra_write(ncid_);
        nc_check(nc_close(ncid_), "nc_close");
        ncid_ = -1;
    }

private:
    int define_dim(const std::string& name, std::size_t len, bool unlimited) {
        int id = -1;
        nc_check(nc_def_dim(ncid_, name.c_str(), unlimited ? NC_UNLIMITED : len, &id), "nc_def_dim");
        return id;
    }

    // A variable whose length differs from its family's shared dimension gets its own.
    void define(const std::string& name, nc_type type, std::size_t len, bool per_scan) {
        if (std::find(c_.omit.begin(), c_.omit.end(), name) != c_.omit.end()) return;
        const std::size_t shared_len = per_scan ? c_.scan_acquisition_time.size() : c_.mass_values.size();
        int dim = per_scan ? scan_dim_ : point_dim_;
        const bool fits = len == shared_len || (!per_scan && c_.unlimited_points);
        if (!fits && name != "time_values") dim = define_dim(name + "_length", len, false);
        int id = -1;
        nc_check(nc_def_var(ncid_, name.c_str(), type, 1, &dim, &id), "nc_def_var");
        var_[name] = id;
    }

    void put_text(int varid, const char* name, const std::string& text) {
        nc_check(nc_put_att_text(ncid_, varid, name, text.size(), text.data()), "nc_put_att_text");
    }

    template <typename T>
    void put(const std::string& name, const std::vector<T>& values) {
        const auto it = var_.find(name);
        if (it == var_.end() || values.empty()) return;
        const std::size_t start = 0, count = values.size();
        int status;
        if constexpr (std::is_same_v<T, double>) status = nc_put_vara_double(ncid_, it->second, &start, &count, values.data());
        else if constexpr (std::is_same_v<T, float>) status = nc_put_vara_float(ncid_, it->second, &start, &count, values.data());
        else status = nc_put_vara_int(ncid_, it->second, &start, &count, values.data());
        nc_check(status, ("nc_put_vara " + name).c_str());
    }

    const Cdf_Content& c_;
    int ncid_ = -1;
    int scan_dim_ = -1, point_dim_ = -1;
    std::map<std::string, int> var_;
};

}  // namespace

void write_cdf(const std::string& path, const Cdf_Content& content) { Writer(path, content).write(); }

namespace {

// The header's big-endian fields: magic, record count, then the dimension, global attribute and
// variable lists. Counts and lengths take 4 bytes, 8 in CDF-5; a variable's data offset 4 bytes
// in the classic format, else 8.
class Classic_Header {
public:
    explicit Classic_Header(const std::string& path) : path_(path) {
        std::ifstream in(path, std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        const char version = bytes_.size() < 8 ? 0 : bytes_[3];
        if (bytes_.compare(0, 3, "CDF") != 0 || (version != 1 && version != 2 && version != 5))
            throw std::runtime_error("no classic header in " + path);
        width_ = version == 5 ? 8 : 4;
        begin_width_ = version == 1 ? 4 : 8;
    }

    std::uint64_t get(std::size_t at, unsigned bytes) const {
        std::uint64_t v = 0;
        for (unsigned i = 0; i < bytes; ++i) v = v << 8 | static_cast<unsigned char>(bytes_.at(at + i));
        return v;
    }
    void set(std::size_t at, unsigned bytes, std::uint64_t value) {
        for (unsigned i = 0; i < bytes; ++i) bytes_.at(at + i) = static_cast<char>(value >> (8 * (bytes - 1 - i)));
    }
    unsigned width() const { return width_; }
    unsigned begin_width() const { return begin_width_; }

    std::size_t dimension_length_at(const std::string& name) const {
        const std::size_t list = dimensions_at();
        std::size_t at = list + 4 + width_;
        for (std::uint64_t d = get(list + 4, width_); d > 0; --d) {
            const bool found = name_is(at, name);
            at = after_name(at);
            if (found) return at;
            at += width_;
        }
        throw std::runtime_error("no dimension " + name + " in " + path_);
    }

    // Where the variable's type code is; its stored size and its data offset follow.
    std::size_t variable_type_at(const std::string& name) const {
        const std::size_t list = after_attributes(after_dimensions());
        std::size_t at = list + 4 + width_;
        for (std::uint64_t v = get(list + 4, width_); v > 0; --v) {
            const bool found = name_is(at, name);
            at = after_name(at);
            at += width_ * (1 + get(at, width_));  // rank and dimension ids
            at = after_attributes(at);
            if (found) return at;
            at += 4 + width_ + begin_width_;
        }
        throw std::runtime_error("no variable " + name + " in " + path_);
    }

    // A header left unwritten would let a caller go on with a file that is not the one it asked for.
    void save() const {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out << bytes_;
        out.close();
        if (!out) throw std::runtime_error("could not write " + path_);
    }

private:
    static std::size_t pad4(std::uint64_t n) { return (n + 3) / 4 * 4; }
    static std::uint64_t type_size(std::uint64_t type) {
        switch (type) {
        case 3: case 8: return 2;            // short, ushort
        case 4: case 5: case 9: return 4;    // int, float, uint
        case 6: case 10: case 11: return 8;  // double, int64, uint64
        default: return 1;                   // byte, char, ubyte
        }
    }
    bool name_is(std::size_t at, const std::string& name) const {
        return get(at, width_) == name.size() && bytes_.compare(at + width_, name.size(), name) == 0;
    }
    std::size_t after_name(std::size_t at) const { return at + width_ + pad4(get(at, width_)); }

    std::size_t dimensions_at() const { return 4 + width_; }
    std::size_t after_dimensions() const {
        const std::size_t list = dimensions_at();
        std::size_t at = list + 4 + width_;
        for (std::uint64_t d = get(list + 4, width_); d > 0; --d) at = after_name(at) + width_;
        return at;
    }
    std::size_t after_attributes(std::size_t tag_at) const {
        std::size_t at = tag_at + 4 + width_;
        for (std::uint64_t n = get(tag_at + 4, width_); n > 0; --n) {
            at = after_name(at);
            at += 4 + width_ + pad4(get(at + 4, width_) * type_size(get(at, 4)));
        }
        return at;
    }

    std::string path_, bytes_;
    unsigned width_ = 4, begin_width_ = 4;
};

}  // namespace

void set_record_count(const std::string& path, std::uint64_t records) {
    Classic_Header h(path);
    if (h.width() < 8 && records > 0xFFFFFFFFu)
        throw std::runtime_error("record count " + std::to_string(records) + " does not fit the header of " + path);
    h.set(4, h.width(), records);
    h.save();
}

void set_dimension_length(const std::string& path, const std::string& dimension, std::uint32_t length) {
    Classic_Header h(path);
    h.set(h.dimension_length_at(dimension), h.width(), length);
    h.save();
}

namespace {

// Where a field of the variable's entry lies, and how many bytes it takes.
std::pair<std::size_t, unsigned> field_at(const Classic_Header& h, const std::string& variable, Variable_Field field) {
    const std::size_t type_at = h.variable_type_at(variable);
    switch (field) {
    case Variable_Field::type: return {type_at, 4};
    case Variable_Field::vsize: return {type_at + 4, h.width()};
    case Variable_Field::begin: break;
    }
    return {type_at + 4 + h.width(), h.begin_width()};
}

}  // namespace

std::uint64_t variable_field(const std::string& path, const std::string& variable, Variable_Field field) {
    const Classic_Header h(path);
    const auto [at, bytes] = field_at(h, variable, field);
    return h.get(at, bytes);
}

void set_variable_field(const std::string& path, const std::string& variable, Variable_Field field,
                        std::uint64_t value) {
    Classic_Header h(path);
    const auto [at, bytes] = field_at(h, variable, field);
    h.set(at, bytes, value);
    h.save();
}

}  // namespace korvane::synth
