#include "engine/records/reference_tables.h"

#include <cmath>
#include <fstream>
#include <iostream>

#include "engine/records/error.h"
#include "engine/records/text_util.h"

namespace {

// Where a table's reading stopped early: its 1-based line in the file and why. Line 0: it was
// read to its end.
struct Stop {
    std::size_t line = 0;
    std::string reason;
};

// A field the run's check requires to be a finite number; the plain readers take 0 for it.
bool is_finite_number(const std::string& text) {
    return korvane::is_whole_double(text) && std::isfinite(korvane::parse_double(text));
}

std::string fields_expected(std::size_t found, std::size_t expected) {
    return std::to_string(found) + " fields, " + std::to_string(expected) + " expected";
}

// Opened, with its header line read into header.
std::ifstream open_table(const std::string& path, const std::string& cannot_open, std::string& header) {
    if (korvane::is_not_regular_file(path))
        throw korvane::TableOpenError(cannot_open + path + " (not a regular file)");
    std::ifstream in(path);
    if (!in) throw korvane::TableOpenError(cannot_open + path);
    korvane::read_line(in, header);
    // A table that fails at its first read is no table, and an empty list would go unnoticed.
    if (in.bad()) throw korvane::TableOpenError(cannot_open + path);
    return in;
}

// strict: a monoisotopic mass that is not a finite number, or a line that is not text, stops the
// reading too.
Stop read_hmdb_lines(const std::string& path, std::vector<double>& average, std::vector<double>& mono, bool strict) {
    std::string line;
    std::ifstream in = open_table(path, "HMDB_file could not be opened: ", line);
    if (const char* problem = strict ? korvane::text_line_problem(line) : nullptr) return {1, problem};
    for (std::size_t n = 2; korvane::read_line(in, line); ++n) {
        if (line.empty()) continue;
        if (const char* problem = strict ? korvane::text_line_problem(line) : nullptr) return {n, problem};
        const std::vector<std::string> fields = korvane::split_quoted_fields(line);
        if (fields.size() != 9) return {n, fields_expected(fields.size(), 9)};
        if (strict && !is_finite_number(fields[8]))
            return {n, "monoisotopic mass \"" + fields[8] + "\" is not a number"};
        average.push_back(korvane::parse_double(fields[7]));
        mono.push_back(korvane::parse_double(fields[8]));
    }
    return {};
}

// strict: a count, shift or dependence that is not a finite number, or a line that is not text,
// stops the reading too.
Stop read_adduct_lines(const std::string& path, std::vector<adduct_configure_node>& rows, bool strict) {
    std::string line;
    std::ifstream in = open_table(path, "Adduct Config File could not be opened: ", line);
    if (const char* problem = strict ? korvane::text_line_problem(line) : nullptr) return {1, problem};
    for (std::size_t n = 2; korvane::read_line(in, line); ++n) {
        if (line.empty()) continue;
        if (const char* problem = strict ? korvane::text_line_problem(line) : nullptr) return {n, problem};
        const std::vector<std::string> pieces = korvane::split_commas(line);
        if (pieces.size() != 5) return {n, fields_expected(pieces.size(), 5)};
        for (std::size_t k = 1; strict && k < pieces.size(); ++k)
            if (!is_finite_number(pieces[k]))
                return {n, "field " + std::to_string(k + 1) + " \"" + pieces[k] + "\" is not a number"};
        adduct_configure_node node;
        node.Formula = pieces[0];
        // The counts and the dependence are read as reals and truncated toward zero.
        node.Molecule_Count = korvane::saturating_int32(korvane::parse_double(pieces[1]));
        node.Charge_Count = korvane::saturating_int32(korvane::parse_double(pieces[2]));
        node.Mass_Shift = korvane::parse_double(pieces[3]);
        node.Dependence = korvane::saturating_int32(korvane::parse_double(pieces[4]));
        rows.push_back(node);
    }
    return {};
}

[[noreturn]] void refuse(const std::string& table, const std::string& path, const Stop& stop) {
    throw korvane::Error(table + " " + path + ", line " + std::to_string(stop.line) + ": " + stop.reason);
}

}  // namespace

void read_hmdb_file(std::string HMDB_Filename, std::vector<double>& mass_weight_average_arry,
                    std::vector<double>& mass_weight_mono_arry) {
    const std::size_t before = mass_weight_mono_arry.size();
    if (read_hmdb_lines(HMDB_Filename, mass_weight_average_arry, mass_weight_mono_arry, false).line != 0)
        std::cout << "HMDB File at Row=" << mass_weight_mono_arry.size() - before << "can't be read corrctly!"
                  << std::endl;
}

void read_adduct_configure_file(std::string adduct_config_filename,
                                std::vector<adduct_configure_node>& adduct_configure_arry) {
    if (read_adduct_lines(adduct_config_filename, adduct_configure_arry, false).line != 0)
        std::cout << "Adduct Config File at Row=" << adduct_configure_arry.size() << "is not correctly configured!"
                  << std::endl;
}

void korvane::read_run_hmdb_masses(const std::string& path, std::vector<double>& mono) {
    std::vector<double> average;  // read with the monoisotopic masses, used by no stage
    const Stop stop = read_hmdb_lines(path, average, mono, true);
    if (stop.line != 0) refuse("HMDB file", path, stop);
    if (mono.empty()) throw korvane::Error("HMDB file " + path + " holds no compound line after its header");
}

void korvane::read_run_adduct_table(const std::string& path, std::vector<adduct_configure_node>& rows) {
    const Stop stop = read_adduct_lines(path, rows, true);
    if (stop.line != 0) refuse("Adduct table", path, stop);
    if (rows.empty()) throw korvane::Error("Adduct table " + path + " holds no adduct line after its header");
}
