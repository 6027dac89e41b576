// The plain records that flow between the engine's stages, and the orderings the stages sort and
// search them by. Member order matters beyond this file: it is the column order of the CSV peak
// lists and result tables, and the order in which aligned rows travel between processes.
//
// Every record owns its vectors and strings, so copies are deep and self-assignment is safe.
// Numeric members start at zero; producers set them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One point of a mass trace or of a peak shape.
struct Data_Point {
    std::uint32_t scan_num = 0;
    double retention_time = 0.0;  // seconds
    double mz = 0.0;
    double intensity = 0.0;
};

// One scan of a sample. m/z and intensity stay 32-bit here, as they are stored in the file.
struct Spectrum_Scan {
    std::uint32_t scan_num = 0;
    double scan_acquisition_time = 0.0;  // seconds
    std::int32_t empty_flag = 0;         // 1 when the scan holds no points
    std::vector<float> mass_values;
    std::vector<float> intensity_values;
};

// One extracted ion chromatogram. The traces of a sample are kept in ascending Cent_Mass; a
// trace's position in that list is its EIC_ID everywhere downstream.
struct Mass_Trace {
    double Cent_Mass = 0.0;
    std::int32_t trace_length = 0;
    std::int32_t miss_count = 0;
    std::vector<Data_Point> EIC_shape;  // ascending scan_num
};

struct Chromatogram_Peak {
    std::vector<Data_Point> Peak_shape;
    std::uint32_t EIC_ID = 0;
    std::uint32_t Peak_ID = 0;
    double Apex_MZ = 0.0;
    std::uint32_t Apex_Pos = 0;
    double Apex_Retention_Time = 0.0;
    double Apex_Intensity = 0.0;
    double Peak_Area = 0.0;
    double Peak_SNR = 0.0;
    std::uint32_t Left_Boundary = 0;
    std::uint32_t Right_Boundary = 0;
};

// The three widenings repeat the members of the record before them; stages that widen or narrow
// a peak copy the common members one by one.
struct Chromatogram_Peak_Group {
    std::vector<Data_Point> Peak_shape;
    std::uint32_t EIC_ID = 0;
    std::uint32_t Peak_ID = 0;
    double Apex_MZ = 0.0;
    std::uint32_t Apex_Pos = 0;
    double Apex_Retention_Time = 0.0;
    double Apex_Intensity = 0.0;
    double Peak_Area = 0.0;
    double Peak_SNR = 0.0;
    std::uint32_t Left_Boundary = 0;
    std::uint32_t Right_Boundary = 0;
    std::uint32_t Group_ID = 0;
};

struct Chromatogram_Peak_Group_Compound {
    std::vector<Data_Point> Peak_shape;
    std::uint32_t EIC_ID = 0;
    std::uint32_t Peak_ID = 0;
    double Apex_MZ = 0.0;
    std::uint32_t Apex_Pos = 0;
    double Apex_Retention_Time = 0.0;
    double Apex_Intensity = 0.0;
    double Peak_Area = 0.0;
    double Peak_SNR = 0.0;
    std::uint32_t Left_Boundary = 0;
    std::uint32_t Right_Boundary = 0;
    std::uint32_t Group_ID = 0;
    std::string Adduct_Annotation;
    std::uint32_t Compound_ID = 0;
    double Compound_MolecularMass = 0.0;
    double Compound_Retention_Time = 0.0;
    double Compound_Intensity = 0.0;
};

// The unit of transfer between processes and of the aligned outputs.
struct Chromatogram_Peak_Group_Compound_Align {
    std::vector<Data_Point> Peak_shape;
    std::uint32_t EIC_ID = 0;
    std::uint32_t Peak_ID = 0;
    double Apex_MZ = 0.0;
    std::uint32_t Apex_Pos = 0;
    double Apex_Retention_Time = 0.0;
    double Apex_Intensity = 0.0;
    double Peak_Area = 0.0;
    double Peak_SNR = 0.0;
    std::uint32_t Left_Boundary = 0;
    std::uint32_t Right_Boundary = 0;
    std::uint32_t Group_ID = 0;
    std::string Adduct_Annotation;
    std::uint32_t Compound_ID = 0;
    double Compound_MolecularMass = 0.0;
    double Compound_Retention_Time = 0.0;
    double Compound_Intensity = 0.0;
    std::uint32_t SAMPLE_ID = 0;
    std::string SAMPLE_NAME;
    std::uint32_t Align_ID = 0;
    double Align_RT = 0.0;
};

