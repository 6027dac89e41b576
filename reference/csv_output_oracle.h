// The CSV peak lists written the plain way, through an output stream with its default number
// formatting, for comparison with the writers' buffered formatting. Text fields are written as they
// are, so callers give it rows without commas, quotes or line breaks.
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include "engine/records/records.h"

namespace korvane::oracle {

template <class Row>
void write_csv(const std::vector<Row>& rows, const std::string& full_path) {
    std::ofstream out(full_path, std::ios::binary | std::ios::trunc);
    out << "EIC_ID" << "," << "Peak_ID" << "," << "Apex_MZ" << "," << "Apex_Pos" << ","
        << "Apex_Retention_Time" << "," << "Apex_Intensity" << "," << "Peak_Area" << ","
        << "Peak_SNR" << "," << "Left_Boundary" << "," << "Right_boundary";
    if constexpr (requires(const Row& r) { r.Group_ID; }) out << "," << "Group_ID";
    if constexpr (requires(const Row& r) { r.Compound_ID; })
        out << "," << "Adduct_Annotation" << "," << "Compound_ID" << "," << "Compound_MolecularMass"
            << "," << "Compound_Retention_Time" << "," << "Compound_Intensity";
    if constexpr (requires(const Row& r) { r.SAMPLE_ID; })
        out << "," << "SAMPLE_ID" << "," << "SAMPLE_NAME" << "," << "Align_ID" << "," << "Align_RT";
    out << "\n";
    for (const Row& r : rows) {
        out << r.EIC_ID << "," << r.Peak_ID << "," << r.Apex_MZ << "," << r.Apex_Pos << ","
            << r.Apex_Retention_Time << "," << r.Apex_Intensity << "," << r.Peak_Area << ","
            << r.Peak_SNR << "," << r.Left_Boundary << "," << r.Right_Boundary;
        if constexpr (requires { r.Group_ID; }) out << "," << r.Group_ID;
        if constexpr (requires { r.Compound_ID; })
            out << "," << r.Adduct_Annotation << "," << r.Compound_ID << ","
                << r.Compound_MolecularMass << "," << r.Compound_Retention_Time << ","
                << r.Compound_Intensity;
        if constexpr (requires { r.SAMPLE_ID; })
            out << "," << r.SAMPLE_ID << "," << r.SAMPLE_NAME << "," << r.Align_ID << ","
                << r.Align_RT;
        out << "\n";
    }
}

}  // namespace korvane::oracle
