#include "workbench/window/main_form.h"

#include <qcustomplot.h>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QTabWidget>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <cmath>
#include <exception>
#include <filesystem>
#include <iostream>
#include <new>

#include "engine/records/text_util.h"
#include "workbench/engine/korvane_engine.h"
#include "workbench/engine/platform_hooks.h"
#include "workbench/results/result_tabs.h"
#include "workbench/window/about_window.h"
#include "workbench/window/parameter_setup_tab.h"

namespace {

constexpr int kFileNameColumn = 0;
constexpr int kFolderColumn = 1;
constexpr int kProcessColumn = 2;
constexpr int kAlignColumn = 3;

std::string engine_text(const QString& s) { return QFile::encodeName(s).toStdString(); }

QString window_text(const std::string& s) { return QFile::decodeName(QByteArray::fromStdString(s)); }

QCPTextElement* add_title(QCustomPlot* plot) {
    plot->plotLayout()->insertRow(0);
    auto* title = new QCPTextElement(plot, QString(), QFont(plot->font().family(), 11, QFont::Bold));
    plot->plotLayout()->addElement(0, 0, title);
    return title;
}

// Zoomed out and empty, with major grid lines, ready for new curves.
void reset_plot(QCustomPlot* plot) {
    plot->clearItems();
    plot->clearPlottables();
    plot->xAxis->grid()->setVisible(true);
    plot->yAxis->grid()->setVisible(true);
    plot->rescaleAxes();
}

// The C locale, refusing group separators: "1,5" is no number here rather than 15.
QLocale plain_locale() {
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    return c;
}

bool checked(const QTableWidgetItem* item) { return item && item->checkState() == Qt::Checked; }

}  // namespace

namespace korvane::wb {

void install_qt_message_box_handler() {
    set_message_box_handler([](const std::string& text, const std::string& caption) {
        const auto show = [&] {
            QMessageBox::warning(nullptr, window_text(caption), window_text(text), QMessageBox::Ok);
        };
        if (!qApp) {
            std::cerr << caption << ": " << text << std::endl;
        } else if (QThread::currentThread() == qApp->thread()) {
            show();
        } else {
            // Widgets belong to the window's thread; the worker waits until the box is closed.
            QMetaObject::invokeMethod(qApp, show, Qt::BlockingQueuedConnection);
        }
    });
}

}  // namespace korvane::wb

MainForm::MainForm(QWidget* parent) : QMainWindow(parent) {
    setObjectName("MainForm");
    setWindowTitle("KORVANE");
    setWindowFlags((windowFlags() | Qt::CustomizeWindowHint | Qt::WindowMinimizeButtonHint |
                    Qt::WindowCloseButtonHint | Qt::WindowTitleHint) &
                   ~Qt::WindowMaximizeButtonHint);

    showMessage = [this](const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, this);
        box.exec();
    };
    openFilesDialog = [this](const QString& title, const QString& filter) -> std::optional<QStringList> {
        QFileDialog dialog(this, title, QString(), filter);
        dialog.setFileMode(QFileDialog::ExistingFiles);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        return dialog.selectedFiles();
    };
    folderDialog = [this](const QString& proposed) {
        const QString chosen = QFileDialog::getExistingDirectory(this, QString(), proposed);
        return chosen.isEmpty() ? proposed : chosen;
    };
    exitApplication = [](int code) { QCoreApplication::exit(code); };

    auto* fileMenu = menuBar()->addMenu("&File");
    auto* exitAction = fileMenu->addAction("E&xit");
    exitAction->setObjectName("exitToolStripMenuItem");
    connect(exitAction, &QAction::triggered, this, &MainForm::exitMenu_Click);
    auto* helpMenu = menuBar()->addMenu("&Help");
    auto* aboutAction = helpMenu->addAction("&About...");
    aboutAction->setObjectName("aboutToolStripMenuItem");
    connect(aboutAction, &QAction::triggered, this, &MainForm::aboutMenu_Click);

    // The engine comes first so that the pages can hold its address; without memory for it the
    // window still opens and its engine actions do nothing.
    try {
        engine_ = std::make_unique<CKORVANE_Engine>();
    } catch (const std::bad_alloc&) {
        engine_.reset();
    }

    tabs_ = new QTabWidget;
    tabs_->setObjectName("tabControl1");
    auto* dataPage = new QWidget;
    dataPage->setObjectName("dataProcessTab");
    buildDataProcessTab(dataPage);
    tabs_->addTab(dataPage, "Data Process");
    paramTab_ = new ParameterSetupTab(
        engine_.get(), [this] { return ConfigPath; }, [this] { return configFileTextBox->text(); });
    paramTab_->showMessage = [this](const QString& text) { showMessage(text); };
    tabs_->addTab(paramTab_, "Parameter Setup");
    const auto runOutputFolder = [this] { return FilePathOut; };
    annotationTab_ = new AnnotationResultTab(engine_.get(), runOutputFolder);
    tabs_->addTab(annotationTab_, "Annotation Result");
    alignmentTab_ = new AlignmentResultTab(engine_.get(), runOutputFolder);
    tabs_->addTab(alignmentTab_, "Alignment Result");
    connect(tabs_, &QTabWidget::currentChanged, this,
            [this](int index) { paramTab_->tabSelected(tabs_->widget(index) == paramTab_); });

    // The pages keep their designed size; a screen too small for the window shows scroll bars
    // instead of a window running off its edge.
    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    tabs_->setMinimumSize(1236, 846);
    scroll->setWidget(tabs_);
    setCentralWidget(scroll);
    QSize size(1240, 880);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size());
    setFixedSize(size);

    connect(&runWatcher_, &QFutureWatcher<QString>::finished, this, &MainForm::runFinished);
    connect(&pollWatcher_, &QFutureWatcher<void>::finished, this, [this] {
        progressValue = 0;
        pollerBusy_ = false;
    });
}

