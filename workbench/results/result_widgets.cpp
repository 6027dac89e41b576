#include "workbench/results/result_widgets.h"

#include <QButtonGroup>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <qcustomplot.h>

#include "workbench/results/result_grid.h"

namespace korvane::wb {

Pane make_pane(const QString& object_name, QWidget* parent) {
    Pane p;
    p.plot = new QCustomPlot(parent);
    p.plot->setObjectName(object_name);
    p.plot->setMinimumSize(240, 180);
    p.plot->plotLayout()->insertRow(0);
    p.title = new QCPTextElement(p.plot, QString(), QFont(QStringLiteral("sans"), 10, QFont::Bold));
    p.plot->plotLayout()->addElement(0, 0, p.title);
    p.plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    // Intensities in full ("2000000"), never with a power of ten, which the default format adds
    // from a million on.
    p.plot->yAxis->setNumberFormat(QStringLiteral("g"));
    p.plot->yAxis->setNumberPrecision(15);
    return p;
}

void reset_pane(const Pane& p) {
    p.plot->clearGraphs();
    p.plot->clearItems();
    p.plot->xAxis->grid()->setVisible(true);
    p.plot->yAxis->grid()->setVisible(true);
    p.plot->legend->setVisible(false);
}

void draw_pane(const Pane& p, const PlotPane& pane) {
    p.title->setText(pane.title);
    p.plot->xAxis->setLabel(pane.xTitle);
    p.plot->yAxis->setLabel(pane.yTitle);
    bool any_label = false, any_sticks = false;
    for (const PlotCurve& c : pane.curves) {
        QCPGraph* g = p.plot->addGraph();
        g->setPen(QPen(c.color));
        g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
        g->setLineStyle(c.sticks ? QCPGraph::lsImpulse : QCPGraph::lsLine);
        g->setData(QVector<double>(c.x.begin(), c.x.end()), QVector<double>(c.y.begin(), c.y.end()));
        g->setName(c.label);
        if (c.label.isEmpty())
            g->removeFromLegend();
        else
            any_label = true;
        any_sticks = any_sticks || c.sticks;
    }
    p.plot->legend->setVisible(any_label);
    p.plot->rescaleAxes();
    if (any_sticks && p.plot->yAxis->range().lower > 0) p.plot->yAxis->setRangeLower(0);
    p.plot->replot();
}

void clear_and_replot(const Pane& p) {
    reset_pane(p);
    p.plot->replot();
}

QTableView* make_grid(const QString& object_name, ResultTableModel* model, QWidget* parent) {
    auto* grid = new QTableView(parent);
    grid->setObjectName(object_name);
    grid->setModel(model);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->verticalHeader()->setVisible(false);
    return grid;
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

std::string local_8bit(const QString& s) { return QFile::encodeName(s).toStdString(); }

}  // namespace korvane::wb
