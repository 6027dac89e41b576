#include "workbench/results/annotation_result_tab.h"

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

// Wide enough for the grid's key columns (EIC_ID, Peak_ID, Apex_MZ, Group_ID, Compound_ID).
constexpr int kGridPanelWidth = 400;

// Positions of the grid query's columns.
constexpr int kEicColumn = 0, kPeakColumn = 1, kMzColumn = 2, kGroupColumn = 10, kAnnotationColumn = 11,
              kCompoundColumn = 12;

}  // namespace

struct AnnotationResultTab::Ui {
    QLineEdit* outputFileTextBox;
    QLineEdit* cdfFileTextBox;
    QWidget* gridPanel;
    QWidget* plotPanel;
    ResultTableModel* model;
    QTableView* grid;
    QRadioButton *peakPlot, *groupPlot, *compoundPlot;
    QRadioButton *scanNumber, *retentionTime;
    QRadioButton *standard, *nomalized;
    QPushButton* exportButton;
    QGroupBox* binningGroup;
    QLineEdit *mzBox, *ppmBox, *binBox;
    QRadioButton *ppmRadio, *binRadio;
    Pane peaks, pseudo, eic, tic, binning;
};

AnnotationResultTab::AnnotationResultTab(CKORVANE_Engine* engine, std::function<QString()> runOutputFolder,
                                         QWidget* parent)
    : QWidget(parent), engine_(engine), runOutputFolder_(std::move(runOutputFolder)) {
    showMessage = [this](const QString& text) { default_message(this, text); };
    openFileDialog = [this](const QString& title, const QString& start, const QString& filter) {
        return default_open_dialog(this, title, start, filter);
    };
    saveFileDialog = [this](const QString& title, const QString& start, const QString& proposed,
                            const QString& filter) {
        return QFileDialog::getSaveFileName(this, title, QDir(start).filePath(proposed), filter);
    };
    buildUi();
}

AnnotationResultTab::~AnnotationResultTab() { delete ui_; }

namespace {

// A label, a read-only path box and its "Browse" button on one row.
QPushButton* add_file_row(QVBoxLayout* top, const QString& label, QLineEdit*& box, const QString& box_name,
                          const QString& button_name) {
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(label));
    box = make_box(QString(), box_name, true);
    row->addWidget(box, 1);
    auto* browse = make_button(QStringLiteral("Browse"), button_name);
    row->addWidget(browse);
    top->addLayout(row);
    return browse;
}

QRadioButton* add_bin_mode(QGridLayout* layout, int row, QButtonGroup* group, const QString& text,
                           const QString& name) {
    auto* b = new QRadioButton(text);
    b->setObjectName(name);
    group->addButton(b);
    layout->addWidget(b, row, 0);
    return b;
}

}  // namespace

