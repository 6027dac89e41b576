// Reading and checking ANDI-MS sample files (".CDF") through the netCDF library of
// netcdf_library.h. A read holds that library's lock from opening the file to closing it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/io/netcdf_library.h"

// Reads the sample Path + "/" + FileName. Returns 1 and replaces the caller's counts and arrays on
// success; returns 0 and leaves them untouched when the sample is refused (see the overload with
// failure_reason for why). Scan times come out in seconds. On success the per-scan arrays all
// hold Total_Scan_Num entries and the point arrays Total_Point_Num; every scan_index entry lies
// in [0, Total_Point_Num] and none is below the one before it. scan_num_arry is
// "actual_scan_number", or 1..n when that variable is absent, does not start above 0, or does
// not increase (which is said on standard output). point_count_arry is the stored "point_count",
// or the counts scan_index gives when that is missing or of another length; it is never checked.
// A classic, 64-bit-offset or CDF-5 file must hold every byte its header describes. Along the
// record dimension it gives the stored count of records or, when a streaming writer left that
// count all ones, the records the file holds whole: a last record cut short is left out, and no
// read asks for more than the file holds.
// Throws std::string when no netCDF library can be loaded.
int necdf_read(std::string Path, std::string FileName, std::uint32_t& Total_Scan_Num,
               std::uint32_t& Total_Point_Num, std::vector<std::uint32_t>& scan_num_arry,
               std::vector<std::uint32_t>& scan_index_arry, std::vector<std::int32_t>& point_count_arry,
               std::vector<double>& scan_acquisition_time_arry, std::vector<float>& mass_value_arry,
               std::vector<float>& intensity_value_arry, std::vector<double>& total_intensity_arry,
               const std::vector<std::string>& library_files = netcdf_library_candidates());

// necdf_read that says why a sample could not be read: on a 0 result failure_reason holds a short
// text without the path: "not a regular file", an operating system's error text ("no such file
// or directory"), "not a netCDF file", "truncated: <n> bytes, its header needs <m>",
// "header damaged: variable <v> stores <n> bytes, its dimensions and type need <m>",
// "header damaged: data of variables <a> and <b> overlap",
// "missing variable <v>", "variable <v> has the wrong type or shape", "variable <v> could not be
// read", "inconsistent lengths of <a> (<n>) and <b> (<m>)", "scan_index decreases at scan <k>",
// "scan_index points outside the point arrays", "non-finite scan time at scan <k>" (k counts the
// file's scans from 1). On success it is cleared.
int necdf_read(std::string Path, std::string FileName, std::uint32_t& Total_Scan_Num,
               std::uint32_t& Total_Point_Num, std::vector<std::uint32_t>& scan_num_arry,
               std::vector<std::uint32_t>& scan_index_arry, std::vector<std::int32_t>& point_count_arry,
               std::vector<double>& scan_acquisition_time_arry, std::vector<float>& mass_value_arry,
               std::vector<float>& intensity_value_arry, std::vector<double>& total_intensity_arry,
               std::string& failure_reason);
