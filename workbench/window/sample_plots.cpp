#include "workbench/window/data_process_tab.h"

#include <qcustomplot.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "workbench/engine/korvane_engine.h"
#include "workbench/results/guarded_slot.h"
#include "workbench/results/plot_frame.h"
#include "workbench/window/form_util.h"

using namespace korvane::wb::form;
using korvane::wb::connect_guarded;
using korvane::wb::guarded;

namespace {

const QString kSpectrumHint = QStringLiteral("Click near the curve above to see the spectrum of a scan");

// The sample plots' own look: whole intensities, titles that fit, tick labels apart.
QCPTextElement* set_up_plot(QCustomPlot* plot, const char* name, int minimum_height) {
    plot->setObjectName(name);
    plot->setMinimumHeight(minimum_height);
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    // Whole values on the intensity axis, never a common power-of-ten factor.
    plot->yAxis->setNumberFormat("f");
    plot->yAxis->setNumberPrecision(0);
    korvane::wb::keep_tick_labels_apart(plot);
    return korvane::wb::add_elided_title(plot, 11);
}

// Zoomed out and empty, with major grid lines, ready for new curves.
void reset_plot(QCustomPlot* plot) {
    plot->clearItems();
    plot->clearPlottables();
    plot->xAxis->grid()->setVisible(true);
    plot->yAxis->grid()->setVisible(true);
    korvane::wb::set_empty_note(plot, QString());
    plot->rescaleAxes();
}

}  // namespace

void DataProcessTab::buildSamplePlotPanel() {
    plotPanel = new QWidget;
    plotPanel->setObjectName("panel2");
    auto* plots = new QVBoxLayout(plotPanel);
    auto* plotModes = new QHBoxLayout;
    ScanNumberRadioButton = new QRadioButton("Scan Number");
    ScanNumberRadioButton->setObjectName("ScanNumberRadioButton");
    ScanNumberRadioButton->setChecked(true);
    RetentionTimeRadioButton = new QRadioButton("Retention Time");
    RetentionTimeRadioButton->setObjectName("RetentionTimeRadioButton");
    twoDRadioButton = new QRadioButton("2D");
    twoDRadioButton->setObjectName("twoDRadioButton");
    label30 = new QLabel("Intensity threshold for 2D plot :");
    label30->setObjectName("label30");
    textBox5 = new QLineEdit("10");
    textBox5->setObjectName("textBox5");
    textBox5->setFixedWidth(80);
    label30->hide();
    textBox5->hide();
    for (QWidget* w : std::initializer_list<QWidget*>{ScanNumberRadioButton, RetentionTimeRadioButton,
                                                      twoDRadioButton, label30, textBox5})
        plotModes->addWidget(w);
    plotModes->addStretch();
    plots->addLayout(plotModes);
    const auto report = [this](const QString& what) { reportError(what); };
    for (QRadioButton* b : {ScanNumberRadioButton, RetentionTimeRadioButton, twoDRadioButton})
        connect_guarded(
            b, &QRadioButton::toggled, this,
            [this](bool on) {
                if (on) redrawDataPlot();
            },
            report);
    connect_guarded(
        textBox5, &QLineEdit::textChanged, this,
        [this](const QString& text) {
            if (text.isEmpty()) {
                textBox5->setText("0");  // redraws through this same signal
                return;
            }
            bool ok = false;
            const int t = plain_locale().toInt(text.trimmed(), &ok);
            // Text that is no whole number keeps the last threshold that was one.
            if (ok) threshold_ = t;
            redrawDataPlot();
        },
        report);

    zedGraphControl1 = new QCustomPlot;
    dataTitle_ = set_up_plot(zedGraphControl1, "zedGraphControl1", 340);
    connect_guarded(
        zedGraphControl1, &QCustomPlot::mousePress, this, [this](QMouseEvent* event) { dataPlotMousePress(event); },
        report);
    zedGraphControl2 = new QCustomPlot;
    spectrumTitle_ = set_up_plot(zedGraphControl2, "zedGraphControl2", 280);
    plots->addWidget(zedGraphControl1, 3);
    plots->addWidget(zedGraphControl2, 2);
    plotPanel->hide();
}

QString DataProcessTab::dataPlotTitle() const { return dataTitle_->text(); }
QString DataProcessTab::spectrumPlotTitle() const { return spectrumTitle_->text(); }

void DataProcessTab::showSample(int row) {
    if (!engine_) return;
    plotPanel->show();
    reset_plot(zedGraphControl2);
    spectrumTitle_->setText(QString());
    korvane::wb::set_empty_note(zedGraphControl2, kSpectrumHint);
    zedGraphControl2->replot();
    // Set first: selecting the row moves the current cell, which must not load the sample again.
    shownRow_ = row;
    dataGridView1->selectRow(row);
    const QString name = dataGridView1->item(row, kFileNameColumn)->text();
    const QString folder = dataGridView1->item(row, kFolderColumn)->text();
    engine_->data_file_Name = engine_text(name);
    engine_->data_file_path = engine_text(folder);
    // A file that cannot be read shows as an empty plot under its name, saying why.
    guarded([this](const QString& what) { sampleFailure_ = what; }, [this] {
        sampleFailure_ = engine_->CDF_File_Load() == 1 ? QString() : window_text(engine_->load_failure);
    });
    fileNameTitle = name;
    redrawDataPlot();
}