void AnnotationResultTab::buildUi() {
    ui_ = new Ui;
    auto* top = new QVBoxLayout(this);
    auto* dbBrowse = add_file_row(top, QStringLiteral("Select Output (.db) File :"), ui_->outputFileTextBox,
                                  QStringLiteral("outputFileTextBox"), QStringLiteral("outputBrowseButton"));
    auto* cdfBrowse = add_file_row(top, QStringLiteral("Select CDF File : "), ui_->cdfFileTextBox,
                                   QStringLiteral("cdfFileTextBox"), QStringLiteral("cdfBrowseButton"));

    // Neither side can be dragged away: the grid keeps its key columns in view, the panes a
    // usable size.
    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->setChildrenCollapsible(false);
    top->addWidget(splitter, 1);
    buildGridPanel();
    splitter->addWidget(ui_->gridPanel);
    buildPlotPanel();
    splitter->addWidget(ui_->plotPanel);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);

    ui_->gridPanel->setVisible(false);
    ui_->plotPanel->setVisible(false);
    ui_->binningGroup->setVisible(false);

    const auto report = [this](const QString& what) { showMessage(what); };
    connect_guarded(dbBrowse, &QPushButton::clicked, this, [this] { browseOutputDatabase(); }, report);
    connect_guarded(cdfBrowse, &QPushButton::clicked, this, [this] { browseSampleFile(); }, report);
    connect_guarded(ui_->exportButton, &QPushButton::clicked, this, [this] { exportPseudoSpectrum(); }, report);
    // A click moves the current row too: both run the plot routine through this one path.
    on_current_row_change(ui_->grid, this, &selecting_, [this](int row) { selectRow(row); }, report);
    const auto when_on = [](auto slot) {
        return [slot](bool on) {
            if (on) slot();
        };
    };
    for (QRadioButton* b : {ui_->peakPlot, ui_->groupPlot, ui_->compoundPlot, ui_->scanNumber, ui_->retentionTime,
                            ui_->standard, ui_->nomalized})
        connect_guarded(b, &QRadioButton::toggled, this, when_on([this] { redraw(false); }), report);
    for (QRadioButton* b : {ui_->ppmRadio, ui_->binRadio})
        connect_guarded(b, &QRadioButton::toggled, this, when_on([this] { binningModeChanged(); }), report);
    // Checked and drawn once the entry is finished (Enter, or leaving the box): on every keystroke
    // "3500" would first draw 3, 35 and 350.
    const QLineEdit* boxes[] = {ui_->mzBox, ui_->ppmBox, ui_->binBox};
    for (int box = 0; box < 3; ++box)
        connect_guarded(boxes[box], &QLineEdit::editingFinished, this, [this, box] { binningEntryFinished(box); },
                        report);
}

void AnnotationResultTab::buildGridPanel() {
    // The grid panel: the peak table and which records the plot takes.
    ui_->gridPanel = new QWidget;
    ui_->gridPanel->setObjectName(QStringLiteral("gridPanel"));
    ui_->gridPanel->setMinimumWidth(kGridPanelWidth);
    auto* gridLayout = new QVBoxLayout(ui_->gridPanel);
    gridLayout->setContentsMargins(0, 0, 0, 0);
    ui_->model = new ResultTableModel(this);
    ui_->grid = make_grid(QStringLiteral("outputDataGridView"), ui_->model, ui_->gridPanel);
    gridLayout->addWidget(ui_->grid, 1);
    auto* modeBox = new QHBoxLayout;
    auto* modeGroup = new QButtonGroup(this);
    ui_->peakPlot = make_radio(QStringLiteral("Peak Plot"), QStringLiteral("peakPlotRadioButton"), modeGroup, modeBox, true);
    ui_->groupPlot = make_radio(QStringLiteral("Group Plot"), QStringLiteral("groupPlotRadioButton"), modeGroup, modeBox);
    ui_->compoundPlot =
        make_radio(QStringLiteral("Compound Plot"), QStringLiteral("compoundPlotRadioButton"), modeGroup, modeBox);
    modeBox->addStretch(1);
    gridLayout->addLayout(modeBox);
}

