#include "workbench/results/result_plot_data.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "tests/support/temp_dir.h"

using namespace korvane::wb;

namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Rgb& c) { return os << '(' << c.r << ',' << c.g << ',' << c.b << ')'; }
Rgb rgb(const QColor& c) { return {c.red(), c.green(), c.blue()}; }

std::vector<Data_Point> shape(std::initializer_list<std::array<double, 3>> pts) {
    std::vector<Data_Point> s;
    for (const auto& p : pts) {
        Data_Point d;
        d.scan_num = static_cast<std::uint32_t>(p[0]);
        d.retention_time = p[1];
        d.intensity = p[2];
        s.push_back(d);
    }
    return s;
}

Chromatogram_Peak_Group_Compound compound_peak(double mz, const std::string& annotation,
                                               std::vector<Data_Point> points) {
    Chromatogram_Peak_Group_Compound p;
    p.Apex_MZ = mz;
    p.Adduct_Annotation = annotation;
    p.Peak_shape = std::move(points);
    return p;
}

Chromatogram_Peak_Group_Compound_Align align_peak(std::uint32_t sample, const std::string& name,
                                                  std::vector<Data_Point> points) {
    Chromatogram_Peak_Group_Compound_Align p;
    p.SAMPLE_ID = sample;
    p.SAMPLE_NAME = name;
    p.Peak_shape = std::move(points);
    return p;
}

double curve_max(const PlotCurve& c) {
    double m = -1;
    for (double y : c.y) m = std::max(m, y);
    return m;
}

}  // namespace

TEST(GenerateColorVect, TablesForOneEightAndTwentySevenColours) {
    struct Row {
        const char* name;
        int n;
        std::vector<std::pair<std::size_t, Rgb>> expected;  // position -> colour
    };
    const Row rows[] = {
        {"one colour is pure blue", 1, {{0, {0, 0, 255}}}},
        // steps 2, delta 127: red 0, blue 255, green 0 / 127 / 254; then blue 128.
        {"eight: steps 2, delta 127", 8,
         {{0, {0, 0, 255}}, {1, {0, 127, 255}}, {2, {0, 254, 255}}, {3, {0, 0, 128}}, {6, {0, 127, 1}}, {7, {0, 254, 1}}}},  // (0,0,1) is a grey
        // steps 3, delta 85; (0,0,0) skipped after 14 colours, (85,85,85) after 24.
        {"twenty-seven: steps 3, delta 85", 27,
         {{0, {0, 0, 255}},
          {1, {0, 85, 255}},
          {2, {0, 170, 255}},
          {3, {0, 255, 255}},
          {12, {0, 85, 0}},
          {15, {85, 0, 255}},
          {23, {85, 0, 85}},
          {24, {85, 170, 85}},
          {26, {85, 0, 0}}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<QColor> colors;
        Generate_Color_Vect(row.n, colors);
        ASSERT_EQ(colors.size(), static_cast<std::size_t>(row.n));
        for (const auto& [pos, want] : row.expected) EXPECT_EQ(rgb(colors[pos]), want) << "position " << pos;
    }
}

TEST(GenerateColorVect, AlwaysAsManyAsAskedNoGreyAndNothingForNone) {
    std::vector<QColor> none;
    Generate_Color_Vect(0, none);
    Generate_Color_Vect(-3, none);
    EXPECT_TRUE(none.empty());

    for (int n = 1; n <= 300; ++n) {
        std::vector<QColor> colors;
        Generate_Color_Vect(n, colors);
        ASSERT_EQ(colors.size(), static_cast<std::size_t>(n)) << "n=" << n;
        for (const QColor& c : colors)
            ASSERT_FALSE(std::abs(c.red() - c.green()) < 3 && std::abs(c.red() - c.blue()) < 3)
                << "grey " << rgb(c) << " for n=" << n;
    }
    // Appends: the caller's entries stay in front.
    std::vector<QColor> colors{QColor(1, 2, 3)};
    Generate_Color_Vect(2, colors);
    ASSERT_EQ(colors.size(), 3u);
    EXPECT_EQ(rgb(colors[0]), (Rgb{1, 2, 3}));
    EXPECT_EQ(rgb(colors[1]), (Rgb{0, 0, 255}));
}

TEST(GetRandomColor, ChannelsCoverZeroTo255) {
    std::mt19937 random(20261209);
    int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
    for (int i = 0; i < 20000; ++i) {
        const QColor c = GetRandomColor(random);
        const int ch[3] = {c.red(), c.green(), c.blue()};
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], ch[k]);
            hi[k] = std::max(hi[k], ch[k]);
        }
    }
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(lo[k], 0) << "channel " << k;
        EXPECT_EQ(hi[k], 255) << "channel " << k;
    }
}

