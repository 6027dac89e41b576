// The main window and its Data Process page, driven headless through the handlers and the widgets,
// with every dialog and message box answered by the test.
#include "workbench/window/main_form.h"

#include <gtest/gtest.h>
#include <dlfcn.h>
#include <qcustomplot.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <thread>

#include "engine/records/text_util.h"
#include "tests/support/temp_dir.h"
#include "tools/generate_sample/sample_file.h"
#include "workbench/engine/korvane_engine.h"
#include "workbench/engine/platform_hooks.h"
#include "workbench/window/data_process_tab.h"

// This program is linked with --wrap=dlopen, so the engine's loading of the netCDF library comes
// here: a test can play a machine where no netCDF library loads.
namespace {
std::atomic<bool> refuse_netcdf{false};
std::atomic<bool> netcdf_loaded{false};  // by an earlier test of this process, which cannot be undone
}  // namespace

extern "C" void* __wrap_dlopen(const char* file, int mode) {
    const bool netcdf = file && std::strstr(file, "netcdf");
    if (netcdf && refuse_netcdf) return nullptr;
    static const auto real = reinterpret_cast<void* (*)(const char*, int)>(dlsym(RTLD_NEXT, "dlopen"));
    void* handle = real(file, mode);
    if (netcdf && handle) netcdf_loaded = true;
    return handle;
}

namespace {

namespace fs = std::filesystem;
using korvane::test::read_file;
using korvane::test::TempDir;

void process_events() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

// Runs the event loop until the condition holds or the time is up.
template <typename Condition>
bool wait_until(Condition done, int seconds) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > seconds * 1000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void copy_example_config(const fs::path& dir) {
    fs::create_directories(dir);
    for (const char* f : {"config_para.csv", "hmdb.csv", "Adduct_Config_Positive.csv", "Adduct_Config_Negative.csv"})
        fs::copy_file(fs::path(KORVANE_SOURCE_DIR) / "examples" / "config" / f, dir / f,
                      fs::copy_options::overwrite_existing);
}

// A small synthetic sample: scans numbered 1..scans.
void write_sample(const fs::path& path, std::uint64_t seed, std::uint32_t scans = 150) {
    korvane::synth::Options o;
    o.scans = scans;
    o.points_per_scan = 120;
    o.compounds = 40;
    o.seed = seed;
    o.compound_seed = 7;  // shared compounds, so alignment has something to match
    korvane::synth::write_sample_cdf(path.string(), korvane::synth::generate_sample(o));
}

class MainFormTest : public testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<MainForm>();
        form->showMessage = [this](const QString& text) {
            messages.push_back(text);
            barAtMessage.push_back(form->findChild<QProgressBar*>("progressBar1")->value());
        };
        form->openFilesDialog = [this](const QString& title, const QString& filter) {
            dialogTitles.push_back(title);
            dialogFilters.push_back(filter);
            return nextFiles;
        };
        form->folderDialog = [this](const QString& proposed) {
            proposedFolder = proposed;
            return nextFolder;
        };
        form->exitApplication = [this](int code) { exitCodes.push_back(code); };
        form->show();
        process_events();
    }
    void TearDown() override {
        if (form) {
            EXPECT_TRUE(wait_until([this] { return !form->runBusy(); }, 300));
        }
        form.reset();
        process_events();
    }

    template <typename T>
    T* child(const char* name) {
        T* w = form->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    DataProcessTab* tab() { return form->dataProcessTab(); }
    QTableWidget* grid() { return child<QTableWidget>("dataGridView1"); }
    bool mark(int row, int column) { return grid()->item(row, column)->checkState() == Qt::Checked; }
    bool alignEditable(int row) { return grid()->item(row, 3)->flags().testFlag(Qt::ItemIsUserCheckable); }

    // Chooses the given files and loads them into the grid.
    void loadFiles(const QStringList& paths) {
        nextFiles = paths;
        tab()->DataLoadBrowseButton_Click();
        tab()->LoadDataFileButton_Click();
        process_events();
    }
    void chooseConfig(const fs::path& dir) {
        nextFolder = QString::fromStdString(dir.string());
        tab()->configFileButton_Click();
    }
    // One file marked for processing, a configuration and "Parallel Run" chosen: the launcher is
    // the test's to set.
    void readyParallelRun() {
        const fs::path data = dir.path() / "data", config = dir.path() / "config";
        fs::create_directories(data);
        copy_example_config(config);
        loadFiles({QString::fromStdString((data / "a.CDF").string())});
        chooseConfig(config);
        tab()->dataGridView1_CellClick(0, 2);
        child<QRadioButton>("mpiRunRadioButton")->setChecked(true);
    }

    TempDir dir;
    std::unique_ptr<MainForm> form;
    std::vector<QString> messages;
    std::vector<int> barAtMessage;  // what the progress bar read when each message was shown
    std::vector<QString> dialogTitles;
    std::vector<QString> dialogFilters;
    std::vector<int> exitCodes;
    std::optional<QStringList> nextFiles;
    QString nextFolder, proposedFolder;
};

