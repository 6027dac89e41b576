#include "engine/io/netcdf_reader.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <limits>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "engine/records/text_util.h"

namespace {

constexpr int kNcNoWrite = 0;               // NC_NOWRITE: samples may sit on read-only media
constexpr std::size_t kNcMaxName = 256;     // NC_MAX_NAME

#if KORVANE_WORKBENCH
constexpr const char* kMissingLibrary =
    "netcdf related .so file doesn't exist in the current path or its parent path!";
#else
constexpr const char* kMissingLibrary = "libnetcdf.so doesn't exist in the current path or its parent path!";
#endif

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

// Closes the dataset before the library that owns it is released.
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

// Reads a one-dimensional variable whole. False when it is missing, not one-dimensional, longer
// than 32-bit counts can hold, or any call fails; out is then unspecified.
template <typename T>
bool read_variable(NetCDF& lib, int ncid, int file_ndims, const char* name, std::vector<T>& out) {
    int varid = 0, rank = 0;
    if (!lib.nc_inq_varid(ncid, name, varid)) return false;
    if (!lib.nc_inq_varndims(ncid, varid, rank) || rank != 1) return false;
    std::vector<int> dimids;
    if (!lib.nc_inq_vardimid(ncid, varid, std::max(file_ndims, rank), dimids)) return false;
    char dim_name[kNcMaxName + 1] = {};
    std::size_t len = 0;
    if (!lib.nc_inq_dim(ncid, dimids[0], dim_name, len)) return false;
    if (len > std::numeric_limits<std::uint32_t>::max()) return false;
    if (len == 0) {
        out.clear();
        return true;
    }
    const std::size_t start = 0, count = len;
    try {
        return get_vara(lib, ncid, varid, &start, &count, out) == 1;
    } catch (const std::bad_alloc&) {  // a corrupt header can claim any length
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

}  // namespace

std::vector<std::string> netcdf_library_candidates() {
#if KORVANE_WORKBENCH
    return {"../libnetcdf_32.so", "./libnetcdf_32.so", "libnetcdf.so.19"};
#else
    return {"../libnetcdf.so", "./libnetcdf.so", "libnetcdf.so.19"};
#endif
}

NetCDF::NetCDF() : NetCDF(netcdf_library_candidates()) {}

NetCDF::NetCDF(const std::vector<std::string>& library_files) {
    for (const std::string& file : library_files) {
        library_handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library_handle) break;
    }
    if (!library_handle) throw std::string(kMissingLibrary);
    global_id = -1;
}

NetCDF::~NetCDF() {
    if (library_handle) dlclose(library_handle);
}

void* NetCDF::entry_point(const char* name) const { return library_handle ? dlsym(library_handle, name) : nullptr; }

namespace {
// Looks the entry point up and calls it: 1 when it exists and returns netCDF status 0.
template <typename Fn, typename... Args>
int call_entry(void* entry, Args... args) {
    if (!entry) return 0;
    return reinterpret_cast<Fn>(entry)(args...) == 0 ? 1 : 0;
}
}  // namespace

int NetCDF::nc_open(const char* path, int mode, int& ncidp) {
    return call_entry<int (*)(const char*, int, int*)>(entry_point("nc_open"), path, mode, &ncidp);
}

int NetCDF::nc_close(int ncid) { return call_entry<int (*)(int)>(entry_point("nc_close"), ncid); }

int NetCDF::nc_inq_ndims(int ncid, int& ndimsp) {
    return call_entry<int (*)(int, int*)>(entry_point("nc_inq_ndims"), ncid, &ndimsp);
}

int NetCDF::nc_inq_varid(int ncid, const char* name, int& varidp) {
    return call_entry<int (*)(int, const char*, int*)>(entry_point("nc_inq_varid"), ncid, name, &varidp);
}

int NetCDF::nc_inq_varndims(int ncid, int varid, int& ndimsp) {
    return call_entry<int (*)(int, int, int*)>(entry_point("nc_inq_varndims"), ncid, varid, &ndimsp);
}

int NetCDF::nc_inq_vardimid(int ncid, int varid, int ndims, std::vector<int>& dimidsp) {
    dimidsp.assign(static_cast<std::size_t>(std::max(ndims, 0)), 0);
    return call_entry<int (*)(int, int, int*)>(entry_point("nc_inq_vardimid"), ncid, varid, dimidsp.data());
}

int NetCDF::nc_inq_dim(int ncid, int dimid, char* name, std::size_t& lenp) {
    return call_entry<int (*)(int, int, char*, std::size_t*)>(entry_point("nc_inq_dim"), ncid, dimid, name, &lenp);
}

int NetCDF::nc_get_vara_double(int ncid, int varid, const std::size_t* startp, const std::size_t* countp,
                               std::vector<double>& ip) {
    ip.resize(countp[0]);
    return call_entry<int (*)(int, int, const std::size_t*, const std::size_t*, double*)>(
        entry_point("nc_get_vara_double"), ncid, varid, startp, countp, ip.data());
}

int NetCDF::nc_get_vara_float(int ncid, int varid, const std::size_t* startp, const std::size_t* countp,
                              std::vector<float>& ip) {
    ip.resize(countp[0]);
    return call_entry<int (*)(int, int, const std::size_t*, const std::size_t*, float*)>(
        entry_point("nc_get_vara_float"), ncid, varid, startp, countp, ip.data());
}

int NetCDF::nc_get_vara_int(int ncid, int varid, const std::size_t* startp, const std::size_t* countp,
                            std::vector<int>& ip) {
    ip.resize(countp[0]);
    return call_entry<int (*)(int, int, const std::size_t*, const std::size_t*, int*)>(
        entry_point("nc_get_vara_int"), ncid, varid, startp, countp, ip.data());
}

int NetCDF::nc_inq_attlen(int ncid, int varid, const std::string& name, std::size_t& lenp) {
    return call_entry<int (*)(int, int, const char*, std::size_t*)>(entry_point("nc_inq_attlen"), ncid, varid,
                                                                    name.c_str(), &lenp);
}

int NetCDF::nc_get_att_text(int ncid, int varid, const std::string& name, char* att) {
    return call_entry<int (*)(int, int, const char*, char*)>(entry_point("nc_get_att_text"), ncid, varid,
                                                             name.c_str(), att);
}

#if KORVANE_WORKBENCH
int NetCDF::nc_inq_vartype(int ncid, int varid, int& xtypep) {
    return call_entry<int (*)(int, int, int*)>(entry_point("nc_inq_vartype"), ncid, varid, &xtypep);
}

int NetCDF::nc_inq_varname(int ncid, int varid, char* name) {
    return call_entry<int (*)(int, int, char*)>(entry_point("nc_inq_varname"), ncid, varid, name);
}
#endif

int necdf_read(std::string Path, std::string FileName, std::uint32_t& Total_Scan_Num,
               std::uint32_t& Total_Point_Num, std::vector<std::uint32_t>& scan_num_arry,
               std::vector<std::uint32_t>& scan_index_arry, std::vector<std::int32_t>& point_count_arry,
               std::vector<double>& scan_acquisition_time_arry, std::vector<float>& mass_value_arry,
               std::vector<float>& intensity_value_arry, std::vector<double>& total_intensity_arry,
               const std::vector<std::string>& library_files) {
    // 1. Load the library (throws when there is none) and open the sample.
    NetCDF lib(library_files);
    const std::string path = korvane::path_join(Path, FileName);
    int ncid = -1;
    if (!lib.nc_open(path.c_str(), kNcNoWrite, ncid)) return 0;
    const Open_Dataset dataset(lib, ncid);

    // 2. Units of the scan times: the global "units", else those of "time_values".
    const std::string units = read_units(lib, ncid);
    int file_ndims = 0;
    if (!lib.nc_inq_ndims(ncid, file_ndims)) return 0;

    // 3. The required variables; everything goes into locals so a failure hands out nothing.
    std::vector<double> times, tic;
    std::vector<float> mz, intensity;
    std::vector<int> index, counts;
    if (!read_variable(lib, ncid, file_ndims, "scan_acquisition_time", times)) return 0;
    if (!is_seconds(units))
        for (double& t : times) t *= 60.0;
    if (!read_variable(lib, ncid, file_ndims, "total_intensity", tic)) return 0;
    if (!read_variable(lib, ncid, file_ndims, "mass_values", mz)) return 0;
    if (!read_variable(lib, ncid, file_ndims, "intensity_values", intensity)) return 0;

    // 4. Scan numbers: "actual_scan_number" is optional, and a file whose numbers do not start
    //    above 0 (or that has none, or an unreadable one) is numbered 1..n.
    std::vector<int> actual;
    int varid = 0;
    const bool has_actual = lib.nc_inq_varid(ncid, "actual_scan_number", varid) &&
                            read_variable(lib, ncid, file_ndims, "actual_scan_number", actual);

    if (!read_variable(lib, ncid, file_ndims, "scan_index", index)) return 0;
    if (!read_variable(lib, ncid, file_ndims, "point_count", counts)) return 0;

    // 5. Reconcile the lengths so no scan or point count reaches past an array.
    const std::size_t n = has_actual ? actual.size() : times.size();
    const std::size_t scans = std::min({n, times.size(), index.size()});
    const std::size_t points = std::min(mz.size(), intensity.size());
    std::vector<std::uint32_t> numbers(scans);
    if (has_actual && !actual.empty() && actual[0] > 0) {
        for (std::size_t i = 0; i < scans; ++i) numbers[i] = static_cast<std::uint32_t>(actual[i]);
    } else {
        for (std::size_t i = 0; i < scans; ++i) numbers[i] = static_cast<std::uint32_t>(i + 1);
    }

    // 6. Hand everything out.
    Total_Scan_Num = static_cast<std::uint32_t>(scans);
    Total_Point_Num = static_cast<std::uint32_t>(points);
    scan_num_arry = std::move(numbers);
    scan_index_arry.assign(index.begin(), index.end());
    point_count_arry.assign(counts.begin(), counts.end());
    scan_acquisition_time_arry = std::move(times);
    mass_value_arry = std::move(mz);
    intensity_value_arry = std::move(intensity);
    total_intensity_arry = std::move(tic);
    return 1;
}

int necdf_read(std::string Path, std::string FileName, std::uint32_t& Total_Scan_Num,
               std::uint32_t& Total_Point_Num, std::vector<std::uint32_t>& scan_num_arry,
               std::vector<std::uint32_t>& scan_index_arry, std::vector<std::int32_t>& point_count_arry,
               std::vector<double>& scan_acquisition_time_arry, std::vector<float>& mass_value_arry,
               std::vector<float>& intensity_value_arry, std::vector<double>& total_intensity_arry,
               std::string& failure_reason) {
    const int ok = necdf_read(std::move(Path), std::move(FileName), Total_Scan_Num, Total_Point_Num, scan_num_arry,
                              scan_index_arry, point_count_arry, scan_acquisition_time_arry, mass_value_arry,
                              intensity_value_arry, total_intensity_arry);
    failure_reason = ok ? std::string() : std::string("not a netCDF file or a required variable is missing");
    return ok;
}

void korvane::require_netcdf_library() {
    try {
        const NetCDF probe;
    } catch (const std::string& message) {
        throw std::runtime_error(message);
    }
}
