#include "workbench/results/result_tabs.h"

#include <QMessageBox>
#include <QFileDialog>

#include "workbench/engine/korvane_engine.h"

struct AnnotationResultTab::Ui {};
struct AlignmentResultTab::Ui {};

AnnotationResultTab::AnnotationResultTab(CKORVANE_Engine* engine, std::function<QString()> runOutputFolder,
                                         QWidget* parent)
    : QWidget(parent), engine_(engine), runOutputFolder_(std::move(runOutputFolder)) {}
AnnotationResultTab::~AnnotationResultTab() { delete ui_; }
void AnnotationResultTab::browseOutputDatabase() {}
void AnnotationResultTab::browseSampleFile() {}
void AnnotationResultTab::selectRow(int) {}
void AnnotationResultTab::plotSelectedRow() {}
void AnnotationResultTab::exportPseudoSpectrum() {}

AlignmentResultTab::AlignmentResultTab(CKORVANE_Engine* engine, std::function<QString()> runOutputFolder,
                                       QWidget* parent)
    : QWidget(parent), engine_(engine), runOutputFolder_(std::move(runOutputFolder)) {}
AlignmentResultTab::~AlignmentResultTab() { delete ui_; }
void AlignmentResultTab::browseAlignDatabase() {}
void AlignmentResultTab::selectRow(int) {}
void AlignmentResultTab::plotSelectedRow() {}