TEST_F(MainFormTest, ThreeFilesShowInTheTextBoxAndTheGridInDialogOrder) {
    const QStringList paths = {"/data/run/c.CDF", "/data/run/a.CDF", "/data/run/b.cdf"};
    loadFiles(paths);
    EXPECT_EQ(dialogTitles, std::vector<QString>{"Select LC-MS CDF Files"});
    EXPECT_EQ(dialogFilters, std::vector<QString>{"CDF Files (*.CDF *.cdf)"});
    EXPECT_EQ(child<QPlainTextEdit>("textBox1")->toPlainText(), "/data/run/c.CDF;/data/run/a.CDF;/data/run/b.cdf;");
    EXPECT_EQ(tab()->fileNumberValue(), 3);
    EXPECT_EQ(tab()->filePathData(), "/data/run");
    QTableWidget* g = grid();
    ASSERT_EQ(g->rowCount(), 3);
    ASSERT_EQ(g->columnCount(), 4);
    const char* names[] = {"c.CDF", "a.CDF", "b.cdf"};
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(g->item(row, 0)->text(), names[row]);
        EXPECT_EQ(g->item(row, 1)->text(), "/data/run");
        EXPECT_FALSE(mark(row, 2));
        EXPECT_FALSE(mark(row, 3));
        EXPECT_FALSE(alignEditable(row));
    }
    EXPECT_EQ(g->horizontalHeaderItem(0)->text(), "File Name");
    EXPECT_EQ(g->horizontalHeaderItem(1)->text(), "Folder Name");
    EXPECT_EQ(g->horizontalHeaderItem(2)->text(), "   Process");
    EXPECT_EQ(g->horizontalHeaderItem(3)->text(), "   Align");
    EXPECT_TRUE(g->isColumnHidden(1));
    EXPECT_EQ(g->columnWidth(0), 145);
    EXPECT_TRUE(g->selectedItems().isEmpty());
    EXPECT_EQ(tab()->checkboxCountValue(), 0);
    EXPECT_FALSE(child<QWidget>("panel1")->isHidden());
    EXPECT_FALSE(child<QPushButton>("batchButton")->isHidden());
    EXPECT_TRUE(child<QPushButton>("mpiButton")->isHidden());
    EXPECT_TRUE(child<QWidget>("panel2")->isHidden());

    // The header boxes sit 2 px right of and 4 px below their header cells' corners, clear of
    // their right-aligned titles (they covered "Pr" and "Al").
    QHeaderView* header = g->horizontalHeader();
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    for (auto [name, column] : {std::pair{"checkboxHeader", 2}, std::pair{"checkboxHeader2", 3}}) {
        SCOPED_TRACE(name);
        auto* box = child<QCheckBox>(name);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->geometry(), QRect(header->sectionViewportPosition(column) + 2, 4, 15, 15));
        EXPECT_EQ(g->horizontalHeaderItem(column)->textAlignment(), Qt::AlignRight | Qt::AlignVCenter);
        const QString title = g->horizontalHeaderItem(column)->text().trimmed();
        const int title_left = header->sectionViewportPosition(column) + g->columnWidth(column) - margin -
                               header->fontMetrics().horizontalAdvance(title);
        EXPECT_GT(title_left, box->geometry().right() + 1);
    }
    // The file panel stays where it is when the first click on a file shows the plot panel.
    const int panel_left = child<QWidget>("panel1")->x();
    tab()->dataGridView1_CellClick(0, 0);
    process_events();
    EXPECT_FALSE(child<QWidget>("panel2")->isHidden());
    EXPECT_EQ(child<QWidget>("panel1")->x(), panel_left);
    // Loading again replaces the header boxes instead of stacking more.
    tab()->LoadDataFileButton_Click();
    EXPECT_EQ(header->viewport()->findChildren<QCheckBox*>().size(), 2);
}

TEST_F(MainFormTest, ChoosingNoFileAndLoadingNothing) {
    loadFiles({"/d/x.CDF"});
    // Cancelled: the text box is emptied, the earlier table stays, nothing is said.
    nextFiles = std::nullopt;
    tab()->DataLoadBrowseButton_Click();
    EXPECT_TRUE(child<QPlainTextEdit>("textBox1")->toPlainText().isEmpty());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(tab()->fileNumberValue(), 1);
    // Confirmed with no file.
    nextFiles = QStringList{};
    tab()->DataLoadBrowseButton_Click();
    EXPECT_EQ(messages, std::vector<QString>{"Please select the LCMS Data(.CDF) file(s) before loading!"});
    // "Load Data" with an empty text box hides both panels.
    messages.clear();
    tab()->LoadDataFileButton_Click();
    EXPECT_EQ(messages, std::vector<QString>{"Please load the LCMS Data(.CDF) file(s)!"});
    EXPECT_TRUE(child<QWidget>("panel1")->isHidden());
    EXPECT_TRUE(child<QWidget>("panel2")->isHidden());
}

TEST_F(MainFormTest, RunStartChecksComeInOrderAndStartNothing) {
    const fs::path config = dir.path() / "config";
    copy_example_config(config);
    const QString data = QString::fromStdString((dir.path() / "data").string());
    struct Row {
        const char* name;
        bool files, config;
        const char* message;
    };
    const Row rows[] = {
        {"no file", false, true, "Please select LCMS file(s)"},
        {"no configuration", true, false, "Please select parameter file"},
        {"no Process mark", true, true, "Please check at least 1 process check box to run!"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        form = std::make_unique<MainForm>();
        form->showMessage = [this](const QString& text) { messages.push_back(text); };
        form->openFilesDialog = [this](const QString&, const QString&) { return nextFiles; };
        form->folderDialog = [this](const QString&) { return nextFolder; };
        if (row.files) loadFiles({data + "/s.CDF"});
        if (row.config) chooseConfig(config);
        for (bool batch : {true, false}) {
            messages.clear();
            batch ? tab()->batchButton_Click() : tab()->mpiButton_Click();
            EXPECT_EQ(messages, std::vector<QString>{row.message});
            EXPECT_FALSE(form->runBusy());
        }
        EXPECT_FALSE(fs::exists(dir.path() / "data" / "Result"));
    }
}

TEST_F(MainFormTest, MarksKeepTheCountAndAlignFollowsProcess) {
    loadFiles({"/d/a.CDF", "/d/b.CDF", "/d/c.CDF"});
    tab()->dataGridView1_CellClick(0, 2);
    tab()->dataGridView1_CellClick(2, 2);
    EXPECT_EQ(tab()->checkboxCountValue(), 2);
    EXPECT_TRUE(mark(0, 2));
    EXPECT_TRUE(alignEditable(0));
    EXPECT_FALSE(alignEditable(1));
    EXPECT_TRUE(alignEditable(2));
    EXPECT_TRUE(grid()->selectedItems().isEmpty());

    // The Align header ticks only rows that are processed.
    child<QCheckBox>("checkboxHeader2")->setChecked(true);
    EXPECT_TRUE(mark(0, 3));
    EXPECT_FALSE(mark(1, 3));
    EXPECT_TRUE(mark(2, 3));

    // Clearing a row's Process mark clears its Align mark and locks it.
    tab()->dataGridView1_CellClick(2, 2);
    EXPECT_EQ(tab()->checkboxCountValue(), 1);
    EXPECT_FALSE(mark(2, 3));
    EXPECT_FALSE(alignEditable(2));

    // The Process header marks every row and unlocks every Align cell.
    child<QCheckBox>("checkboxHeader")->setChecked(true);
    EXPECT_EQ(tab()->checkboxCountValue(), 3);
    for (int row = 0; row < 3; ++row) EXPECT_TRUE(mark(row, 2) && alignEditable(row)) << row;
    child<QCheckBox>("checkboxHeader2")->setChecked(false);
    child<QCheckBox>("checkboxHeader2")->setChecked(true);
    for (int row = 0; row < 3; ++row) EXPECT_TRUE(mark(row, 3)) << row;

    // Clearing it clears every Process and Align mark and the Align header.
    child<QCheckBox>("checkboxHeader")->setChecked(false);
    EXPECT_EQ(tab()->checkboxCountValue(), 0);
    EXPECT_FALSE(child<QCheckBox>("checkboxHeader2")->isChecked());
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        EXPECT_FALSE(mark(row, 2));
        EXPECT_FALSE(mark(row, 3));
        EXPECT_FALSE(alignEditable(row));
    }
    tab()->dataGridView1_CellClick(1, 2);
    EXPECT_EQ(tab()->checkboxCountValue(), 1);
}

