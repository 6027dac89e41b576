#include "workbench/results/alignment_result_tab.h"

#include <QButtonGroup>
#include <QFileDialog>
#include <QFileInfo>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include "workbench/engine/korvane_engine.h"
#include "workbench/results/guarded_slot.h"
#include "workbench/results/result_grid.h"
#include "workbench/results/result_plot_data.h"
#include "workbench/results/result_widgets.h"

using namespace korvane::wb;

namespace {

// Positions of the grid query's columns.
constexpr int kEicColumn = 0, kPeakColumn = 1, kMzColumn = 2, kGroupColumn = 10, kAnnotationColumn = 11,
              kCompoundColumn = 12, kSampleIdColumn = 16, kSampleNameColumn = 17, kAlignIdColumn = 18;

}  // namespace

struct AlignmentResultTab::Ui {
    QLineEdit* alignFileTextBox;
    QWidget* gridPanel;
    QWidget* plotPanel;
    ResultTableModel* model;
    QTableView* grid;
    QRadioButton *peakPlot, *groupPlot, *compoundPlot;
    QRadioButton *standard, *nomalized;
    QRadioButton *scanNumber, *rtOriginal, *rtCorrected;
    Pane aligned, perSample;
};

AlignmentResultTab::AlignmentResultTab(CKORVANE_Engine* engine, std::function<QString()> runOutputFolder,
                                       QWidget* parent)
    : QWidget(parent), engine_(engine), runOutputFolder_(std::move(runOutputFolder)) {
    showMessage = [this](const QString& text) { default_message(this, text); };
    openFileDialog = [this](const QString& title, const QString& start, const QString& filter) {
        return default_open_dialog(this, title, start, filter);
    };
    buildUi();
}

AlignmentResultTab::~AlignmentResultTab() { delete ui_; }

void AlignmentResultTab::buildUi() {
    ui_ = new Ui;
    auto* top = new QVBoxLayout(this);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(new QLabel(QStringLiteral("Select Aligned Result (.aligndb) File :")));
    ui_->alignFileTextBox = make_box(QString(), QStringLiteral("alignFileTextBox"), true);
    fileRow->addWidget(ui_->alignFileTextBox, 1);
    auto* browse = make_button(QStringLiteral("Browse"), QStringLiteral("alignBrowseButton"));
    fileRow->addWidget(browse);
    top->addLayout(fileRow);

    auto* splitter = new QSplitter(Qt::Vertical);
    top->addWidget(splitter, 1);
    ui_->gridPanel = new QWidget;
    ui_->gridPanel->setObjectName(QStringLiteral("alignGridPanel"));
    auto* gridLayout = new QVBoxLayout(ui_->gridPanel);
    ui_->model = new ResultTableModel(this);
    ui_->grid = make_grid(QStringLiteral("alignDataGridView"), ui_->model, ui_->gridPanel);
    gridLayout->addWidget(ui_->grid);
    splitter->addWidget(ui_->gridPanel);

    ui_->plotPanel = new QWidget;
    ui_->plotPanel->setObjectName(QStringLiteral("alignPlotPanel"));
    auto* plotLayout = new QVBoxLayout(ui_->plotPanel);
    auto* radios = new QHBoxLayout;
    auto* modeGroup = new QButtonGroup(this);
    ui_->peakPlot =
        make_radio(QStringLiteral("Peak Plot"), QStringLiteral("alignPeakPlotRadioButton"), modeGroup, radios, true);
    ui_->groupPlot = make_radio(QStringLiteral("Group Plot"), QStringLiteral("alignGroupPlotRadioButton"), modeGroup, radios);
    ui_->compoundPlot =
        make_radio(QStringLiteral("Compound Plot"), QStringLiteral("alignCompoundPlotRadioButton"), modeGroup, radios);
    radios->addSpacing(20);
    auto* scaleGroup = new QButtonGroup(this);
    ui_->standard =
        make_radio(QStringLiteral("Standard"), QStringLiteral("alignStandardRadioButton"), scaleGroup, radios, true);
    ui_->nomalized = make_radio(QStringLiteral("Nomalized"), QStringLiteral("alignNomalizedRadioButton"), scaleGroup, radios);
    radios->addSpacing(20);
    auto* xGroup = new QButtonGroup(this);
    ui_->scanNumber =
        make_radio(QStringLiteral("Scan Number"), QStringLiteral("alignScanNumberRadioButton"), xGroup, radios, true);
    ui_->rtOriginal = make_radio(QStringLiteral("RT_Original"), QStringLiteral("rtOriginalRadioButton"), xGroup, radios);
    ui_->rtCorrected = make_radio(QStringLiteral("RT_Corrected"), QStringLiteral("rtCorrectedRadioButton"), xGroup, radios);
    radios->addStretch(1);
    plotLayout->addLayout(radios);
    auto* panes = new QHBoxLayout;
    ui_->aligned = make_pane(QStringLiteral("alignedGraph"), ui_->plotPanel);
    ui_->perSample = make_pane(QStringLiteral("perSampleGraph"), ui_->plotPanel);
    panes->addWidget(ui_->aligned.plot);
    panes->addWidget(ui_->perSample.plot);
    plotLayout->addLayout(panes, 1);
    splitter->addWidget(ui_->plotPanel);

    ui_->gridPanel->setVisible(false);
    ui_->plotPanel->setVisible(false);

    const auto report = [this](const QString& what) { showMessage(what); };
    connect_guarded(browse, &QPushButton::clicked, this, [this] { browseAlignDatabase(); }, report);
    // A click moves the current row too: both run the plot routine through this one path.
    on_current_row_change(ui_->grid, this, &selecting_, [this](int row) { selectRow(row); }, report);
    for (QRadioButton* b : {ui_->peakPlot, ui_->groupPlot, ui_->compoundPlot, ui_->standard, ui_->nomalized,
                            ui_->scanNumber, ui_->rtOriginal, ui_->rtCorrected})
        connect_guarded(
            b, &QRadioButton::toggled, this,
            [this](bool on) {
                if (on) plotSelectedRow();
            },
            report);
}