TEST(PseudoSpectrumExport, BytesByPlotMode) {
    PseudoSpectrum s;
    s.mz = {100.5, 200.123456789012345, 1e20};
    s.intensity = {1520, 0.1, 3};
    s.annotation = {QStringLiteral("[M+H]+"), QStringLiteral("[M+Na]+"), QString()};
    struct Row {
        const char* name;
        PlotMode mode;
        const char* bytes;
    };
    const Row rows[] = {
        {"group plot: header and three lines, each ended LF CR LF", PlotMode::GroupPlot,
         "M/Z\t\tIntensity\n\r\n100.5\t1520\n\r\n200.123456789012\t0.1\n\r\n1e+20\t3\n\r\n"},
        {"peak plot writes as group plot", PlotMode::PeakPlot,
         "M/Z\t\tIntensity\n\r\n100.5\t1520\n\r\n200.123456789012\t0.1\n\r\n1e+20\t3\n\r\n"},
        {"compound plot adds the annotation", PlotMode::CompoundPlot,
         "M/Z\t\tIntensity\tAnnotation\n\r\n100.5\t1520\t[M+H]+\n\r\n200.123456789012\t0.1\t[M+Na]+\n\r\n"
         "1e+20\t3\t\n\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(pseudo_spectrum_file_bytes(s, row.mode).toStdString(), std::string(row.bytes));
    }
    EXPECT_TRUE(pseudo_spectrum_file_bytes(PseudoSpectrum{}, PlotMode::CompoundPlot).isEmpty());
}

TEST(PseudoSpectrumExport, WritesReplacesAndReportsFailure) {
    korvane::test::TempDir dir;
    const QString path = QString::fromStdString(dir.file("pseudospectrum.txt"));
    write_pseudo_spectrum_file(path, QByteArray("a long earlier content\n"));
    write_pseudo_spectrum_file(path, QByteArray("M/Z\n\r\n"));
    EXPECT_EQ(korvane::test::read_file(path.toStdString()), "M/Z\n\r\n");

    // A folder below a regular file cannot exist; a full disk fails only when the bytes go out.
    const std::string under_file = dir.write("plain", "x") + "/pseudospectrum.txt";
    for (const std::string& bad : {under_file, std::string("/dev/full")}) {
        SCOPED_TRACE(bad);
        try {
            write_pseudo_spectrum_file(QString::fromStdString(bad), QByteArray("M/Z\t\tIntensity\n\r\n"));
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("could not write " + bad), std::string::npos) << e.what();
        }
    }
}

TEST(AnnotationPeaksPane, NomalizedLiftsEveryPeakToTheTallest) {
    const std::vector<Chromatogram_Peak_Group_Compound> records = {
        compound_peak(150.25, "[M+H]+", shape({{10, 5.0, 20}, {11, 5.5, 100}, {12, 6.0, 50}})),
        compound_peak(172.5, "[M+Na]+", shape({{10, 5.0, 400}, {11, 5.5, 200}})),
        compound_peak(180, "", shape({{10, 5.0, 0}, {11, 5.5, 0}})),  // nothing to lift
        compound_peak(190, "", {}),
    };
    const PlotPane standard = annotation_peaks_pane(records, PlotMode::GroupPlot, XAxisMode::ScanNumber,
                                                    ScaleMode::Standard, QStringLiteral("s_annotated.db"));
    const PlotPane nomalized = annotation_peaks_pane(records, PlotMode::GroupPlot, XAxisMode::ScanNumber,
                                                     ScaleMode::Nomalized, QStringLiteral("s_annotated.db"));
    ASSERT_EQ(standard.curves.size(), 4u);
    ASSERT_EQ(nomalized.curves.size(), 4u);
    EXPECT_EQ(curve_max(standard.curves[0]), 100);
    EXPECT_EQ(curve_max(nomalized.curves[0]), 400);
    EXPECT_EQ(curve_max(nomalized.curves[1]), 400);
    EXPECT_EQ(nomalized.curves[0].y, (std::vector<double>{80, 400, 200}));
    EXPECT_EQ(nomalized.curves[2].y, (std::vector<double>{0, 0}));  // unscaled, no NaN
    EXPECT_TRUE(nomalized.curves[3].y.empty());

    EXPECT_EQ(standard.title, QStringLiteral("s_annotated.db"));
    EXPECT_EQ(standard.xTitle, QStringLiteral("Scan Number"));
    EXPECT_EQ(standard.yTitle, QStringLiteral("Intensity"));
    EXPECT_EQ(standard.curves[0].x, (std::vector<double>{10, 11, 12}));
    std::vector<QColor> colors;
    Generate_Color_Vect(4, colors);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(rgb(standard.curves[i].color), rgb(colors[i])) << i;
}