TEST_F(MainFormTest, RunModeShowsTheButtonsOfTheMode) {
    loadFiles({"/d/a.CDF"});
    child<QRadioButton>("mpiRunRadioButton")->setChecked(true);
    EXPECT_TRUE(child<QPushButton>("batchButton")->isHidden());
    EXPECT_FALSE(child<QPushButton>("mpiButton")->isHidden());
    EXPECT_FALSE(child<QLabel>("label32")->isHidden());
    EXPECT_FALSE(child<QLineEdit>("cpuNumberTextBox")->isHidden());
    EXPECT_EQ(child<QLineEdit>("cpuNumberTextBox")->text(), "2");
    child<QRadioButton>("batchRunRadioButton")->setChecked(true);
    EXPECT_FALSE(child<QPushButton>("batchButton")->isHidden());
    EXPECT_TRUE(child<QPushButton>("mpiButton")->isHidden());
    EXPECT_TRUE(child<QLabel>("label32")->isHidden());
    EXPECT_TRUE(child<QLineEdit>("cpuNumberTextBox")->isHidden());
}

TEST_F(MainFormTest, ConfigurationFolderIsKeptOnlyWhenItsParameterFileReads) {
    nextFolder = QString::fromStdString(dir.str());  // no config_para.csv there
    tab()->configFileButton_Click();
    EXPECT_EQ(proposedFolder, QDir::currentPath() + "/configFiles");
    EXPECT_EQ(messages, std::vector<QString>{"Could not find configure files!"});
    EXPECT_TRUE(tab()->configPath().isEmpty());
    EXPECT_TRUE(child<QLineEdit>("configFileTextBox")->text().isEmpty());

    messages.clear();
    const fs::path config = dir.path() / "config";
    copy_example_config(config);
    chooseConfig(config);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(tab()->configPath().toStdString(), config.string());
    EXPECT_EQ(child<QLineEdit>("configFileTextBox")->text().toStdString(), config.string());
    EXPECT_EQ(form->engine()->Para.Para_Cutoff_TopNumber, 500);

    // A file with a bad signed value raises inside the reader: reported, not a crash.
    messages.clear();
    std::ofstream(config / "config_para.csv", std::ios::app) << "Para_Polarity,abc\n";
    chooseConfig(config);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].startsWith("Could not read configure files: ")) << messages[0].toStdString();
    EXPECT_TRUE(tab()->configPath().isEmpty());
}

class SampleViewTest : public MainFormTest {
protected:
    void SetUp() override {
        MainFormTest::SetUp();
        write_sample(dir.path() / "s1.CDF", 11, 60);
        loadFiles({QString::fromStdString((dir.path() / "s1.CDF").string())});
        tab()->dataGridView1_CellClick(0, 0);
        process_events();
    }
    QCustomPlot* dataPlot() { return child<QCustomPlot>("zedGraphControl1"); }
    QCustomPlot* spectrumPlot() { return child<QCustomPlot>("zedGraphControl2"); }