MainForm::~MainForm() {
    // The worker uses the engine and this window's flags: both must outlive it.
    korvane::wb::kill_started_launcher();
    // Events keep flowing meanwhile: a worker may be waiting for the window's thread to show a
    // message box.
    while (runWatcher_.isRunning() || pollWatcher_.isRunning())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

void MainForm::buildDataProcessTab(QWidget* page) {
    auto* top = new QGridLayout;
    textBox1 = new QPlainTextEdit;
    textBox1->setObjectName("textBox1");
    textBox1->setReadOnly(true);
    textBox1->setFixedHeight(60);
    auto* browse = new QPushButton("Browse");
    browse->setObjectName("DataLoadBrowseButton");
    auto* load = new QPushButton("Load Data");
    load->setObjectName("LoadDataFileButton");
    configFileTextBox = new QLineEdit;
    configFileTextBox->setObjectName("configFileTextBox");
    configFileTextBox->setReadOnly(true);
    auto* configBrowse = new QPushButton("Browse");
    configBrowse->setObjectName("configFileButton");
    top->addWidget(new QLabel("Input LCMS File(s) :"), 0, 0);
    top->addWidget(textBox1, 0, 1);
    top->addWidget(browse, 0, 2);
    top->addWidget(load, 0, 3);
    top->addWidget(new QLabel("Configuration Folder :"), 1, 0);
    top->addWidget(configFileTextBox, 1, 1);
    top->addWidget(configBrowse, 1, 2);
    connect(browse, &QPushButton::clicked, this, &MainForm::DataLoadBrowseButton_Click);
    connect(load, &QPushButton::clicked, this, &MainForm::LoadDataFileButton_Click);
    connect(configBrowse, &QPushButton::clicked, this, &MainForm::configFileButton_Click);

    runPanel = new QWidget;
    runPanel->setObjectName("panel1");
    runPanel->setFixedWidth(300);
    auto* run = new QVBoxLayout(runPanel);
    dataGridView1 = new QTableWidget(0, 4);
    dataGridView1->setObjectName("dataGridView1");
    dataGridView1->setHorizontalHeaderLabels({"File Name", "Folder Name", "   Process", "   Align"});
    dataGridView1->verticalHeader()->hide();
    dataGridView1->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // The mark columns' names start with blanks to leave room for the header boxes on their left.
    dataGridView1->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    dataGridView1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    dataGridView1->setSelectionMode(QAbstractItemView::SingleSelection);
    dataGridView1->setSortingEnabled(false);
    dataGridView1->setMinimumHeight(420);
    run->addWidget(dataGridView1);
    connect(dataGridView1, &QTableWidget::cellClicked, this, &MainForm::dataGridView1_CellClick);

    batchRunRadioButton = new QRadioButton("Batch Run");
    batchRunRadioButton->setObjectName("batchRunRadioButton");
    batchRunRadioButton->setChecked(true);
    mpiRunRadioButton = new QRadioButton("Parallel Run");
    mpiRunRadioButton->setObjectName("mpiRunRadioButton");
    auto* modes = new QHBoxLayout;
    modes->addWidget(batchRunRadioButton);
    modes->addWidget(mpiRunRadioButton);
    run->addLayout(modes);
    connect(batchRunRadioButton, &QRadioButton::toggled, this, [this](bool batch) {
        batchButton->setVisible(batch);
        mpiButton->setVisible(!batch);
        label32->setVisible(!batch);
        cpuNumberTextBox->setVisible(!batch);
    });

    batchButton = new QPushButton("Batch Run");
    batchButton->setObjectName("batchButton");
    mpiButton = new QPushButton("Parallel Run");
    mpiButton->setObjectName("mpiButton");
    label32 = new QLabel("CPU#:");
    label32->setObjectName("label32");
    cpuNumberTextBox = new QLineEdit("2");
    cpuNumberTextBox->setObjectName("cpuNumberTextBox");
    cpuNumberTextBox->setFixedWidth(40);
    for (QWidget* w : std::initializer_list<QWidget*>{batchButton, mpiButton, label32, cpuNumberTextBox}) w->hide();
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(batchButton);
    buttons->addWidget(mpiButton);
    buttons->addWidget(label32);
    buttons->addWidget(cpuNumberTextBox);
    buttons->addStretch();
    run->addLayout(buttons);
    connect(batchButton, &QPushButton::clicked, this, &MainForm::batchButton_Click);
    connect(mpiButton, &QPushButton::clicked, this, &MainForm::mpiButton_Click);

    progressBar1 = new QProgressBar;
    progressBar1->setObjectName("progressBar1");
    progressBar1->hide();
    run->addWidget(progressBar1);
    run->addStretch();
    runPanel->hide();

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
    for (QRadioButton* b : {ScanNumberRadioButton, RetentionTimeRadioButton, twoDRadioButton})
        connect(b, &QRadioButton::toggled, this, [this](bool on) {
            if (on) redrawDataPlot();
        });
    connect(textBox5, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text.isEmpty()) {
            textBox5->setText("0");  // redraws through this same signal
            return;
        }
        bool ok = false;
        const int t = plain_locale().toInt(text.trimmed(), &ok);
        // Text that is no whole number keeps the last threshold that was one.
        if (ok) threshold_ = t;
        redrawDataPlot();
    });

    zedGraphControl1 = new QCustomPlot;
    zedGraphControl1->setObjectName("zedGraphControl1");
    zedGraphControl1->setMinimumHeight(340);
    zedGraphControl1->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    // Whole values on the intensity axis, never a common power-of-ten factor.
    zedGraphControl1->yAxis->setNumberFormat("f");
    zedGraphControl1->yAxis->setNumberPrecision(0);
    dataTitle_ = add_title(zedGraphControl1);
    connect(zedGraphControl1, &QCustomPlot::mousePress, this, &MainForm::dataPlotMousePress);
    zedGraphControl2 = new QCustomPlot;
    zedGraphControl2->setObjectName("zedGraphControl2");
    zedGraphControl2->setMinimumHeight(280);
    zedGraphControl2->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    zedGraphControl2->yAxis->setNumberFormat("f");
    zedGraphControl2->yAxis->setNumberPrecision(0);
    spectrumTitle_ = add_title(zedGraphControl2);
    plots->addWidget(zedGraphControl1, 3);
    plots->addWidget(zedGraphControl2, 2);
    plotPanel->hide();

    auto* body = new QHBoxLayout;
    body->addWidget(runPanel, 0, Qt::AlignTop);
    body->addWidget(plotPanel, 1);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(top);
    layout->addLayout(body, 1);
}