// One row of an adduct table. The neutral mass of a peak under this row is
// (Charge_Count * Apex_MZ - Mass_Shift) / Molecule_Count, in double precision.
struct adduct_configure_node {
    std::string Formula;
    std::int32_t Molecule_Count = 0;
    std::int32_t Charge_Count = 0;
    double Mass_Shift = 0.0;
    std::int32_t Dependence = 0;  // 1-based row this row depends on; 0 in the first row
};

// One candidate reading of one peak during adduct annotation.
struct peak_adduct_annotation_point {
    std::uint32_t peak_index = 0;    // position of the peak among its group's members
    std::uint32_t adduct_index = 0;  // 0-based adduct table row
    double molecular_mass = 0.0;     // candidate neutral mass, 0 until set
    std::int32_t cluster_value = 0;  // 1-based cluster label; negative when dropped
};

namespace korvane {
// Copies the scalar members every peak record shares (EIC_ID to Right_Boundary) when a stage
// widens one record into the next; the shape and the added members are the caller's to set.
template <typename From, typename To>
void copy_peak_scalars(const From& from, To& to) {
    to.EIC_ID = from.EIC_ID;
    to.Peak_ID = from.Peak_ID;
    to.Apex_MZ = from.Apex_MZ;
    to.Apex_Pos = from.Apex_Pos;
    to.Apex_Retention_Time = from.Apex_Retention_Time;
    to.Apex_Intensity = from.Apex_Intensity;
    to.Peak_Area = from.Peak_Area;
    to.Peak_SNR = from.Peak_SNR;
    to.Left_Boundary = from.Left_Boundary;
    to.Right_Boundary = from.Right_Boundary;
}
}  // namespace korvane

// Orderings. Each compares one key and nothing else: equal keys are false both ways, and a real
// key that is not a number compares false. Every sort in the engine is std::stable_sort, since a
// comparator that is false on NaN is no strict weak order and std::sort may then run out of range.
bool compareByABS(const double& val, const double& p);  // descending magnitude
bool comp_point_intensity(const Data_Point& val, const Data_Point& p);
bool comp_point_scan(const Data_Point& val, const Data_Point& p);
bool comp_trace_mass_cent(const Mass_Trace& val, const Mass_Trace& p);
bool Comp_Grouppeak_by_Group_ID(const Chromatogram_Peak_Group& val, const Chromatogram_Peak_Group& p);
bool Comp_Grouppeak_by_Peak_Area(const Chromatogram_Peak_Group& val, const Chromatogram_Peak_Group& p);
bool Comp_Compoundpeak_by_Peak_Apex_Intensity(const Chromatogram_Peak_Group_Compound& val,
                                              const Chromatogram_Peak_Group_Compound& p);
bool Comp_Compoundpeak_by_Compound_ID(const Chromatogram_Peak_Group_Compound& val,
                                      const Chromatogram_Peak_Group_Compound& p);
bool Comp_Alignpeak_by_Align_ID(const Chromatogram_Peak_Group_Compound_Align& val,
                                const Chromatogram_Peak_Group_Compound_Align& p);
bool Comp_Alignpeak_by_Compound_Intensity(const Chromatogram_Peak_Group_Compound_Align& val,
                                          const Chromatogram_Peak_Group_Compound_Align& p);
bool Comp_annotation_by_value(const peak_adduct_annotation_point& val,
                              const peak_adduct_annotation_point& p);

bool Comp_annotation_by_adduct_index(const peak_adduct_annotation_point& val,
                                     const peak_adduct_annotation_point& p);
bool Comp_Grouppeak_by_Peak_Apex_Intensity(const Chromatogram_Peak_Group& val,
                                           const Chromatogram_Peak_Group& p);
bool Comp_Compoundpeak_by_Peak_Apex_MZ(const Chromatogram_Peak_Group_Compound& val,
                                       const Chromatogram_Peak_Group_Compound& p);
// An equality test, for removing adjacent duplicates; false when either m/z is not a number.
bool Compoundpeak_by_Unique_Peak_Apex_MZ(const Chromatogram_Peak_Group_Compound& val,
                                         const Chromatogram_Peak_Group_Compound& p);
bool Comp_Alignpeak_by_Sample_ID(const Chromatogram_Peak_Group_Compound_Align& val,
                                 const Chromatogram_Peak_Group_Compound_Align& p);
