#include "tools/generate_sample/cdf_writer.h"

#include <netcdf.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <type_traits>

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

// The header's 32-bit big-endian fields: magic, record count, dimension tag and count, then per
// dimension its name length, its name padded to 4 bytes and its length.
class Classic_Header {
public:
    explicit Classic_Header(const std::string& path) : path_(path) {
        std::ifstream in(path, std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (bytes_.size() < 16 || bytes_.compare(0, 3, "CDF") != 0 || (bytes_[3] != 1 && bytes_[3] != 2))
            throw std::runtime_error("no classic header in " + path);
    }

    void set(std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes_[at + i] = static_cast<char>(value >> (24 - 8 * i));
    }

    std::size_t dimension_length_at(const std::string& name) const {
        std::size_t at = 16;
        for (std::uint32_t d = get(12); d > 0 && at + 4 <= bytes_.size(); --d) {
            const std::uint32_t len = get(at);
            const bool found = bytes_.compare(at + 4, len, name) == 0 && name.size() == len;
            at += 4 + (len + 3) / 4 * 4;
            if (found) return at;
            at += 4;
        }
        throw std::runtime_error("no dimension " + name + " in " + path_);
    }

    void save() const { std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes_; }

private:
    std::uint32_t get(std::size_t at) const {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(bytes_.at(at + i));
        return v;
    }

    std::string path_, bytes_;
};

}  // namespace

void set_record_count(const std::string& path, std::uint32_t records) {
    Classic_Header h(path);
    h.set(4, records);
    h.save();
}

void set_dimension_length(const std::string& path, const std::string& dimension, std::uint32_t length) {
    Classic_Header h(path);
    h.set(h.dimension_length_at(dimension), length);
    h.save();
}

}  // namespace korvane::synth