QString MainForm::dataPlotTitle() const { return dataTitle_->text(); }
QString MainForm::spectrumPlotTitle() const { return spectrumTitle_->text(); }

void MainForm::DataLoadBrowseButton_Click() {
    textBox1->clear();
    const auto chosen = openFilesDialog("Select LC-MS CDF Files", "CDF Files (*.CDF *.cdf)");
    if (!chosen) return;
    if (chosen->isEmpty()) {
        textBox1->clear();
        showMessage("Please select the LCMS Data(.CDF) file(s) before loading!");
        return;
    }
    fileNumber = static_cast<int>(chosen->size());
    Result_Data_Load1.clear();
    QString text;
    for (const QString& path : *chosen) {
        text += path + ";";
        const int slash = static_cast<int>(path.lastIndexOf('/'));
        const QString folder = slash > 0 ? path.left(slash) : (slash == 0 ? QString("/") : QString());
        FilePathData = folder;
        Result_Data_Load1.emplace_back(folder, path.mid(slash + 1));
    }
    textBox1->setPlainText(text);
}

void MainForm::setRunPanelVisible(bool visible) { runPanel->setVisible(visible); }

void MainForm::LoadDataFileButton_Click() {
    if (textBox1->toPlainText().isEmpty()) {
        setRunPanelVisible(false);
        plotPanel->hide();
        showMessage("Please load the LCMS Data(.CDF) file(s)!");
        return;
    }
    dataGridView1->clearContents();
    dataGridView1->setRowCount(static_cast<int>(Result_Data_Load1.size()));
    for (int row = 0; row < static_cast<int>(Result_Data_Load1.size()); ++row) {
        const auto& [folder, name] = Result_Data_Load1[static_cast<std::size_t>(row)];
        auto* nameItem = new QTableWidgetItem(name);
        nameItem->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        auto* folderItem = new QTableWidgetItem(folder);
        folderItem->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        // The Process mark changes only through the click handler, which keeps checkboxCount.
        auto* process = new QTableWidgetItem;
        process->setFlags(Qt::ItemIsEnabled);
        process->setCheckState(Qt::Unchecked);
        auto* align = new QTableWidgetItem;
        align->setFlags(Qt::ItemIsEnabled);
        align->setCheckState(Qt::Unchecked);
        dataGridView1->setItem(row, kFileNameColumn, nameItem);
        dataGridView1->setItem(row, kFolderColumn, folderItem);
        dataGridView1->setItem(row, kProcessColumn, process);
        dataGridView1->setItem(row, kAlignColumn, align);
    }
    checkboxCount = 0;
    dataGridView1->setColumnHidden(kFolderColumn, true);
    setRunPanelVisible(true);
    batchButton->show();
    dataGridView1->setCurrentItem(nullptr);
    dataGridView1->clearSelection();
    dataGridView1->setColumnWidth(kFileNameColumn, 250 - 60 - 45);
    dataGridView1->setColumnWidth(kProcessColumn, 60);
    dataGridView1->setColumnWidth(kAlignColumn, 45);
    placeHeaderCheckBoxes();
}

