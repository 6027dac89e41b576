#include "workbench/window/data_process_tab.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <cmath>
#include <filesystem>

#include "engine/records/text_util.h"
#include "workbench/engine/korvane_engine.h"
#include "workbench/engine/platform_hooks.h"
#include "workbench/engine/run_outcome.h"
#include "workbench/results/guarded_slot.h"
#include "workbench/window/form_util.h"

using namespace korvane::wb::form;

void DataProcessTab::batchButton_Click() { startRun(true); }
void DataProcessTab::mpiButton_Click() { startRun(false); }

namespace {

// How often the bar follows a Batch Run's progress, and the slices in which the poller waits so
// that it notices soon when the run ends.
constexpr int kProgressPollMs = 500, kPollSliceMs = 25;
constexpr double kProgressDone = 100.0;  // percent: the batch driver's value after its last sample

// What ended a failed Parallel Run, as the pipeline or its launcher said it; when the launcher
// refused the number of processes (Open MPI: "There are not enough slots available in the system
// to satisfy the 16 slots ..."), also what to change.
QString parallel_run_failure(const std::string& said) {
    if (said.empty()) return QStringLiteral("KORVANE_Pipeline under mpiexec did not finish successfully");
    QString text = window_text(said);
    if (said.find("not enough slots available") == std::string::npos) return text;
    if (text.endsWith(':')) text.chop(1);
    return text + ". Please enter a smaller number of processes in \"CPU#:\"!";
}

// Handles the window's events until busy() turns false, running step() before each wait. It
// sleeps while no event comes, woken at least every slice: a loop around a bare processEvents,
// which returns at once when nothing is pending, would spin a core the run needs.
template <class Busy, class Step>
void wait_handling_events(Busy busy, Step step) {
    QTimer wake;
    wake.start(kPollSliceMs);
    while (busy()) {
        step();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

}  // namespace

bool DataProcessTab::runInputsReady() {
    if (textBox1->toPlainText().isEmpty()) {
        showMessage("Please select LCMS file(s)");
        return false;
    }
    if (configFileTextBox->text().isEmpty()) {
        showMessage("Please select parameter file");
        return false;
    }
    if (checkboxCount == 0) {
        showMessage("Please check at least 1 process check box to run!");
        return false;
    }
    if (runBusy()) {
        showMessage("A run is still in progress; please wait until it has finished!");
        return false;
    }
    return true;
}

bool DataProcessTab::readCpuCount(int& cpu) {
    bool ok = false;
    cpu = plain_locale().toInt(cpuNumberTextBox->text().trimmed(), &ok);
    if (ok && cpu >= 1) return true;
    showMessage("Please enter a whole number of processes (1 or more) in \"CPU#:\"!");
    return false;
}

bool DataProcessTab::createOutputFolder() {
    FilePathOut = window_text(korvane::path_join(engine_text(FilePathData), "Result"));
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(engine_text(FilePathOut)), ec);
    if (!ec) return true;
    showMessage("Could not create the output folder " + FilePathOut + ": " + QString::fromStdString(ec.message()));
    return false;
}

void DataProcessTab::readMarkedFiles(std::vector<std::string>& names, std::vector<int>& flags) const {
    for (int row = 0; row < dataGridView1->rowCount(); ++row) {
        if (!checked(dataGridView1->item(row, kProcessColumn))) continue;
        names.push_back(engine_text(dataGridView1->item(row, kFileNameColumn)->text()));
        flags.push_back(checked(dataGridView1->item(row, kAlignColumn)) ? 1 : 0);
    }
}

void DataProcessTab::startProgressPoller() {
    progressBar1->setRange(0, 100);
    progressBar1->setValue(0);
    pollerBusy_ = true;
    QProgressBar* bar = progressBar1;
    pollWatcher_.setFuture(QtConcurrent::run([this, bar] {
        const auto report = [bar](double v) {
            const int percent = static_cast<int>(std::nearbyint(v));
            QMetaObject::invokeMethod(bar, [bar, percent] { bar->setValue(percent); }, Qt::QueuedConnection);
        };
        // A run that stops on an error never reaches 100; its end ends the polling too, without
        // waiting out the half second (the completion message waits for the poller's last report).
        const auto busy = [this] { return progressValue.load() != kProgressDone && workerRunning_.load(); };
        do {
            report(progressValue.load());
            for (int slept = 0; slept < kProgressPollMs && busy(); slept += kPollSliceMs)
                QThread::msleep(kPollSliceMs);
        } while (busy());
        report(progressValue.load());
    }));
}

void DataProcessTab::startRun(bool batch) {
    if (!engine_ || !runInputsReady()) return;
    // The CPU box and the marks are read here, on the window's thread: the worker touches no widget.
    int cpu = 1;
    if (!batch && !readCpuCount(cpu)) return;
    if (!createOutputFolder()) return;
    setCursor(Qt::WaitCursor);
    batchButtonWasClicked = batch;
    mpiButtonnWasClicked = !batch;
    std::vector<std::string> names;
    std::vector<int> flags;
    readMarkedFiles(names, flags);

    runBusy_ = true;
    workerRunning_ = true;
    engine_->stop_requested = false;
    // A Parallel Run reports no progress; a bar left full by an earlier batch would say it is done.
    progressBar1->setVisible(batch);
    if (batch) startProgressPoller();
    CKORVANE_Engine* engine = engine_;
    const korvane::wb::Run_Folders folders{engine_text(ConfigPath), engine_text(FilePathData),
                                           engine_text(FilePathOut)};
    // Set here, on the thread that also sets them to load a sample for viewing: the worker runs on
    // its own copy of the folders and writes no member the window writes.
    engine->Config_Engine(folders.config, folders.data, "", folders.output);
    runWatcher_.setFuture(QtConcurrent::run([this, engine, folders, names, flags, batch, cpu] {
        QString error;
        // The drivers catch nothing; what they raise must reach the user as a failure.
        korvane::wb::guarded([&error](const QString& what) { error = what; }, [&] {
            if (batch) {
                engine->Save_Run_Config_Parameter(folders, names, flags, 1, 1);
                engine->Batch_Pipeline(folders, names, flags);
            } else {
                engine->Save_Run_Config_Parameter(folders, names, flags, 0, cpu);
                engine->Parallel_Pipeline(folders, cpu);
                // One message says that the run failed and why: the launch itself shows none.
                if (korvane::wb::last_parallel_run_failed()) error = parallel_run_failure(engine->last_run.failure);
            }
        });
        workerRunning_ = false;
        return error;
    }));
}

void DataProcessTab::runFinished() {
    unsetCursor();
    runError_ = runWatcher_.result();
    reportRunWhenDone();
}

void DataProcessTab::reportRunWhenDone() {
    // The message waits for the poller's last report, so that the bar shows where the run ended,
    // and for the answer to a close question still open: the window may be going away.
    if (runWatcher_.isRunning() || pollerBusy_ || !runBusy_ || asking_) return;
    const bool batch = batchButtonWasClicked;
    const QString run = batch ? QStringLiteral("Batch Run") : QStringLiteral("Parallel Run");
    // A window closing during the run stopped it on purpose: no message for a window going away.
    if (!closing_) {
        if (runError_.isEmpty())
            showMessage(window_text(korvane::wb::completion_message(run.toStdString(), engine_->last_run)));
        else
            showMessage(run + " failed: " + runError_);
    }
    batchButtonWasClicked = false;
    mpiButtonnWasClicked = false;
    runBusy_ = false;
}

bool DataProcessTab::confirmStopBeforeLeaving() {
    if (!runBusy()) return true;
    // Already stopping: the first request closes the window once the run has stopped.
    if (closing_) return false;
    const bool batch = batchButtonWasClicked;
    asking_ = true;
    const bool stop = askQuestion(
        batch ? QStringLiteral("A Batch Run is in progress. Stop it and close KORVANE?\n\nThe sample being "
                               "processed is finished first; the samples after it are not processed.")
              : QStringLiteral("A Parallel Run is in progress. Stop it and close KORVANE?\n\nThe samples that "
                               "are not finished yet are not processed."));
    asking_ = false;
    if (!stop) {
        reportRunWhenDone();  // the run may have ended while the question was open
        return false;
    }
    closing_ = true;
    if (batch) engine_->stop_requested = true;
    reportRunWhenDone();
    return true;
}

void DataProcessTab::waitForStoppedRun() {
    // A Parallel Run's launcher gets SIGTERM, which it passes on to the pipeline's processes: they
    // remove their unfinished files before they end. Only a launcher still there after the grace
    // period is killed outright. It may not have started yet when the question was answered.
    const bool batch = batchButtonWasClicked;
    bool signalled = batch, killed = batch;
    QElapsedTimer since_signal;
    // Events keep flowing: the run's end reaches this thread as one.
    wait_handling_events([this] { return runBusy(); }, [&] {
        if (!signalled && korvane::wb::kill_started_launcher(SIGTERM)) {
            signalled = true;
            since_signal.start();
        }
        if (signalled && !killed && since_signal.elapsed() >= launcherStopGrace.count()) {
            korvane::wb::kill_started_launcher(SIGKILL);
            killed = true;
        }
    });
    closing_ = false;
}

void DataProcessTab::endRunNow() {
    korvane::wb::kill_started_launcher();
    // Events keep flowing meanwhile: a worker may be waiting for the window's thread to show a
    // message box.
    wait_handling_events([this] { return runWatcher_.isRunning() || pollWatcher_.isRunning(); }, [] {});
}
