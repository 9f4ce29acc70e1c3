// SPDX-License-Identifier: MIT
#include "desktop/GraphPainter.h"

#include <QDateTime>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <cmath>

namespace drainwatch {

namespace {

constexpr int kLeft = 42;
constexpr int kRight = 46;
constexpr int kBottom = 20;

// The captions' row: as tall as the font, so that a larger one (the
// offscreen platform's, a desktop's at 200 %) is not cut at the top.
// The 100 % label reaches half a line above the plot, below the captions.
int topMargin()
{
    const int line = QFontMetrics(QFont()).height();
    return std::max(18, line + line / 2 + 4);
}

QString rateText(double rate, RateUnit unit)
{
    return unit == RateUnit::Watts ? QStringLiteral("%1 W").arg(rate, 0, 'f', 1)
                                   : QStringLiteral("%1 %/h").arg(rate, 0, 'f', 1);
}

// A time axis step that gives a label every 80 pixels or more.
double timeStep(double span, int width)
{
    for (const double step : {900.0, 1800.0, 3600.0, 2 * 3600.0, 3 * 3600.0, 6 * 3600.0, 12 * 3600.0, 86400.0,
                              2 * 86400.0, 5 * 86400.0, 7 * 86400.0})
        if (span / step * 80 <= width)
            return step;
    return 14 * 86400.0;
}

} // namespace

GraphData readGraphData(const HistoryReader& reader, double until, double seconds, RateUnit unit)
{
    GraphData data;
    data.until = until;
    data.since = until - seconds;
    data.unit = unit;
    // The sample before the range tells what its first minutes were.
    if (reader.eachSample)
        data.eachSample = [reader, since = data.since - kGapSeconds, until](const SampleVisitor& visit) {
            reader.eachSample(since, until, visit);
        };
    if (reader.sleeps)
        data.sleeps = reader.sleeps();
    return data;
}

QRect GraphPainter::plotArea(const QRect& bounds) { return bounds.adjusted(kLeft, topMargin(), -kRight, -kBottom); }

void GraphPainter::reduce(const GraphData& data, const QRect& bounds)
{
    // The columns hold what is drawn; the samples are not kept.
    since_ = data.since;
    until_ = data.until;
    unit_ = data.unit;
    plot_ = plotArea(bounds);
    ColumnReducer reducer(data.since, data.until, plot_.width(), data.unit);
    if (data.eachSample)
        data.eachSample([&reducer](const HistorySample& sample) { reducer.add(sample); });
    columns_ = reducer.columns(data.sleeps);
}

double GraphPainter::xToTime(int x) const
{
    return since_ + (x - plot_.left() + 0.5) * (until_ - since_) / std::max(1, plot_.width());
}

int GraphPainter::timeToX(double time) const
{
    const double column = std::floor((time - since_) / (until_ - since_) * std::max(1, plot_.width()));
    // Far outside (or no range at all): just past an edge, never an overflow.
    if (!std::isfinite(column))
        return plot_.left();
    return plot_.left() + static_cast<int>(std::clamp(column, -1.0, double(plot_.width())));
}

// At least 1, rounded up to 1, 2 or 5 times a power of ten.
double GraphPainter::rateTop() const
{
    double most = 0;
    for (const GraphColumn& column : columns_)
        if (column.rate)
            most = std::max(most, *column.rate);
    for (double power = 1;; power *= 10)
        for (const double top : {power, 2 * power, 5 * power})
            if (top >= most || !std::isfinite(most))
                return top;
}

void GraphPainter::paint(QPainter& painter, const QRect& bounds) const
{
    const QPalette palette;
    painter.save();
    painter.fillRect(bounds, palette.color(QPalette::Base));
    const QRect plot = plot_;
    const int n = static_cast<int>(columns_.size());
    for (int i = 0; i < n; ++i) {
        const GraphColumn& c = columns_[static_cast<std::size_t>(i)];
        if (c.asleep)
            painter.fillRect(plot.left() + i, plot.top(), 1, plot.height(), kSleepShade);
        else if (c.charging)
            painter.fillRect(plot.left() + i, plot.top(), 1, plot.height(), kChargerShade);
    }

    const QColor grid = palette.color(QPalette::Mid);
    const QColor text = palette.color(QPalette::Text);
    painter.setPen(QPen(grid, 0, Qt::DotLine));
    const double top = rateTop();
    const QFontMetrics metrics = painter.fontMetrics();
    const int labelHeight = metrics.height() + 2;
    const int topGap = plot.top() - bounds.top();
    for (int quarter = 0; quarter <= 4; ++quarter) {
        const int y = plot.bottom() - quarter * (plot.height() - 1) / 4;
        painter.setPen(QPen(grid, 0, Qt::DotLine));
        painter.drawLine(plot.left(), y, plot.right(), y);
        painter.setPen(text);
        painter.drawText(QRect(bounds.left(), y - labelHeight / 2, kLeft - 4, labelHeight),
                         Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("%1%").arg(quarter * 25));
        const double rate = top * quarter / 4;
        painter.drawText(QRect(plot.right() + 4, y - labelHeight / 2, kRight - 4, labelHeight),
                         Qt::AlignLeft | Qt::AlignVCenter, QString::number(rate, 'g', 3));
    }
    painter.setPen(text);
    const int captionHeight = std::max(0, topGap - labelHeight / 2);
    painter.drawText(QRect(bounds.left() + 4, bounds.top(), bounds.width() / 2, captionHeight),
                     Qt::AlignLeft | Qt::AlignVCenter, QObject::tr("Charge"));
    painter.drawText(QRect(bounds.center().x(), bounds.top(), bounds.width() / 2 - 4, captionHeight),
                     Qt::AlignRight | Qt::AlignVCenter,
                     unit_ == RateUnit::Watts ? QObject::tr("Drain (W)") : QObject::tr("Drain (%/h)"));

    const double span = until_ - since_;
    if (span > 0 && plot.width() > 0) {
        const double step = timeStep(span, plot.width());
        const QString format = step >= 86400 ? QStringLiteral("MM-dd") : QStringLiteral("HH:mm");
        // Steps of a day start at local midnight.
        const auto firstTick = [&] {
            QDateTime t = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(std::ceil(since_)));
            if (step >= 86400)
                t = QDateTime(t.date().addDays(1), QTime(0, 0));
            else
                t = QDateTime::fromSecsSinceEpoch(
                    static_cast<qint64>(std::ceil((since_ + t.offsetFromUtc()) / step) * step - t.offsetFromUtc()));
            return static_cast<double>(t.toSecsSinceEpoch());
        };
        for (double tick = firstTick(); tick < until_; tick += step) {
            const int x = timeToX(tick);
            painter.setPen(QPen(grid, 0, Qt::DotLine));
            painter.drawLine(x, plot.top(), x, plot.bottom());
            painter.setPen(text);
            const QString label = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(tick)).toString(format);
            const int width = metrics.horizontalAdvance(label);
            if (x - width / 2 >= bounds.left() && x + width / 2 <= bounds.right())
                painter.drawText(QRect(x - width / 2 - 2, plot.bottom() + 2, width + 4, kBottom - 2), Qt::AlignCenter,
                                 label);
        }
    }
    painter.setPen(grid);
    painter.drawRect(plot.adjusted(0, 0, -1, -1));

    const auto chargeY = [&](double charge) {
        return plot.bottom() - std::clamp(charge, 0.0, 1.0) * (plot.height() - 1);
    };
    const auto rateY = [&](double rate) {
        return plot.bottom() - std::clamp(rate / top, 0.0, 1.0) * (plot.height() - 1);
    };
    painter.setRenderHint(QPainter::Antialiasing, true);
    // Segments, not one path: Qt's antialiased stroke of a long path costs
    // many times the lines drawn one by one.
    QList<QLineF> charge, rate;
    QList<QRect> ranges;
    std::optional<QPointF> chargeAt, rateAt;
    for (int i = 0; i < n; ++i) {
        const GraphColumn& c = columns_[static_cast<std::size_t>(i)];
        const double x = plot.left() + i + 0.5;
        if (c.gap)
            chargeAt.reset();
        if (c.gap || c.asleep || c.charging)
            rateAt.reset();
        if (c.lastCharge) {
            // Where the samples of one column span more than a pixel or two
            // (a charge at 30 days), their range is drawn.
            if (const double height = chargeY(*c.minCharge) - chargeY(*c.maxCharge); height > 2)
                ranges.append(QRect(plot.left() + i, static_cast<int>(chargeY(*c.maxCharge)), 2,
                                    static_cast<int>(std::ceil(height))));
            const QPointF point(x, chargeY(*c.lastCharge));
            if (chargeAt)
                charge.append(QLineF(*chargeAt, point));
            chargeAt = point;
        }
        if (c.rate) {
            const QPointF point(x, rateY(*c.rate));
            if (rateAt)
                rate.append(QLineF(*rateAt, point));
            rateAt = point;
        }
    }
    painter.setPen(QPen(kRateLine, 1.5, Qt::SolidLine, Qt::FlatCap));
    painter.drawLines(rate);
    painter.setPen(QPen(kChargeLine, 1.8, Qt::SolidLine, Qt::FlatCap));
    painter.drawLines(charge);
    // One pixel's bars need no antialiasing, which would cost more than
    // the rest of the graph together.
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (const QRect& range : ranges)
        painter.fillRect(range, kChargeLine);
    if (charge.isEmpty() && ranges.isEmpty() && !chargeAt) {
        painter.setPen(text);
        painter.drawText(plot, Qt::AlignCenter | Qt::TextWordWrap, QObject::tr("No history for this range yet"));
    }
    painter.restore();
}

