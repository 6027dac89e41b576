// Comma-separated peak lists for people to open in a spreadsheet. Nothing reads them back: the
// databases are the machine-readable results, so reals keep only 6 significant digits here.
//
// Every file starts with a header line, then one line per record in list order; the peak shape is
// never written. Column 10's header is spelled "Right_boundary" in every file. Lines end in "\n",
// numbers never depend on the locale, and a text field holding a comma, a double quote or a line
// break is quoted (quotes doubled) so that it stays one field; every other text is written byte
// for byte.
//
// A file is complete or absent: an earlier file of the name is removed, the rows are written under
// a temporary name in the same folder and renamed over the final name once closed (within a
// korvane::Result_Set, the earlier file stays until the set renames the new one over it). A file that
// cannot be created or written throws std::runtime_error "CSV file could not be created: <path>
// (<reason>)" or "... could not be written: ..." and leaves neither the file nor its temporary.
#pragma once

#include <string>
#include <vector>

#include "engine/records/records.h"

// File name by caller: sample name + "_chromatograph_peaklist.csv". Columns 1 to 10.
void OutputChromatographPeaklist2CSVFile(std::vector<Chromatogram_Peak> Chromatograph_Peak_list,
                                         std::string Path, std::string FileName);

// Sample name + "_grouped_chromatograph_peaklist.csv". Columns 1 to 11 (adds Group_ID).
void OutputGroupedChromatographPeaklist2CSVFile(
    std::vector<Chromatogram_Peak_Group> Grouped_Chromatograph_Peak_list, std::string Path,
    std::string FileName);

// Sample name + "_annotated_grouped_chromatograph_peaklist.csv". Columns 1 to 16.
void OutputAnnotatedGroupedChromatographPeaklist2CSVFile(
    std::vector<Chromatogram_Peak_Group_Compound> peaklist_adduct_annotated, std::string Path,
    std::string FileName);

// "aligned_annotated_grouped_chromatograph_peaklist.csv", once per run. Columns 1 to 20.
void OutputAlignedAnnotatedGroupedChromatographPeaklist2CSVFile(
    std::vector<Chromatogram_Peak_Group_Compound_Align> peaklist_aligned, std::string Path,
    std::string FileName);
