// The netCDF C library, loaded at run time (dlopen) rather than linked: the engine runs where a
// library file sits beside the program, in the program's parent folder, or where the system
// provides one. The library is not safe for concurrent use, so every call into it in this
// process goes through one lock here.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

// The library files tried, in order: in the parent of the running program's folder, in that
// folder, then the system library by its soname. Never the working folder: whoever can write
// there could have their code run by the program.
std::vector<std::string> netcdf_library_candidates();

// A view of the netCDF library loaded for this process. The first candidate that loads and has
// every entry point the reader calls is kept loaded until the process ends (a candidate lacking
// one is closed again): the library registers per-thread clean-up code on the threads that call
// it, which would jump into unmapped code if it were unloaded while such a thread lives. Every
// method looks its entry point up by name on each call, holds the reader's lock while it calls,
// and returns 1 when the call ran and gave netCDF status 0, else 0 (also when the entry point is
// missing). The constructor throws std::string (the fixed missing-library message) when no
// candidate is usable.
class NetCDF {
public:
    NetCDF();
    explicit NetCDF(const std::vector<std::string>& library_files);
    virtual ~NetCDF() = default;
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
    int nc_inq_vartype(int ncid, int varid, int& xtypep);
    int nc_inq_varname(int ncid, int varid, char* name);

    void* library_handle = nullptr;  // never null after construction; owned by the process
    int global_id = -1;              // netCDF's variable id of the global attributes

private:
    void* entry_point(const char* name) const;
};

namespace korvane {

// The lock around every call into the library. Recursive: a sample read holds it throughout and
// each library call inside takes it again.
std::recursive_mutex& netcdf_library_mutex();

// Loads the netCDF library for this process unless it is loaded already; a run calls it before its
// first sample so that a missing library stops the run instead of skipping every sample. Throws
// std::runtime_error naming every candidate tried and why it was not used when none is usable.
void require_netcdf_library();
void require_netcdf_library(const std::vector<std::string>& library_files);

}  // namespace korvane