void MainForm::placeHeaderCheckBoxes() {
    delete checkboxHeader;
    delete checkboxHeader2;
    QHeaderView* header = dataGridView1->horizontalHeader();
    const auto place = [header](int column, const char* name) {
        auto* box = new QCheckBox(header->viewport());
        box->setObjectName(name);
        box->setGeometry(header->sectionViewportPosition(column) + 2, 4, 15, 15);
        box->show();
        return box;
    };
    checkboxHeader = place(kProcessColumn, "checkboxHeader");
    checkboxHeader2 = place(kAlignColumn, "checkboxHeader2");
    connect(checkboxHeader, &QCheckBox::toggled, this, &MainForm::processHeaderToggled);
    connect(checkboxHeader2, &QCheckBox::toggled, this, &MainForm::alignHeaderToggled);
}

void MainForm::setAlignEditable(int row, bool editable) {
    QTableWidgetItem* align = dataGridView1->item(row, kAlignColumn);
    if (!align) return;
    align->setFlags(editable ? Qt::ItemIsEnabled | Qt::ItemIsUserCheckable : Qt::ItemIsEnabled);
    if (!editable) align->setCheckState(Qt::Unchecked);
}

void MainForm::endGridEdit() {
    dataGridView1->setCurrentItem(nullptr);
    dataGridView1->clearSelection();
    dataGridView1->viewport()->update();
}

void MainForm::processHeaderToggled(bool on) {
    endGridEdit();
    const int rows = dataGridView1->rowCount();
    for (int row = 0; row < rows; ++row) {
        dataGridView1->item(row, kProcessColumn)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
        setAlignEditable(row, on);
    }
    checkboxCount = on ? rows : 0;
    if (!on) checkboxHeader2->setChecked(false);
}

void MainForm::alignHeaderToggled(bool on) {
    endGridEdit();
    for (int row = 0; row < dataGridView1->rowCount(); ++row) {
        if (!on)
            dataGridView1->item(row, kAlignColumn)->setCheckState(Qt::Unchecked);
        else if (checked(dataGridView1->item(row, kProcessColumn)))
            dataGridView1->item(row, kAlignColumn)->setCheckState(Qt::Checked);
    }
}

