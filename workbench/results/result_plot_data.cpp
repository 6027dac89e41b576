#include "workbench/results/result_plot_data.h"

#include <QFile>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>

#include "engine/records/error.h"
#include "workbench/results/engine_text.h"

namespace korvane::wb {

namespace {

const QColor kCurveBlue(0, 0, 255);

double point_x(const Data_Point& p, XAxisMode x_mode) {
    return x_mode == XAxisMode::ScanNumber ? static_cast<double>(p.scan_num) : p.retention_time;
}

QString x_title(XAxisMode x_mode) {
    return x_mode == XAxisMode::ScanNumber ? QStringLiteral("Scan Number") : QStringLiteral("Retention Time (seconds)");
}

// factor = tallest / own height in "Nomalized"; a shape without a positive height stays as it is
// rather than being multiplied by infinity.
double scale_factor(ScaleMode scale, double tallest, double own) {
    if (scale == ScaleMode::Standard || !(own > 0.0)) return 1.0;
    return tallest / own;
}

template <class Record>
QString curve_label(const Record& r, PlotMode mode) {
    QString label = general_number(r.Apex_MZ);
    if (mode == PlotMode::CompoundPlot) label += QLatin1Char(' ') + QString::fromStdString(r.Adduct_Annotation);
    return label;
}

template <class Record>
std::vector<double> heights(const std::vector<Record>& records, double& tallest) {
    std::vector<double> h;
    h.reserve(records.size());
    tallest = 0.0;
    for (const Record& r : records) {
        h.push_back(largest_intensity(r.Peak_shape));
        if (h.back() > tallest) tallest = h.back();
    }
    return h;
}

// One line through a shape: x by the axis mode, plus add, minus subtract (in that order, so the
// corrected time is (time + Align_RT) - Compound_Retention_Time to the last bit), y the intensity
// times factor.
PlotCurve shape_curve(const std::vector<Data_Point>& shape, XAxisMode x_mode, double add, double subtract,
                      double factor) {
    PlotCurve c;
    c.x.reserve(shape.size());
    c.y.reserve(shape.size());
    for (const Data_Point& p : shape) {
        c.x.push_back(point_x(p, x_mode) + add - subtract);
        c.y.push_back(p.intensity * factor);
    }
    return c;
}

QColor color_at(const std::vector<QColor>& colors, std::size_t i) {
    // Generate_Color_Vect always yields as many colours as asked for; black only guards the index.
    return i < colors.size() ? colors[i] : QColor(0, 0, 0);
}

// The legend entry of the sample run starting at first: its name, and how many peaks it draws
// when more than one (a compound's adducts are aligned together, so one sample often draws
// several curves in its one colour).
QString sample_label(const std::vector<Chromatogram_Peak_Group_Compound_Align>& records, std::size_t first) {
    std::size_t end = first + 1;
    while (end < records.size() && records[end].SAMPLE_ID == records[first].SAMPLE_ID) ++end;
    QString label = QString::fromStdString(records[first].SAMPLE_NAME);
    if (end - first > 1) label += QStringLiteral(" (%1 peaks)").arg(end - first);
    return label;
}

}  // namespace

void Generate_Color_Vect(int Color_NUM, std::vector<QColor>& Color_Array) {
    if (Color_NUM < 1) return;
    const int steps = static_cast<int>(std::floor(std::pow(static_cast<double>(Color_NUM), 1.0 / 3.0) + 0.15));
    const int delta = 255 / steps;
    int stored = 0;
    for (int i = 0; i <= steps && stored < Color_NUM; ++i) {
        const int r = i * delta;
        for (int j = 0; j <= steps && stored < Color_NUM; ++j) {
            const int b = 255 - j * delta;
            for (int k = 0; k <= steps && stored < Color_NUM; ++k) {
                const int g = k * delta;
                if (std::abs(r - g) < 3 && std::abs(r - b) < 3) continue;  // a grey: too like the axes
                Color_Array.emplace_back(r, g, b);
                ++stored;
            }
        }
    }
}

QColor GetRandomColor(std::mt19937& random) {
    std::uniform_int_distribution<int> channel(0, 255);
    const int r = channel(random);
    const int g = channel(random);
    const int b = channel(random);
    return QColor(r, g, b);
}

QColor GetRandomColor() {
    static std::mt19937 random{std::random_device{}()};
    return GetRandomColor(random);
}

AxisRange stick_mz_range(const std::vector<double>& mz) {
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (double v : mz) {
        if (!std::isfinite(v)) continue;
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    if (lo > hi) return {0.0, 1.0};
    // A stick drawn on the frame's edge is hidden by the frame, so the outermost need room.
    const double pad = std::max(0.05 * (hi - lo), 1.0);
    return {lo - pad, hi + pad};
}

AxisRange stick_intensity_range(const std::vector<double>& intensity) {
    double hi = 0.0;
    for (double v : intensity)
        if (std::isfinite(v)) hi = std::max(hi, v);
    return {0.0, hi > 0.0 ? hi * 1.08 : 1.0};
}

QString general_number(double v) { return QString::number(v, 'g', 15); }

double largest_intensity(const std::vector<Data_Point>& shape) {
    double m = 0.0;
    for (const Data_Point& p : shape)
        if (p.intensity > m) m = p.intensity;
    return m;
}

PseudoSpectrum build_pseudo_spectrum(const std::vector<Chromatogram_Peak_Group_Compound>& records) {
    PseudoSpectrum s;
    for (const auto& r : records) {
        s.mz.push_back(r.Apex_MZ);
        s.intensity.push_back(largest_intensity(r.Peak_shape));
        s.annotation.push_back(QString::fromStdString(r.Adduct_Annotation));
    }
    return s;
}

// One line per record, colour i of a table as long as the records, labelled by m/z (and adduct in
// "Compound Plot"); "Nomalized" lifts every peak to the height of the tallest.
template <class Record>
void add_peak_curves(PlotPane& pane, const std::vector<Record>& records, PlotMode mode, XAxisMode x_mode,
                     ScaleMode scale) {
    double tallest = 0.0;
    const std::vector<double> h = heights(records, tallest);
    std::vector<QColor> colors;
    Generate_Color_Vect(static_cast<int>(records.size()), colors);
    for (std::size_t i = 0; i < records.size(); ++i) {
        PlotCurve c = shape_curve(records[i].Peak_shape, x_mode, 0.0, 0.0, scale_factor(scale, tallest, h[i]));
        c.color = color_at(colors, i);
        c.label = curve_label(records[i], mode);
        pane.curves.push_back(std::move(c));
    }
}

PlotPane annotation_peaks_pane(const std::vector<Chromatogram_Peak_Group_Compound>& records, PlotMode mode,
                               XAxisMode x_mode, ScaleMode scale, const QString& database_file_name) {
    PlotPane pane{database_file_name, x_title(x_mode), QStringLiteral("Intensity"), {}, {}};
    add_peak_curves(pane, records, mode, x_mode, scale);
    return pane;
}

PlotPane trace_pane(const QString& title, const Mass_Trace& trace, XAxisMode x_mode) {
    PlotPane pane{title, x_title(x_mode), QStringLiteral("Intensity"), {}, {}};
    PlotCurve c = shape_curve(trace.EIC_shape, x_mode, 0.0, 0.0, 1.0);
    c.color = kCurveBlue;
    pane.curves.push_back(std::move(c));
    return pane;
}

PlotPane tic_pane(const std::vector<std::uint32_t>& scan_num, const std::vector<double>& acquisition_time,
                  const std::vector<double>& total_intensity, std::size_t count, XAxisMode x_mode) {
    PlotPane pane{QStringLiteral("Total Ion Chromatogram (TIC)"), x_title(x_mode), QStringLiteral("Total Intensity"), {}, {}};
    PlotCurve c;
    c.color = kCurveBlue;
    const std::vector<double> scans(scan_num.begin(), scan_num.end());
    const std::vector<double>& xs = x_mode == XAxisMode::ScanNumber ? scans : acquisition_time;
    // The arrays of one loaded sample have one entry per scan; never read past a shorter one.
    const std::size_t n = std::min({count, xs.size(), total_intensity.size()});
    c.x.assign(xs.begin(), xs.begin() + static_cast<std::ptrdiff_t>(n));
    c.y.assign(total_intensity.begin(), total_intensity.begin() + static_cast<std::ptrdiff_t>(n));
    pane.curves.push_back(std::move(c));
    return pane;
}

PlotPane pseudo_spectrum_pane(const PseudoSpectrum& spectrum) {
    PlotPane pane{QStringLiteral("Pseudo-Spectrum"), QStringLiteral("M/Z"), QStringLiteral("Intensity"), {}, {}};
    PlotCurve c;
    c.color = kCurveBlue;
    c.sticks = true;
    c.x = spectrum.mz;
    c.y = spectrum.intensity;
    pane.curves.push_back(std::move(c));
    return pane;
}

PlotPane aligned_pane(const std::vector<Chromatogram_Peak_Group_Compound_Align>& records, XAxisMode x_mode,
                      ScaleMode scale, const QString& align_id_text) {
    PlotPane pane{QStringLiteral("Aligned Plot for Align_ID: ") + align_id_text, x_title(x_mode),
                  QStringLiteral("Intensity"), {}, {}};
    double tallest = 0.0;
    const std::vector<double> h = heights(records, tallest);
    std::vector<QColor> colors;
    if (!records.empty()) {
        const std::uint64_t entries = static_cast<std::uint64_t>(records.back().SAMPLE_ID) + 1;
        Generate_Color_Vect(entries > 0x7fffffffu ? 0x7fffffff : static_cast<int>(entries), colors);
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        const auto& r = records[i];
        const bool corrected = x_mode == XAxisMode::RetentionTimeCorrected;
        PlotCurve c = shape_curve(r.Peak_shape, x_mode, corrected ? r.Align_RT : 0.0,
                                  corrected ? r.Compound_Retention_Time : 0.0, scale_factor(scale, tallest, h[i]));
        if (i == 0) {
            c.color = color_at(colors, 0);
            c.label = sample_label(records, 0);
        } else if (r.SAMPLE_ID == records[i - 1].SAMPLE_ID) {
            c.color = pane.curves.back().color;
        } else {
            c.color = color_at(colors, r.SAMPLE_ID);
            c.label = sample_label(records, i);
        }
        pane.curves.push_back(std::move(c));
    }
    return pane;
}

QString plot_mode_text(PlotMode mode) {
    switch (mode) {
        case PlotMode::PeakPlot: return QStringLiteral("Peak Plot");
        case PlotMode::GroupPlot: return QStringLiteral("Group Plot");
        case PlotMode::CompoundPlot: return QStringLiteral("Compound Plot");
    }
    return {};
}

PlotPane per_sample_pane(const std::vector<Chromatogram_Peak_Group_Compound_Align>& records, PlotMode mode,
                         XAxisMode x_mode, ScaleMode scale, const QString& sample_name) {
    // Both retention-time modes show the stored times here: only the aligned pane is corrected.
    const XAxisMode own_x = x_mode == XAxisMode::ScanNumber ? XAxisMode::ScanNumber : XAxisMode::RetentionTime;
    PlotPane pane{plot_mode_text(mode) + QStringLiteral(" for Sample:") + sample_name, x_title(own_x),
                  QStringLiteral("Intensity"), {}, {}};
    add_peak_curves(pane, records, mode, own_x, scale);
    return pane;
}

QByteArray pseudo_spectrum_file_bytes(const PseudoSpectrum& spectrum, PlotMode mode) {
    // The file's own line end is LF CR LF; readers of these files expect it.
    static const QString kEnd = QStringLiteral("\n\r\n");
    const bool with_annotation = mode == PlotMode::CompoundPlot;
    QString text;
    for (std::size_t i = 0; i < spectrum.mz.size(); ++i) {
        if (i == 0)
            text += with_annotation ? QStringLiteral("M/Z\t\tIntensity\tAnnotation") + kEnd
                                    : QStringLiteral("M/Z\t\tIntensity") + kEnd;
        text += general_number(spectrum.mz[i]) + QLatin1Char('\t') +
                general_number(i < spectrum.intensity.size() ? spectrum.intensity[i] : 0.0);
        if (with_annotation)
            text += QLatin1Char('\t') + (i < spectrum.annotation.size() ? spectrum.annotation[i] : QString());
        text += kEnd;
    }
    return text.toUtf8();
}

namespace {
// In the engine's encoding, which the window decodes every error text from.
[[noreturn]] void throw_not_written(const QString& path, const QString& reason) {
    throw korvane::Error(engine_text("could not write " + path + ": " + reason));
}
}  // namespace

void write_pseudo_spectrum_file(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) throw_not_written(path, file.errorString());
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString reason = file.errorString();
        file.close();
        throw_not_written(path, reason);
    }
    file.close();
    if (file.error() != QFileDevice::NoError) throw_not_written(path, file.errorString());
}

}  // namespace korvane::wb
