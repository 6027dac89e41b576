// Building blocks the two result pages share: a graph pane with its title, the peak grid, small
// control factories and the default dialogs.
#pragma once

#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "workbench/results/engine_text.h"
#include "workbench/results/result_plot_data.h"

class QButtonGroup;
class QCustomPlot;
class QLayout;
class QLineEdit;
class QObject;
class QPushButton;
class QRadioButton;
class QTableView;
class QWidget;

namespace korvane::wb {

class ElidedTitle;
class ResultTableModel;

// One graph pane: the plot and the title element above it.
struct Pane {
    QCustomPlot* plot = nullptr;
    ElidedTitle* title = nullptr;
};

Pane make_pane(const QString& object_name, QWidget* parent);
// Empties the pane (curves, items, note) and brings back its ticks, numbers and grid lines.
void reset_pane(const Pane& p);
// Draws the computed pane: titles, one graph per curve, the legend beside them, axes fitted to
// the data (a spectrum's so that every stick shows), or the pane's note when nothing has a point.
void draw_pane(const Pane& p, const PlotPane& pane);
// Empties the pane of everything it showed, its title and legend too (they name the file or row
// drawn last), and shows kNothingToPlot. The axes keep their generic titles.
void clear_and_replot(const Pane& p);

QTableView* make_grid(const QString& object_name, ResultTableModel* model, QWidget* parent);
// Fits every column to its header and values and moves the key columns to the front, in this
// order: what a row is and which records the plots take stay in view without scrolling. The
// model's own column order, which the plot routines read by position, is unchanged.
void arrange_grid_columns(QTableView* grid, const std::vector<int>& key_columns);
// Calls on_row(row) for every change of the grid's current row, by a click or by a key (arrows,
// Page Up/Down, Home/End), except while *quiet is true (the page selecting a row itself). What
// on_row throws goes to report.
void on_current_row_change(QTableView* grid, QObject* context, const bool* quiet, std::function<void(int)> on_row,
                           std::function<void(const QString&)> report);
// Makes row the grid's current and selected row while *selecting is true, so that the page's
// handler of current-row changes leaves the plotting to the caller.
void select_grid_row(QTableView* grid, int row, bool* selecting);
// The one file a page's "Browse" dialog returned: nothing when it was cancelled, and nothing when
// it was confirmed without exactly one file, after emptying path_box and showing none_message.
std::optional<QFileInfo> one_chosen_file(const std::optional<QStringList>& files, QLineEdit* path_box,
                                         const std::function<void(const QString&)>& show_message,
                                         const QString& none_message);
// The row the plots show: the grid's current row, else its selected one; -1 when there is none.
int shown_row(const QTableView* grid);
QRadioButton* make_radio(const QString& text, const QString& object_name, QButtonGroup* group, QLayout* layout,
                         bool checked = false);
QPushButton* make_button(const QString& text, const QString& object_name);
QLineEdit* make_box(const QString& text, const QString& object_name, bool read_only);

void default_message(QWidget* parent, const QString& text);
std::optional<QStringList> default_open_dialog(QWidget* parent, const QString& title, const QString& start,
                                               const QString& filter);

}  // namespace korvane::wb
