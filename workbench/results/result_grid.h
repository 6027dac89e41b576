// The rows of a result database as the grids show them: the query runs once and every row is copied
// into a table the grid owns, so no connection stays open (or holds a lock) while the user browses.
#pragma once

#include <QString>
#include <QStandardItemModel>

namespace korvane::wb {

extern const char* const kAnnotationGridSelect;
extern const char* const kAlignmentGridSelect;

// Runs select on folder/file_name, opened read-only so that a missing file is reported rather than
// created empty, and fills model with the columns and rows (replacing what it held). Throws
// std::runtime_error carrying the driver's message; model is then left empty.
void load_result_table(const QString& folder, const QString& file_name, const QString& select,
                       QStandardItemModel& model);

}  // namespace korvane::wb
