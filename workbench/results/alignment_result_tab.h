// The "Alignment Result" page of the main window: a grid over the aligned database and two plots
// of the selected row, every sample's aligned peaks overlaid and the row's own sample.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

class CKORVANE_Engine;

class AlignmentResultTab : public QWidget {
    Q_OBJECT
public:
    AlignmentResultTab(CKORVANE_Engine* engine, std::function<QString()> runOutputFolder,
                       QWidget* parent = nullptr);
    ~AlignmentResultTab() override;

    std::function<void(const QString& text)> showMessage;
    std::function<std::optional<QStringList>(const QString& title, const QString& startFolder,
                                             const QString& filter)>
        openFileDialog;

    void browseAlignDatabase();
    void selectRow(int row);
    void plotSelectedRow();

    QString alignFolderName() const { return alignFolderName_; }
    QString alignFileName() const { return alignFileName_; }

private:
    struct Ui;
    void buildUi();
    void populateAlignGrid(const QString& DataPath1, const QString& DataFile1);
    void plotRoutine();
    void clearPanes();

    Ui* ui_ = nullptr;
    bool selecting_ = false;  // selectRow moving the grid's current row, which plots by itself
    CKORVANE_Engine* engine_;
    std::function<QString()> runOutputFolder_;
    QString alignFolderName_, alignFileName_;
};