    void press(QCustomPlot* plot, QPointF pos) {
        QMouseEvent down(QEvent::MouseButtonPress, pos, plot->mapToGlobal(pos), Qt::LeftButton, Qt::LeftButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(plot, &down);
        QMouseEvent up(QEvent::MouseButtonRelease, pos, plot->mapToGlobal(pos), Qt::LeftButton, Qt::NoButton,
                       Qt::NoModifier);
        QCoreApplication::sendEvent(plot, &up);
        process_events();
    }
};

TEST_F(SampleViewTest, ClickingAFileNameLoadsAndPlotsItsTic) {
    EXPECT_FALSE(child<QWidget>("panel2")->isHidden());
    EXPECT_EQ(form->engine()->data_file_Name, "s1.CDF");
    EXPECT_EQ(form->engine()->data_file_path, dir.str());
    EXPECT_EQ(tab()->dataPlotTitle(), "TIC Plot: s1.CDF");
    ASSERT_EQ(tab()->sampleView().scan_count(), 60u);
    QCustomPlot* plot = dataPlot();
    ASSERT_EQ(plot->graphCount(), 1);
    EXPECT_EQ(plot->graph(0)->data()->size(), 60);
    EXPECT_EQ(plot->graph(0)->data()->at(0)->key, 1.0);
    EXPECT_EQ(plot->graph(0)->data()->at(0)->value, tab()->sampleView().tic[0]);
    EXPECT_EQ(plot->xAxis->label(), "Scan Number");
    EXPECT_EQ(plot->yAxis->label(), "Total Intensity");
    EXPECT_EQ(plot->graph(0)->pen().color(), QColor(Qt::blue));
    EXPECT_EQ(plot->graph(0)->scatterStyle().shape(), QCPScatterStyle::ssNone);
    EXPECT_EQ(plot->yAxis->numberFormat(), "f");
    EXPECT_TRUE(child<QLineEdit>("textBox5")->isHidden());

    child<QRadioButton>("RetentionTimeRadioButton")->setChecked(true);
    EXPECT_EQ(plot->xAxis->label(), "Retention Time (seconds)");
    EXPECT_EQ(plot->graph(0)->data()->at(0)->key, tab()->sampleView().retentionTime[0]);

    child<QRadioButton>("twoDRadioButton")->setChecked(true);
    EXPECT_EQ(tab()->dataPlotTitle(), "2D Plot: s1.CDF");
    EXPECT_EQ(plot->yAxis->label(), "M/Z");
    EXPECT_EQ(plot->graph(0)->lineStyle(), QCPGraph::lsNone);
    EXPECT_EQ(plot->graph(0)->scatterStyle().size(), 1.0);
    EXPECT_FALSE(child<QLineEdit>("textBox5")->isHidden());
    const int above10 = plot->graph(0)->data()->size();
    std::size_t positive = 0;
    for (double v : tab()->sampleView().intensity_value_arry1) positive += v > 0;
    // Emptying the threshold box puts "0" in it and draws every point of positive intensity.
    child<QLineEdit>("textBox5")->clear();
    EXPECT_EQ(child<QLineEdit>("textBox5")->text(), "0");
    EXPECT_EQ(static_cast<std::size_t>(plot->graph(0)->data()->size()), positive);
    EXPECT_GE(static_cast<std::size_t>(plot->graph(0)->data()->size()), static_cast<std::size_t>(above10));
    // Text that is no whole number keeps the last threshold.
    child<QLineEdit>("textBox5")->setText("abc");
    EXPECT_EQ(static_cast<std::size_t>(plot->graph(0)->data()->size()), positive);
}

TEST_F(SampleViewTest, AFileThatCannotBeLoadedShowsAnEmptyPlotUnderItsName) {
    loadFiles({QString::fromStdString((dir.path() / "missing.CDF").string())});
    tab()->dataGridView1_CellClick(0, 0);
    EXPECT_EQ(tab()->dataPlotTitle(), "TIC Plot: missing.CDF");
    EXPECT_EQ(tab()->sampleView().scan_count(), 0u);
    ASSERT_EQ(dataPlot()->graphCount(), 1);
    EXPECT_EQ(dataPlot()->graph(0)->data()->size(), 0);
    // The plot says why, as the runs do.
    ASSERT_EQ(dataPlot()->itemCount(), 1);
    const auto* note = dynamic_cast<QCPItemText*>(dataPlot()->item(0));
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->text().startsWith("Could not be read: ")) << note->text().toStdString();
    EXPECT_TRUE(note->text().contains(QString::fromStdString(form->engine()->load_failure)));
    EXPECT_FALSE(form->engine()->load_failure.empty());
    // A press finds no curve point and leaves the spectrum empty.
    press(dataPlot(), QPointF(dataPlot()->width() / 2.0, dataPlot()->height() / 2.0));
    EXPECT_EQ(spectrumPlot()->graphCount(), 0);
}

// Keys that move the current row among the file names show the sample of the new row, as a click
// does; a move into the mark columns loads nothing and marks nothing.
TEST_F(SampleViewTest, KeyboardMovesInTheFileGridShowTheSampleOfTheNewRow) {
    write_sample(dir.path() / "s2.CDF", 12, 40);
    loadFiles({QString::fromStdString((dir.path() / "s1.CDF").string()),
               QString::fromStdString((dir.path() / "s2.CDF").string())});
    tab()->dataGridView1_CellClick(0, 0);
    grid()->setCurrentCell(0, 0);
    const auto key = [this](Qt::Key k) {
        QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
        QCoreApplication::sendEvent(grid(), &press);
        process_events();
    };
    const struct {
        Qt::Key key;
        QString title;
        std::uint32_t scans;
    } moves[] = {{Qt::Key_Down, "TIC Plot: s2.CDF", 40}, {Qt::Key_PageUp, "TIC Plot: s1.CDF", 60},
                 {Qt::Key_Right, "TIC Plot: s1.CDF", 60}, {Qt::Key_Down, "TIC Plot: s1.CDF", 60},
                 {Qt::Key_Left, "TIC Plot: s2.CDF", 40}};
    for (const auto& m : moves) {
        SCOPED_TRACE(QKeySequence(m.key).toString().toStdString());
        key(m.key);
        EXPECT_EQ(tab()->dataPlotTitle(), m.title);
        EXPECT_EQ(tab()->sampleView().scan_count(), m.scans);
    }
    EXPECT_FALSE(mark(0, 2));
    EXPECT_EQ(tab()->checkboxCountValue(), 0);
}

TEST_F(SampleViewTest, PressNearTheCurveShowsTheSpectrumOfTheScanUnderIt) {
    QCustomPlot* plot = dataPlot();
    const auto& view = tab()->sampleView();
    // Ten pixels per scan, starting two scans left of the first; the press lands 0.6 scans left
    // of the first point (6 px, within the plot's selection tolerance): x rounds to 0, clamped to 1.
    const double width = plot->axisRect()->width();
    plot->xAxis->setRange(view.scanNumber[0] - 2, view.scanNumber[0] - 2 + width / 10);
    double top = 0;
    for (double t : view.tic) top = std::max(top, t);
    plot->yAxis->setRange(0, 2 * top);
    plot->replot();
    const QPointF at(plot->xAxis->coordToPixel(view.scanNumber[0] - 0.6), plot->yAxis->coordToPixel(view.tic[0]));
    press(plot, at);
    EXPECT_EQ(tab()->spectrumPlotTitle(), "Spectrum at Scan Number = 1");
    QCustomPlot* spectrum = spectrumPlot();
    ASSERT_EQ(spectrum->graphCount(), 1);
    EXPECT_EQ(spectrum->graph(0)->lineStyle(), QCPGraph::lsImpulse);
    EXPECT_EQ(spectrum->xAxis->label(), "M/Z");
    EXPECT_EQ(spectrum->yAxis->label(), "Intensity");
    ASSERT_EQ(spectrum->graph(0)->data()->size(), view.point_count_arry1[0]);
    EXPECT_EQ(spectrum->graph(0)->data()->at(0)->key, view.mass_value_arry1[0]);
    // Every stick off the frame, the intensity axis from 0 to above the tallest.
    double lo = 1e300, hi = -1e300, tallest = 0;
    for (auto it = spectrum->graph(0)->data()->constBegin(); it != spectrum->graph(0)->data()->constEnd(); ++it) {
        lo = std::min(lo, it->key);
        hi = std::max(hi, it->key);
        tallest = std::max(tallest, it->value);
    }
    EXPECT_LE(spectrum->xAxis->range().lower, lo - 1);
    EXPECT_GE(spectrum->xAxis->range().upper, hi + 1);
    EXPECT_EQ(spectrum->yAxis->range().lower, 0.0);
    EXPECT_GT(spectrum->yAxis->range().upper, tallest);

    // Far from the curve: the spectrum plot is only cleared.
    press(plot, QPointF(at.x() + 50, plot->yAxis->coordToPixel(1.9 * top)));
    EXPECT_EQ(spectrum->graphCount(), 0);
}

