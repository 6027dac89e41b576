#include "workbench/results/result_grid.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQueryModel>
#include <QSqlRecord>
#include <atomic>
#include <stdexcept>

#include "engine/records/text_util.h"

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
QString copy_rows(const QString& connection, const QString& path, const QString& select,
                  QStandardItemModel& model) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!db.open()) return db.lastError().text() + QStringLiteral(" (") + path + QLatin1Char(')');
    QString error;
    {
        QSqlQueryModel query;
        query.setQuery(select, db);
        if (query.lastError().isValid()) {
            error = query.lastError().text();
        } else {
            while (query.canFetchMore()) query.fetchMore();
            const QSqlRecord header = query.record();
            model.setColumnCount(header.count());
            QStringList names;
            for (int c = 0; c < header.count(); ++c) names << header.fieldName(c);
            model.setHorizontalHeaderLabels(names);
            model.setRowCount(query.rowCount());
            for (int r = 0; r < query.rowCount(); ++r) {
                const QSqlRecord row = query.record(r);
                for (int c = 0; c < row.count(); ++c) {
                    auto* item = new QStandardItem;
                    item->setData(row.value(c), Qt::DisplayRole);
                    item->setEditable(false);
                    model.setItem(r, c, item);
                }
            }
            if (query.lastError().isValid()) error = query.lastError().text();
        }
    }
    db.close();
    return error;
}

}  // namespace

void load_result_table(const QString& folder, const QString& file_name, const QString& select,
                       QStandardItemModel& model) {
    model.clear();
    const QString path = QString::fromStdString(korvane::path_join(folder.toStdString(), file_name.toStdString()));
    const QString connection = next_connection_name();
    const QString error = copy_rows(connection, path, select, model);
    // Every QSqlDatabase handle of the connection is gone once copy_rows returns.
    QSqlDatabase::removeDatabase(connection);
    if (!error.isEmpty()) {
        model.clear();
        throw std::runtime_error(error.toStdString());
    }
}

}  // namespace korvane::wb