TEST(PseudoSpectrum, OneStickPerRecordAtItsTallestPoint) {
    const std::vector<Chromatogram_Peak_Group_Compound> records = {
        compound_peak(300.1, "[M+H]+", shape({{1, 0, 5}, {2, 0, 9}, {3, 0, 7}})),
        compound_peak(200.2, "[M+K]+", {}),
        compound_peak(250, "", shape({{1, 0, -4}})),
    };
    const PseudoSpectrum s = build_pseudo_spectrum(records);
    EXPECT_EQ(s.mz, (std::vector<double>{300.1, 200.2, 250}));
    EXPECT_EQ(s.intensity, (std::vector<double>{9, 0, 0}));
    EXPECT_EQ(s.annotation, (std::vector<QString>{"[M+H]+", "[M+K]+", ""}));
    const PlotPane pane = pseudo_spectrum_pane(s);
    EXPECT_EQ(pane.title, QStringLiteral("Pseudo-Spectrum"));
    EXPECT_EQ(pane.xTitle, QStringLiteral("M/Z"));
    ASSERT_EQ(pane.curves.size(), 1u);
    EXPECT_TRUE(pane.curves[0].sticks);
    EXPECT_TRUE(pane.curves[0].label.isEmpty());
    EXPECT_EQ(rgb(pane.curves[0].color), (Rgb{0, 0, 255}));
}