TEST_F(MainFormTest, BatchRunProcessesTheMarkedRowsAndReportsCompletion) {
    const fs::path data = dir.path() / "data", config = dir.path() / "config";
    fs::create_directories(data);
    write_sample(data / "sample_a.CDF", 21);
    write_sample(data / "sample_b.CDF", 22);
    copy_example_config(config);
    std::ofstream(data / "bad.CDF") << "not a netCDF file";
    const QString folder = QString::fromStdString(data.string());
    // The second row names a file that does not exist: were it passed to the run, the run would
    // list it in the job file. The last cannot be read: the run goes on and says so at its end.
    loadFiles({folder + "/sample_a.CDF", folder + "/ghost.CDF", folder + "/sample_b.CDF", folder + "/bad.CDF"});
    chooseConfig(config);
    tab()->dataGridView1_CellClick(0, 2);
    tab()->dataGridView1_CellClick(1, 2);
    grid()->item(1, 3)->setCheckState(Qt::Checked);  // as the grid's own editing would
    tab()->dataGridView1_CellClick(1, 2);              // Process cleared again
    tab()->dataGridView1_CellClick(2, 2);
    tab()->dataGridView1_CellClick(3, 2);
    child<QCheckBox>("checkboxHeader2")->setChecked(true);
    ASSERT_EQ(tab()->checkboxCountValue(), 3);

    child<QPushButton>("batchButton")->click();
    EXPECT_TRUE(form->runBusy());
    EXPECT_FALSE(child<QProgressBar>("progressBar1")->isHidden());
    // A second start while the first is busy is refused.
    child<QPushButton>("batchButton")->click();
    ASSERT_TRUE(wait_until([this] { return !form->runBusy(); }, 300));

    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "A run is still in progress; please wait until it has finished!");
    EXPECT_TRUE(messages[1].startsWith("Batch Run completed: 2 of 3 samples processed. Skipped: bad.CDF (") &&
                messages[1].endsWith(")"))
        << messages[1].toStdString();
    EXPECT_EQ(barAtMessage[1], 100);  // the message never stands beside a bar short of its end
    EXPECT_EQ(tab()->filePathOut().toStdString(), (data / "Result").string());
    for (const char* name : {"sample_a", "sample_b"})
        for (const char* suffix : {"_chromatograph_peaklist.csv", "_grouped_chromatograph_peaklist.csv",
                                   "_annotated_grouped_chromatograph_peaklist.csv",
                                   "_annotated_grouped_chromatograph_peaklist.db"})
            EXPECT_TRUE(fs::exists(data / "Result" / (std::string(name) + suffix))) << name << suffix;
    EXPECT_TRUE(fs::exists(data / "Result" / "aligned_annotated_grouped_chromatograph_peaklist.aligndb"));
    EXPECT_TRUE(fs::exists(data / "Result" / "aligned_annotated_grouped_chromatograph_peaklist.csv"));
    EXPECT_FALSE(form->engine()->peaklist_align.empty());

    const std::string job = read_file((data / "Result" / "Job_Run_Config.csv").string());
    EXPECT_NE(job.find("Sequential Batch"), std::string::npos) << job;
    EXPECT_NE(job.find("sample_a.CDF,1"), std::string::npos) << job;
    EXPECT_NE(job.find("sample_b.CDF,1"), std::string::npos) << job;
    EXPECT_EQ(job.find("ghost"), std::string::npos) << job;

    EXPECT_EQ(child<QProgressBar>("progressBar1")->value(), 100);
    EXPECT_FALSE(child<QProgressBar>("progressBar1")->isHidden());
    EXPECT_EQ(progressValue.load(), 0.0);
    EXPECT_EQ(form->cursor().shape(), Qt::ArrowCursor);

    // A Parallel Run reports no progress: the batch's full bar must not stand beside it.
    korvane::wb::set_launcher_programs("/bin/true", "/bin/true");
    child<QRadioButton>("mpiRunRadioButton")->setChecked(true);
    child<QPushButton>("mpiButton")->click();
    EXPECT_TRUE(child<QProgressBar>("progressBar1")->isHidden());
    ASSERT_TRUE(wait_until([this] { return !form->runBusy(); }, 60));
    korvane::wb::set_launcher_programs("mpiexec", "");
}

