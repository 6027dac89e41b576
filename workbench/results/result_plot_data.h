// What the result pages draw, computed without any widget: the curves of each pane (points, colour,
// legend label), the colour tables and the bytes of the pseudo-spectrum export. The pages only
// hand these to the plot widgets, so everything a user sees can be checked headless.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QString>
#include <random>
#include <vector>

#include "engine/records/records.h"

namespace korvane::wb {

// Which records a plot shows for the selected row.
enum class PlotMode { PeakPlot, GroupPlot, CompoundPlot };
// X of each point. RetentionTimeCorrected exists only on the alignment page.
enum class XAxisMode { ScanNumber, RetentionTime, RetentionTimeCorrected };
// "Standard" draws the stored intensities; "Nomalized" lifts every curve to the tallest one.
enum class ScaleMode { Standard, Nomalized };

struct PlotCurve {
    std::vector<double> x, y;
    QColor color;
    QString label;        // empty: the curve stays out of the legend
    bool sticks = false;  // vertical lines from 0, as a spectrum is drawn
};

struct PlotPane {
    QString title, xTitle, yTitle;
    std::vector<PlotCurve> curves;
    QString emptyNote;  // shown instead of bare axes when no curve has a point; empty: kNothingToPlot
};

inline const QString kNothingToPlot = QStringLiteral("Nothing to plot");

struct AxisRange {
    double lower = 0.0, upper = 0.0;
};
// The m/z axis of a stick spectrum, so that no stick falls on the frame: the sticks' span padded
// by 5 % on each side, and by at least 1 m/z (sticks at one m/z get 2 m/z around them). Values
// that are no finite number are left out; none at all gives 0..1.
AxisRange stick_mz_range(const std::vector<double>& mz);
// The intensity axis of a stick spectrum: from 0 to 8 % above the highest stick (0..1 when no
// stick is above 0).
AxisRange stick_intensity_range(const std::vector<double>& intensity);

struct PseudoSpectrum {
    std::vector<double> mz, intensity;
    std::vector<QString> annotation;
};

// Appends up to Color_NUM colours to Color_Array: red from 0 upward, blue from 255 downward, green
// from 0 upward, each by floor(255 / steps) with steps = floor(cbrt(Color_NUM) + 0.15), greys
// skipped. Nothing for Color_NUM < 1 (there would be no step to divide by).
void Generate_Color_Vect(int Color_NUM, std::vector<QColor>& Color_Array);
// Red, green and blue each uniform in 0..255.
QColor GetRandomColor(std::mt19937& random);
QColor GetRandomColor();

// The number as every label and exported line writes it: general format, up to 15 significant digits.
QString general_number(double v);

// The largest intensity of a shape, and 0 when it is empty or has no positive intensity.
double largest_intensity(const std::vector<Data_Point>& shape);

// One stick per record, in the given order: its apex m/z, the largest intensity of its shape and
// its adduct annotation.
PseudoSpectrum build_pseudo_spectrum(const std::vector<Chromatogram_Peak_Group_Compound>& records);

// Peaks pane of the annotation page: titled with the database's file name, one line per record in
// colour i, labelled with its apex m/z (and, in "Compound Plot", a blank and its annotation).
// A record without a positive intensity is drawn unscaled in "Nomalized", as there is nothing to lift.
PlotPane annotation_peaks_pane(const std::vector<Chromatogram_Peak_Group_Compound>& records, PlotMode mode,
                               XAxisMode x_mode, ScaleMode scale, const QString& database_file_name);
// One blue unlabelled line through a trace (the stored mass trace, the m/z-binned chromatogram).
PlotPane trace_pane(const QString& title, const Mass_Trace& trace, XAxisMode x_mode);
// The total-ion chromatogram: one point per scan of count, x the scan number or acquisition time.
PlotPane tic_pane(const std::vector<std::uint32_t>& scan_num, const std::vector<double>& acquisition_time,
                  const std::vector<double>& total_intensity, std::size_t count, XAxisMode x_mode);
PlotPane pseudo_spectrum_pane(const PseudoSpectrum& spectrum);

// The aligned pane: one line per record, coloured by sample (records arrive in ascending SAMPLE_ID,
// so the last carries the largest); only the first curve of each sample run carries a label: the
// sample name, with "(n peaks)" after it when the sample draws n > 1 curves.
PlotPane aligned_pane(const std::vector<Chromatogram_Peak_Group_Compound_Align>& records, XAxisMode x_mode,
                      ScaleMode scale, const QString& align_id_text);
// The per-sample pane: one line per record in colour i, never shifted by the alignment.
PlotPane per_sample_pane(const std::vector<Chromatogram_Peak_Group_Compound_Align>& records, PlotMode mode,
                         XAxisMode x_mode, ScaleMode scale, const QString& sample_name);
QString plot_mode_text(PlotMode mode);

// The export file's bytes: a header and one line per stick, tab-separated, each line ended by
// LF CR LF; the annotation column only in "Compound Plot". No stick, no bytes.
QByteArray pseudo_spectrum_file_bytes(const PseudoSpectrum& spectrum, PlotMode mode);
// Creates or replaces path with bytes; throws std::runtime_error naming the path and the reason.
void write_pseudo_spectrum_file(const QString& path, const QByteArray& bytes);

}  // namespace korvane::wb
