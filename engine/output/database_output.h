// The machine-readable results: SQLite databases that the workbench reads back for its grids and
// plots. Both writers delete any earlier file of the same name and build the database anew, each
// table inside one transaction, through the SQLite wrapper only.
//
// Peak and trace shapes are stored as shape text: per point intensity, m/z, retention time and scan
// number, the reals with exactly 6 decimals ("%.6f"), everything joined by ","; the text is stored
// in the blob codec's encoding (sqlite3_encode_binary's output, written directly), so an empty
// shape is stored as "x" and any other shape as the byte 1 followed by every character of its text
// lowered by one.
//
// Stored values: unsigned members as signed decimal, reals as SQLite's "%f" (6 decimals), a real
// that is not a number as NULL and an infinity as 1e999 / -1e999, text with its apostrophes doubled
// so it is kept unchanged.
//
// A database is complete or absent: an earlier file of the name is removed, the new one is built
// under a temporary name in the same folder and renamed over the final name once closed, its
// journal gone (within a korvane::Result_Set, the earlier file stays until the set renames the new
// one over it). Failures throw CppSQLite3Exception naming the final file, and leave neither the
// file nor its temporary or journal: SQLite's errors keep their code with the path put before
// their text ("SQLITE_CANTOPEN[14]: <path>: unable to open database file" for a missing folder);
// an earlier file that cannot be removed (a folder of that name) throws code 1000, since opening it
// instead would leave the old results in place looking like new ones.
#pragma once

#include <list>
#include <string>
#include <vector>

#include "engine/records/records.h"

// Per sample, FileName = sample name + "_annotated_grouped_chromatograph_peaklist.db": table
// Annotate_Peaklist (one row per peak, in list order) and table Mass_Tracelist (one row per trace,
// EIC_ID = the trace's 0-based position in mass_trace_list). The traces are taken off the front of
// the writer's own list as they are written: callers that are done with their list should move it in.
void OutputAnnotatedGroupedChromatographPeaklist2database(
    std::vector<Chromatogram_Peak_Group_Compound> peaklist_adduct_annotated,
    std::list<Mass_Trace> mass_trace_list, std::string Path, std::string FileName);

// Per run, FileName = "aligned_annotated_grouped_chromatograph_peaklist.aligndb": table
// Align_Peaklist with the rows of every sample, in list order.
void OutputAlignedAnnotatedGroupedChromatographPeaklist2database(
    std::vector<Chromatogram_Peak_Group_Compound_Align> peaklist_aligned, std::string Path,
    std::string FileName);