void AlignmentResultTab::browseAlignDatabase() {
    if (!engine_) return;
    const auto info = one_chosen_file(openFileDialog(QStringLiteral("Select a Aligned Result File"),
                                                     runOutputFolder_ ? runOutputFolder_() : QString(),
                                                     QStringLiteral("aligndb Files (*.aligndb)")),
                                      ui_->alignFileTextBox, showMessage,
                                      QStringLiteral("Please select the aligndb(.aligndb) file(s)!"));
    if (!info) return;
    alignFolderName_ = info->path();
    alignFileName_ = info->fileName();
    const auto unreadable = [this](const QString& what) {
        clearPanes();
        showMessage(what);
    };
    if (!guarded(unreadable, [&] { populateAlignGrid(alignFolderName_, alignFileName_); })) return;
    arrange_grid_columns(ui_->grid, {kEicColumn, kPeakColumn, kMzColumn, kSampleNameColumn, kAlignIdColumn,
                                     kGroupColumn, kCompoundColumn, kAnnotationColumn});
    ui_->gridPanel->setVisible(true);
    ui_->plotPanel->setVisible(true);
    selectRow(0);
}

void AlignmentResultTab::populateAlignGrid(const QString& DataPath1, const QString& DataFile1) {
    load_result_table(DataPath1, DataFile1, QString::fromLatin1(kAlignmentGridSelect), *ui_->model);
}

void AlignmentResultTab::selectRow(int row) {
    if (row < 0) return;
    ui_->plotPanel->setVisible(true);
    if (row < ui_->model->rowCount()) select_grid_row(ui_->grid, row, &selecting_);
    plotSelectedRow();
}

void AlignmentResultTab::plotSelectedRow() {
    if (!engine_ || alignFileName_.isEmpty()) return;
    guarded(
        [this](const QString& what) {
            // A failed routine stops with the panes emptied but still titled for the row shown before.
            clearPanes();
            showMessage(QStringLiteral("Could not plot the selected row: ") + what);
        },
        [this] { plotRoutine(); });
}

void AlignmentResultTab::clearPanes() {
    for (const Pane* p : {&ui_->aligned, &ui_->perSample}) clear_and_replot(*p);
}

void AlignmentResultTab::plotRoutine() {
    ResultTableModel* model = ui_->model;
    const int row = shown_row(ui_->grid);
    // 1. Empty panes, no row coloured; with no row to show, nothing at all (no title either).
    reset_pane(ui_->aligned);
    reset_pane(ui_->perSample);
    model->paint_rows(0, std::nullopt);
    if (row < 0 || row >= model->rowCount()) {
        clearPanes();
        return;
    }
    const std::string path = engine_text(alignFolderName_);
    const std::string file = engine_text(alignFileName_);
    const int eic_id = model->cell_int(row, kEicColumn);
    const int peak_id = model->cell_int(row, kPeakColumn);
    const int group_id = model->cell_int(row, kGroupColumn);
    const int compound_id = model->cell_int(row, kCompoundColumn);
    const int sample_id = model->cell_int(row, kSampleIdColumn);
    const QString sample_name = model->cell(row, kSampleNameColumn).toString();
    const int align_id = model->cell_int(row, kAlignIdColumn);

    // 2. The row's aligned feature, or the peak alone when it was not aligned.
    std::vector<Chromatogram_Peak_Group_Compound_Align> aligned;
    if (align_id == 0) {
        engine_->Engine_Query_ChromatographPeak_FromAlignDataBase(path, file, sample_id, eic_id, peak_id, aligned);
    } else {
        model->paint_rows(kAlignIdColumn, align_id);
        engine_->Engine_Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(path, file, align_id,
                                                                                             aligned);
    }

    // 3. The row's peak, group or compound in its own sample.
    const PlotMode mode = ui_->groupPlot->isChecked()      ? PlotMode::GroupPlot
                          : ui_->compoundPlot->isChecked() ? PlotMode::CompoundPlot
                                                           : PlotMode::PeakPlot;
    std::vector<Chromatogram_Peak_Group_Compound_Align> per_sample;
    if (mode == PlotMode::GroupPlot)
        engine_->Engine_Query_GroupedChromatographPeaklist_FromAlignDataBase(path, file, sample_id, group_id, per_sample);
    else if (mode == PlotMode::CompoundPlot && compound_id != 0)
        engine_->Engine_Query_AnnotatedGroupedChromatographPeaklist_FromAlignDataBase(path, file, sample_id,
                                                                                      compound_id, per_sample);
    else
        engine_->Engine_Query_ChromatographPeak_FromAlignDataBase(path, file, sample_id, eic_id, peak_id, per_sample);

    // 4. Both panes drawn.
    const XAxisMode x_mode = ui_->rtCorrected->isChecked()  ? XAxisMode::RetentionTimeCorrected
                             : ui_->rtOriginal->isChecked() ? XAxisMode::RetentionTime
                                                            : XAxisMode::ScanNumber;
    const ScaleMode scale = ui_->nomalized->isChecked() ? ScaleMode::Nomalized : ScaleMode::Standard;
    draw_pane(ui_->aligned, aligned_pane(aligned, x_mode, scale, model->cell(row, kAlignIdColumn).toString()));
    draw_pane(ui_->perSample, per_sample_pane(per_sample, mode, x_mode, scale, sample_name));
}
