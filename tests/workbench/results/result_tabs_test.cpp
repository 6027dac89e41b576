// The result pages driven headless: dialogs and message boxes answered through the pages' seams,
// databases written by the engine's own writers, a synthetic sample file for the binning plots.
#include "workbench/results/alignment_result_tab.h"
#include "workbench/results/annotation_result_tab.h"

#include <gtest/gtest.h>

#include <QBrush>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <filesystem>
#include <qcustomplot.h>

#include "engine/output/database_output.h"
#include "tests/support/temp_dir.h"
#include "tools/generate_sample/sample_file.h"
#include "workbench/engine/korvane_engine.h"
#include "workbench/results/plot_frame.h"

namespace {

using korvane::test::TempDir;

std::vector<Data_Point> shape(std::initializer_list<std::array<double, 3>> pts, double mz = 100) {
    std::vector<Data_Point> s;
    for (const auto& p : pts) {
        Data_Point d;
        d.scan_num = static_cast<std::uint32_t>(p[0]);
        d.retention_time = p[1];
        d.mz = mz;
        d.intensity = p[2];
        s.push_back(d);
    }
    return s;
}

Chromatogram_Peak_Group_Compound peak(std::uint32_t eic, std::uint32_t pk, double mz, std::uint32_t group,
                                      std::uint32_t compound, const std::string& annotation,
                                      std::vector<Data_Point> points) {
    Chromatogram_Peak_Group_Compound p;
    p.EIC_ID = eic;
    p.Peak_ID = pk;
    p.Apex_MZ = mz;
    p.Group_ID = group;
    p.Compound_ID = compound;
    p.Adduct_Annotation = annotation;
    p.Peak_shape = std::move(points);
    return p;
}

const char* const kDbName = "s1_annotated_grouped_chromatograph_peaklist.db";
const char* const kAlignName = "aligned_annotated_grouped_chromatograph_peaklist.aligndb";

// Four peaks on four traces: three in group 1 (two of them compound 1), one in group 2.
std::string write_annotation_db(const TempDir& dir) {
    std::vector<Chromatogram_Peak_Group_Compound> peaks = {
        peak(0, 0, 100.1, 1, 1, "[M+H]+", shape({{10, 5.0, 10}, {11, 5.5, 100}, {12, 6.0, 20}})),
        peak(1, 0, 122.08, 1, 1, "[M+Na]+", shape({{10, 5.0, 5}, {11, 5.5, 50}, {12, 6.0, 5}})),
        peak(2, 1, 150.5, 1, 0, "", shape({{10, 5.0, 20}, {11, 5.5, 40}, {12, 6.0, 20}})),
        peak(3, 0, 200.2, 2, 0, "", shape({{30, 15.0, 7}, {31, 15.5, 8}})),
    };
    std::list<Mass_Trace> traces;
    for (int t = 0; t < 4; ++t) {
        Mass_Trace m;
        m.Cent_Mass = 100 + t;
        m.EIC_shape = shape({{5, 2.5, 1.0 + t}, {6, 3.0, 2}, {7, 3.5, 3}});
        traces.push_back(m);
    }
    OutputAnnotatedGroupedChromatographPeaklist2database(peaks, traces, dir.str(), kDbName);
    return dir.file(kDbName);
}

Chromatogram_Peak_Group_Compound_Align align_row(std::uint32_t sample, const std::string& name, std::uint32_t eic,
                                                 std::uint32_t align_id, double align_rt, double compound_rt,
                                                 std::vector<Data_Point> points) {
    Chromatogram_Peak_Group_Compound_Align a;
    a.SAMPLE_ID = sample;
    a.SAMPLE_NAME = name;
    a.EIC_ID = eic;
    a.Apex_MZ = 180.06;
    a.Group_ID = 1;
    a.Compound_ID = align_id == 0 ? 0 : 1;
    a.Align_ID = align_id;
    a.Align_RT = align_rt;
    a.Compound_Retention_Time = compound_rt;
    a.Peak_shape = std::move(points);
    return a;
}

std::string write_align_db(const TempDir& dir) {
    // Sample 1 first in the table: the aligned query still returns sample 0 first.
    std::vector<Chromatogram_Peak_Group_Compound_Align> rows = {
        align_row(1, "S1", 1, 1, 310, 305, shape({{38, 300, 5}, {39, 301, 15}})),
        align_row(0, "S0", 0, 1, 310, 300, shape({{40, 295, 10}, {41, 296, 30}})),
        align_row(1, "S1", 2, 0, 0, 0, shape({{50, 320, 3}})),
    };
    OutputAlignedAnnotatedGroupedChromatographPeaklist2database(rows, dir.str(), kAlignName);
    return dir.file(kAlignName);
}

// Records the messages; answers the dialogs with queued replies.
struct Answers {
    std::vector<QString> messages;
    std::vector<std::optional<QStringList>> open_replies;
    std::vector<QString> save_replies;
    std::vector<QString> titles;
    std::vector<QString> filters;  // in Qt's "Name (patterns)" form
    std::vector<QString> starts;   // the folder each dialog opens in
};

template <class Tab>
void wire(Tab& tab, Answers& a) {
    tab.showMessage = [&a](const QString& text) { a.messages.push_back(text); };
    tab.openFileDialog = [&a](const QString& title, const QString& start,
                              const QString& filter) -> std::optional<QStringList> {
        a.titles.push_back(title);
        a.starts.push_back(start);
        a.filters.push_back(filter);
        if (a.open_replies.empty()) {
            ADD_FAILURE() << "unexpected open dialog " << title.toStdString();
            return std::nullopt;
        }
        auto r = a.open_replies.front();
        a.open_replies.erase(a.open_replies.begin());
        return r;
    };
}

QCustomPlot* pane(QWidget& tab, const char* name) {
    auto* p = tab.findChild<QCustomPlot*>(QString::fromLatin1(name));
    EXPECT_NE(p, nullptr) << name;
    return p;
}

QString title_of(QCustomPlot* p) {
    auto* t = qobject_cast<QCPTextElement*>(p->plotLayout()->element(0, 0));
    return t ? t->text() : QString();
}

std::vector<std::pair<double, double>> points(QCustomPlot* p, int graph) {
    std::vector<std::pair<double, double>> out;
    for (auto it = p->graph(graph)->data()->constBegin(); it != p->graph(graph)->data()->constEnd(); ++it)
        out.emplace_back(it->key, it->value);
    return out;
}

QAbstractItemModel* grid_model(QWidget& tab, const char* name) {
    auto* view = tab.findChild<QTableView*>(QString::fromLatin1(name));
    EXPECT_NE(view, nullptr) << name;
    return view->model();
}

std::vector<int> green_rows(QAbstractItemModel* m) {
    std::vector<int> rows;
    for (int r = 0; r < m->rowCount(); ++r) {
        const QVariant bg = m->data(m->index(r, 0), Qt::BackgroundRole);
        const QColor color = bg.value<QBrush>().color();
        EXPECT_TRUE(color == QColor(144, 238, 144) || color == QColor(Qt::white)) << "row " << r;
        if (color == QColor(144, 238, 144)) {
            rows.push_back(r);
            EXPECT_EQ(m->data(m->index(r, 5), Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::black));
        }
    }
    return rows;
}

QStringList headers(QAbstractItemModel* m) {
    QStringList h;
    for (int c = 0; c < m->columnCount(); ++c) h << m->headerData(c, Qt::Horizontal).toString();
    return h;
}

// A result page over a scratch folder (its run output folder), with its dialogs and messages
// answered by the test.
template <class Tab>
struct Page {
    Page() : tab(&engine, [this] { return QString::fromStdString(dir.str()); }) { wire(tab, a); }
    TempDir dir;
    CKORVANE_Engine engine;
    Tab tab;
    Answers a;
};

// Types text into an editable box key by key (a read-only one takes it as set by the program),
// then presses Enter.
void enter_text(QLineEdit* box, const QString& text) {
    if (box->isReadOnly()) {
        box->setText(text);
    } else {
        box->clear();
        for (const QChar c : text) {
            QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(box, &key);
        }
    }
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(box, &enter);
}

template <class T>
T* child(QWidget& tab, const char* name) {
    auto* w = tab.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

}  // namespace

TEST(AnnotationResultTab, OpeningADatabaseFillsTheGridAndPlotsTheFirstRow) {
    Page<AnnotationResultTab> page;
    auto& [dir, engine, tab, a] = page;
    const std::string db = write_annotation_db(dir);
    EXPECT_TRUE(child<QWidget>(tab, "plotPanel")->isHidden());
    a.open_replies.push_back(QStringList{QString::fromStdString(db)});
    tab.browseOutputDatabase();

    EXPECT_TRUE(a.messages.empty()) << a.messages.front().toStdString();
    EXPECT_EQ(a.titles, (std::vector<QString>{"Select a Result File"}));
    EXPECT_EQ(a.filters, (std::vector<QString>{"db Files (*.db)"}));
    EXPECT_EQ(a.starts, (std::vector<QString>{QString::fromStdString(dir.str())}));
    EXPECT_EQ(tab.outputFolderName().toStdString(), dir.str());
    EXPECT_EQ(tab.outputFileName().toStdString(), kDbName);
    QAbstractItemModel* m = grid_model(tab, "outputDataGridView");
    EXPECT_EQ(headers(m).join(QLatin1Char(',')).toStdString(),
              "EIC_ID,Peak_ID,Apex_MZ,Apex_Pos,Apex_Retention_Time,Apex_Intensity,Peak_Area,Peak_SNR,Left_Boundary,"
              "Right_Boundary,Group_ID,Adduct_Annotation,Compound_ID,Compound_MolecularMass,Compound_Retention_Time,"
              "Compound_Intensity");
    ASSERT_EQ(m->rowCount(), 4);
    EXPECT_EQ(m->data(m->index(1, 11)).toString(), "[M+Na]+");
    EXPECT_FALSE(child<QWidget>(tab, "plotPanel")->isHidden());
    EXPECT_FALSE(child<QWidget>(tab, "gridPanel")->isHidden());
    EXPECT_TRUE(child<QGroupBox>(tab, "binningGroupBox")->isHidden());
    EXPECT_TRUE(child<QPushButton>(tab, "exportButton")->isHidden());

    QCustomPlot* peaks = pane(tab, "peaksGraph");
    EXPECT_EQ(title_of(peaks).toStdString(), kDbName);
    EXPECT_EQ(peaks->xAxis->label(), "Scan Number");
    EXPECT_EQ(peaks->yAxis->label(), "Intensity");
    ASSERT_EQ(peaks->graphCount(), 1);
    EXPECT_EQ(peaks->graph(0)->name(), "100.1");
    EXPECT_EQ(points(peaks, 0), (std::vector<std::pair<double, double>>{{10, 10}, {11, 100}, {12, 20}}));

    QCustomPlot* eic = pane(tab, "extractedEicGraph");
    EXPECT_EQ(title_of(eic), "Extracted EIC Plot");
    ASSERT_EQ(eic->graphCount(), 1);
    EXPECT_EQ(points(eic, 0), (std::vector<std::pair<double, double>>{{5, 1}, {6, 2}, {7, 3}}));
    EXPECT_EQ(eic->graph(0)->pen().color(), QColor(0, 0, 255));

    QCustomPlot* pseudo = pane(tab, "pseudoSpectrumGraph");
    EXPECT_EQ(title_of(pseudo), "Pseudo-Spectrum");
    EXPECT_EQ(points(pseudo, 0), (std::vector<std::pair<double, double>>{{100.1, 100}}));
    // A single stick stands inside a range around it, under an intensity axis from 0.
    EXPECT_EQ(pseudo->xAxis->range(), QCPRange(99.1, 101.1));
    EXPECT_EQ(pseudo->yAxis->range(), QCPRange(0, 108));
    EXPECT_EQ(title_of(pane(tab, "ticGraph")), "Total Ion Chromatogram (TIC)");
    EXPECT_EQ(pane(tab, "ticGraph")->graph(0)->dataCount(), 0);
    EXPECT_EQ(title_of(pane(tab, "binningEicGraph")), "Binning EIC Plot");
    EXPECT_EQ(tab.cdfFileExitst(), 0);

    // Retention time on the X axis.
    child<QRadioButton>(tab, "retentionTimeRadioButton")->setChecked(true);
    EXPECT_EQ(peaks->xAxis->label(), "Retention Time (seconds)");
    EXPECT_EQ(points(peaks, 0).front().first, 5.0);
    EXPECT_EQ(points(eic, 0).front().first, 2.5);
}

TEST(AnnotationResultTab, GroupAndCompoundPlotsPaintTheirRowsAndExport) {
    Page<AnnotationResultTab> page;
    auto& [dir, engine, tab, a] = page;
    const std::string db = write_annotation_db(dir);
    a.open_replies.push_back(QStringList{QString::fromStdString(db)});
    tab.browseOutputDatabase();
    QAbstractItemModel* m = grid_model(tab, "outputDataGridView");
    QCustomPlot* peaks = pane(tab, "peaksGraph");

    child<QRadioButton>(tab, "groupPlotRadioButton")->setChecked(true);
    EXPECT_FALSE(child<QPushButton>(tab, "exportButton")->isHidden());
    EXPECT_EQ(green_rows(m), (std::vector<int>{0, 1, 2}));
    ASSERT_EQ(peaks->graphCount(), 3);
    EXPECT_EQ(tab.pseudoMz(), (std::vector<double>{100.1, 122.08, 150.5}));
    // The outer sticks stay off the frame.
    QCustomPlot* pseudo = pane(tab, "pseudoSpectrumGraph");
    EXPECT_LT(pseudo->xAxis->range().lower, 100.1 - 1);
    EXPECT_GT(pseudo->xAxis->range().upper, 150.5 + 1);
    EXPECT_EQ(pseudo->yAxis->range().lower, 0.0);

    const std::string out = dir.file("pseudospectrum.txt");
    tab.saveFileDialog = [&](const QString& title, const QString&, const QString& proposed, const QString& filter) {
        EXPECT_EQ(title, "Save a pseudo spectrum file");
        EXPECT_EQ(proposed, "pseudospectrum.txt");
        EXPECT_EQ(filter, "Text File  (pseudospectrum*.txt)");  // the name is "Text File " with its blank
        return QString::fromStdString(out);
    };
    tab.exportPseudoSpectrum();
    EXPECT_EQ(a.messages, (std::vector<QString>{"Pseudo spectrum file has been exported!"}));
    EXPECT_EQ(korvane::test::read_file(out),
              "M/Z\t\tIntensity\n\r\n100.1\t100\n\r\n122.08\t50\n\r\n150.5\t40\n\r\n");

    // Compound of row 0: its two peaks, labelled with their adducts.
    child<QRadioButton>(tab, "compoundPlotRadioButton")->setChecked(true);
    EXPECT_EQ(green_rows(m), (std::vector<int>{0, 1}));
    ASSERT_EQ(peaks->graphCount(), 2);
    EXPECT_EQ(peaks->graph(0)->name(), "100.1 [M+H]+");
    EXPECT_EQ(peaks->graph(1)->name(), "122.08 [M+Na]+");
    tab.exportPseudoSpectrum();
    EXPECT_EQ(korvane::test::read_file(out),
              "M/Z\t\tIntensity\tAnnotation\n\r\n100.1\t100\t[M+H]+\n\r\n122.08\t50\t[M+Na]+\n\r\n");

    // A row without compound: only its own peak, and no row painted.
    tab.selectRow(2);
    EXPECT_TRUE(green_rows(m).empty());
    ASSERT_EQ(peaks->graphCount(), 1);
    EXPECT_EQ(peaks->graph(0)->name(), "150.5 ");

    // A cancelled save writes nothing and says nothing.
    a.messages.clear();
    tab.saveFileDialog = [](const QString&, const QString&, const QString&, const QString&) { return QString(); };
    tab.exportPseudoSpectrum();
    EXPECT_TRUE(a.messages.empty());
}

TEST(AnnotationResultTab, DialogAnswersAndTheirMessages) {
    Page<AnnotationResultTab> page;
    auto& [dir, engine, tab, a] = page;
    const std::string db = write_annotation_db(dir);
    auto* dbBox = child<QLineEdit>(tab, "outputFileTextBox");

    // Sample file before any database.
    a.open_replies.push_back(QStringList{QString::fromStdString(dir.file("x.CDF"))});
    tab.browseSampleFile();
    EXPECT_EQ(a.messages, (std::vector<QString>{"Please select output file"}));
    EXPECT_EQ(a.titles.back(), "Select a CDF File");
    EXPECT_EQ(a.filters.back(), "CDF File (*.CDF)");

    // Cancelling the database dialog changes nothing; confirming no file empties the box.
    a.messages.clear();
    a.open_replies.push_back(std::nullopt);
    tab.browseOutputDatabase();
    EXPECT_TRUE(a.messages.empty());
    a.open_replies.push_back(QStringList{});
    tab.browseOutputDatabase();
    EXPECT_EQ(a.messages, (std::vector<QString>{"Please select the db(.db) file(s)!"}));
    EXPECT_TRUE(dbBox->text().isEmpty());

    // A database that does not exist is reported by name and not created.
    a.messages.clear();
    const std::string missing = dir.file("missing.db");
    a.open_replies.push_back(QStringList{QString::fromStdString(missing)});
    tab.browseOutputDatabase();
    ASSERT_EQ(a.messages.size(), 1u);
    EXPECT_TRUE(a.messages[0].startsWith(QString::fromStdString("Could not read " + missing + ": ")))
        << a.messages[0].toStdString();
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_TRUE(child<QWidget>(tab, "plotPanel")->isHidden());

    // A file that is no result database: the provider's error is shown.
    a.messages.clear();
    const std::string bogus = dir.write("bogus.db", "not a database at all, just text");
    a.open_replies.push_back(QStringList{QString::fromStdString(bogus)});
    tab.browseOutputDatabase();
    ASSERT_EQ(a.messages.size(), 1u);
    EXPECT_TRUE(a.messages[0].startsWith(QString::fromStdString("Could not read " + bogus + ": ")))
        << a.messages[0].toStdString();

    // Cancelling the sample file dialog with a database open.
    a.messages.clear();
    a.open_replies.push_back(QStringList{QString::fromStdString(db)});
    tab.browseOutputDatabase();
    a.open_replies.push_back(std::nullopt);
    tab.browseSampleFile();
    EXPECT_EQ(a.messages, (std::vector<QString>{"Please select the CDF(.CDF) file!"}));
    EXPECT_EQ(tab.cdfFileExitst(), 0);
}

// A sample of kSmallSampleScans scans at path; returns path.
constexpr int kSmallSampleScans = 30;
std::string write_small_sample(const std::string& path) {
    korvane::synth::Options o;
    o.scans = kSmallSampleScans;
    o.points_per_scan = 50;
    o.compounds = 5;
    korvane::synth::write_sample_cdf(path, korvane::synth::generate_sample(o));
    return path;
}

// A sample file that cannot be read after one that could: the message says why, the earlier
// sample's TIC is gone before the message shows, and the box keeps the file's name while the
// panes say why it shows nothing (they asked for a file, beside a box naming one).
TEST(AnnotationResultTab, AnUnreadableSampleFileSaysWhyAndLeavesNoOldPlotBehind) {
    Page<AnnotationResultTab> page;
    auto& [dir, engine, tab, a] = page;
    const std::string db = write_annotation_db(dir);
    const std::string good = write_small_sample(dir.file("good.CDF"));
    const std::string bad = dir.write("bad.CDF", "not netcdf");
    QCustomPlot* tic = pane(tab, "ticGraph");
    std::vector<bool> tic_drawn_at_message;
    tab.showMessage = [&](const QString& text) {
        a.messages.push_back(text);
        tic_drawn_at_message.push_back(korvane::wb::plot_has_points(tic));
    };
    a.open_replies = {QStringList{QString::fromStdString(db)}, QStringList{QString::fromStdString(good)},
                      QStringList{QString::fromStdString(bad)}};
    tab.browseOutputDatabase();
    tab.browseSampleFile();
    ASSERT_TRUE(korvane::wb::plot_has_points(tic));
    tab.browseSampleFile();
    EXPECT_EQ(a.messages, (std::vector<QString>{"Could not load the CDF file: not a netCDF file"}));
    EXPECT_EQ(tic_drawn_at_message, std::vector<bool>{false});
    EXPECT_EQ(tab.cdfFileExitst(), 0);
    EXPECT_EQ(child<QLineEdit>(tab, "cdfFileTextBox")->text().toStdString(), bad);
    for (const char* name : {"ticGraph", "binningEicGraph"}) {
        SCOPED_TRACE(name);
        QCustomPlot* p = pane(tab, name);
        ASSERT_EQ(p->itemCount(), 1);
        const auto* note = dynamic_cast<QCPItemText*>(p->item(0));
        ASSERT_NE(note, nullptr);
        EXPECT_EQ(note->text().toStdString(), "Could not be read:\nnot a netCDF file");
    }
}

// After a plot of a good file, three ways to be left with no row to plot: a file that cannot be
// read, one whose table has no row, and a query that fails (a number spoiled under the grid). The
// panes the row filled are emptied of their titles and legends too: nothing names the earlier
// file or row any more.
TEST(ResultTabs, NothingOfTheEarlierRowStaysWhenThereIsNoneToPlot) {
    enum class Then { Unreadable, NoRow, QueryFails };
    const auto run = [](auto& page, auto browse, const std::string& good, const std::string& empty,
                        const char* table, std::vector<const char*> panes, Then then) {
        auto& [dir, engine, tab, a] = page;
        a.open_replies.push_back(QStringList{QString::fromStdString(good)});
        (tab.*browse)();
        ASSERT_TRUE(a.messages.empty()) << a.messages.front().toStdString();
        for (const char* name : panes) ASSERT_FALSE(title_of(pane(tab, name)).isEmpty()) << name;
        if (then == Then::QueryFails) {
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("spoil"));
                db.setDatabaseName(QString::fromStdString(good));
                ASSERT_TRUE(db.open());
                const QString spoil = QStringLiteral("update %1 set Apex_Pos = 'zz'").arg(QLatin1String(table));
                ASSERT_TRUE(QSqlQuery(db).exec(spoil));
                db.close();
            }
            QSqlDatabase::removeDatabase(QStringLiteral("spoil"));
            tab.selectRow(1);
        } else {
            const std::string second = then == Then::NoRow ? empty : dir.write("bad.db", "not a database");
            a.open_replies.push_back(QStringList{QString::fromStdString(second)});
            (tab.*browse)();
        }
        EXPECT_EQ(a.messages.size(), then == Then::NoRow ? 0u : 1u);
        for (const char* name : panes) {
            SCOPED_TRACE(name);
            QCustomPlot* p = pane(tab, name);
            EXPECT_EQ(title_of(p).toStdString(), "");
            EXPECT_FALSE(korvane::wb::plot_has_points(p));
            EXPECT_FALSE(p->legend->visible());
        }
    };
    for (const Then then : {Then::Unreadable, Then::NoRow, Then::QueryFails}) {
        SCOPED_TRACE(then == Then::Unreadable ? "unreadable" : then == Then::NoRow ? "no row" : "query fails");
        Page<AnnotationResultTab> annotation;
        OutputAnnotatedGroupedChromatographPeaklist2database({}, {}, annotation.dir.str(), "empty.db");
        run(annotation, &AnnotationResultTab::browseOutputDatabase, write_annotation_db(annotation.dir),
            annotation.dir.file("empty.db"), "Annotate_Peaklist",
            {"peaksGraph", "pseudoSpectrumGraph", "extractedEicGraph"}, then);
        Page<AlignmentResultTab> alignment;
        OutputAlignedAnnotatedGroupedChromatographPeaklist2database({}, alignment.dir.str(), "empty.aligndb");
        run(alignment, &AlignmentResultTab::browseAlignDatabase, write_align_db(alignment.dir),
            alignment.dir.file("empty.aligndb"), "Align_Peaklist", {"alignedGraph", "perSampleGraph"}, then);
    }
}

