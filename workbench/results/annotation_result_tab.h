// The "Annotation Result" page of the main window: a grid over a sample's result database and the
// plots of the selected row (its peaks, pseudo-spectrum, stored mass trace and, once a sample file
// is chosen, its TIC and an m/z-binned chromatogram). What the plots show is computed by
// result_plot_data.h; this page only reads its controls, runs the queries and draws.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "workbench/results/result_plot_data.h"

class CKORVANE_Engine;

class AnnotationResultTab : public QWidget {
    Q_OBJECT
public:
    AnnotationResultTab(CKORVANE_Engine* engine, std::function<QString()> runOutputFolder,
                        QWidget* parent = nullptr);
    ~AnnotationResultTab() override;

    // Seams for every modal, so tests can answer them. openFileDialog returns std::nullopt when the
    // user cancels, else the chosen files; saveFileDialog returns an empty string when cancelled.
    std::function<void(const QString& text)> showMessage;
    std::function<std::optional<QStringList>(const QString& title, const QString& startFolder,
                                             const QString& filter)>
        openFileDialog;
    std::function<QString(const QString& title, const QString& startFolder, const QString& proposedName,
                          const QString& filter)>
        saveFileDialog;

    // The "Browse" buttons, the row click, the plot routine and "Export", callable directly. The
    // plot routine shows an error of the queries in a message box and ends there.
    void browseOutputDatabase();
    void browseSampleFile();
    void selectRow(int row);
    void plotSelectedRow();
    void exportPseudoSpectrum();

    QString outputFolderName() const { return outputFolderName_; }
    QString outputFileName() const { return outputFileName_; }
    QString outputCdfFolderName() const { return outputCdfFolderName_; }
    int cdfFileExitst() const { return cdfFileExitst_; }
    const std::vector<double>& pseudoMz() const { return pseudoMz_; }
    const std::vector<double>& pseudoIntensity() const { return pseudoIntensity_; }
    const std::vector<QString>& pseudoAnnotation() const { return pseudoAnnotation_; }

private:
    struct Ui;
    void buildUi();
    void buildGridPanel();
    void buildPlotPanel();
    void buildBinningGroup();
    void populateOutputGrid(const QString& DataPath1, const QString& DataFile1);
    void plotRoutine();
    // The rows a plot of grid row `row` shows, with the grid painted to match.
    std::vector<Chromatogram_Peak_Group_Compound> queryRowRecords(int row, korvane::wb::PlotMode mode,
                                                                  const std::string& path, const std::string& file);
    // The loaded sample's TIC, with its chromatogram binned around the m/z box into binned.
    korvane::wb::PlotPane sampleTicAndBinning(korvane::wb::XAxisMode x_mode, Mass_Trace& binned);
    // The TIC and binning panes and the binning group, from the sample alone: no row needed.
    void drawSamplePanes(korvane::wb::XAxisMode x_mode);
    void drawRowPanes(const std::vector<Chromatogram_Peak_Group_Compound>& records, korvane::wb::PlotMode mode,
                      korvane::wb::XAxisMode x_mode, const Mass_Trace& eic);
    // Empties the peaks, pseudo-spectrum and extracted-EIC panes, and the pseudo-spectrum "Export" writes.
    void clearRowPanes();
    // Empties the sample-file box and takes the sample's TIC and binning controls off the page with it.
    void forgetSample();
    korvane::wb::PlotMode plotMode() const;
    korvane::wb::XAxisMode xMode() const;
    void binningEntryFinished(int box);
    void binningModeChanged();
    // Runs a redraw; its error is shown, or dropped when quiet.
    void redraw(bool quiet);

    Ui* ui_ = nullptr;
    bool selecting_ = false;  // selectRow moving the grid's current row, which plots by itself
    CKORVANE_Engine* engine_;
    std::function<QString()> runOutputFolder_;
    QString outputFolderName_, outputFileName_, outputCdfFolderName_;
    int cdfFileExitst_ = 0;
    QString cdfFailure_;  // why the chosen sample file could not be loaded; empty otherwise
    QString finishedEntry_[3] = {QStringLiteral("100"), QStringLiteral("40"), QStringLiteral("0.1")};
    std::vector<double> pseudoMz_, pseudoIntensity_;
    std::vector<QString> pseudoAnnotation_;
};