// Closing during a Batch Run asks first. No: the window and the run stay. Yes: the run stops after
// the sample in progress, the window waits for it and closes, and every sample has all its files
// or none (the window used to quit at once, leaving a database with one of its two tables).
TEST_F(MainFormTest, ClosingDuringABatchRunAsksAndStopsBetweenSamples) {
    const fs::path data = dir.path() / "data", config = dir.path() / "config";
    fs::create_directories(data);
    copy_example_config(config);
    const auto stem = [](int k) { return std::string(1, 's').append(std::to_string(k)); };
    QStringList paths;
    for (int k = 0; k < 6; ++k) {
        const fs::path sample = data / (stem(k) + ".CDF");
        write_sample(sample, 40 + k);
        paths << QString::fromStdString(sample.string());
    }
    loadFiles(paths);
    chooseConfig(config);
    child<QCheckBox>("checkboxHeader")->setChecked(true);
    child<QCheckBox>("checkboxHeader2")->setChecked(true);
    std::vector<QString> questions;
    bool answer = false;
    form->askQuestion = [&](const QString& text) {
        questions.push_back(text);
        return answer;
    };
    tab()->batchButton_Click();
    ASSERT_TRUE(form->runBusy());
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->runBusy());
    answer = true;
    EXPECT_TRUE(form->close());
    EXPECT_FALSE(form->runBusy());
    EXPECT_EQ(questions.size(), 2u);
    EXPECT_TRUE(messages.empty());  // no completion message for a window going away

    int complete = 0;
    for (int k = 0; k < 6; ++k) {
        int present = 0;
        for (const char* suffix : {"_chromatograph_peaklist.csv", "_grouped_chromatograph_peaklist.csv",
                                   "_annotated_grouped_chromatograph_peaklist.csv",
                                   "_annotated_grouped_chromatograph_peaklist.db"})
            present += fs::exists(data / "Result" / (stem(k) + suffix));
        EXPECT_TRUE(present == 0 || present == 4) << "s" << k << ": " << present << " of 4 files";
        complete += present == 4;
    }
    EXPECT_LT(complete, 6);
    EXPECT_FALSE(fs::exists(data / "Result" / "aligned_annotated_grouped_chromatograph_peaklist.aligndb"));
    for (const auto& entry : fs::directory_iterator(data / "Result"))
        EXPECT_EQ(entry.path().string().find("-journal"), std::string::npos) << entry.path();
}

// A run that ends while the close question is open: its message waits for the answer, so no box
// stands over the question. No: the message comes and the window stays. Yes: it closes, no message.
TEST_F(MainFormTest, ARunThatEndsWhileTheCloseQuestionIsOpenIsReportedOnlyIfTheWindowStays) {
    const fs::path data = dir.path() / "data", config = dir.path() / "config";
    fs::create_directories(data);
    copy_example_config(config);
    write_sample(data / "s0.CDF", 40);
    loadFiles({QString::fromStdString((data / "s0.CDF").string())});
    chooseConfig(config);
    child<QCheckBox>("checkboxHeader")->setChecked(true);
    child<QCheckBox>("checkboxHeader2")->setChecked(true);
    const fs::path aligned = data / "Result" / "aligned_annotated_grouped_chromatograph_peaklist.csv";
    for (const bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "Yes" : "No");
        messages.clear();
        fs::remove(aligned);
        std::vector<std::size_t> messagesWhileAsked;
        form->askQuestion = [&](const QString&) {
            // The aligned file is the run's last act; the worker then only returns.
            EXPECT_TRUE(wait_until([&] { return fs::exists(aligned); }, 120));
            wait_until([] { return false; }, 1);
            messagesWhileAsked.push_back(messages.size());
            return stop;
        };
        tab()->batchButton_Click();
        ASSERT_TRUE(form->runBusy());
        EXPECT_EQ(form->close(), stop);
        EXPECT_FALSE(form->runBusy());
        EXPECT_EQ(messagesWhileAsked, std::vector<std::size_t>{0});
        EXPECT_EQ(messages, stop ? std::vector<QString>{} : std::vector<QString>{"Batch Run completed!"});
    }
}

// Whatever a run raises reaches the user as a failure naming what failed: a reader's error, and a
// result database's (CppSQLite3Exception, no std::exception).
TEST_F(MainFormTest, BatchRunStoppedByAnErrorIsReportedAsAFailure) {
    const fs::path data = dir.path() / "data", config = dir.path() / "config";
    fs::create_directories(data);
    write_sample(data / "sample_a.CDF", 31, 60);
    copy_example_config(config);
    loadFiles({QString::fromStdString((data / "sample_a.CDF").string())});
    chooseConfig(config);
    tab()->dataGridView1_CellClick(0, 2);  // ticks Process for both runs
    const fs::path blocked = data / "Result" / "sample_a_annotated_grouped_chromatograph_peaklist.db";
    struct Case {
        const char* name;
        std::function<void()> spoil, mend;
        std::string named;
    };
    const Case cases[] = {
        {"no hmdb.csv", [&] { fs::rename(config / "hmdb.csv", dir.path() / "hmdb.csv"); },
         [&] { fs::rename(dir.path() / "hmdb.csv", config / "hmdb.csv"); }, "hmdb.csv"},
        {"a folder under the database's name",
         [&] {
             fs::create_directories(blocked);
             std::ofstream(blocked / "keep") << "x";
         },
         [&] { fs::remove_all(blocked); }, blocked.string()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.spoil();
        messages.clear();
        tab()->batchButton_Click();
        ASSERT_TRUE(wait_until([this] { return !form->runBusy(); }, 120));
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_TRUE(messages[0].startsWith("Batch Run failed: ")) << messages[0].toStdString();
        EXPECT_TRUE(messages[0].contains(QString::fromStdString(c.named))) << messages[0].toStdString();
        EXPECT_EQ(progressValue.load(), 0.0);
        c.mend();
    }
}

// Without a loadable netCDF library the reader throws a plain string: a clicked sample says so on
// its empty plot, and the window lives on.
TEST_F(MainFormTest, ClickedSampleWithoutANetcdfLibrarySaysSo) {
    if (netcdf_loaded) GTEST_SKIP() << "an earlier test of this process loaded the netCDF library";
    write_sample(dir.path() / "s1.CDF", 11, 60);
    loadFiles({QString::fromStdString((dir.path() / "s1.CDF").string())});
    refuse_netcdf = true;
    tab()->dataGridView1_CellClick(0, 0);
    process_events();
    refuse_netcdf = false;
    QCustomPlot* plot = child<QCustomPlot>("zedGraphControl1");
    EXPECT_EQ(tab()->dataPlotTitle(), "TIC Plot: s1.CDF");
    ASSERT_EQ(plot->itemCount(), 1);
    const auto* note = dynamic_cast<QCPItemText*>(plot->item(0));
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->text().startsWith("Could not be read: ")) << note->text().toStdString();
    EXPECT_TRUE(note->text().endsWith("doesn't exist in the current path or its parent path!"))
        << note->text().toStdString();
}