void AnnotationResultTab::buildPlotPanel() {
    ui_->plotPanel = new QWidget;
    ui_->plotPanel->setObjectName(QStringLiteral("plotPanel"));
    auto* plotLayout = new QVBoxLayout(ui_->plotPanel);
    plotLayout->setContentsMargins(0, 0, 0, 0);
    auto* radios = new QHBoxLayout;
    auto* xGroup = new QButtonGroup(this);
    ui_->scanNumber = make_radio(QStringLiteral("Scan Number"), QStringLiteral("scanNumberRadioButton"), xGroup, radios, true);
    ui_->retentionTime =
        make_radio(QStringLiteral("Retention Time"), QStringLiteral("retentionTimeRadioButton"), xGroup, radios);
    radios->addSpacing(20);
    auto* scaleGroup = new QButtonGroup(this);
    ui_->standard = make_radio(QStringLiteral("Standard"), QStringLiteral("standardRadioButton"), scaleGroup, radios, true);
    ui_->nomalized = make_radio(QStringLiteral("Nomalized"), QStringLiteral("nomalizedRadioButton"), scaleGroup, radios);
    radios->addStretch(1);
    ui_->exportButton = make_button(QStringLiteral("Export"), QStringLiteral("exportButton"));
    radios->addWidget(ui_->exportButton);
    plotLayout->addLayout(radios);

    // Two columns of equal width, three rows of equal height; the binning controls take a narrow
    // strip beside the binning pane rather than a pane's column of their own.
    auto* panes = new QGridLayout;
    ui_->peaks = make_pane(QStringLiteral("peaksGraph"), ui_->plotPanel);
    ui_->pseudo = make_pane(QStringLiteral("pseudoSpectrumGraph"), ui_->plotPanel);
    ui_->eic = make_pane(QStringLiteral("extractedEicGraph"), ui_->plotPanel);
    ui_->tic = make_pane(QStringLiteral("ticGraph"), ui_->plotPanel);
    ui_->binning = make_pane(QStringLiteral("binningEicGraph"), ui_->plotPanel);
    panes->addWidget(ui_->peaks.plot, 0, 0);
    panes->addWidget(ui_->pseudo.plot, 0, 1);
    panes->addWidget(ui_->eic.plot, 1, 0);
    panes->addWidget(ui_->tic.plot, 1, 1);
    auto* binningRow = new QHBoxLayout;
    binningRow->addWidget(ui_->binning.plot, 1);
    buildBinningGroup();
    binningRow->addWidget(ui_->binningGroup, 0, Qt::AlignTop);
    panes->addLayout(binningRow, 2, 0, 1, 2);
    for (int i = 0; i < 3; ++i) panes->setRowStretch(i, 1);
    for (int i = 0; i < 2; ++i) panes->setColumnStretch(i, 1);
    plotLayout->addLayout(panes, 1);
}

void AnnotationResultTab::buildBinningGroup() {
    ui_->binningGroup = new QGroupBox;
    ui_->binningGroup->setObjectName(QStringLiteral("binningGroupBox"));
    ui_->binningGroup->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Maximum);
    auto* binLayout = new QGridLayout(ui_->binningGroup);
    binLayout->addWidget(new QLabel(QStringLiteral("M/Z :")), 0, 0);
    ui_->mzBox = make_box(QStringLiteral("100"), QStringLiteral("mzTextBox"), false);
    binLayout->addWidget(ui_->mzBox, 0, 1);
    binLayout->addWidget(new QLabel(QStringLiteral("(Da)")), 0, 2);
    auto* binModeGroup = new QButtonGroup(this);
    ui_->ppmRadio = add_bin_mode(binLayout, 1, binModeGroup, QStringLiteral("ppm (0-1000)"), QStringLiteral("ppmRadioButton"));
    ui_->ppmRadio->setChecked(true);
    ui_->ppmBox = make_box(QStringLiteral("40"), QStringLiteral("ppmTextBox"), false);
    binLayout->addWidget(ui_->ppmBox, 1, 1);
    ui_->binRadio =
        add_bin_mode(binLayout, 2, binModeGroup, QStringLiteral("bin size (0-1)"), QStringLiteral("binSizeRadioButton"));
    ui_->binBox = make_box(QStringLiteral("0.1"), QStringLiteral("binSizeTextBox"), true);
    binLayout->addWidget(ui_->binBox, 2, 1);
    for (QLineEdit* box : {ui_->mzBox, ui_->ppmBox, ui_->binBox}) box->setFixedWidth(90);
}

void AnnotationResultTab::browseOutputDatabase() {
    if (!engine_) return;
    const auto info = one_chosen_file(openFileDialog(QStringLiteral("Select a Result File"),
                                                     runOutputFolder_ ? runOutputFolder_() : QString(),
                                                     QStringLiteral("db Files (*.db)")),
                                      ui_->outputFileTextBox, showMessage,
                                      QStringLiteral("Please select the db(.db) file(s)!"));
    if (!info) return;
    outputFolderName_ = info->path();
    outputFileName_ = info->fileName();
    // The sample was chosen for the earlier database: it goes before the new one's first plot, which
    // would otherwise show its TIC beside an empty sample-file box.
    forgetSample();
    const auto unreadable = [this](const QString& what) {
        clearRowPanes();
        showMessage(what);
    };
    if (guarded(unreadable, [&] { populateOutputGrid(outputFolderName_, outputFileName_); })) {
        arrange_grid_columns(ui_->grid, {kEicColumn, kPeakColumn, kMzColumn, kGroupColumn, kCompoundColumn,
                                         kAnnotationColumn});
        ui_->gridPanel->setVisible(true);
        ui_->plotPanel->setVisible(true);
        selectRow(0);
    }
}

