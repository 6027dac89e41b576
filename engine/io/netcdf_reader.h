// Reading ANDI-MS sample files (".CDF") through the netCDF C library, which is loaded at run time
// (dlopen) rather than linked: the engine runs where a library file sits beside it, in its parent
// folder, or where the system provides one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The library files tried, in order: the parent of the working folder, the working folder, then
// the system library by its soname.
std::vector<std::string> netcdf_library_candidates();

// One loaded instance of the netCDF library. Every method looks its entry point up by name on
// each call and returns 1 when the call ran and gave netCDF status 0, else 0 (also when the entry
// point is missing). The constructor throws std::string (the fixed missing-library message) when
// no candidate loads.
class NetCDF {
public:
    NetCDF();
    explicit NetCDF(const std::vector<std::string>& library_files);
    virtual ~NetCDF();
    NetCDF(const NetCDF&) = delete;
    NetCDF& operator=(const NetCDF&) = delete;

    int nc_open(const char* path, int mode, int& ncidp);
    int nc_close(int ncid);
    int nc_inq_ndims(int ncid, int& ndimsp);
    int nc_inq_varid(int ncid, const char* name, int& varidp);
    int nc_inq_varndims(int ncid, int varid, int& ndimsp);
    // Sizes dimidsp to ndims before the call; ndims must be at least the variable's rank.
    int nc_inq_vardimid(int ncid, int varid, int ndims, std::vector<int>& dimidsp);
    // name: a buffer of at least 257 bytes, or nullptr.
    int nc_inq_dim(int ncid, int dimid, char* name, std::size_t& lenp);
    // Sizes ip to countp[0] before the call; startp and countp hold one entry per dimension of
    // the variable.
    int nc_get_vara_double(int ncid, int varid, const std::size_t* startp, const std::size_t* countp,
                           std::vector<double>& ip);
    int nc_get_vara_float(int ncid, int varid, const std::size_t* startp, const std::size_t* countp,
                          std::vector<float>& ip);
    int nc_get_vara_int(int ncid, int varid, const std::size_t* startp, const std::size_t* countp,
                        std::vector<int>& ip);
    int nc_inq_attlen(int ncid, int varid, const std::string& name, std::size_t& lenp);
    // att: a buffer of at least the attribute's length.
    int nc_get_att_text(int ncid, int varid, const std::string& name, char* att);
#if KORVANE_WORKBENCH
    int nc_inq_vartype(int ncid, int varid, int& xtypep);
    int nc_inq_varname(int ncid, int varid, char* name);
#endif

    void* library_handle = nullptr;  // never null after construction
    int global_id = -1;              // netCDF's variable id of the global attributes

private:
    void* entry_point(const char* name) const;
};

// Reads the sample Path + "/" + FileName. Returns 1 and replaces the caller's counts and arrays on
// success; returns 0 and leaves them untouched when the file cannot be opened or lacks a required
// variable. Scan times come out in seconds. Total_Scan_Num never exceeds the lengths of
// scan_acquisition_time_arry and scan_index_arry, Total_Point_Num never those of mass_value_arry
// and intensity_value_arry. scan_num_arry holds Total_Scan_Num entries: "actual_scan_number", or
// 1..n when that variable is absent or does not start above 0. Throws std::string when no netCDF
// library can be loaded.
int necdf_read(std::string Path, std::string FileName, std::uint32_t& Total_Scan_Num,
               std::uint32_t& Total_Point_Num, std::vector<std::uint32_t>& scan_num_arry,
               std::vector<std::uint32_t>& scan_index_arry, std::vector<std::int32_t>& point_count_arry,
               std::vector<double>& scan_acquisition_time_arry, std::vector<float>& mass_value_arry,
               std::vector<float>& intensity_value_arry, std::vector<double>& total_intensity_arry,
               const std::vector<std::string>& library_files = netcdf_library_candidates());

// necdf_read that says why a sample could not be read: on a 0 result failure_reason holds a short
// text naming the problem ("not a netCDF file", "missing variable scan_index", ...), on success it
// is cleared.
int necdf_read(std::string Path, std::string FileName, std::uint32_t& Total_Scan_Num,
               std::uint32_t& Total_Point_Num, std::vector<std::uint32_t>& scan_num_arry,
               std::vector<std::uint32_t>& scan_index_arry, std::vector<std::int32_t>& point_count_arry,
               std::vector<double>& scan_acquisition_time_arry, std::vector<float>& mass_value_arry,
               std::vector<float>& intensity_value_arry, std::vector<double>& total_intensity_arry,
               std::string& failure_reason);

namespace korvane {

// Loads the netCDF library for this process unless it is loaded already; a run calls it before its
// first sample so that a missing library stops the run instead of skipping every sample. Throws
// std::runtime_error naming the candidates tried when none is usable.
void require_netcdf_library();

}  // namespace korvane
