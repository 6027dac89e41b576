#include "workbench/results/result_widgets.h"

#include <QButtonGroup>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <qcustomplot.h>

#include "workbench/results/guarded_slot.h"
#include "workbench/results/plot_frame.h"
#include "workbench/results/result_grid.h"

namespace korvane::wb {

namespace {

// More entries than this would run out of a pane of a usable height.
constexpr int kLegendEntries = 8;

}  // namespace

Pane make_pane(const QString& object_name, QWidget* parent) {
    Pane p;
    p.plot = new QCustomPlot(parent);
    p.plot->setObjectName(object_name);
    p.plot->setMinimumSize(300, 200);
    p.title = add_elided_title(p.plot, 10);
    p.plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    // Intensities in full ("2000000"), never with a power of ten, which the default format adds
    // from a million on.
    p.plot->yAxis->setNumberFormat(QStringLiteral("g"));
    p.plot->yAxis->setNumberPrecision(15);
    keep_tick_labels_apart(p.plot);
    place_legend_beside(p.plot);
    return p;
}

void reset_pane(const Pane& p) {
    p.plot->clearGraphs();
    p.plot->clearItems();
    set_empty_note(p.plot, QString());
}

void draw_pane(const Pane& p, const PlotPane& pane) {
    p.title->setText(pane.title);
    p.plot->xAxis->setLabel(pane.xTitle);
    p.plot->yAxis->setLabel(pane.yTitle);
    std::vector<double> stick_x, stick_y;
    for (const PlotCurve& c : pane.curves) {
        QCPGraph* g = p.plot->addGraph();
        g->setPen(QPen(c.color));
        g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
        g->setLineStyle(c.sticks ? QCPGraph::lsImpulse : QCPGraph::lsLine);
        g->setData(QVector<double>(c.x.begin(), c.x.end()), QVector<double>(c.y.begin(), c.y.end()));
        g->setName(c.label);
        if (c.label.isEmpty()) g->removeFromLegend();
        if (!c.sticks) continue;
        stick_x.insert(stick_x.end(), c.x.begin(), c.x.end());
        stick_y.insert(stick_y.end(), c.y.begin(), c.y.end());
    }
    update_legend(p.plot, kLegendEntries);
    p.plot->rescaleAxes();
    if (!stick_x.empty()) fit_stick_axes(p.plot, stick_x, stick_y);
    if (!plot_has_points(p.plot)) set_empty_note(p.plot, pane.emptyNote.isEmpty() ? kNothingToPlot : pane.emptyNote);
    p.plot->replot();
}

void clear_and_replot(const Pane& p) {
    reset_pane(p);
    p.title->setText(QString());
    update_legend(p.plot, kLegendEntries);
    set_empty_note(p.plot, kNothingToPlot);
    p.plot->replot();
}

namespace {

// A grid of whole rows: Home and End go to the first and last row (as Ctrl+Home and Ctrl+End
// do), not to the first and last column of the current row.
class RowGrid : public QTableView {
public:
    using QTableView::QTableView;

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override {
        if (action == MoveHome || action == MoveEnd) modifiers |= Qt::ControlModifier;
        return QTableView::moveCursor(action, modifiers);
    }
};

}  // namespace

QTableView* make_grid(const QString& object_name, ResultTableModel* model, QWidget* parent) {
    auto* grid = new RowGrid(parent);
    grid->setObjectName(object_name);
    grid->setModel(model);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->verticalHeader()->setVisible(false);
    // Rows as tall as their text needs, so that a pane's height shows as many as it can.
    grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 8);
    return grid;
}

void arrange_grid_columns(QTableView* grid, const std::vector<int>& key_columns) {
    QHeaderView* header = grid->horizontalHeader();
    for (int logical = 0; logical < header->count(); ++logical) header->moveSection(header->visualIndex(logical), logical);
    int target = 0;
    for (int logical : key_columns)
        if (logical < header->count()) header->moveSection(header->visualIndex(logical), target++);
    grid->resizeColumnsToContents();
}

void on_current_row_change(QTableView* grid, QObject* context, const bool* quiet, std::function<void(int)> on_row,
                           std::function<void(const QString&)> report) {
    connect_guarded(
        grid->selectionModel(), &QItemSelectionModel::currentRowChanged, context,
        [quiet, on_row = std::move(on_row)](const QModelIndex& current) {
            if (!*quiet && current.isValid()) on_row(current.row());
        },
        std::move(report));
}

void select_grid_row(QTableView* grid, int row, bool* selecting) {
    *selecting = true;
    grid->selectRow(row);
    *selecting = false;
}

std::optional<QFileInfo> one_chosen_file(const std::optional<QStringList>& files, QLineEdit* path_box,
                                         const std::function<void(const QString&)>& show_message,
                                         const QString& none_message) {
    if (!files) return std::nullopt;
    if (files->size() != 1) {
        path_box->clear();
        show_message(none_message);
        return std::nullopt;
    }
    path_box->setText(files->front());
    return QFileInfo(files->front());
}

int shown_row(const QTableView* grid) {
    if (grid->currentIndex().isValid()) return grid->currentIndex().row();
    const QModelIndexList selected = grid->selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.front().row();
}

QRadioButton* make_radio(const QString& text, const QString& object_name, QButtonGroup* group, QLayout* layout,
                         bool checked) {
    auto* b = new QRadioButton(text);
    b->setObjectName(object_name);
    b->setChecked(checked);
    group->addButton(b);
    layout->addWidget(b);
    return b;
}

QPushButton* make_button(const QString& text, const QString& object_name) {
    auto* b = new QPushButton(text);
    b->setObjectName(object_name);
    return b;
}

QLineEdit* make_box(const QString& text, const QString& object_name, bool read_only) {
    auto* e = new QLineEdit(text);
    e->setObjectName(object_name);
    e->setReadOnly(read_only);
    return e;
}

void default_message(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, parent);
    box.exec();
}

std::optional<QStringList> default_open_dialog(QWidget* parent, const QString& title, const QString& start,
                                               const QString& filter) {
    QFileDialog dialog(parent, title, start, filter);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.selectedFiles();
}


}  // namespace korvane::wb
