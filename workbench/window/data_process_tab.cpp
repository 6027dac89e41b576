#include "workbench/window/data_process_tab.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QStyle>
#include <QVBoxLayout>

#include "workbench/engine/korvane_engine.h"
#include "workbench/results/guarded_slot.h"
#include "workbench/window/form_util.h"

using namespace korvane::wb::form;
using korvane::wb::connect_guarded;

namespace {

// Where a header check box sits: 2 px right of and 4 px below its header cell's corner.
constexpr int kHeaderBoxLeft = 2, kHeaderBoxTop = 4, kHeaderBoxSize = 15;
// The designed widths of the mark columns; the file names take what they leave of 250 pixels.
constexpr int kDesignedProcessWidth = 60, kDesignedAlignWidth = 45;
constexpr int kFileNameWidth = 250 - kDesignedProcessWidth - kDesignedAlignWidth;

// A mark column wide enough for its header box and, to the right of it, its title.
int mark_column_width(const QHeaderView* header, int column) {
    const QString title = header->model()->headerData(column, Qt::Horizontal).toString().trimmed();
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    return kHeaderBoxLeft + kHeaderBoxSize + 4 + header->fontMetrics().horizontalAdvance(title) + 2 * margin;
}

}  // namespace

DataProcessTab::DataProcessTab(CKORVANE_Engine* engine, QWidget* parent) : QWidget(parent), engine_(engine) {
    setObjectName("dataProcessTab");
    installDialogs();
    QGridLayout* top = buildInputRows();
    runPanel = new QWidget;
    runPanel->setObjectName("panel1");
    runPanel->setFixedWidth(340);
    auto* run = new QVBoxLayout(runPanel);
    buildFileGrid(run);
    buildRunModes(run);
    buildRunButtons(run);
    progressBar1 = new QProgressBar;
    progressBar1->setObjectName("progressBar1");
    progressBar1->hide();
    run->addWidget(progressBar1);
    run->addStretch();
    runPanel->hide();
    buildSamplePlotPanel();

    auto* body = new QHBoxLayout;
    // Held to the left: aligned only to the top, the panel would sit centred in the row while the
    // plot panel is hidden and jump left when a file is first clicked.
    body->addWidget(runPanel, 0, Qt::AlignTop | Qt::AlignLeft);
    body->addWidget(plotPanel, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(body, 1);

    // The ends of a run's worker and of its progress poller.
    const auto report = [this](const QString& what) { reportError(what); };
    connect_guarded(&runWatcher_, &QFutureWatcher<QString>::finished, this, [this] { runFinished(); }, report);
    connect_guarded(
        &pollWatcher_, &QFutureWatcher<void>::finished, this,
        [this] {
            progressValue = 0;
            pollerBusy_ = false;
            reportRunWhenDone();
        },
        report);
}

DataProcessTab::~DataProcessTab() { endRunNow(); }

void DataProcessTab::installDialogs() {
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
    askQuestion = [this](const QString& text) {
        return QMessageBox::question(this, QStringLiteral("KORVANE"), text, QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    };
}

QString DataProcessTab::configBoxText() const { return configFileTextBox->text(); }

// The sample files and the configuration folder, each with its box and buttons.
QGridLayout* DataProcessTab::buildInputRows() {
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
    const auto report = [this](const QString& what) { reportError(what); };
    connect_guarded(browse, &QPushButton::clicked, this, [this] { DataLoadBrowseButton_Click(); }, report);
    connect_guarded(load, &QPushButton::clicked, this, [this] { LoadDataFileButton_Click(); }, report);
    connect_guarded(configBrowse, &QPushButton::clicked, this, [this] { configFileButton_Click(); }, report);
    return top;
}

void DataProcessTab::buildFileGrid(QVBoxLayout* run) {
    dataGridView1 = new QTableWidget(0, 4);
    dataGridView1->setObjectName("dataGridView1");
    dataGridView1->setHorizontalHeaderLabels({"File Name", "Folder Name", "   Process", "   Align"});
    dataGridView1->verticalHeader()->hide();
    dataGridView1->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    dataGridView1->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The header boxes sit at the left of the mark columns; their titles keep right of them.
    for (int column : {kProcessColumn, kAlignColumn})
        dataGridView1->horizontalHeaderItem(column)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    dataGridView1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    dataGridView1->setSelectionMode(QAbstractItemView::SingleSelection);
    dataGridView1->setSortingEnabled(false);
    dataGridView1->setMinimumHeight(420);
    run->addWidget(dataGridView1);
    const auto report = [this](const QString& what) { reportError(what); };
    connect_guarded(
        dataGridView1, &QTableWidget::cellClicked, this,
        [this](int row, int column) { dataGridView1_CellClick(row, column); }, report);
    // A key that moves the current row among the file names (arrows, Page Up/Down) shows that
    // sample as a click does; a click is left to its own handler, which comes on release.
    connect_guarded(
        dataGridView1, &QTableWidget::currentCellChanged, this,
        [this](int row, int column) {
            const bool by_key = QGuiApplication::mouseButtons() == Qt::NoButton;
            if (row >= 0 && row != shownRow_ && column == kFileNameColumn && by_key) showSample(row);
        },
        report);
}

void DataProcessTab::buildRunModes(QVBoxLayout* run) {
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
}

// The two run buttons and the CPU box, all hidden until the grid is filled.
void DataProcessTab::buildRunButtons(QVBoxLayout* run) {
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
    const auto report = [this](const QString& what) { reportError(what); };
    connect_guarded(batchButton, &QPushButton::clicked, this, [this] { batchButton_Click(); }, report);
    connect_guarded(mpiButton, &QPushButton::clicked, this, [this] { mpiButton_Click(); }, report);
}

void DataProcessTab::DataLoadBrowseButton_Click() {
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

void DataProcessTab::setRunPanelVisible(bool visible) { runPanel->setVisible(visible); }

void DataProcessTab::LoadDataFileButton_Click() {
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
    shownRow_ = -1;
    dataGridView1->setColumnHidden(kFolderColumn, true);
    setRunPanelVisible(true);
    batchButton->show();
    dataGridView1->setCurrentItem(nullptr);
    dataGridView1->clearSelection();
    dataGridView1->setColumnWidth(kFileNameColumn, kFileNameWidth);
    for (int column : {kProcessColumn, kAlignColumn})
        dataGridView1->setColumnWidth(column, mark_column_width(dataGridView1->horizontalHeader(), column));
    placeHeaderCheckBoxes();
}

void DataProcessTab::placeHeaderCheckBoxes() {
    delete checkboxHeader;
    delete checkboxHeader2;
    QHeaderView* header = dataGridView1->horizontalHeader();
    const auto place = [header](int column, const char* name) {
        auto* box = new QCheckBox(header->viewport());
        box->setObjectName(name);
        box->setGeometry(header->sectionViewportPosition(column) + kHeaderBoxLeft, kHeaderBoxTop, kHeaderBoxSize,
                         kHeaderBoxSize);
        box->show();
        return box;
    };
    checkboxHeader = place(kProcessColumn, "checkboxHeader");
    checkboxHeader2 = place(kAlignColumn, "checkboxHeader2");
    connect(checkboxHeader, &QCheckBox::toggled, this, &DataProcessTab::processHeaderToggled);
    connect(checkboxHeader2, &QCheckBox::toggled, this, &DataProcessTab::alignHeaderToggled);
}

void DataProcessTab::setAlignEditable(int row, bool editable) {
    QTableWidgetItem* align = dataGridView1->item(row, kAlignColumn);
    if (!align) return;
    align->setFlags(editable ? Qt::ItemIsEnabled | Qt::ItemIsUserCheckable : Qt::ItemIsEnabled);
    if (!editable) align->setCheckState(Qt::Unchecked);
}

void DataProcessTab::endGridEdit() {
    dataGridView1->setCurrentItem(nullptr);
    dataGridView1->clearSelection();
    dataGridView1->viewport()->update();
}

void DataProcessTab::processHeaderToggled(bool on) {
    endGridEdit();
    const int rows = dataGridView1->rowCount();
    for (int row = 0; row < rows; ++row) {
        dataGridView1->item(row, kProcessColumn)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
        setAlignEditable(row, on);
    }
    checkboxCount = on ? rows : 0;
    if (!on) checkboxHeader2->setChecked(false);
}

void DataProcessTab::alignHeaderToggled(bool on) {
    endGridEdit();
    for (int row = 0; row < dataGridView1->rowCount(); ++row) {
        if (!on)
            dataGridView1->item(row, kAlignColumn)->setCheckState(Qt::Unchecked);
        else if (checked(dataGridView1->item(row, kProcessColumn)))
            dataGridView1->item(row, kAlignColumn)->setCheckState(Qt::Checked);
    }
}
void DataProcessTab::dataGridView1_CellClick(int row, int column) {
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
    showSample(row);
}

void DataProcessTab::configFileButton_Click() {
    if (!engine_) return;
    const QString folder = folderDialog(QDir::currentPath() + "/configFiles");
    ConfigPath = folder;
    configFileTextBox->setText(folder);
    int loaded = 0;
    QString error;
    korvane::wb::guarded([&](const QString& what) { error = what; },
                         [&] { loaded = engine_->Config_File_Load(engine_text(ConfigPath), "config_para.csv"); });
    if (loaded == 0) {
        showMessage(error.isEmpty() ? QString("Could not find configure files!")
                                    : "Could not read configure files: " + error);
        ConfigPath.clear();
        configFileTextBox->clear();
    }
}