TEST(AnnotationResultTab, AQueryErrorIsShownNotSwallowed) {
    // A row the grid shows but the peak reader cannot convert (Peak_ID holds no number).
    Page<AnnotationResultTab> page;
    auto& [dir, engine, tab, a] = page;
    const std::string path = dir.file("odd.db");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make_odd_db"));
        db.setDatabaseName(QString::fromStdString(path));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec("create table Annotate_Peaklist(EIC_ID int,Peak_ID int, Apex_MZ double, Apex_Pos int, "
                           "Apex_Retention_Time double, Apex_Intensity double, Peak_Area double, Peak_SNR double, "
                           "Left_Boundary int, Right_Boundary int, Group_ID int, Adduct_Annotation char(80), "
                           "Compound_ID int, Compound_MolecularMass double, Compound_Retention_Time double, "
                           "Compound_Intensity double, Peak_shape blob);"));
        ASSERT_TRUE(q.exec("insert into Annotate_Peaklist values(0, 'zz', 100.0, 5, 2.5, 10.0, 1.0, 3.0, 4, 6, 1, "
                           "'', 0, 0.0, 0.0, 0.0, 'x');"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("make_odd_db"));

    a.open_replies.push_back(QStringList{QString::fromStdString(path)});
    tab.browseOutputDatabase();
    ASSERT_TRUE(a.messages.empty()) << a.messages.front().toStdString();  // the peak query matches nothing
    EXPECT_EQ(grid_model(tab, "outputDataGridView")->rowCount(), 1);
    child<QRadioButton>(tab, "groupPlotRadioButton")->setChecked(true);
    ASSERT_EQ(a.messages.size(), 1u);
    EXPECT_TRUE(a.messages[0].startsWith("Could not plot the selected row: ")) << a.messages[0].toStdString();
    EXPECT_EQ(pane(tab, "peaksGraph")->graphCount(), 0);
}

