#include "workbench/window/main_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <iostream>
#include <new>
#include <utility>

#include "workbench/engine/korvane_engine.h"
#include "workbench/engine/platform_hooks.h"
#include "workbench/results/alignment_result_tab.h"
#include "workbench/results/annotation_result_tab.h"
#include "workbench/results/guarded_slot.h"
#include "workbench/window/about_window.h"
#include "workbench/window/data_process_tab.h"
#include "workbench/window/parameter_setup_tab.h"

using korvane::wb::connect_guarded;

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

    // 1. The menus; exitApplication, which tests replace, ends the program.
    exitApplication = [](int code) { QCoreApplication::exit(code); };
    buildMenus();

    // 2. The engine comes first so that the pages can hold its address; without memory for it the
    //    window still opens and its engine actions do nothing.
    try {
        engine_ = std::make_unique<CKORVANE_Engine>();
    } catch (const std::bad_alloc&) {
        engine_.reset();
    }

    // 3. The four pages, in a window no larger than the screen.
    buildPages();
    placePagesInWindow();
}

void MainForm::buildMenus() {
    auto* fileMenu = menuBar()->addMenu("&File");
    auto* exitAction = fileMenu->addAction("E&xit");
    exitAction->setObjectName("exitToolStripMenuItem");
    const auto report = [this](const QString& what) { reportError(what); };
    connect_guarded(exitAction, &QAction::triggered, this, [this] { exitMenu_Click(); }, report);
    auto* helpMenu = menuBar()->addMenu("&Help");
    auto* aboutAction = helpMenu->addAction("&About...");
    aboutAction->setObjectName("aboutToolStripMenuItem");
    connect_guarded(aboutAction, &QAction::triggered, this, [this] { aboutMenu_Click(); }, report);
}

void MainForm::buildPages() {
    tabs_ = new QTabWidget;
    tabs_->setObjectName("tabControl1");
    dataTab_ = new DataProcessTab(engine_.get());
    // The window's modals are the page's own dialogs, and the page's go through the window's
    // seams, which tests replace.
    showMessage = std::exchange(dataTab_->showMessage, [this](const QString& text) { showMessage(text); });
    openFilesDialog = std::exchange(dataTab_->openFilesDialog, [this](const QString& title, const QString& filter) {
        return openFilesDialog(title, filter);
    });
    folderDialog = std::exchange(dataTab_->folderDialog, [this](const QString& proposed) { return folderDialog(proposed); });
    askQuestion = std::exchange(dataTab_->askQuestion, [this](const QString& text) { return askQuestion(text); });
    tabs_->addTab(dataTab_, "Data Process");
    paramTab_ = new ParameterSetupTab(
        engine_.get(), [this] { return dataTab_->configPath(); }, [this] { return dataTab_->configBoxText(); });
    paramTab_->showMessage = [this](const QString& text) { showMessage(text); };
    tabs_->addTab(paramTab_, "Parameter Setup");
    const auto runOutputFolder = [this] { return dataTab_->filePathOut(); };
    annotationTab_ = new AnnotationResultTab(engine_.get(), runOutputFolder);
    tabs_->addTab(annotationTab_, "Annotation Result");
    alignmentTab_ = new AlignmentResultTab(engine_.get(), runOutputFolder);
    tabs_->addTab(alignmentTab_, "Alignment Result");
    connect_guarded(
        tabs_, &QTabWidget::currentChanged, this,
        [this](int index) { paramTab_->tabSelected(tabs_->widget(index) == paramTab_); },
        [this](const QString& what) { reportError(what); });
}

void MainForm::placePagesInWindow() {
    // A screen too small for the pages shows scroll bars instead of a window running off its edge
    // or plots squeezed flat; the pages give up a little height to a window manager's frame.
    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    tabs_->setMinimumSize(1180, 760);
    scroll->setWidget(tabs_);
    setCentralWidget(scroll);
    QSize size = kDesignedSize;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size());
    setFixedSize(size);
}

MainForm::~MainForm() {
    // The run's worker uses the engine, which goes before the pages do.
    dataTab_->endRunNow();
}

bool MainForm::runBusy() const { return dataTab_->runBusy(); }

bool MainForm::stopRunBeforeLeaving() {
    if (!runBusy()) return true;
    if (!dataTab_->confirmStopBeforeLeaving()) return false;
    centralWidget()->setEnabled(false);
    setCursor(Qt::WaitCursor);
    dataTab_->waitForStoppedRun();
    centralWidget()->setEnabled(true);
    unsetCursor();
    return true;
}

void MainForm::exitMenu_Click() {
    if (!stopRunBeforeLeaving()) return;
    korvane::wb::kill_started_launcher();
    exitApplication(0);
}

void MainForm::closeEvent(QCloseEvent* event) {
    // Quitting mid-sample would leave that sample's database half written.
    if (!stopRunBeforeLeaving()) {
        event->ignore();
        return;
    }
    korvane::wb::kill_started_launcher();
    QMainWindow::closeEvent(event);
}

void MainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The window manager adds its frame once the window is shown.
    QTimer::singleShot(0, this, &MainForm::fitFrameToScreen);
}

void MainForm::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    fitFrameToScreen();
}

void MainForm::fitFrameToScreen() {
    const QScreen* shown_on = screen();
    if (!shown_on || !isVisible()) return;
    // The frame, title bar included, must fit the screen: sized by the window alone, a window as
    // tall as the screen hides the bottom of every page below the screen's edge.
    const QRect avail = shown_on->availableGeometry();
    const QSize decoration = frameGeometry().size() - geometry().size();
    const QSize fit = kDesignedSize.boundedTo(avail.size() - decoration);
    if (fit != size()) setFixedSize(fit);
    const QSize outer = fit + decoration;
    const auto within = [](int at, int first, int room) {
        return std::clamp(at, first, std::max(first, first + room));
    };
    const QPoint corner(within(frameGeometry().x(), avail.left(), avail.width() - outer.width()),
                        within(frameGeometry().y(), avail.top(), avail.height() - outer.height()));
    if (corner != frameGeometry().topLeft()) move(corner);
}

void MainForm::aboutMenu_Click() {
    auto* about = new About(this);
    about->show();
}
