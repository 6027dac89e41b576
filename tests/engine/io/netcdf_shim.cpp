// A stand-in for the netCDF library, loaded by the reader in place of the real one: it forwards
// every call to the real library and records what the reader did (open mode, opens, closes), and
// it can be told to fail chosen entry points. Built a second time without nc_inq_ndims to play a
// library that lacks an entry point.
#include <dlfcn.h>

#include <set>
#include <string>

namespace {

constexpr int kFailure = -36;  // NC_EINVAL

struct State {
    std::set<std::string> failing;
    int last_open_mode = -1;
    int opens = 0;
    int closes = 0;
};
State& state() {
    static State s;
    return s;
}

void* real_library() {
    static void* handle = dlopen("libnetcdf.so.19", RTLD_NOW | RTLD_LOCAL);
    return handle;
}

template <typename Fn>
Fn real(const char* name) {
    return reinterpret_cast<Fn>(dlsym(real_library(), name));
}

bool failing(const char* name) { return state().failing.count(name) != 0; }

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void shim_reset() { state() = State{}; }
__attribute__((visibility("default"))) void shim_fail(const char* name) { state().failing.insert(name); }
__attribute__((visibility("default"))) int shim_last_open_mode() { return state().last_open_mode; }
__attribute__((visibility("default"))) int shim_opens() { return state().opens; }
__attribute__((visibility("default"))) int shim_closes() { return state().closes; }

__attribute__((visibility("default"))) int nc_open(const char* path, int mode, int* ncidp) {
    state().last_open_mode = mode;
    if (failing("nc_open")) return kFailure;
    const int status = real<int (*)(const char*, int, int*)>("nc_open")(path, mode, ncidp);
    if (status == 0) ++state().opens;
    return status;
}

__attribute__((visibility("default"))) int nc_close(int ncid) {
    ++state().closes;
    return real<int (*)(int)>("nc_close")(ncid);
}

#ifndef SHIM_WITHOUT_INQ_NDIMS
__attribute__((visibility("default"))) int nc_inq_ndims(int ncid, int* ndimsp) {
    if (failing("nc_inq_ndims")) return kFailure;
    return real<int (*)(int, int*)>("nc_inq_ndims")(ncid, ndimsp);
}
#endif

__attribute__((visibility("default"))) int nc_inq_varid(int ncid, const char* name, int* varidp) {
    if (failing("nc_inq_varid") || failing((std::string("nc_inq_varid:") + name).c_str())) return kFailure;
    return real<int (*)(int, const char*, int*)>("nc_inq_varid")(ncid, name, varidp);
}

__attribute__((visibility("default"))) int nc_inq_varndims(int ncid, int varid, int* ndimsp) {
    if (failing("nc_inq_varndims")) return kFailure;
    return real<int (*)(int, int, int*)>("nc_inq_varndims")(ncid, varid, ndimsp);
}

__attribute__((visibility("default"))) int nc_inq_vartype(int ncid, int varid, int* typep) {
    if (failing("nc_inq_vartype")) return kFailure;
    return real<int (*)(int, int, int*)>("nc_inq_vartype")(ncid, varid, typep);
}

__attribute__((visibility("default"))) int nc_inq_vardimid(int ncid, int varid, int* dimidsp) {
    if (failing("nc_inq_vardimid")) return kFailure;
    return real<int (*)(int, int, int*)>("nc_inq_vardimid")(ncid, varid, dimidsp);
}

__attribute__((visibility("default"))) int nc_inq_dim(int ncid, int dimid, char* name, unsigned long* lenp) {
    if (failing("nc_inq_dim")) return kFailure;
    return real<int (*)(int, int, char*, unsigned long*)>("nc_inq_dim")(ncid, dimid, name, lenp);
}

__attribute__((visibility("default"))) int nc_get_vara_double(int ncid, int varid, const unsigned long* s,
                                                              const unsigned long* c, double* ip) {
    if (failing("nc_get_vara_double")) return kFailure;
    return real<int (*)(int, int, const unsigned long*, const unsigned long*, double*)>("nc_get_vara_double")(
        ncid, varid, s, c, ip);
}

__attribute__((visibility("default"))) int nc_get_vara_float(int ncid, int varid, const unsigned long* s,
                                                             const unsigned long* c, float* ip) {
    if (failing("nc_get_vara_float")) return kFailure;
    return real<int (*)(int, int, const unsigned long*, const unsigned long*, float*)>("nc_get_vara_float")(
        ncid, varid, s, c, ip);
}

__attribute__((visibility("default"))) int nc_get_vara_int(int ncid, int varid, const unsigned long* s,
                                                           const unsigned long* c, int* ip) {
    if (failing("nc_get_vara_int")) return kFailure;
    return real<int (*)(int, int, const unsigned long*, const unsigned long*, int*)>("nc_get_vara_int")(
        ncid, varid, s, c, ip);
}

__attribute__((visibility("default"))) int nc_inq_attlen(int ncid, int varid, const char* name, unsigned long* lenp) {
    if (failing("nc_inq_attlen")) return kFailure;
    return real<int (*)(int, int, const char*, unsigned long*)>("nc_inq_attlen")(ncid, varid, name, lenp);
}

__attribute__((visibility("default"))) int nc_get_att_text(int ncid, int varid, const char* name, char* att) {
    if (failing("nc_get_att_text")) return kFailure;
    return real<int (*)(int, int, const char*, char*)>("nc_get_att_text")(ncid, varid, name, att);
}

}  // extern "C"
