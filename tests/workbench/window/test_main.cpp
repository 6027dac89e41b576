// One QApplication for every window test, on the offscreen platform unless told otherwise.
#include <gtest/gtest.h>

#include <QApplication>
#include <clocale>

#include "engine/records/error.h"
#include "sqlitewrap/cppsqlite3.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    korvane::add_exception_describer(describe_sqlite_exception);  // as KORVANE_FORM's main does
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