std::optional<QString> GraphPainter::describe(int x) const
{
    const int i = x - plot_.left();
    if (i < 0 || i >= static_cast<int>(columns_.size()))
        return std::nullopt;
    const QString when =
        QDateTime::fromSecsSinceEpoch(static_cast<qint64>(xToTime(x))).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    // The nearest column with a charge, within a few pixels: at 6 hours most
    // columns hold no sample of their own.
    const GraphColumn* near = nullptr;
    for (int d = 0; d <= 3 && !near; ++d)
        for (const int j : {i - d, i + d})
            if (j >= 0 && j < static_cast<int>(columns_.size()) && columns_[static_cast<std::size_t>(j)].lastCharge &&
                !near)
                near = &columns_[static_cast<std::size_t>(j)];
    const GraphColumn& here = columns_[static_cast<std::size_t>(i)];
    QStringList parts{when};
    if (here.gap)
        parts << QObject::tr("not running");
    else if (here.asleep)
        parts << QObject::tr("asleep");
    else if (here.charging)
        parts << QObject::tr("on the charger");
    if (near && !here.gap)
        parts << QStringLiteral("%1%").arg(*near->lastCharge * 100, 0, 'f', 1);
    if (near && near->rate && !here.gap)
        parts << rateText(*near->rate, unit_);
    return parts.join(QStringLiteral("  "));
}

void GraphPainter::paintPointer(QPainter& painter, int x) const
{
    const auto text = describe(x);
    if (!text)
        return;
    painter.save();
    const QPalette palette;
    painter.setPen(QPen(palette.color(QPalette::Text), 0, Qt::DashLine));
    painter.drawLine(x, plot_.top(), x, plot_.bottom());
    const QFontMetrics metrics = painter.fontMetrics();
    QRect box = metrics.boundingRect(*text).adjusted(-4, -2, 4, 2);
    box.moveTop(plot_.top() + 2);
    box.moveLeft(x + 6 + box.width() <= plot_.right() ? x + 6 : x - 6 - box.width());
    // Within the graph, over the axis labels rather than cut off.
    box.moveLeft(std::clamp(box.left(), plot_.left() - kLeft,
                            std::max(plot_.left() - kLeft, plot_.right() + kRight - box.width())));
    painter.fillRect(box, palette.color(QPalette::ToolTipBase));
    painter.setPen(palette.color(QPalette::ToolTipText));
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    painter.drawText(box, Qt::AlignCenter, *text);
    painter.restore();
}

} // namespace drainwatch
