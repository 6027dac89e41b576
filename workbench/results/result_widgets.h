// Building blocks the two result pages share: a graph pane with its title, the peak grid, small
// control factories, the default dialogs and the catching of a query's error.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <stdexcept>
#include <string>

#include "sqlitewrap/cppsqlite3.h"
#include "workbench/results/result_plot_data.h"

class QButtonGroup;
class QCustomPlot;
class QCPTextElement;
class QLayout;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableView;
class QWidget;

namespace korvane::wb {

class ResultTableModel;

// One graph pane: the plot and the title element above it.
struct Pane {
    QCustomPlot* plot = nullptr;
    QCPTextElement* title = nullptr;
};

Pane make_pane(const QString& object_name, QWidget* parent);
// Empties the pane (curves, items, legend) and turns the major grid lines on.
void reset_pane(const Pane& p);
// Draws the computed pane: titles, one graph per curve, axes fitted to the data.
void draw_pane(const Pane& p, const PlotPane& pane);
void clear_and_replot(const Pane& p);

QTableView* make_grid(const QString& object_name, ResultTableModel* model, QWidget* parent);
QRadioButton* make_radio(const QString& text, const QString& object_name, QButtonGroup* group, QLayout* layout,
                         bool checked = false);
QPushButton* make_button(const QString& text, const QString& object_name);
QLineEdit* make_box(const QString& text, const QString& object_name, bool read_only);

void default_message(QWidget* parent, const QString& text);
std::optional<QStringList> default_open_dialog(QWidget* parent, const QString& title, const QString& start,
                                               const QString& filter);
// A path as the engine takes it: the file system's own 8-bit encoding.
std::string local_8bit(const QString& s);

// The error's own text, whatever the engine or the grid provider threw.
template <class F>
std::optional<QString> run_catching(F&& f) {
    try {
        f();
    } catch (const CppSQLite3Exception& e) {
        return QString::fromUtf8(e.errorMessage());
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("unknown error");
    }
    return std::nullopt;
}

}  // namespace korvane::wb
