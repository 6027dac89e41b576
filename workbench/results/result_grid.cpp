#include "workbench/results/result_grid.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQueryModel>
#include <QSqlRecord>
#include <QBrush>
#include <QColor>
#include <atomic>
#include <cmath>
#include <stdexcept>

#include "engine/records/error.h"
#include "engine/records/text_util.h"
#include "workbench/results/engine_text.h"

namespace korvane::wb {

const char* const kAnnotationGridSelect =
    "SELECT EIC_ID,Peak_ID, Apex_MZ, Apex_Pos, Apex_Retention_Time, Apex_Intensity, Peak_Area, Peak_SNR, "
    "Left_Boundary, Right_Boundary, Group_ID, Adduct_Annotation, Compound_ID, Compound_MolecularMass, "
    "Compound_Retention_Time, Compound_Intensity FROM  Annotate_Peaklist Order by EIC_ID";

const char* const kAlignmentGridSelect =
    "SELECT EIC_ID,\tPeak_ID,\tApex_MZ,\tApex_Pos,\tApex_Retention_Time,\tApex_Intensity,\tPeak_Area,"
    "\tPeak_SNR,\tLeft_Boundary,\tRight_boundary,\tGroup_ID,\tAdduct_Annotation,\tCompound_ID,"
    "\tCompound_MolecularMass,\tCompound_Retention_Time,\tCompound_Intensity,\tSAMPLE_ID,\tSAMPLE_NAME,"
    "\tAlign_ID,\tAlign_RT FROM Align_Peaklist Order by EIC_ID";

namespace {

QString next_connection_name() {
    static std::atomic<unsigned> counter{0};
    return QStringLiteral("korvane_result_grid_%1").arg(counter.fetch_add(1));
}

// Copies every row while the connection is open; returns the driver's error text, empty on success.
QString copy_rows(const QString& connection, const QString& path, const QString& select, ResultTableModel& model) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!db.open()) return db.lastError().text();
    QString error;
    {
        QSqlQueryModel query;
        query.setQuery(select, db);
        while (!query.lastError().isValid() && query.canFetchMore()) query.fetchMore();
        if (query.lastError().isValid()) {
            error = query.lastError().text();
        } else {
            const QSqlRecord header = query.record();
            QStringList names;
            for (int c = 0; c < header.count(); ++c) names << header.fieldName(c);
            std::vector<QVariant> cells;
            cells.reserve(static_cast<std::size_t>(query.rowCount()) * static_cast<std::size_t>(names.size()));
            for (int r = 0; r < query.rowCount(); ++r) {
                const QSqlRecord row = query.record(r);
                for (int c = 0; c < names.size(); ++c) cells.push_back(row.value(c));
            }
            if (query.lastError().isValid())
                error = query.lastError().text();
            else
                model.reset(std::move(names), std::move(cells));
        }
    }
    db.close();
    return error;
}

}  // namespace

QString plain_number(double v) {
    if (!std::isfinite(v)) return QString::number(v);
    QString text = QString::number(v, 'f', 6);
    while (text.endsWith(QLatin1Char('0'))) text.chop(1);
    if (text.endsWith(QLatin1Char('.'))) text.chop(1);
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

int ResultTableModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || headers_.isEmpty()) return 0;
    return static_cast<int>(cells_.size() / static_cast<std::size_t>(headers_.size()));
}

int ResultTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

const QVariant& ResultTableModel::cell(int row, int column) const {
    static const QVariant none;
    if (row < 0 || column < 0 || row >= rowCount() || column >= columnCount()) return none;
    return cells_[static_cast<std::size_t>(row) * static_cast<std::size_t>(headers_.size()) +
                  static_cast<std::size_t>(column)];
}

QVariant ResultTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const bool hit = static_cast<std::size_t>(index.row()) < highlighted_.size() && highlighted_[index.row()];
    switch (role) {
        case Qt::DisplayRole: {
            const QVariant& v = cell(index.row(), index.column());
            return v.typeId() == QMetaType::Double ? QVariant(plain_number(v.toDouble())) : v;
        }
        case Qt::BackgroundRole: return QBrush(hit ? QColor(144, 238, 144) : QColor(Qt::white));
        case Qt::ForegroundRole: return QBrush(QColor(Qt::black));
        default: return {};
    }
}

QVariant ResultTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) return section >= 0 && section < headers_.size() ? headers_[section] : QVariant();
    return section + 1;
}

void ResultTableModel::reset(QStringList headers, std::vector<QVariant> cells) {
    beginResetModel();
    headers_ = std::move(headers);
    cells_ = std::move(cells);
    highlighted_.assign(static_cast<std::size_t>(rowCount()), 0);
    endResetModel();
}

int ResultTableModel::cell_int(int row, int column) const {
    const QVariant& v = cell(row, column);
    switch (v.typeId()) {
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong: return static_cast<int>(v.toLongLong());
        default: {
            const double d = std::trunc(v.toDouble());
            return d >= -2147483648.0 && d <= 2147483647.0 ? static_cast<int>(d) : 0;
        }
    }
}

void ResultTableModel::paint_rows(int column, std::optional<int> key) {
    const int rows = rowCount();
    for (int r = 0; r < rows; ++r) highlighted_[static_cast<std::size_t>(r)] = key && cell_int(r, column) == *key;
    if (rows > 0 && columnCount() > 0)
        emit dataChanged(index(0, 0), index(rows - 1, columnCount() - 1), {Qt::BackgroundRole, Qt::ForegroundRole});
}

void load_result_table(const QString& folder, const QString& file_name, const QString& select,
                       ResultTableModel& model) {
    model.clear();
    const QString path = window_text(korvane::path_join(engine_text(folder), engine_text(file_name)));
    const QString connection = next_connection_name();
    const QString error = copy_rows(connection, path, select, model);
    // Every QSqlDatabase handle of the connection is gone once copy_rows returns.
    QSqlDatabase::removeDatabase(connection);
    if (!error.isEmpty()) {
        model.clear();
        throw korvane::Error(engine_text("Could not read " + path + ": " + error));
    }
}

}  // namespace korvane::wb
