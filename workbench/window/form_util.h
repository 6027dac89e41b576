// Small helpers the main window's sources share; not part of the window's interface.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QLocale>
#include <QString>
#include <QTableWidgetItem>
#include <string>

namespace korvane::wb::form {

constexpr int kFileNameColumn = 0;
constexpr int kFolderColumn = 1;
constexpr int kProcessColumn = 2;
constexpr int kAlignColumn = 3;

inline std::string engine_text(const QString& s) { return QFile::encodeName(s).toStdString(); }

inline QString window_text(const std::string& s) { return QFile::decodeName(QByteArray::fromStdString(s)); }

// The C locale, refusing group separators: "1,5" is no number here rather than 15.
inline QLocale plain_locale() {
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    return c;
}

inline bool checked(const QTableWidgetItem* item) { return item && item->checkState() == Qt::Checked; }

}  // namespace korvane::wb::form