// Every stick strictly inside the frame with room to spare, and the intensity axis from 0 to above
// the tallest: sticks fitted exactly to the axes fall on the frame and vanish.
TEST(StickAxes, EveryStickInsideAndIntensityFromZero) {
    const double nan = std::nan("");
    struct Row {
        const char* name;
        std::vector<double> mz, intensity;
        AxisRange x, y;  // expected
    };
    const Row rows[] = {
        // Compound 110 of ko15: three adducts, 22.1 m/z apart.
        {"three adducts", {305.1, 322.2, 327.1}, {40800, 46144, 14414}, {305.1 - 1.1, 327.1 + 1.1}, {0, 46144 * 1.08}},
        {"sticks far apart pad by 5 %", {300, 600}, {10, 20}, {285, 615}, {0, 20 * 1.08}},
        {"one stick gets a range around it", {592.5}, {15199}, {591.5, 593.5}, {0, 15199 * 1.08}},
        {"no stick", {}, {}, {0, 1}, {0, 1}},
        {"nothing above 0", {200, 201}, {0, -3}, {199, 202}, {0, 1}},
        {"numbers only", {nan, 250, 260}, {nan, 5, 9}, {249, 261}, {0, 9 * 1.08}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const AxisRange x = stick_mz_range(row.mz), y = stick_intensity_range(row.intensity);
        EXPECT_NEAR(x.lower, row.x.lower, 1e-9);
        EXPECT_NEAR(x.upper, row.x.upper, 1e-9);
        EXPECT_EQ(y.lower, row.y.lower);
        EXPECT_NEAR(y.upper, row.y.upper, 1e-9);
    }
}

TEST(AlignedPane, CorrectedTimesShiftOnlyTheAlignedPane) {
    auto p = align_peak(0, "S0", shape({{40, 295, 10}, {41, 296, 20}}));
    p.Align_RT = 310;
    p.Compound_Retention_Time = 300;
    const std::vector<Chromatogram_Peak_Group_Compound_Align> records{p};
    struct Row {
        const char* name;
        XAxisMode x;
        double aligned_x0, per_sample_x0;
        const char* x_title;
    };
    const Row rows[] = {
        {"scan number", XAxisMode::ScanNumber, 40, 40, "Scan Number"},
        {"RT_Original", XAxisMode::RetentionTime, 295, 295, "Retention Time (seconds)"},
        {"RT_Corrected", XAxisMode::RetentionTimeCorrected, 305, 295, "Retention Time (seconds)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const PlotPane aligned = aligned_pane(records, row.x, ScaleMode::Standard, QStringLiteral("7"));
        const PlotPane per_sample =
            per_sample_pane(records, PlotMode::GroupPlot, row.x, ScaleMode::Standard, QStringLiteral("S0"));
        ASSERT_EQ(aligned.curves.size(), 1u);
        ASSERT_EQ(per_sample.curves.size(), 1u);
        EXPECT_EQ(aligned.curves[0].x.front(), row.aligned_x0);
        EXPECT_EQ(per_sample.curves[0].x.front(), row.per_sample_x0);
        EXPECT_EQ(aligned.xTitle, QString::fromLatin1(row.x_title));
        EXPECT_EQ(per_sample.xTitle, QString::fromLatin1(row.x_title));
        EXPECT_EQ(aligned.title, QStringLiteral("Aligned Plot for Align_ID: 7"));
        EXPECT_EQ(per_sample.title, QStringLiteral("Group Plot for Sample:S0"));
    }
    // The corrected time is (time + Align_RT) - Compound_Retention_Time, added left to right: with
    // these values time + (Align_RT - Compound_Retention_Time) ends on another double.
    volatile double t = 0.1, a = 0.2, c = 0.3;
    ASSERT_NE((t + a) - c, t + (a - c));
    auto q = align_peak(0, "S0", shape({{40, 0.1, 10}}));
    q.Align_RT = 0.2;
    q.Compound_Retention_Time = 0.3;
    const PlotPane corrected = aligned_pane({q}, XAxisMode::RetentionTimeCorrected, ScaleMode::Standard, "1");
    ASSERT_EQ(corrected.curves.size(), 1u);
    EXPECT_EQ(corrected.curves[0].x.front(), (t + a) - c);
}

TEST(AlignedPane, ColoursAndLabelsFollowTheSamples) {
    // Ascending SAMPLE_ID as the aligned query returns them; sample 0 is absent.
    const std::vector<Chromatogram_Peak_Group_Compound_Align> records = {
        align_peak(1, "A", shape({{1, 1, 10}})), align_peak(1, "A", shape({{1, 1, 40}})),
        align_peak(3, "C", shape({{1, 1, 20}})), align_peak(4, "D", shape({{1, 1, 0}})),
        align_peak(4, "D", shape({{1, 1, 5}})),
    };
    std::vector<QColor> table;
    Generate_Color_Vect(5, table);  // last SAMPLE_ID + 1
    const PlotPane pane = aligned_pane(records, XAxisMode::ScanNumber, ScaleMode::Nomalized, QStringLiteral("2"));
    ASSERT_EQ(pane.curves.size(), 5u);
    struct Want {
        Rgb color;
        const char* label;
        double y;
    };
    // One legend entry per sample; a sample of several peaks says how many (three peaks of one
    // sample in one colour were taken for three samples).
    const Want want[] = {{rgb(table[0]), "A (2 peaks)", 40}, {rgb(table[0]), "", 40}, {rgb(table[3]), "C", 40},
                         {rgb(table[4]), "D (2 peaks)", 0},  {rgb(table[4]), "", 40}};
    for (std::size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rgb(pane.curves[i].color), want[i].color);
        EXPECT_EQ(pane.curves[i].label, QString::fromLatin1(want[i].label));
        EXPECT_EQ(pane.curves[i].y.front(), want[i].y);
    }

    // The per-sample pane colours by position and labels by m/z.
    const PlotPane per_sample =
        per_sample_pane(records, PlotMode::PeakPlot, XAxisMode::ScanNumber, ScaleMode::Standard, "A");
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(rgb(per_sample.curves[i].color), rgb(table[i])) << i;
    EXPECT_EQ(per_sample.curves[0].label, QStringLiteral("0"));
    EXPECT_EQ(per_sample.title, QStringLiteral("Peak Plot for Sample:A"));
}
