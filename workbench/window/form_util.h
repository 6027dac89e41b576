// Small helpers the main window's sources share; not part of the window's interface.
#pragma once

#include <QLocale>
#include <QString>
#include <QTableWidgetItem>
#include <string>

#include "workbench/results/engine_text.h"

namespace korvane::wb::form {

constexpr int kFileNameColumn = 0;
constexpr int kFolderColumn = 1;
constexpr int kProcessColumn = 2;
constexpr int kAlignColumn = 3;

using korvane::wb::engine_text;
using korvane::wb::window_text;

// The C locale, refusing group separators: "1,5" is no number here rather than 15.
inline QLocale plain_locale() {
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    return c;
}

inline bool checked(const QTableWidgetItem* item) { return item && item->checkState() == Qt::Checked; }

}  // namespace korvane::wb::form