korvane::wb::Plot_Mode DataProcessTab::plotMode() const {
    if (twoDRadioButton->isChecked()) return korvane::wb::Plot_Mode::TwoD;
    if (RetentionTimeRadioButton->isChecked()) return korvane::wb::Plot_Mode::RetentionTime;
    return korvane::wb::Plot_Mode::ScanNumber;
}

void DataProcessTab::redrawDataPlot() {
    if (!engine_) return;
    QCustomPlot* plot = zedGraphControl1;
    reset_plot(plot);
    // A sample too large to copy for the plot shows as an empty plot saying why.
    const bool copied = guarded([this](const QString& what) { sampleFailure_ = what; },
                                [this] { view_ = korvane::wb::make_sample_view(*engine_); });
    if (!copied) view_ = korvane::wb::Sample_View{};
    const auto mode = plotMode();
    QCPGraph* graph = plot->addGraph();
    graph->setPen(QPen(Qt::blue));
    graph->removeFromLegend();
    if (mode == korvane::wb::Plot_Mode::TwoD) {
        const auto points = korvane::wb::points_above_threshold(view_, threshold_);
        dataTitle_->setText("2D Plot: " + fileNameTitle);
        plot->xAxis->setLabel("Retention Time (seconds)");
        plot->yAxis->setLabel("M/Z");
        graph->setLineStyle(QCPGraph::lsNone);
        graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, Qt::blue, Qt::blue, 1));
        graph->setData(QVector<double>(points.time.begin(), points.time.end()),
                       QVector<double>(points.mz.begin(), points.mz.end()));
        label30->show();
        textBox5->show();
    } else {
        const bool byScan = mode == korvane::wb::Plot_Mode::ScanNumber;
        const std::vector<double>& x = byScan ? view_.scanNumber : view_.retentionTime;
        dataTitle_->setText("TIC Plot: " + fileNameTitle);
        plot->xAxis->setLabel(byScan ? "Scan Number" : "Retention Time (seconds)");
        plot->yAxis->setLabel("Total Intensity");
        graph->setLineStyle(QCPGraph::lsLine);
        graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
        graph->setData(QVector<double>(x.begin(), x.end()), QVector<double>(view_.tic.begin(), view_.tic.end()));
        label30->hide();
        textBox5->hide();
    }
    plot->rescaleAxes();
    if (!korvane::wb::plot_has_points(plot)) {
        const QString unread = sampleFailure_.isEmpty() ? QStringLiteral("No scan could be read from this file")
                                                        : "Could not be read: " + sampleFailure_;
        korvane::wb::set_empty_note(plot, view_.scan_count() > 0 ? QString("No point above the threshold") : unread);
    }
    plot->replot();
}

void DataProcessTab::dataPlotMousePress(QMouseEvent* event) {
    QCustomPlot* spectrum = zedGraphControl2;
    reset_plot(spectrum);
    bool near = false;
    for (int g = 0; g < zedGraphControl1->graphCount(); ++g) {
        const double d = zedGraphControl1->graph(g)->selectTest(event->position(), false);
        if (d >= 0 && d <= zedGraphControl1->selectionTolerance()) near = true;
    }
    if (!near || view_.scan_count() == 0) {
        spectrumTitle_->setText(QString());
        korvane::wb::set_empty_note(spectrum, kSpectrumHint);
        spectrum->replot();
        return;
    }
    const double x = zedGraphControl1->xAxis->pixelToCoord(event->position().x());
    const auto choice = korvane::wb::choose_spectrum_scan(view_, plotMode(), x);
    spectrumTitle_->setText(QString::fromStdString(choice.title));
    spectrum->xAxis->setLabel("M/Z");
    spectrum->yAxis->setLabel("Intensity");
    std::vector<double> mz, intensity;
    korvane::wb::spectrum_points(view_, choice.scan_pos, mz, intensity);
    QCPGraph* sticks = spectrum->addGraph();
    sticks->setPen(QPen(Qt::blue));
    sticks->setLineStyle(QCPGraph::lsImpulse);
    sticks->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
    sticks->removeFromLegend();
    sticks->setData(QVector<double>(mz.begin(), mz.end()), QVector<double>(intensity.begin(), intensity.end()));
    korvane::wb::fit_stick_axes(spectrum, mz, intensity);
    if (mz.empty()) korvane::wb::set_empty_note(spectrum, QStringLiteral("This scan has no points"));
    spectrum->replot();
}
