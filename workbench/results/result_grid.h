// The rows of a result database as the grids show them: the query runs once and every value is
// copied into a table the grid owns, so no connection stays open (or holds a lock) while the user
// browses. Rows are painted by key (light green with black text) without touching each cell.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>
#include <vector>

namespace korvane::wb {

extern const char* const kAnnotationGridSelect;
extern const char* const kAlignmentGridSelect;

// A number as the grids show it, in one plain form whatever its size: no exponent, at most the
// six decimals the result writers store, no trailing zeros ("1156320.5" beside "301740").
QString plain_number(double v);

class ResultTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void reset(QStringList headers, std::vector<QVariant> cells);
    void clear() { reset({}, {}); }
    const QVariant& cell(int row, int column) const;
    // The cell as the queries take it: its number truncated to a whole number (0 when it has none).
    int cell_int(int row, int column) const;
    // Every row white, then the rows whose column holds key (as cell_int reads it) light green.
    void paint_rows(int column, std::optional<int> key);

private:
    QStringList headers_;
    std::vector<QVariant> cells_;  // row-major
    std::vector<char> highlighted_;
};

// Runs select on folder/file_name, opened read-only so that a missing file is reported rather than
// created empty, and fills model with the columns and rows. Throws std::runtime_error carrying the
// driver's message; model is then left empty.
void load_result_table(const QString& folder, const QString& file_name, const QString& select,
                       ResultTableModel& model);

}  // namespace korvane::wb