TEST_F(MainFormTest, ParallelRunStartsTheLauncherWithTheCpuCount) {
    const fs::path data = dir.path() / "data", config = dir.path() / "config";
    fs::create_directories(data);
    copy_example_config(config);
    const fs::path args = dir.path() / "launcher_args.txt";
    // It also prints the summary line of the samples the console pipeline skipped.
    const std::string stub = dir.write("launcher.sh", "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + args.string() +
                                                          "'\necho 'Skipped 1 of 2 samples: b.CDF (not a netCDF file)'\n");
    ::chmod(stub.c_str(), 0755);
    korvane::wb::set_launcher_programs(stub, "/bin/true");
    loadFiles({QString::fromStdString((data / "a.CDF").string()), QString::fromStdString((data / "b.CDF").string())});
    chooseConfig(config);
    tab()->dataGridView1_CellClick(1, 2);
    child<QRadioButton>("mpiRunRadioButton")->setChecked(true);

    child<QLineEdit>("cpuNumberTextBox")->setText("two");
    tab()->mpiButton_Click();
    EXPECT_EQ(messages, std::vector<QString>{"Please enter a whole number of processes (1 or more) in \"CPU#:\"!"});
    EXPECT_FALSE(form->runBusy());

    messages.clear();
    child<QLineEdit>("cpuNumberTextBox")->setText("3");
    tab()->mpiButton_Click();
    EXPECT_TRUE(child<QProgressBar>("progressBar1")->isHidden());  // no progress for parallel runs
    ASSERT_TRUE(wait_until([this] { return !form->runBusy(); }, 60));
    korvane::wb::set_launcher_programs("mpiexec", "");
    EXPECT_EQ(messages, std::vector<QString>{"Parallel Run completed: 1 of 2 samples processed. Skipped: b.CDF (not a "
                                             "netCDF file)"});
    const std::string launched = read_file(args.string());
    EXPECT_EQ(launched.rfind("-np\n3\n/bin/true\n-c\n" + config.string() + "\n", 0), 0u) << launched;
    const std::string job = read_file((data / "Result" / "Job_Run_Config.csv").string());
    EXPECT_NE(job.find("b.CDF,0"), std::string::npos) << job;
    EXPECT_EQ(job.find("a.CDF"), std::string::npos) << job;

    // A job file that cannot be written fails the run before the pipeline could read a stale one.
    const fs::path job_file = data / "Result" / "Job_Run_Config.csv";
    fs::remove(job_file);
    fs::create_directories(job_file);
    fs::remove(args);
    messages.clear();
    korvane::wb::set_launcher_programs(stub, "/bin/true");
    tab()->mpiButton_Click();
    ASSERT_TRUE(wait_until([this] { return !form->runBusy(); }, 60));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].startsWith("Parallel Run failed: could not write " +
                                       QString::fromStdString(job_file.string())))
        << messages[0].toStdString();
    EXPECT_FALSE(fs::exists(args));
    korvane::wb::set_launcher_programs("mpiexec", "");
}

// A launcher that ends in failure makes one message, which says what the pipeline or the launcher
// said stopped it (or that it failed when nothing was said), and what to change when the launcher
// refused the number of processes; the run is not called completed. There used to be a reasonless
// "MPI Run Failed" warning first, then this message.
TEST_F(MainFormTest, AFailedParallelRunIsOneMessageWithItsReason) {
    readyParallelRun();
    std::vector<std::string> warnings;  // written by the run's worker, read after it has ended
    korvane::wb::set_message_box_handler(
        [&warnings](const std::string& text, const std::string&) { warnings.push_back(text); });
    const auto launcher = [this](const char* name, const std::string& error_output) {
        const std::string path = dir.write(name, "#!/bin/sh\nprintf '%b' '" + error_output + "' >&2\nexit 1\n");
        ::chmod(path.c_str(), 0755);
        return path;
    };
    const std::string missing = dir.file("no-such-mpiexec");
    const struct {
        std::string launcher;
        QString said;
    } rows[] = {
        {launcher("failing.sh", "KORVANE_Pipeline: error in process 0: Parameter file c/config_para.csv: no line "
                                "for Para_PPM\n"),
         "Parameter file c/config_para.csv: no line for Para_PPM"},
        {launcher("slots.sh", "-----\nThere are not enough slots available in the system to satisfy the 3\nslots "
                              "that were requested by the application:\n\n  KORVANE_Pipeline\n\nEither request "
                              "fewer slots\n"),
         "There are not enough slots available in the system to satisfy the 3 slots that were requested by the "
         "application. Please enter a smaller number of processes in \"CPU#:\"!"},
        {"/bin/false", "KORVANE_Pipeline under mpiexec did not finish successfully"},
        {missing, QString::fromStdString("could not start " + missing + ": No such file or directory")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.launcher);
        messages.clear();
        warnings.clear();
        korvane::wb::set_launcher_programs(row.launcher, "/bin/true");
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        tab()->mpiButton_Click();
        ASSERT_TRUE(wait_until([this] { return !form->runBusy(); }, 60));
        testing::internal::GetCapturedStderr();
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(warnings.empty());
        EXPECT_EQ(messages, std::vector<QString>{"Parallel Run failed: " + row.said});
    }
    korvane::wb::set_launcher_programs("mpiexec", "");
    korvane::wb::set_message_box_handler(nullptr);
}

