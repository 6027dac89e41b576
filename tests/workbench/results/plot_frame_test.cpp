// The plot frame headless: labels that must not run together, a legend that must not cover the
// curves, a title that must fit its pane.
#include "workbench/results/plot_frame.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFontMetrics>

#include "workbench/results/result_grid.h"

using namespace korvane::wb;

namespace {

// Lays the plot out at the given size and lets the queued re-layout of a changed tick count run.
void show_at(QCustomPlot& plot, int width, int height) {
    plot.resize(width, height);
    plot.show();
    plot.replot();
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    plot.replot();
}

}  // namespace

TEST(PlotFrame, TickLabelsNeverRunTogether) {
    struct Row {
        const char* name;
        int width;
        QCPRange x;
    };
    // The review's narrow panes showed "1600180020002200"; a peak's few scans; a spectrum's 2 m/z.
    const Row rows[] = {
        {"scan range, narrow pane", 240, {1600, 2700}},
        {"scan range, wide pane", 900, {1600, 2700}},
        {"one peak's scans", 260, {2215, 2255}},
        {"one stick's m/z", 300, {199.1, 201.1}},
        {"retention times", 320, {2500.25, 4499.75}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QCustomPlot plot;
        keep_tick_labels_apart(&plot);
        // Intensities as the panes label them take their width from the axis rect.
        plot.addGraph()->setData(QVector<double>{row.x.lower, row.x.upper}, QVector<double>{0, 45000});
        plot.yAxis->setNumberFormat(QStringLiteral("g"));
        plot.yAxis->setNumberPrecision(15);
        plot.rescaleAxes();
        show_at(plot, row.width, 240);
        const QVector<double> ticks = plot.xAxis->tickVector();
        const QVector<QString> labels = plot.xAxis->tickVectorLabels();
        ASSERT_GE(ticks.size(), 2) << "a single label says nothing about the scale";
        const QFontMetrics fm(plot.xAxis->tickLabelFont());
        double previous_right = -1e9;
        for (int i = 0; i < ticks.size(); ++i) {
            const double centre = plot.xAxis->coordToPixel(ticks[i]);
            const double half = fm.horizontalAdvance(labels[i]) / 2.0;
            EXPECT_GT(centre - half, previous_right + 2) << labels[i].toStdString();
            previous_right = centre + half;
        }
    }
}

TEST(PlotFrame, LegendBesideTheCurvesWithItsOverflowCounted) {
    struct Row {
        const char* name;
        int curves;
        int entries;        // shown
        const char* last;   // text of the last entry
    };
    const Row rows[] = {
        {"one curve", 1, 1, "curve 0"},
        {"as many as fit", 8, 8, "curve 7"},
        {"group of 20 peaks", 20, 8, "+13 more"},
        {"none labelled", 0, 0, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QCustomPlot plot;
        add_elided_title(&plot, 10);
        place_legend_beside(&plot);
        QCPGraph* unlabelled = plot.addGraph();
        unlabelled->setData(QVector<double>{0, 10}, QVector<double>{0, 5});
        unlabelled->removeFromLegend();
        for (int i = 0; i < row.curves; ++i) {
            QCPGraph* g = plot.addGraph();
            g->setName(QStringLiteral("curve %1").arg(i));
            g->setData(QVector<double>{0, 5, 10}, QVector<double>{0, 100.0 + i, 0});
        }
        update_legend(&plot, 8);
        plot.rescaleAxes();
        show_at(plot, 420, 240);
        ASSERT_EQ(plot.legend->itemCount(), row.entries);
        EXPECT_EQ(plot.legend->visible(), row.entries > 0);
        if (row.entries == 0) continue;
        auto* last = qobject_cast<QCPPlottableLegendItem*>(plot.legend->item(row.entries - 1));
        ASSERT_NE(last, nullptr);
        EXPECT_EQ(last->plottable()->name().toStdString(), row.last);
        EXPECT_FALSE(plot.legend->outerRect().intersects(plot.axisRect()->rect()));
        EXPECT_LE(plot.legend->outerRect().bottom(), plot.axisRect()->rect().bottom());
    }
}

TEST(PlotFrame, LongTitleLosesItsMiddle) {
    QCustomPlot plot;
    ElidedTitle* title = add_elided_title(&plot, 10);
    const QString name = QStringLiteral("ko15_annotated_grouped_chromatograph_peaklist.db");
    title->setText(name);
    show_at(plot, 220, 200);
    const QString shown = title->shownText();
    EXPECT_EQ(title->text(), name);
    EXPECT_LT(shown.size(), name.size());
    EXPECT_TRUE(shown.startsWith(QStringLiteral("ko15"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral(".db"))) << shown.toStdString();
    EXPECT_LE(QFontMetrics(title->font()).horizontalAdvance(shown), title->rect().width());
    // The title never widens the pane: the axis rect keeps the plot's width.
    EXPECT_GT(plot.axisRect()->rect().width(), 120);
    show_at(plot, 700, 200);
    EXPECT_EQ(title->shownText(), name);
}

TEST(ResultGrid, NumbersInOnePlainForm) {
    struct Row {
        double v;
        const char* shown;
    };
    const Row rows[] = {{1156320.5, "1156320.5"}, {301740.0, "301740"}, {125636.666667, "125636.666667"},
                        {305.100006, "305.100006"}, {-0.0, "0"}, {2.5e9, "2500000000"}, {0.25, "0.25"}};
    for (const Row& row : rows) EXPECT_EQ(plain_number(row.v).toStdString(), row.shown) << row.v;
    ResultTableModel model;
    model.reset({QStringLiteral("Peak_Area"), QStringLiteral("Adduct_Annotation")},
                {QVariant(1156320.5), QVariant(QStringLiteral("[M+H]+"))});
    EXPECT_EQ(model.data(model.index(0, 0)).toString(), "1156320.5");
    EXPECT_EQ(model.data(model.index(0, 1)).toString(), "[M+H]+");
    EXPECT_EQ(model.cell(0, 0).toDouble(), 1156320.5);  // the plots still read the stored value
}
