#include "workbench/results/plot_frame.h"

#include <QFontMetrics>
#include <algorithm>
#include <cmath>

#include "workbench/results/result_plot_data.h"

namespace korvane::wb {

namespace {

// The axes' own default; fewer only where the labels would not fit, and never fewer than can
// show two of them.
constexpr int kMostTicks = 5;
constexpr int kFewestTicks = 3;

// Tick steps are rounded to 1, 2, 2.5 or 5 times a power of ten, which can give a few more ticks
// than asked for: 2.2 label widths per tick keeps at least one label's width between labels.
int fitting_tick_count(double axis_pixels, double label_pixels) {
    if (!(label_pixels > 0.0) || !(axis_pixels > 0.0)) return kMostTicks;
    return std::clamp(static_cast<int>(axis_pixels / (2.2 * label_pixels)), kFewestTicks, kMostTicks);
}

// The widest label the axis can draw over its range, judged from the digits of the range's ends
// (and two decimals on a short range) rather than from the labels drawn last: those follow the
// tick count, and a count that followed them could swing back and forth.
double widest_label(const QCPAxis* axis) {
    const QFontMetrics fm(axis->tickLabelFont());
    if (axis->orientation() == Qt::Vertical) return fm.height();
    const QCPRange range = axis->range();
    int digits = 1;
    for (double end : {range.lower, range.upper})
        if (std::isfinite(end))
            digits = std::max(digits, static_cast<int>(QString::number(std::trunc(end), 'f', 0).size()));
    if (range.size() < 10) digits += 2;
    return fm.horizontalAdvance(QString(digits, QLatin1Char('8')));
}

// True when a tick count changed, so the ticks drawn now were laid out for another size.
bool fit_tick_counts(QCustomPlot* plot) {
    bool changed = false;
    for (QCPAxis* axis : {plot->xAxis, plot->yAxis}) {
        const double pixels = axis->orientation() == Qt::Horizontal ? axis->axisRect()->width()
                                                                    : axis->axisRect()->height();
        const int count = fitting_tick_count(pixels, widest_label(axis));
        QCPAxisTicker* ticker = axis->ticker().data();
        if (ticker->tickCount() != count) {
            ticker->setTickCount(count);
            ticker->setTickStepStrategy(QCPAxisTicker::tssReadability);
            changed = true;
        } else if (ticker->tickStepStrategy() == QCPAxisTicker::tssReadability && axis->tickVector().size() < 2) {
            // Round steps left a short axis a single label: steps nearer the count give two or more.
            ticker->setTickStepStrategy(QCPAxisTicker::tssMeetTickCount);
            changed = true;
        }
    }
    return changed;
}

// The legend's column beside the axis rect: the legend on top, an empty stretch below it, so that
// the legend is as tall as its entries and the axis rect keeps the whole height.
QCPLayoutGrid* legend_column(QCustomPlot* plot, bool create) {
    QCPLayoutGrid* layout = plot->plotLayout();
    if (layout->hasElement(1, 1))
        if (auto* column = qobject_cast<QCPLayoutGrid*>(layout->element(1, 1))) return column;
    if (!create) return nullptr;
    auto* column = new QCPLayoutGrid;
    layout->addElement(1, 1, column);
    layout->setColumnStretchFactor(1, 0.001);
    column->addElement(0, 0, plot->legend);
    column->addElement(1, 0, new QCPLayoutElement(plot));
    column->setRowStretchFactor(0, 0.001);
    column->setRowSpacing(0);
    column->setMargins(QMargins(0, 0, 6, 0));  // the legend's frame clear of the pane's edge
    return column;
}

}  // namespace

ElidedTitle::ElidedTitle(QCustomPlot* plot, double point_size)
    : QCPTextElement(plot, QString(), QFont(plot->font().family(), point_size, QFont::Bold)) {}

QString ElidedTitle::shownText() const {
    return QFontMetrics(mainFont()).elidedText(mText, Qt::ElideMiddle, std::max(0, mRect.width()));
}

void ElidedTitle::draw(QCPPainter* painter) {
    painter->setFont(mainFont());
    painter->setPen(QPen(mainTextColor()));
    painter->drawText(mRect, mTextFlags, shownText(), &mTextBoundingRect);
}

// The title's own width must not widen the pane: it gives way by eliding.
QSize ElidedTitle::minimumOuterSizeHint() const { return {0, QCPTextElement::minimumOuterSizeHint().height()}; }

ElidedTitle* add_elided_title(QCustomPlot* plot, double point_size) {
    plot->plotLayout()->insertRow(0);
    auto* title = new ElidedTitle(plot, point_size);
    plot->plotLayout()->addElement(0, 0, title);
    return title;
}

void keep_tick_labels_apart(QCustomPlot* plot) {
    QObject::connect(plot, &QCustomPlot::afterLayout, plot, [plot] {
        if (fit_tick_counts(plot)) plot->replot(QCustomPlot::rpQueuedReplot);
    });
}

void place_legend_beside(QCustomPlot* plot) {
    plot->axisRect()->insetLayout()->take(plot->legend);
    plot->legend->setVisible(false);
    QFont font = plot->font();
    font.setPointSizeF(8);
    plot->legend->setFont(font);
    plot->legend->setIconSize(16, 8);
    plot->legend->setRowSpacing(0);
    plot->legend->setMargins(QMargins(4, 3, 4, 3));
}

void update_legend(QCustomPlot* plot, int max_entries) {
    std::vector<QCPAbstractPlottable*> entries;
    for (int i = 0; i < plot->plottableCount(); ++i)
        if (plot->legend->hasItemWithPlottable(plot->plottable(i))) entries.push_back(plot->plottable(i));
    const int count = static_cast<int>(entries.size());
    if (count > max_entries && max_entries > 1) {
        for (int i = max_entries - 1; i < count; ++i) entries[static_cast<std::size_t>(i)]->removeFromLegend();
        // An empty graph without a pen: a legend entry that is only its text.
        QCPGraph* more = plot->addGraph();
        more->setPen(Qt::NoPen);
        more->setName(QStringLiteral("+%1 more").arg(count - max_entries + 1));
    }
    // Entries no taller than their text keep together at the top instead of spreading over the
    // legend's whole column.
    for (int i = 0; i < plot->legend->itemCount(); ++i) {
        QCPAbstractLegendItem* item = plot->legend->item(i);
        item->setMaximumSize(QWIDGETSIZE_MAX, item->minimumOuterSizeHint().height());
    }
    const bool show = count > 0;
    plot->legend->setVisible(show);
    if (show) {
        legend_column(plot, true);
    } else if (QCPLayoutGrid* column = legend_column(plot, false)) {
        column->take(plot->legend);
        plot->plotLayout()->remove(column);
        plot->plotLayout()->simplify();
    }
}

void set_empty_note(QCustomPlot* plot, const QString& note) {
    const bool empty = !note.isEmpty();
    for (QCPAxis* axis : {plot->xAxis, plot->yAxis}) {
        axis->setTicks(!empty);
        axis->setTickLabels(!empty);
        axis->grid()->setVisible(!empty);
    }
    if (!empty) return;
    auto* text = new QCPItemText(plot);
    text->position->setType(QCPItemPosition::ptAxisRectRatio);
    text->position->setCoords(0.5, 0.5);
    text->setText(note);
    text->setColor(QColor(110, 110, 110));
}

bool plot_has_points(const QCustomPlot* plot) {
    for (int i = 0; i < plot->graphCount(); ++i)
        if (plot->graph(i)->dataCount() > 0) return true;
    return false;
}

void fit_stick_axes(QCustomPlot* plot, const std::vector<double>& mz, const std::vector<double>& intensity) {
    const AxisRange x = stick_mz_range(mz), y = stick_intensity_range(intensity);
    plot->xAxis->setRange(x.lower, x.upper);
    plot->yAxis->setRange(y.lower, y.upper);
}

}  // namespace korvane::wb