void MainForm::dataGridView1_CellClick(int row, int column) {
    if (row < 0 || row >= dataGridView1->rowCount()) return;
    if (column == kProcessColumn) {
        QTableWidgetItem* process = dataGridView1->item(row, kProcessColumn);
        const bool on = !checked(process);
        process->setCheckState(on ? Qt::Checked : Qt::Unchecked);
        setAlignEditable(row, on);
        checkboxCount += on ? 1 : -1;
        endGridEdit();
        return;
    }
    if (column != kFileNameColumn) return;
    plotPanel->show();
    reset_plot(zedGraphControl2);
    spectrumTitle_->setText(QString());
    zedGraphControl2->replot();
    dataGridView1->selectRow(row);
    const QString name = dataGridView1->item(row, kFileNameColumn)->text();
    const QString folder = dataGridView1->item(row, kFolderColumn)->text();
    if (engine_) {
        engine_->data_file_Name = engine_text(name);
        engine_->data_file_path = engine_text(folder);
        try {
            engine_->CDF_File_Load();
        } catch (const std::exception&) {
            // A file that cannot be read shows as an empty plot under its name, as a failed load does.
        }
    }
    fileNameTitle = name;
    redrawDataPlot();
}

korvane::wb::Plot_Mode MainForm::plotMode() const {
    if (twoDRadioButton->isChecked()) return korvane::wb::Plot_Mode::TwoD;
    if (RetentionTimeRadioButton->isChecked()) return korvane::wb::Plot_Mode::RetentionTime;
    return korvane::wb::Plot_Mode::ScanNumber;
}

void MainForm::redrawDataPlot() {
    QCustomPlot* plot = zedGraphControl1;
    reset_plot(plot);
    view_ = engine_ ? korvane::wb::make_sample_view(*engine_) : korvane::wb::Sample_View{};
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
    plot->replot();
}

void MainForm::dataPlotMousePress(QMouseEvent* event) {
    QCustomPlot* spectrum = zedGraphControl2;
    reset_plot(spectrum);
    bool near = false;
    for (int g = 0; g < zedGraphControl1->graphCount(); ++g) {
        const double d = zedGraphControl1->graph(g)->selectTest(event->position(), false);
        if (d >= 0 && d <= zedGraphControl1->selectionTolerance()) near = true;
    }
    if (!near || view_.scan_count() == 0) {
        spectrum->replot();
        return;
    }
    const double x = zedGraphControl1->xAxis->pixelToCoord(event->position().x());
    const auto choice = korvane::wb::choose_spectrum_scan(view_, plotMode(), x);
    spectrumTitle_->setText(QString::fromStdString(choice.title));
    spectrum->xAxis->setLabel("M/Z");
    spectrum->yAxis->setLabel("Intensity");
    spectrum->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignRight | Qt::AlignTop);
    std::vector<double> mz, intensity;
    korvane::wb::spectrum_points(view_, choice.scan_pos, mz, intensity);
    QCPGraph* sticks = spectrum->addGraph();
    sticks->setPen(QPen(Qt::blue));
    sticks->setLineStyle(QCPGraph::lsImpulse);
    sticks->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
    sticks->removeFromLegend();
    sticks->setData(QVector<double>(mz.begin(), mz.end()), QVector<double>(intensity.begin(), intensity.end()));
    spectrum->rescaleAxes();
    spectrum->replot();
}

void MainForm::configFileButton_Click() {
    const QString folder = folderDialog(QDir::currentPath() + "/configFiles");
    ConfigPath = folder;
    configFileTextBox->setText(folder);
    int loaded = 0;
    QString error;
    if (engine_) {
        try {
            loaded = engine_->Config_File_Load(engine_text(ConfigPath), "config_para.csv");
        } catch (const std::exception& e) {
            error = QString::fromLocal8Bit(e.what());
        }
    }
    if (loaded == 0) {
        showMessage(error.isEmpty() ? QString("Could not find configure files!")
                                    : "Could not read configure files: " + error);
        ConfigPath.clear();
        configFileTextBox->clear();
    }
}

void MainForm::batchButton_Click() { startRun(true); }
void MainForm::mpiButton_Click() { startRun(false); }

