// Adduct annotation and compound identification of grouped peaks.
//
// adduct_annotation refuses an adduct table it cannot use, then works group by group (ascending
// Group_ID):
//  1. every member is read as every adduct table row, giving one candidate neutral mass
//     (Charge_Count * Apex_MZ - Mass_Shift) / Molecule_Count per (member, row); the candidates are
//     clustered by complete linkage cut at Mass_Tol; peakset_unique_process then drops
//     1a. clusters whose rows do not lead back to the first row through the Dependence column,
//     1b. clusters whose peaks are contained in another cluster's peaks;
//     each survivor is one compound;
//  2. members left over are looked up as the protonated (deprotonated) molecule among the HMDB
//     monoisotopic masses; a hit within Mass_Tol (both ends included) is a one-peak compound;
//  3. members still left are attached to the compound of the group they resemble most in shape
//     (mean angle at most Group_Refine_Angle_Th degrees), else kept with Compound_ID 0;
//  4. each compound's rows receive its mass, retention time and intensity, and the group's rows
//     are appended in Compound_ID order.
//
// Masses and Mass_Tol are in daltons (an absolute tolerance, not ppm).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "engine/records/error.h"
#include "engine/records/records.h"

enum LC_Polar_Mode {
    LC_Positive_Mode = 0,
    LC_Negative_Mode = 1,
};

enum Set_Relationship {
    Set_1_Contain_Set_2 = 0,  // also when the two are equal
    Set_2_Contain_Set_1 = 1,
    Set_No_Contain = 2,
};

namespace korvane {
// The adduct table cannot be used (wrong first row, no row, a row that cannot give a mass).
// what() is the whole message.
class AdductConfigError : public Error {
public:
    using Error::Error;
};

// Proton mass in daltons: the neutral mass of a database match is Apex_MZ -/+ this.
inline constexpr double kProtonMass = 1.007276;
}  // namespace korvane

// Appends one row per (peak, compound) pair, and one "[M+X]+" ("[M-X]-") row with Compound_ID 0
// for every peak of a group that has compounds but could not be placed in one. Compound_IDs run
// 1, 2, 3 ... over the whole call. Peaks of groups without any compound are not appended.
//
// Throws korvane::AdductConfigError, appending nothing, when the table is empty, its first row is
// not the mode's proton adduct with Dependence 0 ("Adduct_config_File is not correct! The first
// row's Dependence should be 0 and Formula should be [M+H]+"), or a row has Molecule_Count 0 or
// less. A Dependence chain that loops without reaching the first row counts as broken.
// A negative Mass_Tol matches no HMDB mass.
//
// The workbench's variant prints "Adduct Annotation and Group_ID=<g>" for every Group_ID value.
void adduct_annotation(std::vector<Chromatogram_Peak_Group> peaklist_groupped,
                       std::vector<adduct_configure_node> adduct_configure_arry,
                       std::vector<double> hmdb_mass_weight_arry, double Mass_Tol, double Group_Refine_Angle_Th,
                       LC_Polar_Mode Polar_Mode,
                       std::vector<Chromatogram_Peak_Group_Compound>& peaklist_adduct_annotation);

// Overwrites unique_cluster_res with one label per candidate (candidate i = peak i / A, adduct row
// i % A): the cluster label where the cluster survives, the label negated where it is dropped.
// A cluster survives when it has at least two candidates whose Dependence chains all reach row 0
// inside the cluster (1a), and its peaks are not contained in the peaks of another survivor (1b;
// of two clusters over the same peaks the smaller label stays).
void peakset_unique_process(std::vector<std::uint32_t> cluster_res, std::uint32_t adduct_config_num,
                            std::vector<std::int32_t> param_dependence_arry,
                            std::vector<std::int32_t>& unique_cluster_res);

// Containment of two multisets: an element present p and q times counts max(p, q) times in the
// union. Equal sets give Set_1_Contain_Set_2.
Set_Relationship set_contain_relation(std::vector<std::uint32_t> set_1, std::vector<std::uint32_t> set_2);

// For a list sorted by Compound_ID: every compound's rows (Compound_ID 0 excepted) receive the
// largest Apex_Intensity of its rows as Compound_Intensity and the medians of their
// Apex_Retention_Time and Compound_MolecularMass.
void Compound_Information_Retrieve(std::vector<Chromatogram_Peak_Group_Compound>& peaklist_adduct_annotation);

// First point of [It_Lower, It_Upper) with the given adduct_index (cluster_value), It_Upper when
// there is none.
std::vector<peak_adduct_annotation_point>::iterator find_by_adduct_index(
    std::vector<peak_adduct_annotation_point>::iterator It_Lower,
    std::vector<peak_adduct_annotation_point>::iterator It_Upper, std::uint32_t find_adduct_index);
std::vector<peak_adduct_annotation_point>::iterator find_by_cluster_value(
    std::vector<peak_adduct_annotation_point>::iterator It_Lower,
    std::vector<peak_adduct_annotation_point>::iterator It_Upper, std::int32_t find_value);

// Median: the middle value of the ascending values, or the mean of the two middle ones for an even
// count. Needs at least one value.
inline double calc_median(std::vector<double> values) {
    // Stable: a NaN among the values must not let the sort run out of range.
    std::stable_sort(values.begin(), values.end());
    const std::size_t k = values.size();
    if (k % 2 == 1) return values[k / 2];
    return (values[k / 2 - 1] + values[k / 2]) * 0.5;
}