void AnnotationResultTab::populateOutputGrid(const QString& DataPath1, const QString& DataFile1) {
    load_result_table(DataPath1, DataFile1, QString::fromLatin1(kAnnotationGridSelect), *ui_->model);
}

void AnnotationResultTab::browseSampleFile() {
    if (!engine_) return;
    const auto files = openFileDialog(QStringLiteral("Select a CDF File"), runOutputFolder_ ? runOutputFolder_() : QString(),
                                      QStringLiteral("CDF File (*.CDF)"));
    if (files && !files->isEmpty()) {
        if (ui_->outputFileTextBox->text().isEmpty()) {
            showMessage(QStringLiteral("Please select output file"));
            return;
        }
        const QString path = files->front();
        ui_->cdfFileTextBox->setText(path);
        const QFileInfo info(path);
        outputCdfFolderName_ = QFileInfo(info.path()).path();
        engine_->data_file_Name = engine_text(info.fileName());
        engine_->data_file_path = engine_text(info.path());
        // A file the reader refuses is reported like one that throws, instead of leaving the
        // TIC and binning panes silently empty behind a path that looks loaded.
        int loaded = 0;
        guarded([this](const QString& what) { cdfFailure_ = what; }, [&] {
            loaded = engine_->CDF_File_Load();
            cdfFailure_ = loaded == 1 ? QString() : window_text(engine_->load_failure);
        });
        cdfFileExitst_ = loaded == 1 ? 1 : 0;
        // A sample's TIC needs no peak table: it is shown beside a database that has no peak or
        // could not be read, whose plot panel would still be hidden.
        ui_->plotPanel->setVisible(true);
        // Drawn before the message: the previous sample's TIC must not stand behind a box about
        // this one, and the panes name the file's fault as the box beside them names the file.
        redraw(false);
        if (cdfFileExitst_ == 0)
            showMessage(cdfFailure_.isEmpty() ? QStringLiteral("Could not load the CDF file!")
                                              : QStringLiteral("Could not load the CDF file: ") + cdfFailure_);
        return;
    }
    forgetSample();
    showMessage(QStringLiteral("Please select the CDF(.CDF) file!"));
}

void AnnotationResultTab::forgetSample() {
    ui_->cdfFileTextBox->clear();
    cdfFileExitst_ = 0;
    cdfFailure_.clear();
    drawSamplePanes(xMode());
}

void AnnotationResultTab::selectRow(int row) {
    if (row < 0) return;
    ui_->plotPanel->setVisible(true);
    if (row < ui_->model->rowCount()) select_grid_row(ui_->grid, row, &selecting_);
    redraw(false);
}

void AnnotationResultTab::plotSelectedRow() { redraw(false); }

void AnnotationResultTab::redraw(bool quiet) {
    if (!engine_ || outputFileName_.isEmpty()) return;
    guarded(
        [this, quiet](const QString& what) {
            // Whatever the routine drew before it failed belongs to the row shown before.
            clearRowPanes();
            if (!quiet) showMessage(QStringLiteral("Could not plot the selected row: ") + what);
        },
        [this] { plotRoutine(); });
}

void AnnotationResultTab::clearRowPanes() {
    for (const Pane* p : {&ui_->peaks, &ui_->pseudo, &ui_->eic}) clear_and_replot(*p);
    pseudoMz_.clear();
    pseudoIntensity_.clear();
    pseudoAnnotation_.clear();
}

PlotMode AnnotationResultTab::plotMode() const {
    return ui_->groupPlot->isChecked()      ? PlotMode::GroupPlot
           : ui_->compoundPlot->isChecked() ? PlotMode::CompoundPlot
                                            : PlotMode::PeakPlot;
}

XAxisMode AnnotationResultTab::xMode() const {
    return ui_->retentionTime->isChecked() ? XAxisMode::RetentionTime : XAxisMode::ScanNumber;
}

