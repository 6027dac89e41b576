// Readers of the result databases for the workbench's plots: the rows of one selection from a
// per-sample ".db" (tables Annotate_Peaklist and Mass_Tracelist) or the aligned ".aligndb" (table
// Align_Peaklist), turned back into the engine's records, shapes included.
//
// Every reader opens Path/FileName, runs one SELECT when its table exists and APPENDS what it
// reads to the caller's output (nothing is cleared). A file that does not exist is left alone and
// gives nothing: opening it would create an empty database in the user's folder. A missing table
// or a selection without rows gives nothing either.
//
// Reals read back carry the 6 decimals they were stored with; infinities and not-a-number come
// back as such. Integer columns are converted as base-10 text: a text without a leading integer
// throws std::invalid_argument, one beyond the int range std::out_of_range; database failures
// throw CppSQLite3Exception. The records read before the failure stay in the output.
#pragma once

#include <string>
#include <vector>

#include "engine/records/records.h"

// "select * from Mass_Tracelist where EIC_ID='<EIC_ID>';", first row only: sets Cent_Mass,
// miss_count and trace_length of eic and appends the stored points to its EIC_shape.
void Query_extracted_eic_FromAnnoatedDataBase(std::string Path, std::string FileName, int EIC_ID, Mass_Trace& eic);

void Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(
    std::string Path, std::string FileName, int Align_ID, std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist);
void Query_AnnotatedGroupedChromatographPeaklist_FromAlignDataBase(
    std::string Path, std::string FileName, int Sample_ID, int Compound_ID,
    std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist);
void Query_GroupedChromatographPeaklist_FromAlignDataBase(std::string Path, std::string FileName, int Sample_ID,
                                                          int Group_ID,
                                                          std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist);
void Query_ChromatographPeak_FromAlignDataBase(std::string Path, std::string FileName, int Sample_ID, int EIC_ID,
                                               int Peak_ID,
                                               std::vector<Chromatogram_Peak_Group_Compound_Align>& peaklist);

void Query_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(
    std::string Path, std::string FileName, int Compound_ID, std::vector<Chromatogram_Peak_Group_Compound>& peaklist);
void Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(std::string Path, std::string FileName, int Group_ID,
                                                             std::vector<Chromatogram_Peak_Group_Compound>& peaklist);
void Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(std::string Path, std::string FileName, int EIC_ID,
                                                             int Peak_ID,
                                                             std::vector<Chromatogram_Peak_Group_Compound>& peaklist);

namespace korvane::wb {

// The points of a stored shape value (the codec's text of "intensity,m/z,time,scan,..."),
// appended to points; whole groups of four tokens only. "x" (the empty shape) gives none.
void decode_shape(const char* stored, std::vector<Data_Point>& points);

}  // namespace korvane::wb