TEST(AnnotationResultTab, SampleFileDrawsTicAndBinningAndChecksTheBinningBoxes) {
    Page<AnnotationResultTab> page;
    auto& [dir, engine, tab, a] = page;
    const std::string db = write_annotation_db(dir);
    std::filesystem::create_directories(dir.path() / "data");
    const std::string cdf = (dir.path() / "data" / "small.CDF").string();
    korvane::synth::Options o;
    o.scans = 80;
    o.points_per_scan = 120;
    o.compounds = 20;
    o.seed = 3;
    const korvane::synth::Sample sample = korvane::synth::generate_sample(o);
    korvane::synth::write_sample_cdf(cdf, sample);

    a.open_replies.push_back(QStringList{QString::fromStdString(db)});
    tab.browseOutputDatabase();
    a.open_replies.push_back(QStringList{QString::fromStdString(cdf)});
    tab.browseSampleFile();
    ASSERT_TRUE(a.messages.empty()) << a.messages.front().toStdString();
    ASSERT_EQ(tab.cdfFileExitst(), 1);
    EXPECT_EQ(tab.outputCdfFolderName().toStdString(), dir.str());
    EXPECT_FALSE(child<QGroupBox>(tab, "binningGroupBox")->isHidden());

    QCustomPlot* tic = pane(tab, "ticGraph");
    ASSERT_EQ(tic->graphCount(), 1);
    EXPECT_EQ(tic->yAxis->label(), "Total Intensity");
    ASSERT_EQ(tic->graph(0)->dataCount(), static_cast<int>(o.scans));
    EXPECT_EQ(points(tic, 0)[4], (std::pair<double, double>{sample.scan_num_arry[4], sample.total_intensity_arry[4]}));
    // Intensities in the millions are labelled in full, with no power of ten.
    tic->yAxis->setRange(0, 5e6);
    tic->replot();
    const QVector<QString> labels = tic->yAxis->tickVectorLabels();
    ASSERT_GE(labels.size(), 2);
    for (const QString& label : labels) {
        bool whole = false;
        label.toLongLong(&whole);
        EXPECT_TRUE(whole) << label.toStdString();
    }
    EXPECT_GE(labels.back().size(), 7) << labels.back().toStdString();

    // Bin around a mass the sample holds, so the binned trace has points.
    const double mz = sample.mass_value_arry[sample.scan_index_arry[10] + 3];
    auto* mzBox = child<QLineEdit>(tab, "mzTextBox");
    enter_text(mzBox, QString::number(mz, 'g', 12));
    QCustomPlot* binning = pane(tab, "binningEicGraph");
    Mass_Trace expected;
    engine.Engine_EIC_extraction_binning(QString::number(mz, 'g', 12).toDouble(), 40, 0.1, true, expected);
    ASSERT_FALSE(expected.EIC_shape.empty());
    const auto ppm_points = points(binning, 0);
    ASSERT_EQ(ppm_points.size(), expected.EIC_shape.size());
    EXPECT_EQ(ppm_points.front().second, expected.EIC_shape.front().intensity);

    // Out of range: the exact message, and the plots stay as they were (no plot is drawn for the
    // text typed so far: "3500" is never drawn as 350).
    struct Row {
        const char* box;
        const char* text;
        const char* message;
    };
    const Row rows[] = {
        {"mzTextBox", "3500", "Please select M/Z value within the range 0~3000"},
        {"ppmTextBox", "1000.5", "Please select ppm within the range 0~1000"},
        {"binSizeTextBox", "-0.1", "Please select binsize within the range 0~1"},
        {"mzTextBox", "abc", nullptr},
        {"mzTextBox", "   ", nullptr},
    };
    const QString kept_mz = mzBox->text();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.box + std::string(" ") + row.text);
        a.messages.clear();
        auto* box = child<QLineEdit>(tab, row.box);
        const QString before = box->text();
        enter_text(box, QString::fromLatin1(row.text));
        if (row.message)
            EXPECT_EQ(a.messages, (std::vector<QString>{QString::fromLatin1(row.message)}));
        else
            EXPECT_TRUE(a.messages.empty());
        EXPECT_EQ(points(binning, 0), ppm_points);
        EXPECT_EQ(tic->graph(0)->dataCount(), static_cast<int>(o.scans));
        box->setText(before);
    }
    ASSERT_EQ(mzBox->text(), kept_mz);

    // In ppm mode the bin box redraws but the binning keeps the ppm window.
    a.messages.clear();
    enter_text(child<QLineEdit>(tab, "binSizeTextBox"), "0.5");
    EXPECT_TRUE(a.messages.empty());
    EXPECT_EQ(points(binning, 0), ppm_points);
    // Switching to the bin size makes the window 0.5 Da wide.
    child<QRadioButton>(tab, "binSizeRadioButton")->setChecked(true);
    EXPECT_TRUE(child<QLineEdit>(tab, "ppmTextBox")->isReadOnly());
    EXPECT_FALSE(child<QLineEdit>(tab, "binSizeTextBox")->isReadOnly());
    Mass_Trace wide;
    engine.Engine_EIC_extraction_binning(QString::number(mz, 'g', 12).toDouble(), 40, 0.5, false, wide);
    const auto bin_points = points(binning, 0);
    ASSERT_EQ(bin_points.size(), wide.EIC_shape.size());
    double sum_ppm = 0, sum_bin = 0;
    for (const auto& p : ppm_points) sum_ppm += p.second;
    for (const auto& p : bin_points) sum_bin += p.second;
    EXPECT_GT(sum_bin, sum_ppm);

    // The sample goes when its box is emptied, its TIC and binning controls with it: on a cancelled
    // choice, and on a database opened again, whose first plot is then already without it.
    struct Forget {
        const char* name;
        std::optional<QStringList> reply;
        void (AnnotationResultTab::*browse)();
        std::vector<QString> messages;
    };
    const Forget forgets[] = {
        {"sample dialog cancelled", std::nullopt, &AnnotationResultTab::browseSampleFile,
         {"Please select the CDF(.CDF) file!"}},
        {"database opened again", QStringList{QString::fromStdString(db)}, &AnnotationResultTab::browseOutputDatabase,
         {}},
    };
    for (const Forget& f : forgets) {
        SCOPED_TRACE(f.name);
        a.open_replies = {QStringList{QString::fromStdString(cdf)}, f.reply};
        tab.browseSampleFile();
        ASSERT_TRUE(korvane::wb::plot_has_points(tic));
        a.messages.clear();
        (tab.*f.browse)();
        EXPECT_EQ(a.messages, f.messages);
        EXPECT_EQ(tab.cdfFileExitst(), 0);
        EXPECT_TRUE(child<QLineEdit>(tab, "cdfFileTextBox")->text().isEmpty());
        EXPECT_FALSE(korvane::wb::plot_has_points(tic));
        EXPECT_FALSE(korvane::wb::plot_has_points(binning));
        EXPECT_TRUE(child<QGroupBox>(tab, "binningGroupBox")->isHidden());
    }
}

