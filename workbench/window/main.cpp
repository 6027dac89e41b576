// KORVANE_FORM: the workbench's one window.
#include <QApplication>
#include <clocale>
#include <cstdlib>

#include "engine/records/error.h"
#include "sqlitewrap/cppsqlite3.h"
#include "workbench/window/main_form.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // QApplication adopts the user's locale; every number the engine reads or writes is C-locale.
    std::setlocale(LC_NUMERIC, "C");
    korvane::wb::install_qt_message_box_handler();
    korvane::add_exception_describer(describe_sqlite_exception);
    int code = 0;
    {
        MainForm form;
        form.show();
        code = app.exec();
        // Closing and Exit wait for a stopped run; a run still busy here saw no close (the
        // session ending) and, like any background work, ends with the program.
        if (form.runBusy()) std::_Exit(code);
    }
    return code;
}
