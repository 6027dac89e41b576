// connect_guarded, the one way the workbench's slots are connected: nothing a slot throws leaves it.
#include "workbench/results/guarded_slot.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <functional>
#include <string>
#include <vector>

#include "engine/records/error.h"

namespace {

// What a slot throws reaches the report as its text, whatever its type, and the signal's sender
// goes on; a slot that throws nothing reports nothing. Slots take the signal's first arguments or
// none, as with QObject::connect.
TEST(GuardedSlot, WhatASlotThrowsIsReportedAsTextAndGoesNoFurther) {
    struct Row {
        const char* name;
        std::function<void(const QString&)> slot;
        std::vector<QString> reports;
    };
    std::vector<QString> texts;
    const Row rows[] = {
        {"korvane::Error", [](const QString& t) { throw korvane::Error("bad " + t.toStdString()); }, {"bad x"}},
        {"a plain string", [](const QString&) { throw std::string("no netCDF library"); }, {"no netCDF library"}},
        {"an int", [](const QString&) { throw 3; }, {"unknown error"}},
        {"nothing", [&texts](const QString& t) { texts.push_back(t); }, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QLineEdit edit;
        std::vector<QString> reports;
        int bare_calls = 0;
        const auto report = [&reports](const QString& what) { reports.push_back(what); };
        korvane::wb::connect_guarded(&edit, &QLineEdit::textChanged, &edit, row.slot, report);
        korvane::wb::connect_guarded(&edit, &QLineEdit::textChanged, &edit, [&bare_calls] { ++bare_calls; }, report);
        edit.setText("x");
        EXPECT_EQ(reports, row.reports);
        EXPECT_EQ(bare_calls, 1);
    }
    EXPECT_EQ(texts, std::vector<QString>{"x"});
}

}  // namespace
