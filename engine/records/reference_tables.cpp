#include "engine/records/reference_tables.h"

#include <cmath>
#include <fstream>
#include <iostream>
#include <limits>

#include "engine/records/text_util.h"

namespace {

// The counts and the dependence are read as reals and truncated toward zero; values beyond the
// 32-bit range (or not a number) saturate rather than being undefined.
std::int32_t truncate_to_int32(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

}  // namespace

void read_hmdb_file(std::string HMDB_Filename, std::vector<double>& mass_weight_average_arry,
                    std::vector<double>& mass_weight_mono_arry) {
    std::ifstream in(HMDB_Filename);
    if (!in) throw korvane::TableOpenError("HMDB_file could not be opened: " + HMDB_Filename);
    std::string line;
    korvane::read_line(in, line);  // header
    // A folder of that name opens as a stream here and fails on the first read; it is no table,
    // and an empty mass list would go unnoticed.
    if (in.bad()) throw korvane::TableOpenError("HMDB_file could not be opened: " + HMDB_Filename);
    std::size_t rows = 0;
    while (korvane::read_line(in, line)) {
        if (line.empty()) continue;
        const std::vector<std::string> fields = korvane::split_quoted_fields(line);
        if (fields.size() != 9) {
            std::cout << "HMDB File at Row=" << rows << "can't be read corrctly!" << std::endl;
            return;
        }
        mass_weight_average_arry.push_back(korvane::parse_double(fields[7]));
        mass_weight_mono_arry.push_back(korvane::parse_double(fields[8]));
        ++rows;
    }
}

void read_adduct_configure_file(std::string adduct_config_filename,
                                std::vector<adduct_configure_node>& adduct_configure_arry) {
    std::ifstream in(adduct_config_filename);
    if (!in) throw korvane::TableOpenError("Adduct Config File could not be opened: " + adduct_config_filename);
    std::string line;
    korvane::read_line(in, line);  // header
    if (in.bad()) throw korvane::TableOpenError("Adduct Config File could not be opened: " + adduct_config_filename);
    while (korvane::read_line(in, line)) {
        if (line.empty()) continue;
        const std::vector<std::string> pieces = korvane::split_commas(line);
        if (pieces.size() != 5) {
            std::cout << "Adduct Config File at Row=" << adduct_configure_arry.size()
                      << "is not correctly configured!" << std::endl;
            return;
        }
        adduct_configure_node node;
        node.Formula = pieces[0];
        node.Molecule_Count = truncate_to_int32(korvane::parse_double(pieces[1]));
        node.Charge_Count = truncate_to_int32(korvane::parse_double(pieces[2]));
        node.Mass_Shift = korvane::parse_double(pieces[3]);
        node.Dependence = truncate_to_int32(korvane::parse_double(pieces[4]));
        adduct_configure_arry.push_back(node);
    }
}
