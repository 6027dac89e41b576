#include "engine/io/netcdf_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <functional>
#include <iostream>
#include <limits>
#include <mutex>
#include <new>
#include <numeric>
#include <stdexcept>
#include <system_error>
#include <type_traits>
#include <utility>

#include "engine/io/classic_header.h"
#include "engine/records/text_util.h"

namespace {

constexpr int kNcNoWrite = 0;               // NC_NOWRITE: samples may sit on read-only media
constexpr std::size_t kNcMaxName = 256;     // NC_MAX_NAME
constexpr double kSecondsPerMinute = 60.0;  // scan times not stated in seconds are in minutes

// "Seconds" in any letter case and with surrounding blanks is still seconds.
bool is_seconds(const std::string& units) {
    const char* blanks = " \t\r\n\v\f";
    const std::size_t b = units.find_first_not_of(blanks);
    if (b == std::string::npos) return false;
    const std::size_t e = units.find_last_not_of(blanks);
    static const char kSeconds[] = "seconds";
    if (e - b + 1 != sizeof(kSeconds) - 1) return false;
    for (std::size_t i = 0; i < sizeof(kSeconds) - 1; ++i)
        if (std::tolower(static_cast<unsigned char>(units[b + i])) != kSeconds[i]) return false;
    return true;
}

// Closes the dataset before the lock around the read is released.
class Open_Dataset {
public:
    Open_Dataset(NetCDF& lib, int ncid) : lib_(lib), ncid_(ncid) {}
    ~Open_Dataset() { lib_.nc_close(ncid_); }
    Open_Dataset(const Open_Dataset&) = delete;
    Open_Dataset& operator=(const Open_Dataset&) = delete;

private:
    NetCDF& lib_;
    int ncid_;
};

class File_Descriptor {
public:
    explicit File_Descriptor(int fd) : fd_(fd) {}
    ~File_Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    File_Descriptor(const File_Descriptor&) = delete;
    File_Descriptor& operator=(const File_Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// The text of attribute "units" of one variable (or the globals), up to its first zero byte;
// "" when there is none or it is not text.
std::string units_text(NetCDF& lib, int ncid, int varid) {
    std::size_t len = 0;
    if (!lib.nc_inq_attlen(ncid, varid, "units", len)) return {};
    std::string text(len, '\0');
    if (len > 0 && !lib.nc_get_att_text(ncid, varid, "units", text.data())) return {};
    return text.substr(0, text.find('\0'));
}

std::string read_units(NetCDF& lib, int ncid) {
    std::size_t len = 0;
    if (lib.nc_inq_attlen(ncid, lib.global_id, "units", len)) return units_text(lib, ncid, lib.global_id);
    int varid = 0;
    if (lib.nc_inq_varid(ncid, "time_values", varid)) return units_text(lib, ncid, varid);
    return {};
}

template <typename T>
int get_vara(NetCDF& lib, int ncid, int varid, const std::size_t* start, const std::size_t* count,
             std::vector<T>& out) {
    if constexpr (std::is_same_v<T, double>) return lib.nc_get_vara_double(ncid, varid, start, count, out);
    else if constexpr (std::is_same_v<T, float>) return lib.nc_get_vara_float(ncid, varid, start, count, out);
    else return lib.nc_get_vara_int(ncid, varid, start, count, out);
}

enum class Got { ok, missing, wrong_shape, unreadable };

// Every numeric type of the classic, CDF-5 and netCDF-4 formats; the library refuses to turn
// text, strings or user-defined types into numbers.
bool numeric_type(int type) { return type == 1 || (type >= 3 && type <= 11); }

// Reads a one-dimensional numeric variable whole, along a record dimension only as many records
// as the header check found (extent: that check's result); out is unspecified unless the result
// is ok.
template <typename T>
Got read_variable(NetCDF& lib, int ncid, const korvane::Classic_Extent& extent, int file_ndims, const char* name,
                  std::vector<T>& out) {
    int varid = 0, rank = 0, type = 0;
    if (!lib.nc_inq_varid(ncid, name, varid)) return Got::missing;
    if (!lib.nc_inq_varndims(ncid, varid, rank) || rank != 1) return Got::wrong_shape;
    if (!lib.nc_inq_vartype(ncid, varid, type) || !numeric_type(type)) return Got::wrong_shape;
    std::vector<int> dimids;
    if (!lib.nc_inq_vardimid(ncid, varid, std::max(file_ndims, rank), dimids)) return Got::wrong_shape;
    char dim_name[kNcMaxName + 1] = {};
    std::size_t len = 0;
    if (!lib.nc_inq_dim(ncid, dimids[0], dim_name, len)) return Got::wrong_shape;
    // A streaming writer's all-ones record count comes back as the length, 2^32 - 1 records or more.
    const std::vector<int>& record_dims = extent.record_dimensions;
    if (std::find(record_dims.begin(), record_dims.end(), dimids[0]) != record_dims.end())
        len = std::min<std::uint64_t>(len, extent.records);
    if (len > std::numeric_limits<std::uint32_t>::max()) return Got::wrong_shape;
    if (len == 0) {
        out.clear();
        return Got::ok;
    }
    const std::size_t start = 0, count = len;
    try {
        return get_vara(lib, ncid, varid, &start, &count, out) == 1 ? Got::ok : Got::unreadable;
    } catch (const std::bad_alloc&) {  // a netCDF-4 header can claim any length
        return Got::unreadable;
    } catch (const std::length_error&) {
        return Got::unreadable;
    }
}

template <typename T>
std::string read_required(NetCDF& lib, int ncid, const korvane::Classic_Extent& extent, int file_ndims,
                          const char* name, std::vector<T>& out) {
    switch (read_variable(lib, ncid, extent, file_ndims, name, out)) {
    case Got::ok: return {};
    case Got::missing: return std::string("missing variable ") + name;
    case Got::wrong_shape: return std::string("variable ") + name + " has the wrong type or shape";
    case Got::unreadable: break;
    }
    return std::string("variable ") + name + " could not be read";
}

// What a sample file holds, kept apart from the caller's arrays until it has passed every check.
struct Sample {
    std::vector<double> times, tic;
    std::vector<float> mz, intensity;
    std::vector<int> index, counts, actual;
    bool has_actual = false, has_counts = false;
};

std::string error_text(int error) {
    std::string text = std::generic_category().message(error);
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

// Only a regular file is a sample (opening a FIFO would wait for a writer), and a classic-format
// file must hold all the data its header describes: the library reads the missing part as zeros.
// Its header must also agree with itself: the library sizes each variable from its dimensions and
// type alone, so a damaged dimension or type code would fold scans together or turn the data
// into other numbers without a word. extent receives what the header check found.
std::string check_file(const std::string& path, korvane::Classic_Extent& extent) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return error_text(errno);
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    const File_Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return error_text(errno);
    if (::fstat(fd.get(), &st) != 0) return error_text(errno);
    if (!S_ISREG(st.st_mode)) return "not a regular file";  // replaced since the first look
    const auto size = static_cast<std::uint64_t>(st.st_size);
    extent = korvane::classic_extent(fd.get(), size);
    if (extent.kind == korvane::Classic_Extent::Kind::measured && extent.needed > size)
        return "truncated: " + std::to_string(size) + " bytes, its header needs " + std::to_string(extent.needed);
    if (extent.kind == korvane::Classic_Extent::Kind::measured && !extent.damage.empty())
        return "header damaged: " + extent.damage;
    return {};
}

std::string read_arrays(NetCDF& lib, int ncid, const korvane::Classic_Extent& extent, Sample& s) {
    // 1. Units of the scan times: the global "units", else those of "time_values".
    const std::string units = read_units(lib, ncid);
    int file_ndims = 0;
    if (!lib.nc_inq_ndims(ncid, file_ndims)) return "not a netCDF file";

    // 2. The required variables, then the two the reader can do without.
    std::string reason = read_required(lib, ncid, extent, file_ndims, "scan_acquisition_time", s.times);
    if (!reason.empty()) return reason;
    if (!is_seconds(units))
        for (double& t : s.times) t *= kSecondsPerMinute;
    if (!(reason = read_required(lib, ncid, extent, file_ndims, "total_intensity", s.tic)).empty()) return reason;
    if (!(reason = read_required(lib, ncid, extent, file_ndims, "mass_values", s.mz)).empty()) return reason;
    if (!(reason = read_required(lib, ncid, extent, file_ndims, "intensity_values", s.intensity)).empty()) return reason;
    if (!(reason = read_required(lib, ncid, extent, file_ndims, "scan_index", s.index)).empty()) return reason;
    s.has_actual = read_variable(lib, ncid, extent, file_ndims, "actual_scan_number", s.actual) == Got::ok;
    s.has_counts = read_variable(lib, ncid, extent, file_ndims, "point_count", s.counts) == Got::ok;
    return {};
}

std::string inconsistent(const char* a, std::size_t na, const char* b, std::size_t nb) {
    return std::string("inconsistent lengths of ") + a + " (" + std::to_string(na) + ") and " + b + " (" +
           std::to_string(nb) + ")";
}

// scan_index may carry one entry more than there are scans when that entry ends the last scan at
// the point count. point_count is not checked: real files carry stale counts.
std::string check_lengths(const Sample& s) {
    const std::size_t scans = s.times.size(), points = s.intensity.size();
    if (s.mz.size() != points) return inconsistent("mass_values", s.mz.size(), "intensity_values", points);
    const bool end_entry = s.index.size() == scans + 1 && s.index.back() >= 0 &&
                           static_cast<std::size_t>(s.index.back()) == points;
    if (s.index.size() != scans && !end_entry)
        return inconsistent("scan_acquisition_time", scans, "scan_index", s.index.size());
    if (s.tic.size() != scans) return inconsistent("scan_acquisition_time", scans, "total_intensity", s.tic.size());
    if (s.has_actual && s.actual.size() != scans)
        return inconsistent("scan_acquisition_time", scans, "actual_scan_number", s.actual.size());
    return {};
}

std::string check_values(const Sample& s) {
    const std::size_t points = s.intensity.size();
    for (std::size_t i = 0; i < s.index.size(); ++i) {
        if (s.index[i] < 0 || static_cast<std::size_t>(s.index[i]) > points)
            return "scan_index points outside the point arrays";
        if (i > 0 && s.index[i] < s.index[i - 1]) return "scan_index decreases at scan " + std::to_string(i + 1);
    }
    for (std::size_t i = 0; i < s.times.size(); ++i)
        if (!std::isfinite(s.times[i])) return "non-finite scan time at scan " + std::to_string(i + 1);
    return {};
}

// The file checks, then the whole read under the library's lock. "" when the sample is sound.
std::string read_sample(const std::string& path, const std::vector<std::string>& library_files, Sample& s) {
    NetCDF lib(library_files);  // a missing library throws before the file is looked at
    korvane::Classic_Extent extent;
    std::string reason = check_file(path, extent);
    if (!reason.empty()) return reason;
    const std::lock_guard lock(korvane::netcdf_library_mutex());
    int ncid = -1;
    if (!lib.nc_open(path.c_str(), kNcNoWrite, ncid)) return "not a netCDF file";
    const Open_Dataset dataset(lib, ncid);
    reason = read_arrays(lib, ncid, extent, s);
    if (reason.empty()) reason = check_lengths(s);
    if (reason.empty()) reason = check_values(s);
    return reason;
}

// "actual_scan_number" when it starts above 0 and increases; else 1..n, which a file whose
// numbers do not increase gets with a line saying so (its scans would otherwise all fall outside
// the clamped scan range and give no peaks).
std::vector<std::uint32_t> scan_numbers(const Sample& s, const std::string& path) {
    const std::size_t n = s.times.size();
    std::vector<std::uint32_t> numbers(n);
    if (s.has_actual && n > 0 && s.actual[0] > 0) {
        const auto stall = std::adjacent_find(s.actual.begin(), s.actual.end(), std::greater_equal<>());
        if (stall == s.actual.end()) {
            std::copy(s.actual.begin(), s.actual.end(), numbers.begin());
            return numbers;
        }
        std::cout << "actual_scan_number of " << path << " does not increase at scan " << (stall - s.actual.begin() + 2)
                  << "; its scans are numbered 1 to " << n << std::endl;
    }
    std::iota(numbers.begin(), numbers.end(), 1u);
    return numbers;
}

// The stored counts when there is one per scan, else what scan_index gives.
std::vector<std::int32_t> point_counts(const Sample& s) {
    const std::size_t scans = s.times.size();
    if (s.has_counts && s.counts.size() == scans) return s.counts;
    std::vector<std::int32_t> counts(scans);
    for (std::size_t i = 0; i < scans; ++i) {
        const std::int64_t end = i + 1 < s.index.size() ? s.index[i + 1] : static_cast<std::int64_t>(s.intensity.size());
        counts[i] = static_cast<std::int32_t>(std::min<std::int64_t>(end - s.index[i], std::numeric_limits<std::int32_t>::max()));
    }
    return counts;
}

int read_into(const std::string& Path, const std::string& FileName, std::uint32_t& Total_Scan_Num,
              std::uint32_t& Total_Point_Num, std::vector<std::uint32_t>& scan_num_arry,
              std::vector<std::uint32_t>& scan_index_arry, std::vector<std::int32_t>& point_count_arry,
              std::vector<double>& scan_acquisition_time_arry, std::vector<float>& mass_value_arry,
              std::vector<float>& intensity_value_arry, std::vector<double>& total_intensity_arry,
              const std::vector<std::string>& library_files, std::string& failure_reason) {
    const std::string path = korvane::path_join(Path, FileName);
    Sample s;
    failure_reason = read_sample(path, library_files, s);
    if (!failure_reason.empty()) return 0;
    const std::size_t scans = s.times.size();
    Total_Scan_Num = static_cast<std::uint32_t>(scans);
    Total_Point_Num = static_cast<std::uint32_t>(s.intensity.size());
    scan_num_arry = scan_numbers(s, path);
    point_count_arry = point_counts(s);
    scan_index_arry.assign(s.index.begin(), s.index.begin() + static_cast<std::ptrdiff_t>(scans));
    scan_acquisition_time_arry = std::move(s.times);
    mass_value_arry = std::move(s.mz);
    intensity_value_arry = std::move(s.intensity);
    total_intensity_arry = std::move(s.tic);
    return 1;
}

}  // namespace

int necdf_read(std::string Path, std::string FileName, std::uint32_t& Total_Scan_Num,
               std::uint32_t& Total_Point_Num, std::vector<std::uint32_t>& scan_num_arry,
               std::vector<std::uint32_t>& scan_index_arry, std::vector<std::int32_t>& point_count_arry,
               std::vector<double>& scan_acquisition_time_arry, std::vector<float>& mass_value_arry,
               std::vector<float>& intensity_value_arry, std::vector<double>& total_intensity_arry,
               const std::vector<std::string>& library_files) {
    std::string reason;
    return read_into(Path, FileName, Total_Scan_Num, Total_Point_Num, scan_num_arry, scan_index_arry,
                     point_count_arry, scan_acquisition_time_arry, mass_value_arry, intensity_value_arry,
                     total_intensity_arry, library_files, reason);
}

int necdf_read(std::string Path, std::string FileName, std::uint32_t& Total_Scan_Num,
               std::uint32_t& Total_Point_Num, std::vector<std::uint32_t>& scan_num_arry,
               std::vector<std::uint32_t>& scan_index_arry, std::vector<std::int32_t>& point_count_arry,
               std::vector<double>& scan_acquisition_time_arry, std::vector<float>& mass_value_arry,
               std::vector<float>& intensity_value_arry, std::vector<double>& total_intensity_arry,
               std::string& failure_reason) {
    return read_into(Path, FileName, Total_Scan_Num, Total_Point_Num, scan_num_arry, scan_index_arry,
                     point_count_arry, scan_acquisition_time_arry, mass_value_arry, intensity_value_arry,
                     total_intensity_arry, netcdf_library_candidates(), failure_reason);
}

