// What keeps every plot of the workbench readable whatever its size: a title that loses its middle
// rather than both ends, tick labels that never run together, a legend beside the curves rather
// than over them, and a short note instead of bare 0..5 axes when there is nothing to draw.
#pragma once

#include <qcustomplot.h>

#include <QString>
#include <vector>

namespace korvane::wb {

// A title row above the axis rect. text() keeps the whole title; a title wider than its pane is
// drawn with its middle elided.
class ElidedTitle : public QCPTextElement {
public:
    ElidedTitle(QCustomPlot* plot, double point_size);
    // What the pane shows for the title at its present width.
    QString shownText() const;

protected:
    void draw(QCPPainter* painter) override;
    QSize minimumOuterSizeHint() const override;
};
ElidedTitle* add_elided_title(QCustomPlot* plot, double point_size);

// From now on, after every layout of the plot, each axis gets as many ticks as leave a label's
// width (height, on a vertical axis) free between neighbouring labels.
void keep_tick_labels_apart(QCustomPlot* plot);

// The legend as a column to the right of the axis rect, in a small font.
void place_legend_beside(QCustomPlot* plot);
// Shows the legend when any graph is in it. Past max_entries, the first max_entries - 1 entries
// stay and one more says how many are left out ("+12 more").
void update_legend(QCustomPlot* plot, int max_entries);

// Nothing to draw: the note in the middle of the axis rect, axes without ticks, numbers or grid.
// An empty note brings the ticks, numbers and grid back. The note is an item of the plot, so
// clearing the plot's items removes it.
void set_empty_note(QCustomPlot* plot, const QString& note);
bool plot_has_points(const QCustomPlot* plot);

// Fits the axes to a stick spectrum (stick_mz_range, stick_intensity_range).
void fit_stick_axes(QCustomPlot* plot, const std::vector<double>& mz, const std::vector<double>& intensity);

}  // namespace korvane::wb
