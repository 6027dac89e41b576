// The console program's command line and its job file "Job_Run_Config.csv".
//
// Options: -c/--config_filedir, -d/--data_filedir, -o/--output_filedir, -x/--x_config (job file
// name inside the output folder), -h/--help. The parser moves on one word at a time, so an
// option's value is itself tested as an option on the next step ("-c -d D" sets the configuration
// folder to "-d" and the data folder to "D"), and "-x" reads its job file only when "-o" came
// before it. The workbench launches the program with exactly these options.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Fills the three folders and, through "-x", the sample list with its alignment flags.
// Returns the number of options that took effect; 0 when the run must not start (no arguments,
// "-h"), and -1 when an option was given no value (its message and the usage are printed to
// standard error, and the caller should exit with a failure status).
// A job file data line without a comma throws std::out_of_range.
int parse_cmd_line(int argc, char* argv[], std::string& Config_FileDir, std::string& Data_FileDir,
                   std::string& Output_FileDir, std::vector<std::string>& Selected_FileName_Vec,
                   std::vector<std::int32_t>& Selected_Align_Vec);

// Prints the usage text to standard error. It has no line for "-x".
void show_usage(std::string name);

// Appends the data lines (from the seventh non-empty line on) of folder/name: the file name and
// its alignment flag (unsigned with automatic base, stored as signed 32-bit; non-zero = aligned).
// A file that cannot be opened is reported on standard error and leaves both lists unchanged.
// A data line without a comma appends its name, then throws std::out_of_range.
void read_job_config_file(std::string folder, std::string name,
                          std::vector<std::string>& Selected_FileName_Vec,
                          std::vector<std::int32_t>& Selected_Align_Vec);
