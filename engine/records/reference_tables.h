// Readers of the two reference tables in the configuration folder: the compound mass export
// "hmdb.csv" and the adduct table of the run's polarity.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "engine/records/error.h"
#include "engine/records/records.h"

namespace korvane {
// A reference table that cannot be opened; what() is the whole message, path included.
class TableOpenError : public Error {
public:
    using Error::Error;
};
}  // namespace korvane

// Appends field 8 (average mass) and field 9 (monoisotopic mass) of every data line of the
// quoted 9-field export. A line with another field count prints a message and ends reading,
// keeping what was read. Throws korvane::TableOpenError "HMDB_file could not be opened: <path>",
// followed by " (not a regular file)" for a folder, FIFO or device, which is never opened.
void read_hmdb_file(std::string HMDB_Filename, std::vector<double>& mass_weight_average_arry,
                    std::vector<double>& mass_weight_mono_arry);

// Appends one row per data line of the 5-field adduct table. A line with another field count
// prints a message and ends reading, keeping what was read. Throws korvane::TableOpenError
// "Adduct Config File could not be opened: <path>", with the same addition.
void read_adduct_configure_file(std::string adduct_config_filename,
                                std::vector<adduct_configure_node>& adduct_configure_arry);

namespace korvane {
// The two tables as a run needs them: read to their end, over at least one line after the header,
// with every number a run uses a finite number (the monoisotopic mass; an adduct row's count,
// charge, shift and dependence). The plain readers above stop at a bad line and keep what came
// before it, which would run on a table silently cut short. Throw TableOpenError as those do, and
// std::runtime_error "HMDB file <path>, line <n>: <why>" ("Adduct table <path>, ...") otherwise;
// print nothing. Append, as the plain readers do.
void read_run_hmdb_masses(const std::string& path, std::vector<double>& mono);
void read_run_adduct_table(const std::string& path, std::vector<adduct_configure_node>& rows);
}  // namespace korvane