// A sample's TIC and binning need no peak table: they are drawn beside a database that could not
// be read or has no peak, on a page that had shown no plot yet.
TEST(AnnotationResultTab, TheSampleIsPlottedWithoutAPeakTable) {
    const auto check = [](bool readable) {
        Page<AnnotationResultTab> page;
        auto& [dir, engine, tab, a] = page;
        std::string db;
        if (readable) {
            OutputAnnotatedGroupedChromatographPeaklist2database({}, {}, dir.str(), kDbName);
            db = dir.file(kDbName);
        } else {
            db = dir.write("bad.db", "not a database");
        }
        const std::string cdf = write_small_sample(dir.file("s.CDF"));
        a.open_replies = {QStringList{QString::fromStdString(db)}, QStringList{QString::fromStdString(cdf)}};
        tab.browseOutputDatabase();
        tab.browseSampleFile();
        EXPECT_EQ(a.messages.size(), readable ? 0u : 1u);  // the unreadable database's own
        EXPECT_EQ(tab.cdfFileExitst(), 1);
        EXPECT_FALSE(child<QWidget>(tab, "plotPanel")->isHidden());
        EXPECT_FALSE(child<QGroupBox>(tab, "binningGroupBox")->isHidden());
        QCustomPlot* tic = pane(tab, "ticGraph");
        ASSERT_EQ(tic->graphCount(), 1);
        EXPECT_EQ(tic->graph(0)->dataCount(), kSmallSampleScans);
        EXPECT_FALSE(korvane::wb::plot_has_points(pane(tab, "peaksGraph")));
    };
    for (const bool readable : {false, true}) {
        SCOPED_TRACE(readable ? "no peak" : "unreadable");
        check(readable);
    }
}

