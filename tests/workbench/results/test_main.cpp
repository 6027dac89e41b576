// The pages need a QApplication; one lives for the whole test program.
#include <gtest/gtest.h>

#include <QApplication>
#include <clocale>

#include "engine/records/error.h"
#include "sqlitewrap/cppsqlite3.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Test discovery runs the program outside ctest's environment: stay headless there too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    korvane::add_exception_describer(describe_sqlite_exception);  // as KORVANE_FORM's main does
    return RUN_ALL_TESTS();
}
