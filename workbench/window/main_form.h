// The workbench's main window: menus, the About window, the four pages ("Data Process",
// "Parameter Setup" and the two result pages) and the window's closing, which waits for a run.
#pragma once

#include <QMainWindow>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class CKORVANE_Engine;
class QTabWidget;
class DataProcessTab;
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

    // Seams for every modal of the window and of its "Data Process" and "Parameter Setup" pages,
    // so tests answer them without a screen. openFilesDialog returns std::nullopt when cancelled,
    // else the chosen paths; folderDialog returns the folder the dialog holds when it closes (the
    // proposed one when cancelled).
    std::function<void(const QString& text)> showMessage;
    std::function<std::optional<QStringList>(const QString& title, const QString& filter)> openFilesDialog;
    std::function<QString(const QString& proposed)> folderDialog;
    std::function<void(int code)> exitApplication;
    // A Yes/No question; true for Yes.
    std::function<bool(const QString& text)> askQuestion;

    // The menu handlers, callable directly.
    void exitMenu_Click();
    void aboutMenu_Click();

    // May be null: without memory for an engine the window still opens and its engine actions do
    // nothing.
    CKORVANE_Engine* engine() const { return engine_.get(); }
    DataProcessTab* dataProcessTab() const { return dataTab_; }
    ParameterSetupTab* parameterTab() const { return paramTab_; }
    // A run of the "Data Process" page is busy.
    bool runBusy() const;

    // The window's designed size; smaller only when the screen (less the window's frame) is.
    static constexpr QSize kDesignedSize{1240, 880};

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void buildMenus();
    void buildPages();
    void placePagesInWindow();
    void fitFrameToScreen();
    // During a run: asks, and on Yes stops it and waits for it. False when the window is to stay.
    bool stopRunBeforeLeaving();
    void reportError(const QString& what) { showMessage(what); }

    std::unique_ptr<CKORVANE_Engine> engine_;
    QTabWidget* tabs_ = nullptr;
    DataProcessTab* dataTab_ = nullptr;
    ParameterSetupTab* paramTab_ = nullptr;
    AnnotationResultTab* annotationTab_ = nullptr;
    AlignmentResultTab* alignmentTab_ = nullptr;
};
