// The "Data Process" page of the main window: the sample files and the configuration folder, the
// file grid with its Process and Align marks, the Batch and Parallel Runs with their progress, and
// the plots of one sample (its TIC or 2D map, and the spectrum of a scan). Sources:
// data_process_tab.cpp (inputs, grid and marks), data_process_run.cpp (runs), sample_plots.cpp.
#pragma once

#include <QFutureWatcher>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "workbench/window/data_view.h"

class CKORVANE_Engine;
class QCheckBox;
class QCustomPlot;
class QCPTextElement;
class QGridLayout;
class QLabel;
class QLineEdit;
class QMouseEvent;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QVBoxLayout;

class DataProcessTab : public QWidget {
    Q_OBJECT
public:
    // engine may be null (the window could not allocate one): every action that needs it then
    // does nothing.
    explicit DataProcessTab(CKORVANE_Engine* engine, QWidget* parent = nullptr);
    ~DataProcessTab() override;

    // Seams for every modal, so tests answer them without a screen. openFilesDialog returns
    // std::nullopt when cancelled, else the chosen paths; folderDialog returns the folder the
    // dialog holds when it closes (the proposed one when cancelled); askQuestion is a Yes/No
    // question, true for Yes.
    std::function<void(const QString& text)> showMessage;
    std::function<std::optional<QStringList>(const QString& title, const QString& filter)> openFilesDialog;
    std::function<QString(const QString& proposed)> folderDialog;
    std::function<bool(const QString& text)> askQuestion;
    // How long the launcher of a Parallel Run stopped by closing the window may take to end after
    // SIGTERM before it is killed.
    std::chrono::milliseconds launcherStopGrace{10000};

    // The handlers, callable directly.
    void DataLoadBrowseButton_Click();
    void LoadDataFileButton_Click();
    void configFileButton_Click();
    void batchButton_Click();
    void mpiButton_Click();
    void dataGridView1_CellClick(int row, int column);
    void redrawDataPlot();
    void dataPlotMousePress(QMouseEvent* event);

    // Before the window goes: during a run, asks, and on Yes asks the run to stop (a Batch Run
    // after its current sample, a Parallel Run's launcher by SIGTERM); true unless the window is to
    // stay. waitForStoppedRun then waits for that run to end, killing a launcher still there after
    // launcherStopGrace.
    bool confirmStopBeforeLeaving();
    void waitForStoppedRun();
    // Ends the launcher and waits for the run's worker and poller: they use the engine, which the
    // window frees after this.
    void endRunNow();

    const QString& filePathData() const { return FilePathData; }
    const QString& filePathOut() const { return FilePathOut; }
    const QString& configPath() const { return ConfigPath; }
    QString configBoxText() const;
    int checkboxCountValue() const { return checkboxCount; }
    int fileNumberValue() const { return fileNumber; }
    const korvane::wb::Sample_View& sampleView() const { return view_; }
    // True from a run's start until its completion message has been shown and its progress
    // poller has ended.
    bool runBusy() const { return runBusy_ || pollerBusy_; }
    QString dataPlotTitle() const;
    QString spectrumPlotTitle() const;

private:
    void installDialogs();
    QGridLayout* buildInputRows();
    void buildFileGrid(QVBoxLayout* run);
    void buildRunModes(QVBoxLayout* run);
    void buildRunButtons(QVBoxLayout* run);
    void buildSamplePlotPanel();
    // Loads the sample of the file grid's row into the engine and plots it.
    void showSample(int row);
    void startRun(bool batch);
    // The checks before a run, each showing its message when it fails.
    bool runInputsReady();
    bool readCpuCount(int& cpu);
    bool createOutputFolder();
    // The Process-marked rows' file names and their Align marks as 0 or 1.
    void readMarkedFiles(std::vector<std::string>& names, std::vector<int>& flags) const;
    void startProgressPoller();
    void runFinished();
    // Shows how the run ended once both the run and its progress poller have ended.
    void reportRunWhenDone();
    void setRunPanelVisible(bool visible);
    void placeHeaderCheckBoxes();
    void processHeaderToggled(bool checked);
    void alignHeaderToggled(bool checked);
    void setAlignEditable(int row, bool editable);
    void endGridEdit();
    korvane::wb::Plot_Mode plotMode() const;
    // The page's message box, for what a slot threw.
    void reportError(const QString& what) { showMessage(what); }

    CKORVANE_Engine* engine_;
    QString FilePathData, FilePathOut, ConfigPath;
    std::vector<std::pair<QString, QString>> Result_Data_Load1;  // (folder, file name) per file
    int fileNumber = 0;
    int checkboxCount = 0;
    bool batchButtonWasClicked = false, mpiButtonnWasClicked = false;
    QString fileNameTitle;
    korvane::wb::Sample_View view_;
    int threshold_ = 10;  // the last whole number the threshold box held
    int shownRow_ = -1;   // the file grid's row whose sample the plots show
    QString sampleFailure_;  // why that sample could not be read, empty when it was

    bool runBusy_ = false, pollerBusy_ = false;
    bool closing_ = false;  // the window waits for a stopped run before it closes
    bool asking_ = false;   // the question whether to stop the run and close is open
    QString runError_;      // what ended the last run, empty when it completed
    std::atomic<bool> workerRunning_{false};
    QFutureWatcher<QString> runWatcher_;
    QFutureWatcher<void> pollWatcher_;

    QPlainTextEdit* textBox1 = nullptr;
    QLineEdit* configFileTextBox = nullptr;
    QWidget* runPanel = nullptr;
    QWidget* plotPanel = nullptr;
    QTableWidget* dataGridView1 = nullptr;
    QCheckBox* checkboxHeader = nullptr;
    QCheckBox* checkboxHeader2 = nullptr;
    QRadioButton* batchRunRadioButton = nullptr;
    QRadioButton* mpiRunRadioButton = nullptr;
    QPushButton* batchButton = nullptr;
    QPushButton* mpiButton = nullptr;
    QLabel* label32 = nullptr;
    QLineEdit* cpuNumberTextBox = nullptr;
    QProgressBar* progressBar1 = nullptr;
    QRadioButton* ScanNumberRadioButton = nullptr;
    QRadioButton* RetentionTimeRadioButton = nullptr;
    QRadioButton* twoDRadioButton = nullptr;
    QLabel* label30 = nullptr;
    QLineEdit* textBox5 = nullptr;
    QCustomPlot* zedGraphControl1 = nullptr;
    QCustomPlot* zedGraphControl2 = nullptr;
    QCPTextElement* dataTitle_ = nullptr;
    QCPTextElement* spectrumTitle_ = nullptr;
};
