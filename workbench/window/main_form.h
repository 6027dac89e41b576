// The workbench's main window: menus, the "Data Process" page (sample files, marks, runs and the
// sample plots), the "Parameter Setup" page and the two result pages.
#pragma once

#include <QFutureWatcher>
#include <QMainWindow>
#include <QSize>
#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "workbench/window/data_view.h"

class CKORVANE_Engine;
class QCheckBox;
class QCustomPlot;
class QGridLayout;
class QCPTextElement;
class QLabel;
class QLineEdit;
class QMouseEvent;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QTabWidget;
class QVBoxLayout;
class ParameterSetupTab;
class AnnotationResultTab;
class AlignmentResultTab;

namespace korvane::wb {
// Routes the engine's warnings to a QMessageBox (text and caption, OK button); a call from a
// worker thread waits while the window's thread shows it.
void install_qt_message_box_handler();
}  // namespace korvane::wb

class MainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit MainForm(QWidget* parent = nullptr);
    ~MainForm() override;

    // Seams for every modal, so tests answer them without a screen. openFilesDialog returns
    // std::nullopt when cancelled, else the chosen paths; folderDialog returns the folder the
    // dialog holds when it closes (the proposed one when cancelled).
    std::function<void(const QString& text)> showMessage;
    std::function<std::optional<QStringList>(const QString& title, const QString& filter)> openFilesDialog;
    std::function<QString(const QString& proposed)> folderDialog;
    std::function<void(int code)> exitApplication;
    // A Yes/No question; true for Yes.
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
    void exitMenu_Click();
    void aboutMenu_Click();

    CKORVANE_Engine* engine() const { return engine_.get(); }
    const QString& filePathData() const { return FilePathData; }
    const QString& filePathOut() const { return FilePathOut; }
    const QString& configPath() const { return ConfigPath; }
    int checkboxCountValue() const { return checkboxCount; }
    int fileNumberValue() const { return fileNumber; }
    const korvane::wb::Sample_View& sampleView() const { return view_; }
    // True from a run's start until its completion message has been shown and its progress
    // poller has ended.
    bool runBusy() const { return runBusy_ || pollerBusy_; }
    ParameterSetupTab* parameterTab() const { return paramTab_; }
    QString dataPlotTitle() const;
    QString spectrumPlotTitle() const;

    // The window's designed size; smaller only when the screen (less the window's frame) is.
    static constexpr QSize kDesignedSize{1240, 880};

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void installDialogs();
    void buildMenus();
    void buildPages();
    void placePagesInWindow();
    void fitFrameToScreen();
    void buildDataProcessTab(QWidget* page);
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
    // During a run: asks, and on Yes stops it and waits for it (a Batch Run after its current
    // sample, a Parallel Run's launcher by SIGTERM). False when the window is to stay.
    bool stopRunBeforeLeaving();
    void waitForStoppedRun(bool batch);
    void setRunPanelVisible(bool visible);
    void placeHeaderCheckBoxes();
    void processHeaderToggled(bool checked);
    void alignHeaderToggled(bool checked);
    void setAlignEditable(int row, bool editable);
    void endGridEdit();
    korvane::wb::Plot_Mode plotMode() const;

    std::unique_ptr<CKORVANE_Engine> engine_;
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
    bool closing_ = false;  // the window waits for a stopped Batch Run before it closes
    bool asking_ = false;   // the question whether to stop the Batch Run and close is open
    QString runError_;      // what ended the last run, empty when it completed
    std::atomic<bool> workerRunning_{false};
    QFutureWatcher<QString> runWatcher_;
    QFutureWatcher<void> pollWatcher_;

    QTabWidget* tabs_ = nullptr;
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
    ParameterSetupTab* paramTab_ = nullptr;
    AnnotationResultTab* annotationTab_ = nullptr;
    AlignmentResultTab* alignmentTab_ = nullptr;
};
