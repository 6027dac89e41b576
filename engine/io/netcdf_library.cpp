#include "engine/io/netcdf_library.h"

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <system_error>

#include "engine/records/error.h"
#include "engine/records/text_util.h"
#include "engine/records/variant.h"

std::recursive_mutex& korvane::netcdf_library_mutex() {
    static std::recursive_mutex m;
    return m;
}

namespace {

constexpr const char* kSystemLibrary = "libnetcdf.so.19";

// Every entry point necdf_read calls: a library lacking one would fail every sample.
constexpr const char* kEntryPoints[] = {"nc_open",         "nc_close",          "nc_inq_ndims",
                                        "nc_inq_varid",    "nc_inq_varndims",   "nc_inq_vartype",
                                        "nc_inq_vardimid", "nc_inq_dim",        "nc_get_vara_double",
                                        "nc_get_vara_float", "nc_get_vara_int", "nc_inq_attlen",
                                        "nc_get_att_text"};

std::string load_failure(const std::string& file) {
    const char* error = dlerror();
    std::string text = error ? error : "unknown error";
    if (text.rfind(file + ": ", 0) == 0) text.erase(0, file.size() + 2);
    return file + " did not load (" + text + ")";
}

// The first candidate that loads and has every entry point; failures says why each one before it
// was passed over.
void* open_first_usable(const std::vector<std::string>& files, std::vector<std::string>& failures) {
    for (const std::string& file : files) {
        void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            failures.push_back(load_failure(file));
            continue;
        }
        const auto missing = std::find_if(std::begin(kEntryPoints), std::end(kEntryPoints),
                                          [handle](const char* name) { return dlsym(handle, name) == nullptr; });
        if (missing == std::end(kEntryPoints)) return handle;
        dlclose(handle);
        failures.push_back(file + " lacks entry point " + *missing);
    }
    return nullptr;
}

// The library each list of candidates found. Loaded once and never closed: once a thread has
// called into it, the library's per-thread clean-up runs when that thread ends.
void* process_library(const std::vector<std::string>& files, std::vector<std::string>& failures) {
    const std::lock_guard lock(korvane::netcdf_library_mutex());
    static std::map<std::vector<std::string>, void*> loaded;
    const auto it = loaded.find(files);
    if (it != loaded.end()) return it->second;
    void* handle = open_first_usable(files, failures);
    if (handle) loaded.emplace(files, handle);
    return handle;
}

std::string program_folder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

}  // namespace

std::vector<std::string> netcdf_library_candidates() {
    std::vector<std::string> files;
    const std::string folder = program_folder();
    if (!folder.empty()) {  // without it only the system library is safe to try
        files.push_back(korvane::path_join(folder, std::string("../") + korvane::variant::netcdf_library_file()));
        files.push_back(korvane::path_join(folder, korvane::variant::netcdf_library_file()));
    }
    files.emplace_back(kSystemLibrary);
    return files;
}

NetCDF::NetCDF() : NetCDF(netcdf_library_candidates()) {}

NetCDF::NetCDF(const std::vector<std::string>& library_files) {
    std::vector<std::string> failures;
    library_handle = process_library(library_files, failures);
    if (!library_handle) throw std::string(korvane::variant::netcdf_missing_library());
    global_id = -1;
}

void* NetCDF::entry_point(const char* name) const { return library_handle ? dlsym(library_handle, name) : nullptr; }

namespace {
// Calls an entry point found by NetCDF::entry_point: 1 when it exists and returns netCDF status 0.
template <typename Fn, typename... Args>
int call_entry(void* entry, Args... args) {
    if (!entry) return 0;
    const std::lock_guard lock(korvane::netcdf_library_mutex());
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

int NetCDF::nc_inq_vartype(int ncid, int varid, int& xtypep) {
    return call_entry<int (*)(int, int, int*)>(entry_point("nc_inq_vartype"), ncid, varid, &xtypep);
}

int NetCDF::nc_inq_varname(int ncid, int varid, char* name) {
    return call_entry<int (*)(int, int, char*)>(entry_point("nc_inq_varname"), ncid, varid, name);
}

void korvane::require_netcdf_library() { require_netcdf_library(netcdf_library_candidates()); }

void korvane::require_netcdf_library(const std::vector<std::string>& library_files) {
    std::vector<std::string> failures;
    if (process_library(library_files, failures)) return;
    std::string message = "no usable netCDF library; tried ";
    if (failures.empty()) message += "no file";
    for (std::size_t i = 0; i < failures.size(); ++i) message += (i > 0 ? "; " : "") + failures[i];
    throw korvane::Error(message);
}
