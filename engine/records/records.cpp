#include "engine/records/records.h"

#include <cmath>

bool compareByABS(const double& val, const double& p) { return std::fabs(val) > std::fabs(p); }

bool comp_point_intensity(const Data_Point& val, const Data_Point& p) { return val.intensity < p.intensity; }

bool comp_point_scan(const Data_Point& val, const Data_Point& p) { return val.scan_num < p.scan_num; }

bool comp_trace_mass_cent(const Mass_Trace& val, const Mass_Trace& p) { return val.Cent_Mass < p.Cent_Mass; }

bool Comp_Grouppeak_by_Group_ID(const Chromatogram_Peak_Group& val, const Chromatogram_Peak_Group& p) {
    return val.Group_ID < p.Group_ID;
}

bool Comp_Grouppeak_by_Peak_Area(const Chromatogram_Peak_Group& val, const Chromatogram_Peak_Group& p) {
    return val.Peak_Area < p.Peak_Area;
}

bool Comp_Compoundpeak_by_Peak_Apex_Intensity(const Chromatogram_Peak_Group_Compound& val,
                                              const Chromatogram_Peak_Group_Compound& p) {
    return val.Apex_Intensity < p.Apex_Intensity;
}

bool Comp_Compoundpeak_by_Compound_ID(const Chromatogram_Peak_Group_Compound& val,
                                      const Chromatogram_Peak_Group_Compound& p) {
    return val.Compound_ID < p.Compound_ID;
}

bool Comp_Alignpeak_by_Align_ID(const Chromatogram_Peak_Group_Compound_Align& val,
                                const Chromatogram_Peak_Group_Compound_Align& p) {
    return val.Align_ID < p.Align_ID;
}

bool Comp_Alignpeak_by_Compound_Intensity(const Chromatogram_Peak_Group_Compound_Align& val,
                                          const Chromatogram_Peak_Group_Compound_Align& p) {
    return val.Compound_Intensity < p.Compound_Intensity;
}

bool Comp_annotation_by_value(const peak_adduct_annotation_point& val, const peak_adduct_annotation_point& p) {
    return val.cluster_value < p.cluster_value;
}

bool Comp_annotation_by_adduct_index(const peak_adduct_annotation_point& val,
                                     const peak_adduct_annotation_point& p) {
    return val.adduct_index < p.adduct_index;
}

bool Comp_Grouppeak_by_Peak_Apex_Intensity(const Chromatogram_Peak_Group& val, const Chromatogram_Peak_Group& p) {
    return val.Apex_Intensity < p.Apex_Intensity;
}

bool Comp_Compoundpeak_by_Peak_Apex_MZ(const Chromatogram_Peak_Group_Compound& val,
                                       const Chromatogram_Peak_Group_Compound& p) {
    return val.Apex_MZ < p.Apex_MZ;
}

bool Compoundpeak_by_Unique_Peak_Apex_MZ(const Chromatogram_Peak_Group_Compound& val,
                                         const Chromatogram_Peak_Group_Compound& p) {
    return val.Apex_MZ == p.Apex_MZ;
}

bool Comp_Alignpeak_by_Sample_ID(const Chromatogram_Peak_Group_Compound_Align& val,
                                 const Chromatogram_Peak_Group_Compound_Align& p) {
    return val.SAMPLE_ID < p.SAMPLE_ID;
}