void AnnotationResultTab::plotRoutine() {
    ResultTableModel* model = ui_->model;
    const PlotMode mode = plotMode();
    const XAxisMode x_mode = xMode();
    ui_->exportButton->setVisible(mode != PlotMode::PeakPlot);

    // 1. The sample's TIC and the trace binned around the boxes' m/z, when a sample is loaded. They
    // come from the sample alone, so a peak table without a row to show still shows them.
    drawSamplePanes(x_mode);

    const int row = shown_row(ui_->grid);
    if (row < 0 || row >= model->rowCount()) {
        // No row to show (an empty peak table): empty panes rather than a guessed row.
        clearRowPanes();
        return;
    }
    const std::string path = engine_text(outputFolderName_);
    const std::string file = engine_text(outputFileName_);
    const int eic_id = model->cell_int(row, kEicColumn);

    // 2. Empty peak and pseudo-spectrum panes, no row coloured.
    reset_pane(ui_->peaks);
    reset_pane(ui_->pseudo);
    model->paint_rows(0, std::nullopt);

    // 3. The records of the row's peak, group or compound.
    const std::vector<Chromatogram_Peak_Group_Compound> records = queryRowRecords(row, mode, path, file);

    // 4. Their pseudo-spectrum, kept for "Export".
    const PseudoSpectrum spectrum = build_pseudo_spectrum(records);
    pseudoMz_ = spectrum.mz;
    pseudoIntensity_ = spectrum.intensity;
    pseudoAnnotation_ = spectrum.annotation;

    // 5. The row's extracted trace from the result database.
    reset_pane(ui_->eic);
    Mass_Trace eic;
    engine_->Engine_Query_extracted_eic_FromAnnoatedDataBase(path, file, eic_id, eic);

    // 6. The row's panes drawn.
    drawRowPanes(records, mode, x_mode, eic);
    draw_pane(ui_->pseudo, pseudo_spectrum_pane(spectrum));
}

std::vector<Chromatogram_Peak_Group_Compound> AnnotationResultTab::queryRowRecords(int row, PlotMode mode,
                                                                                   const std::string& path,
                                                                                   const std::string& file) {
    ResultTableModel* model = ui_->model;
    const int eic_id = model->cell_int(row, kEicColumn);
    const int peak_id = model->cell_int(row, kPeakColumn);
    std::vector<Chromatogram_Peak_Group_Compound> records;
    if (mode == PlotMode::PeakPlot) {
        engine_->Engine_Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(path, file, eic_id, peak_id, records);
    } else if (mode == PlotMode::GroupPlot) {
        const int group_id = model->cell_int(row, kGroupColumn);
        model->paint_rows(kGroupColumn, group_id);
        engine_->Engine_Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(path, file, group_id, records);
    } else {
        const int compound_id = model->cell_int(row, kCompoundColumn);
        if (compound_id == 0) {
            engine_->Engine_Query_GroupedChromatographPeaklist_FromAnnoatedDataBase(path, file, eic_id, peak_id, records);
        } else {
            model->paint_rows(kCompoundColumn, compound_id);
            engine_->Engine_Query_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(path, file, compound_id,
                                                                                             records);
        }
    }
    return records;
}

PlotPane AnnotationResultTab::sampleTicAndBinning(XAxisMode x_mode, Mass_Trace& binned) {
    if (cdfFileExitst_ != 1) {
        ui_->binningGroup->setVisible(false);
        return tic_pane({}, {}, {}, 0, x_mode);
    }
    PlotPane tic_data = tic_pane(engine_->scan_num_arry, engine_->scan_acquisition_time_arry,
                                 engine_->total_intensity_arry, engine_->Total_Scan_Num, x_mode);
    ui_->binningGroup->setVisible(true);
    bool mz_ok = false, width_ok = false;
    const double mass_bin = ui_->mzBox->text().trimmed().toDouble(&mz_ok);
    // A box that holds no number leaves the binning pane empty instead of binning around 0.
    if (ui_->ppmRadio->isChecked()) {
        const double ppm = ui_->ppmBox->text().trimmed().toDouble(&width_ok);
        if (mz_ok && width_ok) engine_->Engine_EIC_extraction_binning(mass_bin, ppm, 0.1, true, binned);
    } else {
        const double bin_size = ui_->binBox->text().trimmed().toDouble(&width_ok);
        if (mz_ok && width_ok) engine_->Engine_EIC_extraction_binning(mass_bin, 40, bin_size, false, binned);
    }
    return tic_data;
}

