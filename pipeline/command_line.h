// The console program's command line and its job file "Job_Run_Config.csv".
//
// Options: -c/--config_filedir, -d/--data_filedir, -o/--output_filedir, -x/--x_config (job file
// name inside the output folder), -h/--help. The parser moves on one word at a time, so an
// option's value is itself tested as an option on the next step ("-c -d D" sets the configuration
// folder to "-d" and the data folder to "D"). Any other word that is not an option's value stops
// the parse. The job file is read once every option is known, so "-x" may stand anywhere. The
// workbench launches the program with exactly these options.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Fills the three folders and, through "-x", the sample list with its alignment flags.
// Returns the number of options that took effect; 0 when the run must not start (no arguments,
// "-h"), and -1 when an option was given no value or a word is neither an option nor an option's
// value (the message and the usage are printed to standard error, and the caller should exit with
// status 2). Passes on read_job_config_file's error for a job file that is missing or malformed.
int parse_cmd_line(int argc, char* argv[], std::string& Config_FileDir, std::string& Data_FileDir,
                   std::string& Output_FileDir, std::vector<std::string>& Selected_FileName_Vec,
                   std::vector<std::int32_t>& Selected_Align_Vec);

// Prints the usage text to standard error. It has no line for "-x".
void show_usage(std::string name);

// Appends the sample lines of the job file folder/name: after six header lines (a record for the
// user, never examined; empty lines do not count), one "<file name>,<flag>" line per sample with
// flag 0 or 1 (1 = its compounds join the alignment). Empty lines are skipped, one trailing "\r"
// per line is dropped. Throws std::runtime_error naming the file, and the line where there is one,
// when the file cannot be read, ends within its header, lists no sample or holds a line of another
// form; the lists are then left as they were.
void read_job_config_file(std::string folder, std::string name,
                          std::vector<std::string>& Selected_FileName_Vec,
                          std::vector<std::int32_t>& Selected_Align_Vec);