// Without an engine (the window could not allocate one) the pages' actions that need it do
// nothing: no dialog, no message, no plot. The sample file's "Browse" used the missing engine.
TEST(ResultTabs, WithoutAnEngineTheirActionsDoNothing) {
    TempDir dir;
    const QString files[] = {QString::fromStdString(write_annotation_db(dir)),
                             QString::fromStdString(dir.write("s.CDF", "not netcdf")),
                             QString::fromStdString(write_align_db(dir))};
    AnnotationResultTab annotation(nullptr, [] { return QString(); });
    AlignmentResultTab alignment(nullptr, [] { return QString(); });
    Answers a;
    wire(annotation, a);
    wire(alignment, a);
    for (const QString& f : files) a.open_replies.push_back(QStringList{f});
    annotation.browseOutputDatabase();
    annotation.browseSampleFile();
    annotation.selectRow(0);
    alignment.browseAlignDatabase();
    alignment.selectRow(0);
    EXPECT_TRUE(a.titles.empty());
    EXPECT_TRUE(a.messages.empty());
    EXPECT_EQ(annotation.cdfFileExitst(), 0);
    EXPECT_EQ(pane(annotation, "peaksGraph")->graphCount(), 0);
}

TEST(AlignmentResultTab, OpeningAnAlignedDatabaseFillsTheGridAndOverlaysTheSamples) {
    Page<AlignmentResultTab> page;
    auto& [dir, engine, tab, a] = page;
    const std::string db = write_align_db(dir);
    a.open_replies.push_back(std::nullopt);
    tab.browseAlignDatabase();
    EXPECT_TRUE(child<QWidget>(tab, "alignPlotPanel")->isHidden());
    a.open_replies.push_back(QStringList{});
    tab.browseAlignDatabase();
    EXPECT_EQ(a.messages, (std::vector<QString>{"Please select the aligndb(.aligndb) file(s)!"}));
    a.messages.clear();

    a.open_replies.push_back(QStringList{QString::fromStdString(db)});
    tab.browseAlignDatabase();
    ASSERT_TRUE(a.messages.empty()) << a.messages.front().toStdString();
    EXPECT_EQ(a.titles.back(), "Select a Aligned Result File");
    EXPECT_EQ(a.filters.back(), "aligndb Files (*.aligndb)");
    QAbstractItemModel* m = grid_model(tab, "alignDataGridView");
    // The select names "Right_boundary"; SQLite titles a plain column reference with the table's own name.
    EXPECT_EQ(headers(m).join(QLatin1Char(',')).toStdString(),
              "EIC_ID,Peak_ID,Apex_MZ,Apex_Pos,Apex_Retention_Time,Apex_Intensity,Peak_Area,Peak_SNR,Left_Boundary,"
              "Right_Boundary,Group_ID,Adduct_Annotation,Compound_ID,Compound_MolecularMass,Compound_Retention_Time,"
              "Compound_Intensity,SAMPLE_ID,SAMPLE_NAME,Align_ID,Align_RT");
    ASSERT_EQ(m->rowCount(), 3);
    EXPECT_EQ(m->data(m->index(0, 17)).toString(), "S0");  // ordered by EIC_ID
    // Every header readable in full; the sample and its alignment next to the peak's identity.
    auto* view = child<QTableView>(tab, "alignDataGridView");
    QHeaderView* header = view->horizontalHeader();
    for (int c = 0; c < m->columnCount(); ++c)
        EXPECT_GE(header->sectionSize(c), header->fontMetrics().horizontalAdvance(headers(m)[c])) << c;
    EXPECT_EQ(header->visualIndex(17), 3);  // SAMPLE_NAME
    EXPECT_EQ(header->visualIndex(18), 4);  // Align_ID
    EXPECT_EQ(green_rows(m), (std::vector<int>{0, 1}));

    QCustomPlot* aligned = pane(tab, "alignedGraph");
    QCustomPlot* per_sample = pane(tab, "perSampleGraph");
    EXPECT_EQ(title_of(aligned), "Aligned Plot for Align_ID: 1");
    EXPECT_EQ(title_of(per_sample), "Peak Plot for Sample:S0");
    ASSERT_EQ(aligned->graphCount(), 2);
    EXPECT_EQ(aligned->graph(0)->name(), "S0");
    EXPECT_EQ(aligned->graph(1)->name(), "S1");
    ASSERT_EQ(per_sample->graphCount(), 1);
    EXPECT_EQ(points(aligned, 0).front(), (std::pair<double, double>{40, 10}));

    // RT_Corrected: 295 + 310 - 300 = 305 in the aligned pane, 295 in the per-sample pane.
    child<QRadioButton>(tab, "rtCorrectedRadioButton")->setChecked(true);
    EXPECT_EQ(aligned->xAxis->label(), "Retention Time (seconds)");
    EXPECT_EQ(points(aligned, 0).front().first, 305.0);
    EXPECT_EQ(points(aligned, 1).front().first, 305.0);  // 300 + 310 - 305
    EXPECT_EQ(points(per_sample, 0).front().first, 295.0);
    child<QRadioButton>(tab, "rtOriginalRadioButton")->setChecked(true);
    EXPECT_EQ(points(aligned, 0).front().first, 295.0);

    // Nomalized: both aligned peaks reach 30.
    child<QRadioButton>(tab, "alignNomalizedRadioButton")->setChecked(true);
    EXPECT_EQ(points(aligned, 1).back().second, 30.0);

    // A row that is not aligned: its own peak only, nothing painted.
    tab.selectRow(2);
    EXPECT_TRUE(green_rows(m).empty());
    ASSERT_EQ(aligned->graphCount(), 1);
    EXPECT_EQ(title_of(aligned), "Aligned Plot for Align_ID: 0");
    EXPECT_EQ(title_of(per_sample), "Peak Plot for Sample:S1");
    EXPECT_EQ(points(aligned, 0).front().first, 320.0);

    // Group plot of sample 1's group 1: both of its rows.
    child<QRadioButton>(tab, "alignGroupPlotRadioButton")->setChecked(true);
    EXPECT_EQ(title_of(per_sample), "Group Plot for Sample:S1");
    EXPECT_EQ(per_sample->graphCount(), 2);
}