void AnnotationResultTab::drawRowPanes(const std::vector<Chromatogram_Peak_Group_Compound>& records, PlotMode mode,
                                       XAxisMode x_mode, const Mass_Trace& eic) {
    draw_pane(ui_->peaks, annotation_peaks_pane(records, mode, x_mode,
                                                ui_->nomalized->isChecked() ? ScaleMode::Nomalized : ScaleMode::Standard,
                                                outputFileName_));
    draw_pane(ui_->eic, trace_pane(QStringLiteral("Extracted EIC Plot"), eic, x_mode));
}

void AnnotationResultTab::drawSamplePanes(XAxisMode x_mode) {
    reset_pane(ui_->tic);
    reset_pane(ui_->binning);
    Mass_Trace binned;
    PlotPane tic_data = sampleTicAndBinning(x_mode, binned);
    PlotPane binning = trace_pane(QStringLiteral("Binning EIC Plot"), binned, x_mode);
    if (cdfFileExitst_ == 1) {
        binning.emptyNote = QStringLiteral("No point of the sample in this m/z window");
    } else if (!cdfFailure_.isEmpty()) {
        // On two lines: a reason such as "truncated: 200000 bytes, its header needs 3655608" alone
        // fills the narrow TIC pane.
        binning.emptyNote = tic_data.emptyNote = QStringLiteral("Could not be read:\n") + cdfFailure_;
    } else {
        binning.emptyNote = QStringLiteral("Select a CDF file to bin its points by m/z");
        tic_data.emptyNote = QStringLiteral("Select a CDF file to see its TIC");
    }
    draw_pane(ui_->binning, binning);
    draw_pane(ui_->tic, tic_data);
}

void AnnotationResultTab::binningEntryFinished(int box) {
    struct Check {
        QLineEdit* edit;
        double high;
        const char* message;
    };
    const Check checks[] = {{ui_->mzBox, 3000, "Please select M/Z value within the range 0~3000"},
                            {ui_->ppmBox, 1000, "Please select ppm within the range 0~1000"},
                            {ui_->binBox, 1, "Please select binsize within the range 0~1"}};
    const Check& c = checks[box];
    const QString text = c.edit->text().trimmed();
    // The box also finishes when its own message box takes the focus away: one answer per entry.
    if (text == finishedEntry_[box]) return;
    finishedEntry_[box] = text;
    if (text.isEmpty()) return;
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok) return;
    if (!(v >= 0 && v <= c.high)) {
        showMessage(QString::fromLatin1(c.message));
        return;
    }
    redraw(true);
}

void AnnotationResultTab::binningModeChanged() {
    const bool ppm = ui_->ppmRadio->isChecked();
    ui_->ppmBox->setReadOnly(!ppm);
    ui_->binBox->setReadOnly(ppm);
    redraw(false);
}

void AnnotationResultTab::exportPseudoSpectrum() {
    const QString path = saveFileDialog(QStringLiteral("Save a pseudo spectrum file"),
                                        runOutputFolder_ ? runOutputFolder_() : QString(),
                                        QStringLiteral("pseudospectrum.txt"), QStringLiteral("Text File  (pseudospectrum*.txt)"));
    if (path.isEmpty()) return;
    const PlotMode mode = plotMode();
    const PseudoSpectrum spectrum{pseudoMz_, pseudoIntensity_, pseudoAnnotation_};
    // A file that could not be written is reported as such, never as exported.
    if (guarded(showMessage, [&] { write_pseudo_spectrum_file(path, pseudo_spectrum_file_bytes(spectrum, mode)); }))
        showMessage(QStringLiteral("Pseudo spectrum file has been exported!"));
}