// Closing during a Parallel Run asks first, as during a Batch Run (it used to kill the launcher
// without asking). No: the window and the launcher stay. Yes: the launcher gets SIGTERM, which it
// passes on to the pipeline's processes so that they remove their unfinished files; one that
// ignores it is killed after the grace period. The window closes once the run has ended, without
// a message.
TEST_F(MainFormTest, ClosingDuringAParallelRunAsksAndStopsTheLauncherWithSigterm) {
    readyParallelRun();
    tab()->launcherStopGrace = std::chrono::milliseconds(300);
    const fs::path marks = dir.path() / "signals.txt";
    const struct {
        const char* name;
        std::string on_term;
        std::string said;  // on standard output, by the window's launch
    } rows[] = {
        {"ends on SIGTERM", "echo TERM >> '" + marks.string() + "'; exit 143",
         "ERROR: MPI run ended with exit status 143\n"},
        {"ignores SIGTERM", "echo TERM >> '" + marks.string() + "'", "ERROR: MPI run ended by signal 9\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(marks);
        messages.clear();
        std::vector<QString> questions;
        bool answer = false;
        form->askQuestion = [&](const QString& text) {
            questions.push_back(text);
            return answer;
        };
        const std::string stub =
            dir.write("launcher.sh", "#!/bin/sh\ntrap \"" + row.on_term + "\" TERM\nwhile :; do sleep 0.05; done\n");
        ::chmod(stub.c_str(), 0755);
        korvane::wb::set_launcher_programs(stub, "/bin/true");
        testing::internal::CaptureStdout();
        tab()->mpiButton_Click();
        ASSERT_TRUE(form->runBusy());
        EXPECT_FALSE(wait_until([this] { return !form->runBusy(); }, 1));  // the launcher sets its trap
        EXPECT_FALSE(form->close());
        EXPECT_TRUE(form->isVisible());
        EXPECT_FALSE(wait_until([this] { return !form->runBusy(); }, 1));
        EXPECT_FALSE(fs::exists(marks));
        answer = true;
        EXPECT_TRUE(form->close());
        const std::string said = testing::internal::GetCapturedStdout();
        EXPECT_FALSE(form->runBusy());
        ASSERT_EQ(questions.size(), 2u);
        EXPECT_TRUE(questions[0].startsWith("A Parallel Run is in progress. Stop it and close KORVANE?"))
            << questions[0].toStdString();
        EXPECT_EQ(read_file(marks.string()), "TERM\n");
        EXPECT_EQ(said, row.said);
        EXPECT_TRUE(messages.empty());
        form->show();
    }
    korvane::wb::set_launcher_programs("mpiexec", "");
}

// Exit and close end the launcher this window started, so the blocked run ends too, and leave
// every other process alone.
TEST_F(MainFormTest, ExitAndCloseEndOnlyTheLauncherThisWindowStarted) {
    const fs::path data = dir.path() / "data", config = dir.path() / "config";
    fs::create_directories(data);
    copy_example_config(config);
    const std::string stub = dir.write("launcher.sh", "#!/bin/sh\nexec sleep 60\n");
    ::chmod(stub.c_str(), 0755);
    korvane::wb::set_launcher_programs(stub, "/bin/true");
    form->askQuestion = [](const QString&) { return true; };
    for (const char* way : {"E&xit", "close"}) {
        SCOPED_TRACE(way);
        QProcess bystander;
        bystander.start("sleep", {"60"});
        ASSERT_TRUE(bystander.waitForStarted(5000));
        messages.clear();
        exitCodes.clear();
        loadFiles({QString::fromStdString((data / "a.CDF").string())});
        chooseConfig(config);
        tab()->dataGridView1_CellClick(0, 2);
        child<QRadioButton>("mpiRunRadioButton")->setChecked(true);
        tab()->mpiButton_Click();
        ASSERT_TRUE(form->runBusy());
        // Let the launcher start; the run stays blocked on it.
        EXPECT_FALSE(wait_until([this] { return !form->runBusy(); }, 1));
        if (std::string(way) == "close") {
            form->close();
        } else {
            form->exitMenu_Click();
            EXPECT_EQ(exitCodes, std::vector<int>{0});
        }
        EXPECT_TRUE(wait_until([this] { return !form->runBusy(); }, 20));
        EXPECT_TRUE(messages.empty());  // no completion message for a window going away
        EXPECT_EQ(bystander.state(), QProcess::Running);
        bystander.kill();
        bystander.waitForFinished(5000);
        form->show();
    }
    korvane::wb::set_launcher_programs("mpiexec", "");
}

TEST_F(MainFormTest, ExitEndsWithCodeZeroAndAboutOpensANewWindowEachTime) {
    form->exitMenu_Click();
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    form->aboutMenu_Click();
    form->aboutMenu_Click();
    process_events();
    int abouts = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() != "About" || !w->isVisible()) continue;
        ++abouts;
        EXPECT_EQ(w->windowTitle(), "About KORVANE");
        EXPECT_EQ(w->size(), QSize(257, 273));
        auto* label = w->findChild<QLabel*>();
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), "KORVANE");
        EXPECT_EQ(label->pos(), QPoint(12, 9));
    }
    EXPECT_EQ(abouts, 2);
    EXPECT_EQ(form->windowTitle(), "KORVANE");
    QStringList tabs;
    auto* tabWidget = child<QTabWidget>("tabControl1");
    for (int i = 0; i < tabWidget->count(); ++i) tabs << tabWidget->tabText(i);
    EXPECT_EQ(tabs, (QStringList{"Data Process", "Parameter Setup", "Annotation Result", "Alignment Result"}));
    form->close();
    process_events();
}

// The engine's warnings reach a QMessageBox shown by the window's thread, also when a worker
// raises them; the worker waits until the box is closed.
TEST(MessageBoxHandler, AWorkerThreadsWarningIsShownByTheWindowThread) {
    korvane::wb::install_qt_message_box_handler();
    QString seenText, seenTitle;
    bool seenOnGuiThread = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seenText = box->text();
            seenTitle = box->windowTitle();
            seenOnGuiThread = QThread::currentThread() == box->thread();
            box->accept();
        }
    });
    closer.start(20);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        korvane::wb::show_message_box("MPI Run Failed", "Warning");
        done = true;
    });
    EXPECT_TRUE(wait_until([&] { return done.load(); }, 30));
    worker.join();
    korvane::wb::set_message_box_handler(nullptr);
    EXPECT_EQ(seenText, "MPI Run Failed");
    EXPECT_EQ(seenTitle, "Warning");
    EXPECT_TRUE(seenOnGuiThread);
}

// The program itself starts headless and stays up until it is told to end.
TEST(KorvaneForm, StartsHeadlessAndRunsUntilEnded) {
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(KORVANE_FORM_EXE, {});
    ASSERT_TRUE(program.waitForStarted(10000));
    EXPECT_FALSE(program.waitForFinished(1500)) << program.readAllStandardError().toStdString();
    EXPECT_EQ(program.state(), QProcess::Running);
    program.terminate();
    EXPECT_TRUE(program.waitForFinished(10000));
}

}  // namespace