// Moving the current row by keys or by a click replots both pages, and Export writes the pseudo-
// spectrum of the row moved to (the plots used to keep the row clicked before).
TEST(ResultTabs, KeyboardMovesAndClicksPlotTheNewCurrentRow) {
    const auto key = [](QTableView* grid, int k) {
        QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
        QCoreApplication::sendEvent(grid, &press);
    };
    const auto click = [](QTableView* grid, int row) {
        const QPoint at = grid->visualRect(grid->model()->index(row, 0)).center();
        QMouseEvent press(QEvent::MouseButtonPress, at, grid->viewport()->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(grid->viewport(), &press);
    };
    Page<AnnotationResultTab> annotation;
    const std::string db = write_annotation_db(annotation.dir);
    annotation.a.open_replies.push_back(QStringList{QString::fromStdString(db)});
    annotation.tab.resize(1200, 800);
    annotation.tab.show();
    annotation.tab.browseOutputDatabase();
    auto* grid = child<QTableView>(annotation.tab, "outputDataGridView");
    QCustomPlot* peaks = pane(annotation.tab, "peaksGraph");
    struct Row {
        const char* name;
        int key;  // 0: a click on row
        int row;
        const char* mz;  // the peaks pane's one curve
    };
    const Row rows[] = {{"Down", Qt::Key_Down, 1, "122.08"}, {"End", Qt::Key_End, 3, "200.2"},
                        {"Home", Qt::Key_Home, 0, "100.1"},  {"Page Down", Qt::Key_PageDown, 3, "200.2"},
                        {"Up", Qt::Key_Up, 2, "150.5"},      {"click", 0, 1, "122.08"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.key ? key(grid, row.key) : click(grid, row.row);
        EXPECT_EQ(grid->currentIndex().row(), row.row);
        ASSERT_EQ(peaks->graphCount(), 1);
        EXPECT_EQ(peaks->graph(0)->name().toStdString(), row.mz);
    }
    const std::string out = annotation.dir.file("pseudospectrum.txt");
    annotation.tab.saveFileDialog = [&](const QString&, const QString&, const QString&, const QString&) {
        return QString::fromStdString(out);
    };
    key(grid, Qt::Key_End);
    annotation.tab.exportPseudoSpectrum();
    EXPECT_EQ(korvane::test::read_file(out), "M/Z\t\tIntensity\n\r\n200.2\t8\n\r\n");

    Page<AlignmentResultTab> alignment;
    alignment.a.open_replies.push_back(QStringList{QString::fromStdString(write_align_db(alignment.dir))});
    alignment.tab.resize(1200, 800);
    alignment.tab.show();
    alignment.tab.browseAlignDatabase();
    auto* align_grid = child<QTableView>(alignment.tab, "alignDataGridView");
    key(align_grid, Qt::Key_Down);
    EXPECT_EQ(title_of(pane(alignment.tab, "perSampleGraph")), "Peak Plot for Sample:S1");
    key(align_grid, Qt::Key_End);
    EXPECT_EQ(title_of(pane(alignment.tab, "alignedGraph")), "Aligned Plot for Align_ID: 0");
}