void MainForm::startRun(bool batch) {
    if (textBox1->toPlainText().isEmpty()) {
        showMessage("Please select LCMS file(s)");
        return;
    }
    if (configFileTextBox->text().isEmpty()) {
        showMessage("Please select parameter file");
        return;
    }
    if (checkboxCount == 0) {
        showMessage("Please check at least 1 process check box to run!");
        return;
    }
    if (runBusy()) {
        showMessage("A run is still in progress; please wait until it has finished!");
        return;
    }
    if (!engine_) return;
    // The CPU box and the marks are read here, on the window's thread: the worker touches no widget.
    int cpu = 1;
    if (!batch) {
        bool ok = false;
        cpu = plain_locale().toInt(cpuNumberTextBox->text().trimmed(), &ok);
        if (!ok || cpu < 1) {
            showMessage("Please enter a whole number of processes (1 or more) in \"CPU#:\"!");
            return;
        }
    }
    FilePathOut = window_text(korvane::path_join(engine_text(FilePathData), "Result"));
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(engine_text(FilePathOut)), ec);
    if (ec) {
        showMessage("Could not create the output folder " + FilePathOut + ": " + QString::fromStdString(ec.message()));
        return;
    }
    setCursor(Qt::WaitCursor);
    batchButtonWasClicked = batch;
    mpiButtonnWasClicked = !batch;

    std::vector<std::string> names;
    std::vector<int> flags;
    for (int row = 0; row < dataGridView1->rowCount(); ++row) {
        if (!checked(dataGridView1->item(row, kProcessColumn))) continue;
        names.push_back(engine_text(dataGridView1->item(row, kFileNameColumn)->text()));
        flags.push_back(checked(dataGridView1->item(row, kAlignColumn)) ? 1 : 0);
    }

    runBusy_ = true;
    workerRunning_ = true;
    if (batch) {
        progressBar1->setRange(0, 100);
        progressBar1->show();
        pollerBusy_ = true;
        QProgressBar* bar = progressBar1;
        pollWatcher_.setFuture(QtConcurrent::run([this, bar] {
            const auto report = [bar](double v) {
                const int percent = static_cast<int>(std::nearbyint(v));
                QMetaObject::invokeMethod(bar, [bar, percent] { bar->setValue(percent); }, Qt::QueuedConnection);
            };
            // A run that stops on an error never reaches 100; its end ends the polling too.
            do {
                report(progressValue.load());
                QThread::msleep(500);
            } while (progressValue.load() != 100.0 && workerRunning_.load());
            report(progressValue.load());
        }));
    }
    CKORVANE_Engine* engine = engine_.get();
    const std::string config = engine_text(ConfigPath), data = engine_text(FilePathData),
                      output = engine_text(FilePathOut);
    runWatcher_.setFuture(QtConcurrent::run([this, engine, config, data, output, names, flags, batch, cpu] {
        QString error;
        // The drivers catch nothing; what they raise must reach the user as a failure.
        try {
            engine->Config_Engine(config, data, "", output);
            if (batch) {
                engine->Save_Run_Config_Parameter(names, flags, 1, 1);
                engine->Batch_Pipeline(names, flags);
            } else {
                engine->Save_Run_Config_Parameter(names, flags, 0, cpu);
                engine->Parallel_Pipeline(names, flags, cpu);
                // The launch has already warned; the run must not then be called completed.
                if (korvane::wb::last_parallel_run_failed())
                    error = "KORVANE_Pipeline under mpiexec did not finish successfully";
            }
        } catch (const std::exception& e) {
            error = QString::fromLocal8Bit(e.what());
            if (error.isEmpty()) error = "unknown error";
        } catch (...) {
            error = "unknown error";
        }
        workerRunning_ = false;
        return error;
    }));
}

void MainForm::runFinished() {
    unsetCursor();
    const QString error = runWatcher_.result();
    const bool batch = batchButtonWasClicked;
    if (error.isEmpty())
        showMessage(batch ? "Batch Run completed!" : "Parallel Run completed!");
    else
        showMessage((batch ? "Batch Run failed: " : "Parallel Run failed: ") + error);
    batchButtonWasClicked = false;
    mpiButtonnWasClicked = false;
    runBusy_ = false;
}

void MainForm::exitMenu_Click() {
    korvane::wb::kill_started_launcher();
    exitApplication(0);
}

void MainForm::closeEvent(QCloseEvent* event) {
    korvane::wb::kill_started_launcher();
    QMainWindow::closeEvent(event);
}

void MainForm::aboutMenu_Click() {
    auto* about = new About(this);
    about->show();
}
